// Instrument replies that no instrument should send: NUL bytes, 10 KB lines, bytes from 128 up, and
// lines cut in the middle by a dropped connection, in the DMM's readings and in both identifications.
// None may crash the program, overrun a buffer, pass for a reading it does not hold, or leave bytes
// behind that a later reply would be taken from.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "link/instruments.h"
#include "link/primitives.h"
#include "settings/program_settings.h"
#include "tests/fake_transport.h"
#include "tests/program_fixture.h"

namespace {

const std::string TEN_KB(10 * 1024, 'x');
constexpr int DMM_PORT = 5025;
constexpr int PSU_PORT = 5555;

class BadReplyTest : public ProgramTest {
 protected:
  BadReplyTest() { scale = 1.0; }
  void SetUp() override {
    ProgramTest::SetUp();
    std::strcpy(dmm_host, "127.0.0.1");
    std::strcpy(psu_host, "127.0.0.1");
    dmm_port = DMM_PORT;
    psu_port = PSU_PORT;
  }
};

}  // namespace

// --- Readings

TEST_F(BadReplyTest, ReadingsWithNulAndHighBytes) {
  const std::string nul_inside("+1.50000000E+00\0\0junk", 21);
  const std::string nul_first("\0+1.5", 5);
  install_dmm(fake_dmm({nul_inside, nul_first, "\xff\xfe+4.0", "+4.25\xe9\xff", "\x80\x81\x82"}));
  int ok = -1;
  // The number before the NUL is the answer.
  EXPECT_DOUBLE_EQ(dmm_read(ok), 1.5);
  EXPECT_EQ(ok, 1);
  // An answer that holds nothing before its NUL holds no number: a failed reading, not 0.0.
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
  // Bytes from 128 up are not blanks: a number behind them is not read, one before them is.
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
  EXPECT_DOUBLE_EQ(dmm_read(ok), 4.25);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
}

TEST_F(BadReplyTest, TenKilobyteAnswerIsCutAndItsRestNeverReadLater) {
  // 10 KB of digits: the first 126 make a number far beyond any reading; the rest is thrown away and
  // the next READ? gets its own answer, not a piece of this one.
  install_dmm(fake_dmm({std::string(10 * 1024, '7'), "+2.25E+00" + TEN_KB, "+3.50000000E+00"}));
  int ok = -1;
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
  EXPECT_DOUBLE_EQ(dmm_read(ok), 2.25);
  EXPECT_EQ(ok, 1);
  EXPECT_DOUBLE_EQ(dmm_read(ok), 3.5);
  EXPECT_EQ(ok, 1);
}

TEST_F(BadReplyTest, AnswerCutByADroppedConnection) {
  // The peer sends the echo and "+4.99" and closes: a cut line is no reading, and the link is gone.
  install_dmm(fake_dmm({DMM_DROP}));
  int ok = -1;
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(dmm_link->is_connected(), 0);
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
}

// --- Identification

struct IdentityCase {
  std::string idn;
  std::string description;  // before " at 127.0.0.1:port"
};

class DmmIdentityTest : public BadReplyTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(DmmIdentityTest, BadBytesNeverOverrunTheDescription) {
  install_dmm(fake_dmm({"+1.0E+00", "+1.0E+00", "+1.0E+00"}, GetParam().idn));
  ASSERT_EQ(identify_dmm(dmm_host, dmm_port), 1) << out;
  EXPECT_LT(std::strlen(dmm_description), sizeof dmm_description);
  EXPECT_EQ(std::string(dmm_description), GetParam().description + " at 127.0.0.1:" + std::to_string(DMM_PORT));
  EXPECT_NE(out.find("Checking DMM read data......OK!\n\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DmmIdentityTest,
    ::testing::Values(IdentityCase{std::string("ACME\0,DMM9,SN1", 14), "ACME  (S/N  )"},
                      // Bytes from 128 up count as blanks in front of a field, and are kept inside one.
                      IdentityCase{"\xc3\x89lan,DMM\xff" "9,SN\x80,1.0", "lan DMM\xff" "9 (S/N SN\x80 )"},
                      // The model is cut to its 63 characters and the description to 127.
                      IdentityCase{"ACME," + TEN_KB, "ACME " + std::string(63, 'x') + " (S/N  )"}));

class PsuIdentityTest : public BadReplyTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(PsuIdentityTest, BadBytesNeverOverrunTheDescription) {
  install_psu(fake_psu(GetParam().idn));
  ASSERT_EQ(identify_psu(psu_host, psu_port), 1) << out;
  EXPECT_EQ(std::string(psu_description), GetParam().description + " at 127.0.0.1:" + std::to_string(PSU_PORT));
  // The rest of a long line is thrown away by the next command's drain and never read as a reply.
  psu_command("OUTPUT CH1,OFF\r\n");
  char reply[128];
  EXPECT_EQ(read_reply(reply, 127, psu_link.get(), 100, 10), 0) << "left over: " << reply;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PsuIdentityTest,
    ::testing::Values(IdentityCase{std::string("Maker\0X,DP832,SN9", 17), "Maker  (S/N  )"},
                      IdentityCase{"M\xe9ker,DP832\xff,SN\x80\x81,1", "M\xe9ker DP832\xff (S/N SN\x80\x81 )"},
                      IdentityCase{"Maker," + TEN_KB, "Maker " + std::string(63, 'x') + " (S/N  )"}));

TEST_F(BadReplyTest, DmmIdentificationCutByADroppedConnection) {
  std::strcpy(dmm_description, "No DMM detected.");
  install_dmm(fake_dmm({}, DMM_DROP));
  EXPECT_EQ(identify_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_NE(out.find("\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n"),
            std::string::npos);
  EXPECT_STREQ(dmm_description, "No DMM detected.");
}

TEST_F(BadReplyTest, Dp832IdentificationCutByADroppedConnection) {
  std::strcpy(psu_description, "No DP832 detected.");
  FakeTransport& psu = install_psu(std::make_unique<FakeTransport>());
  psu.respond('\n', [](FakeTransport& link, const std::string& line) {
    if (line != "*IDN?\r\n") return;
    link.arrive_after(1, "Maker,DP8");
    link.close_at(link.clock_ms + 1);
  });
  EXPECT_EQ(identify_psu(psu_host, psu_port), 0);
  EXPECT_EQ(psu_link, nullptr);
  EXPECT_NE(out.find("WARNING: DP832 FAILED TO IDENTIFY."), std::string::npos) << out;
  EXPECT_STREQ(psu_description, "No DP832 detected.");
}
