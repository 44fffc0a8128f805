// DMM answers that no instrument should send: NUL bytes, 10 KB lines, bytes from 128 up, and a line cut
// by a dropped connection. None may crash the program, overrun a buffer, pass for a reading it does not
// hold, or leave bytes behind that a later reply would be taken from. (The same in *IDN? replies:
// identification_test.cc.)
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/fake_transport.h"
#include "tests/program_fixture.h"

namespace {

constexpr std::optional<double> FAILS = std::nullopt;  // that reading must fail

class BadReplyTest : public ProgramTest {
 protected:
  BadReplyTest() {
    scale = 1.0;
    env.virtual_clock = true;
  }
  // One reading per value, in order.
  void expect_readings(const std::vector<std::optional<double>>& values) {
    for (std::optional<double> value : values) {
      const Result<double> reading = dmm().read();
      ASSERT_EQ(reading.ok(), value.has_value()) << (reading ? std::to_string(*reading) : reading.reason());
      if (value) {
        EXPECT_DOUBLE_EQ(*reading, *value);
      }
    }
  }
};

}  // namespace

TEST_F(BadReplyTest, ReadingsWithNulAndHighBytes) {
  install_dmm(*instruments, fake_dmm({std::string("+1.50000000E+00\0\0junk", 21), std::string("\0+1.5", 5),
                                      "\xff\xfe+4.0", "+4.25\xe9\xff", "\x80\x81\x82"}));
  // The number before a NUL is the answer; an answer with nothing before its NUL holds no number (a failed
  // reading, not 0.0). Bytes from 128 up are not blanks: a number behind them is not read, one before is.
  expect_readings({1.5, FAILS, FAILS, 4.25, FAILS});
}

// 10 KB of digits: the first 126 make a number far beyond any reading; the rest is thrown away and the
// next READ? gets its own answer, not a piece of this one.
TEST_F(BadReplyTest, TenKilobyteAnswerIsCutAndItsRestNeverReadLater) {
  install_dmm(*instruments,
              fake_dmm({std::string(10 * 1024, '7'), "+2.25E+00" + std::string(10 * 1024, 'x'), "+3.50000000E+00"}));
  expect_readings({FAILS, 2.25, 3.5});
}

// The peer sends the echo and "+4.99" and closes: a cut line is no reading, and the link is gone.
TEST_F(BadReplyTest, AnswerCutByADroppedConnection) {
  install_dmm(*instruments, fake_dmm({DMM_DROP}));
  expect_readings({FAILS});
  ASSERT_NE(dmm().link(), nullptr);
  EXPECT_EQ(dmm().link()->is_connected(), 0);
  expect_readings({FAILS});
}
