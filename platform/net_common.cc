// The parts of the socket layer that do not depend on the platform: the loopback guard and the
// argument checks.
#include <atomic>
#include <cstring>

#include "platform/net.h"

namespace {

std::atomic<int> loopback_only{0};

// 127.0.0.0/8: the first byte of a network-order address is its top octet.
bool is_loopback(std::uint32_t address) {
  unsigned char bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  return bytes[0] == 127;
}

}  // namespace

int net_lookup_allowed(const char* name) {
  if (name == nullptr) return 0;
  for (const char* c = name; *c != '\0'; ++c) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 32 || byte == 127) return 0;
  }
  return 1;
}

void net_set_loopback_only(int on) { loopback_only = on ? 1 : 0; }

int net_connect_allowed(net_socket s, std::uint32_t address, int port) {
  if (s == NET_INVALID_SOCKET || port < 1 || port > 65535) return 0;
  if (loopback_only.load() && !is_loopback(address)) return 0;
  return 1;
}

int net_io_allowed(net_socket s, const void* data, int length, NetError* error) {
  const int ok = s != NET_INVALID_SOCKET && data != nullptr && length >= 0;
  if (error != nullptr) *error = ok ? NET_NO_ERROR : NET_OTHER;
  return ok;
}
