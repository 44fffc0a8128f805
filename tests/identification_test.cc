// Identification of the DMM and the DP832: messages, descriptions, bytes sent, links kept or dropped.
// The identification runs on in-memory instruments; the connect itself on loopback sockets.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "link/instruments.h"
#include "settings/program_settings.h"
#include "tests/fake_transport.h"
#include "tests/loopback_peer.h"
#include "tests/program_fixture.h"

namespace {

const char* const GOOD = "+4.99870000E+00";
constexpr int PORT = 5025;
const std::string AT = " at 127.0.0.1:5025";
const std::string NO_DMM = "No DMM detected.";
const std::string NO_PSU = "No DP832 detected.";

class IdentificationTest : public ProgramTest {
 protected:
  IdentificationTest() { scale = 1.0; }
  void SetUp() override {
    ProgramTest::SetUp();
    std::snprintf(dmm_host, sizeof dmm_host, "%s", "127.0.0.1");
    std::snprintf(psu_host, sizeof psu_host, "%s", "127.0.0.1");
    dmm_port = PORT;
    psu_port = PORT;
    // As the connect leaves them before the identification.
    std::snprintf(dmm_description, sizeof dmm_description, "%s", NO_DMM.c_str());
    std::snprintf(psu_description, sizeof psu_description, "%s", NO_PSU.c_str());
  }
};

struct IdCase {
  std::vector<std::string> readings;  // the DMM's; unused for the DP832
  std::string idn;
  std::string line_end;
  int result;
  std::string description;
  std::string console;
};

const std::string DMM_NO_IDN = "\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n";
const std::string DMM_RAW =
    "\n\aWARNING: THE DMM ANSWERED, BUT ITS LINES END IN A LINE FEED ALONE (A RAW SCPI SOCKET).\n"
    "SET DMM_Connect_Method TO TCP.RAW IN THE SETTINGS FILE, OR USE THE DMM'S TELNET PORT.\n";
const std::string DMM_READS = "Checking DMM read data......OK!\n\n";

class DmmIdentificationTest : public IdentificationTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(DmmIdentificationTest, ResultDescriptionAndMessages) {
  const IdCase& c = GetParam();
  install_dmm(fake_dmm(c.readings, c.idn, c.line_end));
  EXPECT_EQ(identify_dmm(dmm_host, dmm_port), c.result);
  EXPECT_EQ(dmm_link != nullptr, c.result == 1) << "a failed identification drops the link";
  EXPECT_EQ(std::string(dmm_description), c.description);
  EXPECT_EQ(out, c.console);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DmmIdentificationTest,
    ::testing::Values(
        IdCase{{GOOD, GOOD, GOOD}, "ACME,DMM9,SN123,1.0", "\r\n", 1, "ACME DMM9 (S/N SN123 )" + AT, DMM_READS},
        IdCase{{GOOD, GOOD, GOOD}, "ACME,DMM9,SN123,1.0", "\r", 1, "ACME DMM9 (S/N SN123 )" + AT, DMM_READS},
        // The unquoted last field keeps the line's carriage return.
        IdCase{{GOOD, GOOD, GOOD}, "ACME,DMM9", "\r\n", 1, "ACME DMM9\r (S/N  )" + AT, DMM_READS},
        // Readings that fail keep the description but lose the link.
        IdCase{{GOOD, GOOD, DMM_SILENT}, "ACME,DMM9,SN123,1.0", "\r\n", 0, "ACME DMM9 (S/N SN123 )" + AT,
               "Checking DMM read data.....\aERROR reading DMM data!\n\n"},
        IdCase{{"+9.90000000E+37"}, "ACME,DMM9,SN123,1.0", "\r\n", 0, "ACME DMM9 (S/N SN123 )" + AT,
               "Checking DMM read data...\aERROR reading DMM data!\n\n"},
        IdCase{{"OVLD"}, "ACME,DMM9,SN123,1.0", "\r\n", 0, "ACME DMM9 (S/N SN123 )" + AT,
               "Checking DMM read data...\aERROR reading DMM data!\n\n"},
        IdCase{{GOOD, GOOD, GOOD}, DMM_SILENT, "\r\n", 0, NO_DMM, DMM_NO_IDN},
        // Lines ended by a line feed alone: it answered, on a raw socket.
        IdCase{{GOOD, GOOD, GOOD}, "ACME,DMM9,SN123,1.0", "\n", 0, NO_DMM, DMM_RAW},
        IdCase{{GOOD, GOOD, GOOD}, DMM_DROP, "\r\n", 0, NO_DMM, DMM_NO_IDN}));

IdCase psu_case(const std::string& idn, const std::string& description) {
  return {{}, idn, "\n", 1, description, "OK!\n\n"};
}

// A description longer than 127 characters is cut to 127.
std::string wordy_description() {
  const std::string full = std::string(40, 'A') + " " + std::string(40, 'B') + " (S/N " + std::string(40, 'C') + " )" + AT;
  return full.substr(0, 127);
}

class PsuIdentificationTest : public IdentificationTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(PsuIdentificationTest, ResultDescriptionAndMessages) {
  const IdCase& c = GetParam();
  install_psu(fake_psu(c.idn));
  EXPECT_EQ(identify_psu(psu_host, psu_port), c.result);
  EXPECT_EQ(psu_link != nullptr, c.result == 1) << "a failed identification drops the link";
  EXPECT_EQ(std::string(psu_description), c.description);
  EXPECT_EQ(out, c.console);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PsuIdentificationTest,
    ::testing::Values(psu_case("ACME,PSU3,SN9,2.0", "ACME PSU3 (S/N SN9 )" + AT),
                      psu_case("ACME,PSU3", "ACME PSU3\n (S/N  )" + AT),
                      // A field longer than 63 characters is cut to 63.
                      psu_case(std::string(70, 'M') + ",P,S,1", std::string(63, 'M') + " P (S/N S )" + AT),
                      psu_case(std::string(40, 'A') + "," + std::string(40, 'B') + "," + std::string(40, 'C') + ",1",
                               wordy_description()),
                      IdCase{{}, "", "\n", 0, NO_PSU,
                             "\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n"}));

}  // namespace

