// Identification of the DMM and the DP832: messages, descriptions, bytes sent, links kept or dropped,
// also for replies no instrument should send (NUL bytes, 10 KB lines, bytes from 128 up, a line cut by a
// dropped connection). The identification runs on in-memory instruments; the connect itself on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "tests/fake_transport.h"
#include "tests/loopback_peer.h"
#include "tests/program_fixture.h"

namespace {

const char* const GOOD = "+4.99870000E+00";
const std::string TEN_KB(10 * 1024, 'x');
// Different ports, so that each description must name its own instrument's.
const std::string DMM_AT = " at 127.0.0.1:5025";
const std::string PSU_AT = " at 127.0.0.1:5555";
const std::string NO_DMM = "No DMM detected.";
const std::string NO_PSU = "No DP832 detected.";
const std::string DMM_NO_IDN = "\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n";
const std::string DMM_RAW =
    "\n\aWARNING: THE DMM ANSWERED, BUT ITS LINES END IN A LINE FEED ALONE (A RAW SCPI SOCKET).\n"
    "SET DMM_Connect_Method TO TCP.RAW IN THE SETTINGS FILE, OR USE THE DMM'S TELNET PORT.\n";
const std::string DMM_READS = "Checking DMM read data......OK!\n\n";
// The fixed line, then the one that names the fault.
std::string dmm_read_fails(const std::string& fault) { return "\aERROR reading DMM data!\nDMM FAULT: " + fault + ".\n\n"; }
const std::string PSU_NO_IDN = "\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n";

const std::string HOST = "127.0.0.1";
constexpr int DMM_PORT = 5025;
constexpr int PSU_PORT = 5555;

class IdentificationTest : public ProgramTest {
 protected:
  IdentificationTest() {
    scale = 1.0;
    env.virtual_clock = true;
    // As the connect leaves them before the identification.
    dmm().set_description(NO_DMM);
    psu().set_description(NO_PSU);
  }
};

struct IdCase {
  bool dmm;
  std::string idn;
  int result;
  std::string description;
  std::string console;
  std::vector<std::string> readings = {GOOD, GOOD, GOOD};  // the DMM's
  std::string line_end = "\r\n";                           // the DMM's
};

IdCase dmm_case(const std::string& idn, const std::string& description, const std::string& line_end = "\r\n") {
  return {true, idn, 1, description + DMM_AT, DMM_READS, {GOOD, GOOD, GOOD}, line_end};
}
IdCase dmm_failing_readings(std::vector<std::string> readings, const std::string& console) {
  return {true, "ACME,DMM9,SN123,1.0", 0, "ACME DMM9 (S/N SN123 )" + DMM_AT, console, std::move(readings)};
}
IdCase psu_case(const std::string& idn, const std::string& description) {
  return {false, idn, 1, description + PSU_AT, "OK!\n\n"};
}

class IdentifyTest : public IdentificationTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(IdentifyTest, ResultDescriptionAndMessages) {
  const IdCase& c = GetParam();
  if (c.dmm) install_dmm(*instruments, fake_dmm(c.readings, c.idn, c.line_end));
  else install_psu(*instruments, fake_psu(c.idn));
  const Status identified =
      c.dmm ? dmm().identify(console, HOST, DMM_PORT) : psu().identify(console, HOST, PSU_PORT);
  EXPECT_EQ(identified.ok(), c.result == 1) << identified.reason();
  EXPECT_EQ((c.dmm ? dmm().link() : psu().link()) != nullptr, c.result == 1)
      << "a failed identification drops the link";
  EXPECT_EQ(c.dmm ? dmm().description() : psu().description(), c.description);
  EXPECT_EQ(out, c.console);
  if (c.dmm || c.result != 1) return;
  // The rest of a long line is thrown away by the next command's drain and never read as a reply.
  psu().command("OUTPUT CH1,OFF\r\n");
  char reply[128];
  EXPECT_EQ(read_reply(reply, 127, psu().link(), 100, 10), 0) << "left over: " << reply;
}

INSTANTIATE_TEST_SUITE_P(
    Dmm, IdentifyTest,
    ::testing::Values(
        dmm_case("ACME,DMM9,SN123,1.0", "ACME DMM9 (S/N SN123 )"),
        dmm_case("ACME,DMM9,SN123,1.0", "ACME DMM9 (S/N SN123 )", "\r"),
        // The line's carriage return is no part of the last field.
        dmm_case("ACME,DMM9", "ACME DMM9 (S/N  )"),
        // Readings that fail keep the description but lose the link.
        dmm_failing_readings({GOOD, GOOD, DMM_SILENT},
                             "Checking DMM read data....." + dmm_read_fails("the DMM gave no answer")),
        dmm_failing_readings({"+9.90000000E+37"},
                             "Checking DMM read data..." + dmm_read_fails("the DMM reports an overload (+9.9E37)")),
        dmm_failing_readings({"OVLD"}, "Checking DMM read data..." +
                                           dmm_read_fails("the DMM's answer holds no number: \"OVLD\"")),
        IdCase{true, DMM_SILENT, 0, NO_DMM, DMM_NO_IDN},
        // Lines ended by a line feed alone: it answered, on a raw socket.
        IdCase{true, "ACME,DMM9,SN123,1.0", 0, NO_DMM, DMM_RAW, {GOOD, GOOD, GOOD}, "\n"},
        // Cut by a dropped connection.
        IdCase{true, DMM_DROP, 0, NO_DMM, DMM_NO_IDN},
        // Bad bytes never overrun the description: a NUL ends the line's text; bytes from 128 up are kept
        // (as the record keeps them); the model is cut to its 63 characters.
        dmm_case(std::string("ACME\0,DMM9,SN1", 14), "ACME  (S/N  )"),
        dmm_case("\xc3\x89lan,DMM\xff" "9,SN\x80,1.0", "\xc3\x89lan DMM\xff" "9 (S/N SN\x80 )"),
        dmm_case("ACME," + TEN_KB, "ACME " + std::string(63, 'x') + " (S/N  )")));

INSTANTIATE_TEST_SUITE_P(
    Psu, IdentifyTest,
    ::testing::Values(
        psu_case("ACME,PSU3,SN9,2.0", "ACME PSU3 (S/N SN9 )"), psu_case("ACME,PSU3", "ACME PSU3 (S/N  )"),
        // A blank serial number is empty, as in the record: the firmware never takes its place.
        psu_case("ACME,DP832,   ,00.01.16", "ACME DP832 (S/N  )"),
        // A field longer than 63 characters is cut to 63, a description longer than 127 to 127.
        psu_case(std::string(70, 'M') + ",P,S,1", std::string(63, 'M') + " P (S/N S )"),
        IdCase{false, std::string(40, 'A') + "," + std::string(40, 'B') + "," + std::string(40, 'C') + ",1", 1,
               (std::string(40, 'A') + " " + std::string(40, 'B') + " (S/N " + std::string(40, 'C') + " )" + PSU_AT)
                   .substr(0, 127),
               "OK!\n\n"},
        IdCase{false, "", 0, NO_PSU, PSU_NO_IDN},
        psu_case(std::string("Maker\0X,DP832,SN9", 17), "Maker  (S/N  )"),
        psu_case("M\xe9ker,DP832\xff,SN\x80\x81,1", "M\xe9ker DP832\xff (S/N SN\x80\x81 )"),
        psu_case("Maker," + TEN_KB, "Maker " + std::string(63, 'x') + " (S/N  )")));

}  // namespace

