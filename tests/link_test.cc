// TcpLink, read_reply and drain_input against scripted loopback peers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link/tcp_link.h"
#include "platform/sleep.h"
#include "tests/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A peer that says nothing and waits for the client to go.
void silent(PeerSession& session) { session.wait_closed(30000); }

class LinkTest : public ::testing::Test {
 protected:
  void TearDown() override { set_time_scale(1.0); }
};

}  // namespace

// --- Connecting

TEST_F(LinkTest, DottedAddressConnectsWithItsFieldsFilledIn) {
  LoopbackPeer peer(silent);
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  EXPECT_EQ(link.connected, 1);
  EXPECT_EQ(link.timeout, 0);
  EXPECT_EQ(link.port, peer.port());
  EXPECT_EQ(link.remote.family, 2);
  unsigned char port_bytes[2];
  std::memcpy(port_bytes, &link.remote.port, 2);
  EXPECT_EQ(port_bytes[0], (peer.port() >> 8) & 0xff);  // network byte order
  EXPECT_EQ(port_bytes[1], peer.port() & 0xff);
  unsigned char address_bytes[4];
  std::memcpy(address_bytes, &link.address, 4);
  EXPECT_EQ(address_bytes[0], 127);
  EXPECT_EQ(address_bytes[3], 1);
  EXPECT_EQ(link.remote.address, link.address);
}

TEST_F(LinkTest, HostNameIsLookedUp) {
  LoopbackPeer peer(silent);
  TcpLink link("localhost", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  unsigned char address_bytes[4];
  std::memcpy(address_bytes, &link.address, 4);
  EXPECT_EQ(address_bytes[0], 127);
  EXPECT_GT(link.send_text("*IDN?\r"), 0);
  EXPECT_TRUE(peer.wait_received("*IDN?\r"));
}

TEST_F(LinkTest, HostStartingWithADigitIsADottedAddressOnly) {
  LoopbackPeer peer(silent);
  TcpLink link("1dmm.lab", peer.port());
  EXPECT_EQ(link.is_connected(), 0);
  EXPECT_EQ(link.address, 0xffffffffu);
  EXPECT_EQ(link.socket, NET_INVALID_SOCKET);  // no socket made, so nothing went out
}

TEST_F(LinkTest, PortOutsideTheProtocolRangeGivesAnUnconnectedLink) {
  LoopbackPeer peer(silent);
  for (int port : {0, -1, 65536, 65536 + peer.port(), -65536 + peer.port()}) {
    TcpLink link("127.0.0.1", port);
    EXPECT_EQ(link.is_connected(), 0) << "port " << port;
    EXPECT_EQ(link.port, port);
  }
}

TEST_F(LinkTest, RefusedConnectionGivesAnUnconnectedLink) {
  RefusingPort refusing;
  TcpLink link("127.0.0.1", refusing.port());
  EXPECT_EQ(link.is_connected(), 0);
  EXPECT_EQ(link.socket, NET_INVALID_SOCKET);
}

TEST_F(LinkTest, ConnectThatIsNeverAnsweredGivesUpAfterTheConnectTimeout) {
  set_time_scale(0.1);
  StalledPort stalled;
  ASSERT_TRUE(stalled.ready());
  const auto start = Clock::now();
  TcpLink link("127.0.0.1", stalled.port());
  const long long elapsed = ms_since(start);
  EXPECT_EQ(link.is_connected(), 0);
  EXPECT_EQ(link.socket, NET_INVALID_SOCKET);
  EXPECT_GE(elapsed, scaled_ms(CONNECT_TIMEOUT_MS) - 20);
  EXPECT_LT(elapsed, 4000);
}

TEST_F(LinkTest, OperationsOnAnUnconnectedLinkAreHarmless) {
  TcpLink link("127.0.0.1", 0);
  char buffer[16] = "untouched";
  EXPECT_EQ(link.send_text("READ?\r"), 0);
  link.set_timeout(100);
  EXPECT_EQ(link.timeout, 0);
  EXPECT_EQ(link.receive(buffer, 8), LINK_FAILED);
  EXPECT_EQ(read_reply(buffer, 16, &link, 100, 13), LINK_FAILED);
  EXPECT_EQ(drain_input(&link, 10), LINK_FAILED);
  link.close();
  EXPECT_EQ(link.is_connected(), 0);
}

TEST_F(LinkTest, SetTimeoutKeepsTheUnscaledValue) {
  set_time_scale(0.1);
  LoopbackPeer peer(silent);
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  link.set_timeout(2500);
  EXPECT_EQ(link.timeout, 2500);
}

// --- Reading replies

TEST_F(LinkTest, ReplyLineIsCountedWithItsTerminator) {
  LoopbackPeer peer([](PeerSession& s) {
    s.send("ABC\r");
    s.wait_closed();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[128];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), 4);
  EXPECT_STREQ(buffer, "ABC\r");
  EXPECT_EQ(link.timeout, 2000);
}

TEST_F(LinkTest, ReplyLongerThanTheBufferIsCutAndTheRestStaysForTheNextRead) {
  const std::string long_line = std::string(200, 'x') + "\r";
  LoopbackPeer peer([&](PeerSession& s) {
    s.send(long_line);
    s.wait_closed();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[128];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), 126);
  EXPECT_EQ(std::string(buffer), std::string(126, 'x'));
  EXPECT_EQ(buffer[127], '#');
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), 75);
  EXPECT_EQ(std::string(buffer), std::string(74, 'x') + "\r");
}

