// A small store of named, typed settings that persists as a text file of "name    value" lines.
#pragma once

#include <cstdint>

enum SettingType : std::int32_t {
  TEXT = 1,
  QUOTED_TEXT = 2,
  INTEGER = 3,
  REAL = 4
};

// One setting: a plain fixed-size value, copied byte for byte.
struct SettingRecord {
  std::int32_t tag;
  std::int32_t type;
  char name[128];
  std::int32_t int_value;
  double real_value;
  char text[136];
};

class SettingsTable {
 public:
  SettingsTable();
  virtual ~SettingsTable();
  SettingsTable(const SettingsTable&) = delete;
  SettingsTable& operator=(const SettingsTable&) = delete;

  int add_setting(int type, const char* name);
  int set_value(const char* name, const void* value);
  // out must hold 136 bytes for a text, unless out_size says how much it holds (the text is cut).
  int get_value(const char* name, void* out, int out_size = 136);
  int find_setting(const char* name);
  int load_file(const char* path);
  int save_file(const char* path);
  static void truncate_text(char* text, int size);

  int record_count() const { return count; }
  const SettingRecord& record(int index) const { return records[index]; }  // 0-based

 private:
  SettingRecord* records;
  int count;
  int capacity;
  std::int32_t record_tag;
};
