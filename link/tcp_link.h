// TCP link to one instrument: the byte stream of a Transport over a blocking socket.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/transport.h"
#include "platform/net.h"

// A connect that has not completed within this time counts as failed.
constexpr int CONNECT_TIMEOUT_MS = 5000;

// The IPv4 socket address used for the connect.
struct RemoteAddress {
  int family;                // AF_INET, 2
  std::uint16_t port;        // network byte order
  std::uint32_t address;     // network byte order
};

class TcpLink final : public Transport {
 public:
  TcpLink(const char* host, int port, int connect_timeout_ms = CONNECT_TIMEOUT_MS);
  ~TcpLink() override;  // closes the socket
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;

  void pause(int ms) override;
  Clock::time_point now() override;

  net_socket socket = NET_INVALID_SOCKET;
  int port;              // host byte order
  std::uint32_t address; // network byte order
  RemoteAddress remote;

 protected:
  int send_bytes(const char* data, int length, NetError* error) override;
  int receive_bytes(char* buffer, int size, int window_ms, NetError* error) override;
  int peer_closed() override;
  void end_stream() override;

 private:
  int send_window = 0;  // the send timeout the socket holds (real ms; 0: none)
};

// Opens a link to host:port, giving up on the connect after timeout_ms: a TcpLink unless a test hands
// an instrument its own. The link it gives may be null or not connected.
using Connector = std::function<std::unique_ptr<Transport>(const std::string& host, int port, int timeout_ms)>;
std::unique_ptr<Transport> tcp_connector(const std::string& host, int port, int timeout_ms);