TEST_F(IdentificationTest, Dp832IdentificationCutByADroppedConnection) {
  FakeTransport& fake = install_psu(*instruments, std::make_unique<FakeTransport>());
  fake.respond('\n', [](FakeTransport& link, const std::string& line) {
    if (line != "*IDN?\r\n") return;
    link.arrive_after(1, "Maker,DP8");
    link.close_at(link.clock_ms + 1);
  });
  EXPECT_FALSE(psu().identify(console, HOST, PSU_PORT));
  EXPECT_EQ(psu().link(), nullptr);
  EXPECT_EQ(out, PSU_NO_IDN);
  EXPECT_EQ(psu().description(), NO_PSU);
}

// --- Bytes and pacing

TEST_F(IdentificationTest, DmmGetsResetIdentifyVoltageModeAndThreeReadings) {
  FakeTransport& fake = install_dmm(*instruments, fake_dmm({GOOD, GOOD, GOOD}));
  ASSERT_TRUE(dmm().identify(console, HOST, DMM_PORT)) << out;
  EXPECT_EQ(fake.sent, "*RST\r*IDN?\rCONF:VOLT:DC AUTO\rSYST:ERR?\rREAD?\rREAD?\rREAD?\r");
  // The reset after a 100 ms drain, the query after a 10 ms one.
  EXPECT_EQ(fake.sent_at[0], 100);
  EXPECT_EQ(fake.sent_at[1], 110);
}

TEST_F(IdentificationTest, PsuGetsResetAndIdentifyAndASilentOneIsDroppedAfterHalfASecond) {
  FakeTransport::Seen seen;  // the dropped link takes its fake with it
  install_psu(*instruments, fake_psu("")).leaves_seen_in = &seen;
  EXPECT_FALSE(psu().identify(console, HOST, PSU_PORT));
  EXPECT_EQ(psu().link(), nullptr);
  EXPECT_EQ(seen.sent, "*RST\r\n*IDN?\r\n");
  EXPECT_EQ(seen.clock_ms, 100 + 10 + 500);
  EXPECT_EQ(seen.ended, 1) << "the dropped link is closed";
}

// --- The connect itself, on loopback

TEST_F(IdentificationTest, ConnectReportsTheAddressAndIdentifiesOnTheNewLink) {
  LoopbackPeer peer([](LoopbackPeer& p) {
    if (p.receive_until("*IDN?\r\n")) p.send("ACME,PSU3,SN9,2.0\n");
    p.receive_until("");
  });
  EXPECT_TRUE(psu().connect(console, HOST, peer.port()));
  ASSERT_NE(psu().link(), nullptr);
  EXPECT_EQ(psu().link()->is_connected(), 1);
  EXPECT_EQ(out, "Connecting to DP832 on IP 127.0.0.1, Port " + std::to_string(peer.port()) + "...OK!\n\n");
  EXPECT_TRUE(peer.wait_received("*RST\r\n*IDN?\r\n"));
}

TEST_F(IdentificationTest, RefusedPortIsReported) {
  RefusingPort refusing;
  const std::string port = std::to_string(refusing.port());
  EXPECT_FALSE(dmm().connect(console, HOST, refusing.port()));
  EXPECT_EQ(dmm().link(), nullptr);
  EXPECT_EQ(dmm().description(), NO_DMM);
  EXPECT_EQ(out, "Connecting to DMM on IP 127.0.0.1, Port " + port + "...\n\n\aERROR - Failed to connect to DMM!\n\n");
  out.clear();
  EXPECT_FALSE(psu().connect(console, HOST, refusing.port()));
  EXPECT_EQ(psu().link(), nullptr);
  EXPECT_EQ(psu().description(), NO_PSU);
  EXPECT_EQ(out, "Connecting to DP832 on IP 127.0.0.1, Port " + port +
                     "...\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
}
