// TcpLink: one blocking TCP connection to an instrument.
#include "link/tcp_link.h"

#include <cstring>
#include <new>

#include "platform/sleep.h"

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

TcpLink::TcpLink(const char* host, int port_number, int connect_timeout_ms)
    : port(port_number), address(ADDRESS_NONE), remote{FAMILY_INET, 0, ADDRESS_NONE} {
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
  if (!net_connect(socket, address, port, connect_timeout_ms)) {
    net_close(socket);
    socket = NET_INVALID_SOCKET;
    return;
  }
  connected = 1;
}

TcpLink::~TcpLink() {
  close();
  // A socket handed to a link that never connected is still the link's to close.
  if (socket != NET_INVALID_SOCKET) net_close(socket);
}

void TcpLink::pause(int ms) { sleep_ms(ms); }

Transport::Clock::time_point TcpLink::now() { return Clock::now(); }

int TcpLink::send_bytes(const char* data, int length, NetError* error) {
  // A send waits no longer than a receive would.
  if (send_window != receive_window && net_set_send_timeout(socket, receive_window)) send_window = receive_window;
  return net_send(socket, data, length, error);
}

int TcpLink::receive_bytes(char* buffer, int size, int window_ms, NetError* error) {
  return net_recv(socket, buffer, size, window_ms, error);
}

int TcpLink::peer_closed() { return net_peer_closed(socket); }

void TcpLink::end_stream() {
  net_shutdown(socket);
  net_close(socket);
  socket = NET_INVALID_SOCKET;
}

std::unique_ptr<Transport> tcp_connector(const std::string& host, int port, int timeout_ms) {
  return std::unique_ptr<Transport>(new (std::nothrow) TcpLink(host.c_str(), port, timeout_ms));
}
