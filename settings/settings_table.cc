// The settings table: typed records in a growable array, read from and written to a text file.
#include "settings/settings_table.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "console/field_parser.h"
#include "platform/files.h"


namespace {

// Bytes of one piece of a file line, its terminating zero included.
constexpr int LINE_BUFFER_SIZE = 254;

// A text value read from a file keeps at most this many bytes, its terminating zero included.
constexpr int LOADED_TEXT_SIZE = 127;

// Names compare equal when they differ only in the case of the ASCII letters.
int same_name(const char* a, const char* b) {
  for (;; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a);
    unsigned char y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return 0;
    if (x == '\0') return 1;
  }
}

// A decimal integer as atoi reads it, but a number beyond the int range is held at its nearest end
// instead of being undefined.
std::int32_t parse_integer(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<std::int32_t>(value);
}

// Copies at most size - 1 characters of source into dest and zero-terminates it; the length copied.
int copy_text(char* dest, int size, const char* source) {
  int k = 0;
  while (k < size - 1 && source[k] != '\0') {
    dest[k] = source[k];
    k++;
  }
  dest[k] = '\0';
  return k;
}

int is_text_type(std::int32_t type) { return type == TEXT || type == QUOTED_TEXT; }

// The next line of the file as fgets reads it (its line end kept, a longer line in pieces of at most
// size - 1 bytes), but a CR alone ends a line too, as LF and CR LF do: files from old editors. false
// once the file has no more.
bool read_piece(std::FILE* file, char* line, int size) {
  int k = 0;
  while (k < size - 1) {
    const int c = std::getc(file);
    if (c == EOF) break;
    line[k++] = static_cast<char>(c);
    if (c == '\n') break;
    if (c == '\r') {
      const int next = std::getc(file);
      if (next == '\n' && k < size - 1)
        line[k++] = '\n';
      else if (next != EOF)
        std::ungetc(next, file);
      break;
    }
  }
  line[k] = '\0';
  return k > 0;
}

}  // namespace

SettingsTable::SettingsTable() : records(nullptr), count(0), capacity(0), record_tag(1) {}

SettingsTable::~SettingsTable() { delete[] records; }

void SettingsTable::truncate_text(char* text, int size) {
  if (text == nullptr || size < 1) return;
  for (int i = 0; i < size; i++) {
    if (text[i] == '\0') return;  // already short enough
  }
  text[size - 1] = '\0';
}

int SettingsTable::add_setting(int type, const char* name) {
  if (name == nullptr || type < TEXT || type > REAL) return 0;

  if (count == capacity) {
    if (capacity > INT_MAX / 2) return 0;
    int grown = capacity + std::max(capacity, 1);  // 1, 2, 4, 8, ...
    SettingRecord* fresh = new (std::nothrow) SettingRecord[grown];
    if (fresh == nullptr) return 0;
    if (count > 0) std::memcpy(fresh, records, sizeof(SettingRecord) * static_cast<std::size_t>(count));
    delete[] records;
    records = fresh;
    capacity = grown;
  }

  SettingRecord& r = records[count];
  r = SettingRecord{};  // empty text, zero numbers
  r.tag = record_tag;
  r.type = type;
  copy_text(r.name, sizeof r.name, name);  // at most 127 characters
  count++;
  return 1;
}

int SettingsTable::find_setting(const char* name) {
  if (name == nullptr) return 0;
  for (int i = 0; i < count; i++) {
    if (same_name(records[i].name, name)) return i + 1;
  }
  return 0;
}

int SettingsTable::set_value(const char* name, const void* value) {
  int i = find_setting(name);
  if (i == 0 || value == nullptr) return 0;
  SettingRecord& r = records[i - 1];
  switch (r.type) {
    case TEXT:
      copy_text(r.text, sizeof r.text, static_cast<const char*>(value));
      break;
    case QUOTED_TEXT: {  // the inner text is cut so that both quotes fit
      int k = copy_text(r.text + 1, sizeof r.text - 2, static_cast<const char*>(value));
      r.text[0] = '"';
      r.text[k + 1] = '"';
      r.text[k + 2] = '\0';
      break;
    }
    case INTEGER:
      std::memcpy(&r.int_value, value, sizeof r.int_value);
      break;
    case REAL:
      std::memcpy(&r.real_value, value, sizeof r.real_value);
      break;
  }
  return i;
}

int SettingsTable::get_value(const char* name, void* out, int out_size) {
  int i = find_setting(name);
  if (i == 0 || out == nullptr) return 0;
  const SettingRecord& r = records[i - 1];
  if (is_text_type(r.type)) {
    if (out_size < 1) return 0;
    copy_text(static_cast<char*>(out), out_size, r.text);
  } else if (r.type == INTEGER) {
    if (out_size < static_cast<int>(sizeof r.int_value)) return 0;
    std::memcpy(out, &r.int_value, sizeof r.int_value);
  } else {
    if (out_size < static_cast<int>(sizeof r.real_value)) return 0;
    std::memcpy(out, &r.real_value, sizeof r.real_value);
  }
  return i;
}

int SettingsTable::load_file(const char* path) {
  if (count == 0 || path == nullptr) return 0;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return 0;

  FieldParser parser;
  char line[LINE_BUFFER_SIZE];
  char name[LINE_BUFFER_SIZE];
  char value[LINE_BUFFER_SIZE];
  int stored = 0;
  // A line longer than the buffer arrives in pieces, each handled as a line; a piece ends at its
  // first zero byte.
  while (read_piece(file, line, sizeof line)) {
    if (parser.token(line, name, 0, sizeof name) < 0) continue;
    int i = find_setting(name);
    if (i == 0) continue;
    if (parser.token(line, value, 1, sizeof value) < 0) continue;

    SettingRecord& r = records[i - 1];
    switch (r.type) {
      case TEXT:
      case QUOTED_TEXT:
        truncate_text(value, LOADED_TEXT_SIZE);
        copy_text(r.text, sizeof r.text, value);
        break;
      case INTEGER:
        r.int_value = parse_integer(value);
        break;
      case REAL:
        r.real_value = std::strtod(value, nullptr);
        break;
    }
    stored++;
  }
  std::fclose(file);
  return stored;
}

int SettingsTable::save_file(const char* path) {
  if (count == 0 || path == nullptr || path[0] == '\0') return 0;

  // The new content goes to a temporary file beside the file it replaces and replaces it only once it
  // is complete and on the disk, so a failure at any point leaves the old file as it was. A settings
  // file that is a symbolic link stays one: the file it names is replaced, in that file's folder.
  // Each save has a temporary file of its own, so two saves at once leave one whole version.
  const std::string target = link_target(path);
  const std::string::size_type slash = target.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + ".";
  std::string temporary;
  std::string reason;
  std::FILE* file = create_unique_file(folder.c_str(), prefix.c_str(), temporary, reason);
  if (file == nullptr) return 0;

  int ok = take_file_mode(file, target.c_str());
  for (int i = 0; i < count && ok; i++) {
    const SettingRecord& r = records[i];
    int written;
    if (r.type == INTEGER) {
      written = std::fprintf(file, "%s    %d\n", r.name, r.int_value);
    } else if (r.type == REAL) {
      written = std::fprintf(file, "%s    %lf\n", r.name, r.real_value);
    } else {
      written = std::fprintf(file, "%s    %s\n", r.name, r.text);
    }
    if (written < 0) ok = 0;
  }
  if (ok && !sync_file(file)) ok = 0;
  if (std::fclose(file) != 0) ok = 0;
  if (ok && !replace_file(temporary.c_str(), target.c_str())) ok = 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}
