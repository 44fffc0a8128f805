// Receive timeouts of the POSIX socket layer: waited out on a precise timer, never ended early, ended
// at once by input, and forgotten when their socket is closed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/net.h"
#include "platform/sleep.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class NetTimeoutTest : public testing::Test {
 protected:
  void SetUp() override {
    set_time_scale(1.0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  }
  void TearDown() override {
    for (int fd : pair)
      if (fd >= 0) net_close(fd);
  }
  int pair[2] = {-1, -1};
};

TEST_F(NetTimeoutTest, SilenceTimesOutNoEarlierThanAsked) {
  ASSERT_EQ(net_set_timeouts(pair[0], 60), 1);
  char buffer[8];
  NetError error = NET_NO_ERROR;
  auto start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, &error), -1);
  double waited = ms_since(start);
  EXPECT_EQ(error, NET_TIMED_OUT);
  EXPECT_GE(waited, 60.0);
  EXPECT_LT(waited, 2000.0);
}

TEST_F(NetTimeoutTest, WaitingBytesAndBytesArrivingDuringTheWaitAreTakenAtOnce) {
  ASSERT_EQ(net_set_timeouts(pair[0], 5000), 1);
  char buffer[8];
  NetError error = NET_NO_ERROR;
  ASSERT_EQ(write(pair[1], "ab", 2), 2);
  auto start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, &error), 2);
  EXPECT_LT(ms_since(start), 1000.0);

  std::thread writer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(write(pair[1], "c", 1), 1);
  });
  start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, &error), 1);
  EXPECT_EQ(buffer[0], 'c');
  EXPECT_LT(ms_since(start), 2500.0);  // long before the 5 s timeout
  writer.join();
}

TEST_F(NetTimeoutTest, PeerThatClosedGivesZeroAtOnce) {
  ASSERT_EQ(net_set_timeouts(pair[0], 5000), 1);
  net_close(pair[1]);
  pair[1] = -1;
  char buffer[8];
  NetError error = NET_NO_ERROR;
  auto start = Clock::now();
  EXPECT_EQ(net_recv(pair[0], buffer, sizeof buffer, &error), 0);
  EXPECT_LT(ms_since(start), 1000.0);
}

TEST_F(NetTimeoutTest, ClosedSocketsTimeoutIsNotInheritedByTheNextOneWithItsNumber) {
  net_socket old = net_tcp_socket();
  ASSERT_NE(old, NET_INVALID_SOCKET);
  ASSERT_EQ(net_set_timeouts(old, 20), 1);
  net_close(old);

  // The lowest free descriptor is handed out next: very likely the one just closed.
  int fresh[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fresh), 0);
  std::thread writer([&fresh] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(write(fresh[1], "d", 1), 1);
  });
  char buffer[8];
  NetError error = NET_NO_ERROR;
  // No timeout was set on the new socket: it waits for the byte instead of giving up after 20 ms.
  EXPECT_EQ(net_recv(fresh[0], buffer, sizeof buffer, &error), 1);
  EXPECT_EQ(error, NET_NO_ERROR);
  writer.join();
  net_close(fresh[0]);
  net_close(fresh[1]);
}

}  // namespace
