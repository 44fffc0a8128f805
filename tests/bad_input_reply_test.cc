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
#include "platform/sleep.h"
#include "settings/program_settings.h"
#include "tests/loopback_peer.h"

namespace {

const std::string TEN_KB(10 * 1024, 'x');

class BadReplyTest : public ::testing::Test {
 protected:
  std::string out;
  // The DMM must answer within its first-line wait: a milder time scale than usual keeps that wait
  // at 20 ms.
  void SetUp() override {
    set_time_scale(0.2);
    console_capture(&out);
  }
  void TearDown() override {
    console_capture(nullptr);
    set_time_scale(1.0);
    delete dmm_link;
    dmm_link = nullptr;
    delete psu_link;
    psu_link = nullptr;
  }
  void attach_dmm(int port) {
    delete dmm_link;
    dmm_link = new TcpLink("127.0.0.1", port);
    ASSERT_EQ(dmm_link->is_connected(), 1);
  }
  void point_at(int dmm, int psu) {
    std::strcpy(dmm_host, "127.0.0.1");
    std::strcpy(psu_host, "127.0.0.1");
    dmm_port = dmm;
    psu_port = psu;
  }
};

}  // namespace

// --- Readings

TEST_F(BadReplyTest, ReadingsWithNulAndHighBytes) {
  const std::string nul_inside("+1.50000000E+00\0\0junk", 21);
  const std::string nul_first("\0+1.5", 5);
  ScriptedDmm dmm({nul_inside, nul_first, "\xff\xfe+4.0", "+4.25\xe9\xff", "\x80\x81\x82"});
  attach_dmm(dmm.port());
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
  ScriptedDmm dmm({std::string(10 * 1024, '7'), "+2.25E+00" + TEN_KB, "+3.50000000E+00"});
  attach_dmm(dmm.port());
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
  ScriptedDmm dmm({ScriptedDmm::DROP});
  attach_dmm(dmm.port());
  int ok = -1;
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(dmm_link->is_connected(), 0);
  EXPECT_EQ(dmm_read(ok), FAILED_READING);
  EXPECT_EQ(ok, 0);
}

// --- Identification

TEST_F(BadReplyTest, DmmIdentificationWithBadBytes) {
  struct Case {
    std::string idn;
    std::string description;  // before " at 127.0.0.1:port"
  };
  const std::vector<Case> cases = {
      {std::string("ACME\0,DMM9,SN1", 14), "ACME  (S/N  )"},
      // Bytes from 128 up count as blanks in front of a field, and are kept inside one.
      {"\xc3\x89lan,DMM\xff" "9,SN\x80,1.0", "lan DMM\xff" "9 (S/N SN\x80 )"},
      {"ACME," + TEN_KB, ""},  // the model is cut to its 63 characters and the description to 127
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    out.clear();
    ScriptedDmm dmm({"+1.0E+00", "+1.0E+00", "+1.0E+00"}, c.idn);
    ScriptedPsu psu;
    point_at(dmm.port(), psu.port());
    ASSERT_EQ(connect_dmm(dmm_host, dmm_port), 1) << out;
    EXPECT_LT(std::strlen(dmm_description), sizeof dmm_description);
    if (!c.description.empty()) {
      EXPECT_EQ(std::string(dmm_description), c.description + " at 127.0.0.1:" + std::to_string(dmm.port()));
    } else {
      EXPECT_EQ(std::string(dmm_description), "ACME " + std::string(63, 'x') + " (S/N  ) at 127.0.0.1:" +
                                                  std::to_string(dmm.port()));
    }
    EXPECT_NE(out.find("Checking DMM read data......OK!\n\n"), std::string::npos);
  }
}

TEST_F(BadReplyTest, DmmIdentificationCutByADroppedConnection) {
  ScriptedDmm dmm({}, ScriptedDmm::DROP_ON_IDN);
  point_at(dmm.port(), 1);
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_NE(out.find("\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n"),
            std::string::npos);
  EXPECT_STREQ(dmm_description, "No DMM detected.");
}

TEST_F(BadReplyTest, Dp832IdentificationWithBadBytes) {
  {
    ScriptedPsu psu(std::string("Maker\0X,DP832,SN9", 17));
    point_at(1, psu.port());
    ASSERT_EQ(connect_psu(psu_host, psu_port), 1) << out;
    EXPECT_EQ(std::string(psu_description), "Maker  (S/N  ) at 127.0.0.1:" + std::to_string(psu.port()));
  }
  {
    ScriptedPsu psu("M\xe9ker,DP832\xff,SN\x80\x81,1");
    point_at(1, psu.port());
    ASSERT_EQ(connect_psu(psu_host, psu_port), 1) << out;
    EXPECT_EQ(std::string(psu_description),
              "M\xe9ker DP832\xff (S/N SN\x80\x81 ) at 127.0.0.1:" + std::to_string(psu.port()));
  }
  {
    // A 10 KB line: the first 126 bytes make the description; the rest is thrown away by the next
    // command's drain and never read as a reply.
    ScriptedPsu psu("Maker," + TEN_KB);
    point_at(1, psu.port());
    ASSERT_EQ(connect_psu(psu_host, psu_port), 1) << out;
    EXPECT_EQ(std::string(psu_description),
              "Maker " + std::string(63, 'x') + " (S/N  ) at 127.0.0.1:" + std::to_string(psu.port()));
    psu_command("OUTPUT CH1,OFF\r\n");
    char reply[128];
    EXPECT_EQ(read_reply(reply, 127, psu_link, 100, 10), 0) << "nothing of the long line is left";
  }
}

TEST_F(BadReplyTest, Dp832IdentificationCutByADroppedConnection) {
  LoopbackPeer psu([](PeerSession& session) {
    std::string line;
    while (session.read_line('\n', &line)) {
      if (line == "*IDN?\r\n") {
        session.send("Maker,DP8");
        session.close();
        return;
      }
    }
  });
  point_at(1, psu.port());
  EXPECT_EQ(connect_psu(psu_host, psu_port), 0);
  EXPECT_EQ(psu_link, nullptr);
  EXPECT_NE(out.find("WARNING: DP832 FAILED TO IDENTIFY."), std::string::npos) << out;
  EXPECT_STREQ(psu_description, "No DP832 detected.");
}
