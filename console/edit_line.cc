// One-line text editor on top of a console's keys.
#include "console/edit_line.h"

#include <cstring>
#include <string_view>

#include "console/console.h"

namespace {

constexpr int BELL = 7;
constexpr int BACKSPACE = 8;
constexpr int ENTER = 13;
constexpr int LINE_FEED = 10;

// Where key stands in the terminator set: 0 not a terminator, 1 the accept key, 2 a cancel key.
// A null or empty set makes Enter alone the accept key. Lead code 0 never matches the set's end.
int terminator_kind(int key, const char* terminators) {
  if (terminators == nullptr || terminators[0] == '\0') return key == ENTER ? 1 : 0;
  for (int i = 0; terminators[i] != '\0'; ++i) {
    if (static_cast<unsigned char>(terminators[i]) == key) return i == 0 ? 1 : 2;
  }
  return 0;
}

// The line as the edit has shown it: the preloaded part with its control bytes made visible, the
// typed part as the echo mode shows it (mode 0: not at all).
void show_line(Console& console, const char* buffer, int len, int preloaded, int echo_mode) {
  const std::string_view line(buffer, static_cast<size_t>(len));
  console.print("%s", console_visible_text(line.substr(0, static_cast<size_t>(preloaded))).c_str());
  if (echo_mode == 1) {
    console.print("%s", console_visible_text(line.substr(static_cast<size_t>(preloaded))).c_str());
  } else if (echo_mode > 1) {
    for (int i = preloaded; i < len; ++i) console.put_char(echo_mode);
  }
}

}  // namespace

int edit_line(Console& console, char* buffer, int echo_mode, int max_length, const char* terminators, int preload,
              const char* prompt) {
  if (buffer == nullptr || max_length < 1) return 0;

  // The line only ever grows below max_length; a longer preload only shrinks. So every byte
  // written lies inside the buffer's max_length + 1 bytes or inside the preloaded text itself.
  int len = 0;
  if (preload) {
    char* carriage_return = std::strchr(buffer, ENTER);
    if (carriage_return != nullptr) *carriage_return = '\0';
    len = static_cast<int>(std::strlen(buffer));
    // Text from outside (a host read from the settings file) is shown with its controls made visible.
    show_line(console, buffer, len, len, 1);
  }
  int preloaded = len;  // how much of the line is the preload, shown as it is whatever the echo mode
  bool told_ascii_only = false;

  for (;;) {
    int key = console.read_key();
    if (key == KEY_CLOSED) {
      buffer[len] = '\0';
      return EDIT_CLOSED;
    }
    // A key without a character never enters text.
    if (is_special_key(key)) {
      console.put_char(BELL);
      continue;
    }
    if (key == BACKSPACE) {
      if (len == 0) {
        console.put_char(BELL);
      } else {
        // A byte shown as \xNN takes its four characters off the screen with it.
        int width = console_visible_width(static_cast<unsigned char>(buffer[--len]));
        preloaded = preloaded < len ? preloaded : len;
        for (int i = 0; i < width; ++i) {
          console.put_char(BACKSPACE);
          console.put_char(' ');
          console.put_char(BACKSPACE);
        }
      }
      continue;
    }
    int kind = terminator_kind(key, terminators);
    if (kind != 0) {
      buffer[len] = '\0';
      if (kind == 2) return -static_cast<int>(static_cast<signed char>(key));
      if (echo_mode != 0) {
        console.put_char(ENTER);
        console.put_char(LINE_FEED);
      }
      return len;
    }
    // A letter outside ASCII is never dropped unseen: a host that lost it would be contacted as it is.
    if (key >= 128) {
      console.put_char(BELL);
      if (!told_ascii_only) {
        told_ascii_only = true;
        console.print("%s%s", EDIT_ASCII_ONLY, prompt != nullptr ? prompt : "");
        show_line(console, buffer, len, preloaded, echo_mode);
      }
      continue;
    }
    // Control codes and the lead code 0 of two-code keys.
    if (key < 32) continue;
    if (len >= max_length) {
      console.put_char(BELL);
      continue;
    }
    buffer[len++] = static_cast<char>(key);
    if (echo_mode == 1)
      console.put_char(key);
    else if (echo_mode > 1)
      console.put_char(echo_mode);
  }
}