// --- Bytes and pacing

TEST_F(IdentificationTest, DmmGetsResetIdentifyVoltageModeAndThreeReadings) {
  FakeTransport& dmm = install_dmm(fake_dmm({GOOD, GOOD, GOOD}));
  ASSERT_EQ(identify_dmm(dmm_host, dmm_port), 1);
  EXPECT_EQ(dmm.sent, "*RST\r*IDN?\rCONF:VOLT:DC AUTO\rREAD?\rREAD?\rREAD?\r");
  // The reset after a 100 ms drain, the query after a 10 ms one.
  EXPECT_EQ(dmm.sent_at[0], 100);
  EXPECT_EQ(dmm.sent_at[1], 110);
}

TEST_F(IdentificationTest, PsuGetsResetAndIdentifyAndASilentOneIsDroppedAfterHalfASecond) {
  FakeTransport::Seen psu;  // the dropped link takes its fake with it
  install_psu(fake_psu("")).leaves_seen_in = &psu;
  EXPECT_EQ(identify_psu(psu_host, psu_port), 0);
  EXPECT_EQ(psu_link, nullptr);
  EXPECT_EQ(psu.sent, "*RST\r\n*IDN?\r\n");
  EXPECT_EQ(psu.clock_ms, 100 + 10 + 500);
  EXPECT_EQ(psu.ended, 1) << "the dropped link is closed";
}

// --- The connect itself, on loopback

TEST_F(IdentificationTest, ConnectReportsTheAddressAndIdentifiesOnTheNewLink) {
  LoopbackPeer psu(LoopbackPeer::responder('\n', [](const std::string& line) {
    return line == "*IDN?\r\n" ? std::string("ACME,PSU3,SN9,2.0\n") : std::string();
  }));
  psu_port = psu.port();
  EXPECT_EQ(connect_psu(psu_host, psu_port), 1);
  ASSERT_NE(psu_link, nullptr);
  EXPECT_EQ(psu_link->is_connected(), 1);
  EXPECT_EQ(out, "Connecting to DP832 on IP 127.0.0.1, Port " + std::to_string(psu.port()) + "...OK!\n\n");
  EXPECT_TRUE(psu.wait_received("*RST\r\n*IDN?\r\n"));
}

TEST_F(IdentificationTest, DmmOnARefusedPortIsReported) {
  RefusingPort refusing;
  dmm_port = refusing.port();
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_STREQ(dmm_description, "No DMM detected.");
  EXPECT_EQ(out, "Connecting to DMM on IP 127.0.0.1, Port " + std::to_string(refusing.port()) +
                     "...\n\n\aERROR - Failed to connect to DMM!\n\n");
}

TEST_F(IdentificationTest, PsuOnARefusedPortIsReported) {
  RefusingPort refusing;
  psu_port = refusing.port();
  EXPECT_EQ(connect_psu(psu_host, psu_port), 0);
  EXPECT_EQ(psu_link, nullptr);
  EXPECT_STREQ(psu_description, "No DP832 detected.");
  EXPECT_EQ(out, "Connecting to DP832 on IP 127.0.0.1, Port " + std::to_string(refusing.port()) +
                     "...\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
}
