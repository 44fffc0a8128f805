// Receive timeouts of the POSIX socket layer, given with each receive: waited out on a precise timer,
// never ended early, ended at once by input, and no limit at all when none is given.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/net.h"
#include "tests/program_fixture.h"

namespace {

class NetTimeoutTest : public ProgramTest {
 protected:
  NetTimeoutTest() { scale = 1.0; }
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  }
  void TearDown() override {
    if (writer.joinable()) writer.join();
    for (int fd : pair)
      if (fd >= 0) net_close(fd);
    ProgramTest::TearDown();
  }

  // One net_recv on the first end into buffer: its result, and in waited the real ms it took.
  int receive(int timeout_ms) {
    const auto start = Clock::now();
    const int n = net_recv(pair[0], buffer, sizeof buffer, timeout_ms, &error);
    waited = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return n;
  }
  // Writes text to the other end ms real milliseconds from now.
  void write_after(int ms, const char* text) {
    writer = std::thread([this, ms, text] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      ASSERT_EQ(write(pair[1], text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
    });
  }

  int pair[2] = {-1, -1};
  char buffer[8] = {};
  NetError error = NET_NO_ERROR;
  double waited = 0.0;
  std::thread writer;
};

TEST_F(NetTimeoutTest, SilenceTimesOutNoEarlierThanAsked) {
  EXPECT_EQ(receive(60), -1);
  EXPECT_EQ(error, NET_TIMED_OUT);
  EXPECT_GE(waited, 60.0);
  EXPECT_LT(waited, 2000.0);
}

TEST_F(NetTimeoutTest, WaitingBytesAndBytesArrivingDuringTheWaitAreTakenAtOnce) {
  ASSERT_EQ(write(pair[1], "ab", 2), 2);
  EXPECT_EQ(receive(5000), 2);
  EXPECT_LT(waited, 1000.0);
  write_after(50, "c");
  EXPECT_EQ(receive(5000), 1);
  EXPECT_EQ(buffer[0], 'c');
  EXPECT_LT(waited, 2500.0);  // long before the 5 s timeout
}

TEST_F(NetTimeoutTest, PeerThatClosedGivesZeroAtOnce) {
  net_close(pair[1]);
  pair[1] = -1;
  EXPECT_EQ(receive(5000), 0);
  EXPECT_LT(waited, 1000.0);
}

TEST_F(NetTimeoutTest, ReceiveWithoutALimitWaitsForTheByte) {
  write_after(200, "d");
  EXPECT_EQ(receive(0), 1);
  EXPECT_EQ(error, NET_NO_ERROR);
}

TEST_F(NetTimeoutTest, UnusableArgumentsAreRefusedWithoutTouchingTheSocket) {
  EXPECT_EQ(net_recv(NET_INVALID_SOCKET, buffer, sizeof buffer, 10, &error), -1);
  EXPECT_EQ(error, NET_OTHER);
  EXPECT_EQ(net_recv(pair[0], nullptr, 8, 10, &error), -1);
  EXPECT_EQ(net_send(pair[0], "x", -1, &error), -1);
  EXPECT_EQ(error, NET_OTHER);
  EXPECT_EQ(net_connect(NET_INVALID_SOCKET, 0x0100007f, 80, 10), 0);
}

}  // namespace
