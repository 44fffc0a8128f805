// The record reader on arbitrary bytes: parse_record must refuse or accept without a crash or an
// exception, and an accepted record (on a channel of 1 to 3) must give its CSV and file name without one. The same bytes as an
// identification answer must split into fields that hold no leading or trailing blanks.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "link/identity.h"
#include "records/record.h"
#include "records/record_codec.h"

namespace {

void check_trimmed(const std::string& field) {
  if (field.empty()) return;
  if (static_cast<unsigned char>(field.front()) <= 32 || static_cast<unsigned char>(field.back()) <= 32) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  Result<Record> read = parse_record(text);
  if (read.ok() != read.reason().empty()) std::abort();  // a refusal always says why, an acceptance never does
  if (read.ok()) {
    std::string csv = record_csv(*read);
    if (csv.rfind("record_id,", 0) != 0) std::abort();
    if (read->channel < 1 || read->channel > 3) std::abort();
    std::string name = record_base_name(*read);
    if (name.find_first_of("/\\.") != std::string::npos) std::abort();  // never leaves the records folder
    if (parse_record(record_json_text(*read)).ok() != true) std::abort();  // what it accepts, it writes readably
  }
  Identity identity = parse_identity(text);
  check_trimmed(identity.maker);
  check_trimmed(identity.model);
  check_trimmed(identity.serial);
  return 0;
}
