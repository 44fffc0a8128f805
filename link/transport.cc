// The link logic shared by every byte stream to an instrument.
#include "link/transport.h"

#include <climits>
#include <cstring>

#include "platform/sleep.h"

int Transport::is_connected() {
  // The instrument may have closed its side while nobody was reading.
  if (connected && peer_closed()) close();
  return connected;
}

void Transport::close() {
  if (!connected) return;
  end_stream();
  connected = 0;
}

int Transport::send_text(const char* text) {
  if (!connected || text == nullptr) return 0;
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(INT_MAX)) return 0;
  NetError error = NET_NO_ERROR;
  int sent = send_bytes(text, static_cast<int>(length), &error);
  // A broken connection (the instrument closed or reset it) ends the link.
  if (sent < 0 && error == NET_OTHER) close();
  return sent;
}

void Transport::set_timeout(int milliseconds, int awaiting_reply) {
  if (!connected) return;
  timeout = milliseconds;
  // A negative time means nothing sensible; 0 stays "no limit".
  receive_window = milliseconds <= 0 ? 0
                   : awaiting_reply  ? scaled_reply_ms(milliseconds)
                                     : scaled_ms(milliseconds);
}

int Transport::receive(char* buffer, int size) {
  if (!connected) return LINK_FAILED;
  if (buffer == nullptr || size <= 0) return 0;
  NetError error = NET_NO_ERROR;
  int r = receive_bytes(buffer, size, receive_window, &error);
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

int Transport::read_line(char* buffer, int count, int terminator) {
  if (buffer == nullptr || count < 1) return 0;
  buffer[0] = 0;
  int i = 0;
  while (i < count - 1) {
    int r = receive(buffer + i, 1);
    if (r < 0) return r;
    // Nothing there (a stream that would have blocked) is the same as a byte that did not come.
    if (r == 0) return LINK_TIMED_OUT;
    const char byte = buffer[i];
    buffer[i + 1] = 0;
    ++i;
    if (static_cast<unsigned char>(byte) == static_cast<unsigned char>(terminator)) break;
  }
  return i;
}

int read_reply(char* buffer, int count, Transport* link, int timeout_ms, int terminator) {
  if (link == nullptr) return LINK_FAILED;
  link->set_timeout(timeout_ms, 1);
  int r = link->read_line(buffer, count, terminator);
  if (r == 0 || r == LINK_TIMED_OUT) {
    if (buffer != nullptr && count > 0) buffer[0] = 0;
    return 0;
  }
  return r;
}

int read_reply(char* buffer, int count, Transport* link, int first_ms, int each_ms, int terminator) {
  if (link == nullptr) return LINK_FAILED;
  if (buffer == nullptr || count < 2) return read_reply(buffer, count, link, first_ms, terminator);
  // The first byte alone, within its own window. A line feed left over from the line before (one that
  // ended in a carriage return) is not the start of this reply: it is kept, and the first byte is
  // waited for once more.
  int got = read_reply(buffer, 2, link, first_ms, terminator);
  if (got > 0 && buffer[0] == '\n' && terminator != '\n' && count > 2) {
    int next = read_reply(buffer + 1, 2, link, first_ms, terminator);
    if (next <= 0) {
      buffer[0] = 0;
      return next;
    }
    got = 2;
  }
  if (got <= 0 || static_cast<unsigned char>(buffer[got - 1]) == static_cast<unsigned char>(terminator)) return got;
  int rest = read_reply(buffer + got, count - got, link, each_ms, terminator);
  if (rest < 0) return rest;
  if (rest == 0) {
    // The line stopped short: what had come is dropped, as for a reply that did not come.
    buffer[0] = 0;
    return 0;
  }
  return got + rest;
}

int drain_input(Transport* link, int interval_ms) {
  if (link == nullptr) return 0;
  const auto limit = std::chrono::milliseconds(scaled_ms(DRAIN_LIMIT_MS));
  const auto start = link->now();
  char scratch[2048];
  link->set_timeout(interval_ms);
  int r = link->receive(scratch, 2046);
  while (r > 0) {
    // An instrument that never pauses must not hold the program: after the limit, carry on as if
    // the gap had come.
    if (link->now() - start >= limit) return LINK_TIMED_OUT;
    link->pause(interval_ms);
    r = link->receive(scratch, 2046);
  }
  return r;
}
