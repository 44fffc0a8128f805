// The link: TcpLink's connect, close and send against loopback peers; the reply discipline
// (read_reply, drain_input) on in-memory streams, on the virtual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link/tcp_link.h"
#include "tests/fake_transport.h"
#include "tests/loopback_peer.h"
#include "tests/program_fixture.h"

namespace {

// A peer that says nothing and waits for the client to go.
void silent(LoopbackPeer& peer) { peer.receive_until(""); }

class LinkTest : public ProgramTest {
 protected:
  LinkTest() { scale = 1.0; }
};

}  // namespace

// --- Connecting

TEST_F(LinkTest, DottedAddressAndHostNameConnectWithTheFieldsFilledIn) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    LoopbackPeer peer(silent);
    TcpLink link(host, peer.port());
    ASSERT_EQ(link.is_connected(), 1);
    EXPECT_EQ(link.connected, 1);
    EXPECT_EQ(link.timeout, 0);
    EXPECT_EQ(link.port, peer.port());
    EXPECT_EQ(link.remote.family, 2);
    unsigned char port_bytes[2];
    unsigned char address_bytes[4];
    std::memcpy(port_bytes, &link.remote.port, 2);
    std::memcpy(address_bytes, &link.address, 4);
    EXPECT_EQ(port_bytes[0], (peer.port() >> 8) & 0xff);  // network byte order
    EXPECT_EQ(port_bytes[1], peer.port() & 0xff);
    EXPECT_EQ(address_bytes[0], 127);
    EXPECT_EQ(address_bytes[3], 1);
    EXPECT_EQ(link.remote.address, link.address);
    EXPECT_GT(link.send_text("*IDN?\r"), 0);
    EXPECT_TRUE(peer.wait_received("*IDN?\r"));
  }
}

// A host starting with a digit is a dotted address only (no socket made, so nothing went out); a port
// outside the protocol's range, or one that refuses, gives an unconnected link too.
TEST_F(LinkTest, UnusableHostOrPortOrARefusalGivesAnUnconnectedLink) {
  LoopbackPeer peer(silent);
  TcpLink named("1dmm.lab", peer.port());
  EXPECT_EQ(named.is_connected(), 0);
  EXPECT_EQ(named.address, 0xffffffffu);
  EXPECT_EQ(named.socket, NET_INVALID_SOCKET);
  for (int port : {0, -1, 65536, 65536 + peer.port(), -65536 + peer.port()}) {
    TcpLink link("127.0.0.1", port);
    EXPECT_EQ(link.is_connected(), 0) << "port " << port;
    EXPECT_EQ(link.port, port);
  }
  RefusingPort refusing;
  TcpLink refused("127.0.0.1", refusing.port());
  EXPECT_EQ(refused.is_connected(), 0);
  EXPECT_EQ(refused.socket, NET_INVALID_SOCKET);
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

// --- A peer that goes away (each script's connection is closed once the script ends)

TEST_F(LinkTest, PeerClosingMidLineIsALinkFailure) {
  LoopbackPeer peer([](LoopbackPeer& p) { p.send("AB"); });
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
  LoopbackPeer peer([](LoopbackPeer& p) { p.receive_until("\n"); });
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
  LoopbackPeer peer([](LoopbackPeer& p) {
    p.send("OK\n");
    p.receive_until("");
  });
  TcpLink link("127.0.0.1", peer.port());
  ASSERT_EQ(link.is_connected(), 1);
  char buffer[16];
  ASSERT_EQ(read_reply(buffer, 16, &link, 2000, '\n'), 3);
  EXPECT_STREQ(buffer, "OK\n");
  EXPECT_EQ(link.is_connected(), 1);
}

TEST_F(LinkTest, SendingToAClosedPeerFailsWithoutEndingTheProgram) {
  LoopbackPeer peer([](LoopbackPeer&) {});
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

// --- Operations that cannot reach anyone: an unconnected link, a closed stream, no link at all

TEST_F(LinkTest, OperationsOnAnUnconnectedOrMissingLinkAreHarmless) {
  TcpLink tcp("127.0.0.1", 0);
  FakeTransport closed;
  closed.close();
  for (Transport* link : {static_cast<Transport*>(&tcp), static_cast<Transport*>(&closed)}) {
    char buffer[16] = "untouched";
    EXPECT_EQ(link->send_text("READ?\r"), 0);
    link->set_timeout(100);
    EXPECT_EQ(link->timeout, 0);
    EXPECT_EQ(link->receive(buffer, 8), LINK_FAILED);
    EXPECT_EQ(read_reply(buffer, 16, link, 100, 13), LINK_FAILED);
    EXPECT_EQ(drain_input(link, 10), LINK_FAILED);
    link->close();
    EXPECT_EQ(link->is_connected(), 0);
  }
  EXPECT_EQ(closed.sent, "");
  char buffer[16] = "untouched";
  EXPECT_EQ(read_reply(buffer, 16, nullptr, 100, 13), -1);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(drain_input(nullptr, 10), 0);
}

// --- Windows under the time scale: the link keeps the program's time; the window it waits is scaled,
// a reply's window less so.

struct WindowCase {
  double scale;
  int timeout;
  int awaiting_reply;
  int window;  // real ms
};

class LinkWindowTest : public LinkTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(LinkWindowTest, SetTimeoutKeepsTheUnscaledValueAndWaitsTheScaledWindow) {
  const WindowCase& c = GetParam();
  set_time_scale(c.scale);
  FakeTransport link;
  link.set_timeout(c.timeout, c.awaiting_reply);
  EXPECT_EQ(link.timeout, c.timeout);
  char byte;
  EXPECT_EQ(link.receive(&byte, 1), LINK_TIMED_OUT);
  EXPECT_EQ(link.clock_ms, c.window);
}

INSTANTIATE_TEST_SUITE_P(Scales, LinkWindowTest,
                         ::testing::Values(WindowCase{1.0, 2500, 1, 2500}, WindowCase{0.1, 2500, 0, 250},
                                           WindowCase{0.1, 2500, 1, 250}, WindowCase{0.1, 500, 1, 100},
                                           WindowCase{0.1, 500, 0, 50}, WindowCase{0.1, 40, 0, 10},
                                           WindowCase{0.1, 40, 1, 40}));

// --- Reading replies

TEST_F(LinkTest, ReplyLineIsCountedWithItsTerminator) {
  FakeTransport link;
  link.arrive(5, "ABC\r");
  char buffer[128];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), 4);
  EXPECT_STREQ(buffer, "ABC\r");
  EXPECT_EQ(link.timeout, 2000);
  EXPECT_EQ(link.clock_ms, 5);
}

