// TcpLink: one blocking TCP connection to an instrument.
#include "link/tcp_link.h"

#include <climits>
#include <cstring>

namespace {

constexpr int FAMILY_INET = 2;
constexpr std::uint32_t ADDRESS_NONE = 0xffffffffu;

// A port number in network byte order, without any platform header.
std::uint16_t network_order(int port) {
  const unsigned char bytes[2] = {static_cast<unsigned char>((port >> 8) & 0xff),
                                  static_cast<unsigned char>(port & 0xff)};
  std::uint16_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

bool starts_with_letter(const char* text) {
  const char c = text[0];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

TcpLink::TcpLink(const char* host, int port_number)
    : timeout(0),
      connected(0),
      socket(NET_INVALID_SOCKET),
      port(port_number),
      address(ADDRESS_NONE),
      remote{FAMILY_INET, 0, ADDRESS_NONE},
      reply_overdue(0) {
  // A port the protocol cannot carry is refused, never reduced modulo 65536.
  if (host == nullptr || port < 1 || port > 65535) return;

  if (starts_with_letter(host)) {
    std::uint32_t found = 0;
    if (!net_lookup_ipv4(host, &found)) return;
    address = found;
  } else {
    address = net_parse_dotted(host);
  }
  remote.address = address;
  remote.port = network_order(port);
  remote.family = FAMILY_INET;
  // Not a dotted address (or the broadcast address): nothing to connect to.
  if (address == ADDRESS_NONE) return;

  socket = net_tcp_socket();
  if (socket == NET_INVALID_SOCKET) return;
  if (!net_connect(socket, address, port, CONNECT_TIMEOUT_MS)) {
    net_close(socket);
    socket = NET_INVALID_SOCKET;
    return;
  }
  connected = 1;
}

TcpLink::~TcpLink() { close(); }

int TcpLink::is_connected() {
  // The instrument may have closed its side while nobody was reading.
  if (connected && net_peer_closed(socket)) close();
  return connected;
}

void TcpLink::close() {
  if (!connected) return;
  net_shutdown(socket);
  net_close(socket);
  socket = NET_INVALID_SOCKET;
  connected = 0;
}

int TcpLink::send_text(const char* text) {
  if (!connected || text == nullptr) return 0;
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(INT_MAX)) return 0;
  NetError error = NET_NO_ERROR;
  int sent = net_send(socket, text, static_cast<int>(length), &error);
  // A broken connection (the instrument closed or reset it) ends the link.
  if (sent < 0 && error == NET_OTHER) close();
  return sent;
}

void TcpLink::set_timeout(int milliseconds, int awaiting_reply) {
  if (!connected) return;
  timeout = milliseconds;
  net_set_timeouts(socket, milliseconds, awaiting_reply);
}

int TcpLink::receive(char* buffer, int size) {
  if (!connected) return LINK_FAILED;
  if (buffer == nullptr || size <= 0) return 0;
  NetError error = NET_NO_ERROR;
  int r = net_recv(socket, buffer, size, &error);
  if (r > 0) return r;
  if (r == 0) {
    // The instrument closed the connection: nothing more can come.
    close();
    return LINK_FAILED;
  }
  if (error == NET_WOULD_BLOCK) return 0;
  if (error == NET_TIMED_OUT) return LINK_TIMED_OUT;
  close();
  return LINK_FAILED;
}

int TcpLink::read_line(char* buffer, int count, int terminator) {
  if (buffer == nullptr || count < 1) return 0;
  buffer[0] = 0;
  int i = 0;
  while (i < count - 1) {
    int r = receive(buffer + i, 1);
    if (r < 0) return r;
    // Nothing there (a socket that would have blocked) is the same as a byte that did not come.
    if (r == 0) return LINK_TIMED_OUT;
    const char byte = buffer[i];
    buffer[i + 1] = 0;
    ++i;
    if (static_cast<unsigned char>(byte) == static_cast<unsigned char>(terminator)) break;
  }
  return i;
}
