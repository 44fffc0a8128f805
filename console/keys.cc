// Single-key input: from the platform's raw keys, or from a test's key source.
#include "console/keys.h"

#include <utility>

#include "console/console.h"
#include "platform/raw_keys.h"

namespace {
std::function<int()> key_source;
bool keys_closed = false;

constexpr int LEAD_NUL = 0;
constexpr int LEAD_E0 = 224;

int next_code() {
  if (keys_closed) return KEY_CLOSED;
  int code = key_source ? key_source() : raw_key_read();
  if (code < 0) {
    // Once closed, input stays closed: a caller looping on keys must not find a key again.
    keys_closed = true;
    return KEY_CLOSED;
  }
  return code & 0xff;
}
}  // namespace

int read_key() {
  int code = next_code();
  if (code != LEAD_NUL && code != LEAD_E0) return code;
  // The key's own code follows its lead code; a console that closes in between ends input.
  int own = next_code();
  return own == KEY_CLOSED ? KEY_CLOSED : KEY_SPECIAL + own;
}

int read_key_echo() {
  int key = read_key();
  if (key != KEY_CLOSED && !is_special_key(key)) console_put_char(key);
  return key;
}

void discard_typed_ahead() {
  if (!key_source) raw_keys_discard_typed_ahead();
}

void set_key_source(std::function<int()> source) {
  key_source = std::move(source);
  keys_closed = false;
}
