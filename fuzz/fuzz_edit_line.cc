// edit_line on arbitrary key streams, echo modes, lengths, terminator sets and preloaded texts. The
// buffer is exactly as large as the caller promises (max_length + 1, or the preloaded text), so a write
// past it is caught; the result must agree with the text left in the buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/edit_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const int echo_mode = data[0] % 3 == 2 ? '*' : data[0] % 3;
  const int max_length = 1 + data[1] % 70;
  const int preload_length = data[2] % 80;
  const int terminator_choice = data[3] % 4;
  std::size_t at = 4;

  // Terminators: none (Enter), the dialogs' Enter and Esc, Esc alone, or a few bytes of the input.
  std::string terminators;
  const char* set = nullptr;
  if (terminator_choice == 1) set = "\r\033";
  if (terminator_choice == 2) set = "\033";
  if (terminator_choice == 3) {
    // Codes 1 to 127: a cancel key from 128 up would give a positive result, which no caller uses.
    while (at < size && (data[at] & 0x7f) != 0 && terminators.size() < 3)
      terminators.push_back(static_cast<char>(data[at++] & 0x7f));
    if (at < size) ++at;
    set = terminators.c_str();
  }

  std::string preload;
  for (int i = 0; i < preload_length && at < size && data[at] != 0; ++i) preload.push_back(static_cast<char>(data[at++]));
  std::vector<char> buffer(std::max<std::size_t>(static_cast<std::size_t>(max_length) + 1, preload.size() + 1), 'x');
  std::memcpy(buffer.data(), preload.c_str(), preload.size() + 1);

  std::size_t next = at;
  CapturedConsole console([&]() { return next < size ? static_cast<int>(data[next++]) : KEY_CLOSED; });
  const int r = edit_line(console, buffer.data(), echo_mode, max_length, set, preload.empty() ? 0 : 1);
  std::string shown = console.text;
  // The notice that the editor takes ASCII only shows the line again: in echo mode 0 that is the part
  // of the preload still kept, and nothing that was typed.
  const std::size_t notice = shown.find(EDIT_ASCII_ONLY);
  if (notice != std::string::npos) {
    const std::string after = shown.substr(notice + std::strlen(EDIT_ASCII_ONLY));
    const std::string preload_visible = console_visible_text(preload);
    std::size_t same = 0;
    while (same < after.size() && same < preload_visible.size() && after[same] == preload_visible[same]) ++same;
    shown = shown.substr(0, notice) + after.substr(same);
  }

  const std::size_t length = strnlen(buffer.data(), buffer.size());
  if (length >= buffer.size()) std::abort();
  if (r >= 0 && static_cast<std::size_t>(r) != length) std::abort();
  if (length > std::max<std::size_t>(static_cast<std::size_t>(max_length), preload.size())) std::abort();
  if (r < 0 && r != EDIT_CLOSED && (set == nullptr || std::strchr(set, static_cast<char>(-r)) == nullptr)) std::abort();
  // Nothing of the typed line is shown in echo mode 0 beyond the preload (shown with its control bytes
  // made visible) and the editing codes.
  const std::size_t preload_shown = console_visible_text(preload).size();
  if (echo_mode == 0 && shown.size() > preload_shown && shown.find_first_not_of("\a\b ", preload_shown) != std::string::npos)
    std::abort();
  return 0;
}
