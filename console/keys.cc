// Single-key input: from the platform's raw keys, or from a test's key source.
#include "console/keys.h"

#include <utility>

#include "console/console.h"
#include "platform/raw_keys.h"
#include "platform/stop_request.h"

namespace {
std::function<int()> key_source;
bool keys_closed = false;
}  // namespace

int read_key() {
  if (keys_closed) return KEY_CLOSED;
  int key = key_source ? key_source() : raw_key_read();
  if (key < 0) {
    // Once closed, input stays closed: a caller looping on keys must not find a key again. A stop
    // (Ctrl+C) only ends the wait at hand: the menu reads keys again once it is taken up.
    if (!stop_requested()) keys_closed = true;
    return KEY_CLOSED;
  }
  return key & 0xff;
}

int read_key_echo() {
  int key = read_key();
  if (key != KEY_CLOSED) console_put_char(key);
  return key;
}

void set_key_source(std::function<int()> source) {
  key_source = std::move(source);
  keys_closed = false;
}
