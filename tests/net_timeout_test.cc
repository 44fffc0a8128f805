// Receive timeouts of the POSIX socket layer, given with each receive: waited out on a precise timer,
// never ended early, ended at once by input, and no limit at all when none is given.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/net.h"
#include "platform/sleep.h"
#include "tests/program_fixture.h"

namespace {

double exact_ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class NetTimeoutTest : public ProgramTest {
 protected:
  NetTimeoutTest() { scale = 1.0; }
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  }
  void TearDown() override {
    for (int fd : pair)
      if (fd >= 0) net_close(fd);
    ProgramTest::TearDown();
  }
  int pair[2] = {-1, -1};
};

TEST_F(NetTimeoutTest, SilenceTimesOutNoEarlierThanAsked) {
  char buffer[8];
  NetError error = NET_NO_ERROR;
  auto start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, 60, &error), -1);
  double waited = exact_ms_since(start);
  EXPECT_EQ(error, NET_TIMED_OUT);
  EXPECT_GE(waited, 60.0);
  EXPECT_LT(waited, 2000.0);
}

TEST_F(NetTimeoutTest, WaitingBytesAndBytesArrivingDuringTheWaitAreTakenAtOnce) {
  char buffer[8];
  NetError error = NET_NO_ERROR;
  ASSERT_EQ(write(pair[1], "ab", 2), 2);
  auto start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, 5000, &error), 2);
  EXPECT_LT(exact_ms_since(start), 1000.0);

  std::thread writer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(write(pair[1], "c", 1), 1);
  });
  start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, 5000, &error), 1);
  EXPECT_EQ(buffer[0], 'c');
  EXPECT_LT(exact_ms_since(start), 2500.0);  // long before the 5 s timeout
  writer.join();
}

TEST_F(NetTimeoutTest, PeerThatClosedGivesZeroAtOnce) {
  net_close(pair[1]);
  pair[1] = -1;
  char buffer[8];
  NetError error = NET_NO_ERROR;
  auto start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, 5000, &error), 0);
  EXPECT_LT(exact_ms_since(start), 1000.0);
}

TEST_F(NetTimeoutTest, ReceiveWithoutALimitWaitsForTheByte) {
  std::thread writer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(write(pair[1], "d", 1), 1);
  });
  char buffer[8];
  NetError error = NET_NO_ERROR;
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, 0, &error), 1);
  EXPECT_EQ(error, NET_NO_ERROR);
  writer.join();
}

TEST_F(NetTimeoutTest, UnusableArgumentsAreRefusedWithoutTouchingTheSocket) {
  char buffer[8];
  NetError error = NET_NO_ERROR;
  EXPECT_EQ(net_recv(NET_INVALID_SOCKET, buffer, sizeof buffer, 10, &error), -1);
  EXPECT_EQ(error, NET_OTHER);
  EXPECT_EQ(net_recv(pair[0], nullptr, 8, 10, &error), -1);
  EXPECT_EQ(net_send(pair[0], "x", -1, &error), -1);
  EXPECT_EQ(error, NET_OTHER);
  EXPECT_EQ(net_connect(NET_INVALID_SOCKET, 0x0100007f, 80, 10), 0);
}

}  // namespace