TEST_F(LinkTest, ReplyLongerThanTheBufferIsCutAndTheRestStaysForTheNextRead) {
  FakeTransport link;
  link.arrive(0, std::string(200, 'x') + "\r");
  char buffer[128];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), 126);
  EXPECT_EQ(std::string(buffer), std::string(126, 'x'));
  EXPECT_EQ(buffer[127], '#');
  EXPECT_EQ(read_reply(buffer, 127, &link, 2000, 13), 75);
  EXPECT_EQ(std::string(buffer), std::string(74, 'x') + "\r");
}

// The window counts from each byte: a slow line is read whole, a pause longer than the window ends it.
TEST_F(LinkTest, SilenceGivesZeroAndAnEmptyBufferAfterOneWindowPerByte) {
  FakeTransport link;
  link.arrive(200, "PA");
  link.arrive(400, "RT");  // no terminator: what came is dropped
  char buffer[128] = "stale";
  EXPECT_EQ(read_reply(buffer, 127, &link, 300, 13), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(link.clock_ms, 400 + 300);
  EXPECT_EQ(link.is_connected(), 1);
}

// --- Draining: reads until a gap of one interval or the limit; only what came after it is left.

struct DrainCase {
  int interval;
  std::vector<long long> talk;  // arrival times of one line each
  long long took;               // virtual ms the drain takes
  int left;                     // bytes of the first line left after the drain
};

class DrainTest : public LinkTest, public ::testing::WithParamInterface<DrainCase> {};

TEST_P(DrainTest, ReadsUntilAGapOrTheLimit) {
  const DrainCase& c = GetParam();
  FakeTransport link;
  for (long long at : c.talk) link.arrive(at, "+1.00000000E+00\r\n");
  link.arrive(100000, "LATER\n");
  EXPECT_EQ(drain_input(&link, c.interval), LINK_TIMED_OUT);
  EXPECT_EQ(link.clock_ms, c.took);
  EXPECT_EQ(link.timeout, c.interval);
  EXPECT_EQ(link.is_connected(), 1);
  char buffer[128];
  EXPECT_EQ(read_reply(buffer, 127, &link, 100000, '\n'), c.left);
}

std::vector<long long> every(long long step, long long until) {
  std::vector<long long> times;
  for (long long t = 0; t < until; t += step) times.push_back(t);
  return times;
}

// A quiet peer costs one interval; input, a pause, more input, a pause, then the closing window; a peer
// that talks every 5 ms is left once the limit is reached, its talk unread.
INSTANTIATE_TEST_SUITE_P(Peers, DrainTest,
                         ::testing::Values(DrainCase{200, {}, 200, 6},
                                           DrainCase{300, {0, 40, 80, 120}, 0 + 300 + 300 + 300, 6},
                                           DrainCase{10, every(5, 5000), DRAIN_LIMIT_MS, 17}));