TEST_F(LinkTest, SilenceGivesZeroAndAnEmptyBufferAfterOneTimeout) {
  LoopbackPeer peer([](PeerSession& s) {
    s.send("PART");  // no terminator: what came is dropped
    s.wait_closed();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[128] = "stale";
  const auto start = Clock::now();
  EXPECT_EQ(read_reply(buffer, 127, &link, 300, 13), 0);  // real time
  const long long elapsed = ms_since(start);
  EXPECT_STREQ(buffer, "");
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(link.is_connected(), 1);
}

TEST_F(LinkTest, NullLinkGivesMinusOneAndLeavesTheBufferAlone) {
  char buffer[16] = "untouched";
  EXPECT_EQ(read_reply(buffer, 16, nullptr, 100, 13), -1);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(drain_input(nullptr, 10), 0);
}

// --- A peer that goes away

TEST_F(LinkTest, PeerClosingMidLineIsALinkFailure) {
  LoopbackPeer peer([](PeerSession& s) {
    s.send("AB");
    s.close();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[128];
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), -1);
  EXPECT_STREQ(buffer, "AB");  // what came stays, never padded with empty bytes
  EXPECT_EQ(link.connected, 0);
  EXPECT_EQ(link.is_connected(), 0);
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), -1);
}

TEST_F(LinkTest, IsConnectedNoticesAPeerThatClosedWithoutTakingInput) {
  LoopbackPeer peer([](PeerSession& s) {
    std::string line;
    s.read_line('\n', &line);
    s.close();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  ASSERT_EQ(link.is_connected(), 1);  // looking twice changes nothing
  link.send_text("bye\n");
  const auto start = Clock::now();
  while (link.is_connected() && ms_since(start) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(link.is_connected(), 0);
  EXPECT_EQ(link.socket, NET_INVALID_SOCKET);
}

TEST_F(LinkTest, IsConnectedLeavesPendingInputInPlace) {
  LoopbackPeer peer([](PeerSession& s) {
    s.send("OK\n");
    s.wait_closed();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[16];
  ASSERT_EQ(read_reply(buffer, 16, &link, 2000, '\n'), 3);
  EXPECT_STREQ(buffer, "OK\n");
  EXPECT_EQ(link.is_connected(), 1);
}

TEST_F(LinkTest, SendingToAClosedPeerFailsWithoutEndingTheProgram) {
  LoopbackPeer peer([](PeerSession& s) { s.close(); });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_TRUE(peer.wait_done());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  int sent = 1;
  for (int i = 0; i < 200 && sent > 0; ++i) {
    sent = link.send_text("READ?\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LE(sent, 0);
  EXPECT_EQ(link.connected, 0);
  EXPECT_EQ(link.send_text("READ?\r"), 0);
}

// --- Draining

TEST_F(LinkTest, DrainOnAQuietPeerCostsOneInterval) {
  LoopbackPeer peer(silent);
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  const auto start = Clock::now();
  EXPECT_EQ(drain_input(&link, 200), LINK_TIMED_OUT);  // real time
  const long long elapsed = ms_since(start);
  EXPECT_GE(elapsed, 150);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(link.timeout, 200);
}

TEST_F(LinkTest, DrainOnATalkingPeerReadsUntilAGap) {
  std::atomic<bool> talk_over{false};
  LoopbackPeer peer([&](PeerSession& s) {
    for (int i = 0; i < 6; ++i) {
      s.send("chatter " + std::to_string(i) + "\r\n");
      s.pause(40);
    }
    talk_over = true;
    s.wait_closed();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[128];
  ASSERT_EQ(read_reply(buffer, 127, &link, 2000, '\n'), 11);  // the talk has begun
  const auto start = Clock::now();
  EXPECT_EQ(drain_input(&link, 300), LINK_TIMED_OUT);  // real time
  const long long elapsed = ms_since(start);
  EXPECT_TRUE(talk_over.load()) << "the drain ended while the peer was still talking";
  EXPECT_GE(elapsed, 500);  // at least one pause and the closing timeout
  EXPECT_EQ(read_reply(buffer, 127, &link, 200, '\n'), 0) << "left over: " << buffer;
}

TEST_F(LinkTest, DrainOnAPeerThatNeverPausesEndsAfterTheLimit) {
  set_time_scale(0.25);
  LoopbackPeer peer([](PeerSession& s) {
    // Talks every 5 ms for 10 s: far longer than any drain may take.
    const auto start = Clock::now();
    while (ms_since(start) < 10000 && s.send("+1.00000000E+00\r\n")) s.pause(5);
    s.wait_closed();
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  const auto start = Clock::now();
  EXPECT_EQ(drain_input(&link, 400), LINK_TIMED_OUT);
  const long long elapsed = ms_since(start);
  EXPECT_GE(elapsed, scaled_ms(DRAIN_LIMIT_MS) - 20);
  EXPECT_LT(elapsed, 4000);
  EXPECT_EQ(link.is_connected(), 1);
}
