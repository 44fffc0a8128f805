// The lab file read with nlohmann/json and every member checked before anything uses it.
#include "settings/lab_file.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <nlohmann/json.hpp>

#include "platform/files.h"

namespace {

using Json = nlohmann::json;

constexpr std::size_t LAB_FILE_MAX_BYTES = 1 << 20;

const char* const LOCATIONS[] = {"laboratory", "customer", "laboratoryBranch", "customerBranch", "other"};

struct Refusal {
  std::string why;
};

// A text member: present, a string, not blank, without control characters.
std::string text(const Json& object, const std::string& where, const char* key) {
  const std::string name = where + key;
  const auto found = object.find(key);
  if (found == object.end()) throw Refusal{name + ": missing"};
  if (!found->is_string()) throw Refusal{name + ": not a text"};
  const std::string value = found->get<std::string>();
  if (value.find_first_not_of(" \t") == std::string::npos) throw Refusal{name + ": empty"};
  if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
    throw Refusal{name + ": holds a control character"};
  if (value.front() == ' ' || value.back() == ' ') throw Refusal{name + ": begins or ends with a space"};
  return value;
}

std::string date(const Json& object, const std::string& where, const char* key) {
  std::string value = text(object, where, key);
  if (!is_iso_date(value)) throw Refusal{where + key + ": not a date YYYY-MM-DD"};
  return value;
}

const Json& object(const Json& parent, const std::string& where, const char* key) {
  const auto found = parent.find(key);
  if (found == parent.end()) throw Refusal{where + key + ": missing"};
  if (!found->is_object()) throw Refusal{where + key + ": not an object"};
  return *found;
}

LabFile read(const Json& j) {
  if (!j.is_object()) throw Refusal{"the file: not a JSON object"};
  LabFile lab;
  const Json& laboratory = object(j, "", "laboratory");
  lab.name = text(laboratory, "laboratory.", "name");
  lab.address = text(laboratory, "laboratory.", "address");
  lab.city = text(laboratory, "laboratory.", "city");
  lab.country = text(laboratory, "laboratory.", "country");
  if (lab.country.size() != 2 || !std::all_of(lab.country.begin(), lab.country.end(), [](char c) {
        return c >= 'A' && c <= 'Z';
      }))
    throw Refusal{"laboratory.country: not an ISO 3166-1 alpha-2 code (two capital letters)"};
  if (laboratory.contains("accreditation")) lab.accreditation = text(laboratory, "laboratory.", "accreditation");
  lab.certificate_prefix = text(j, "", "certificate_prefix");
  if (lab.certificate_prefix.size() > 16 ||
      !std::all_of(lab.certificate_prefix.begin(), lab.certificate_prefix.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
      }))
    throw Refusal{"certificate_prefix: up to 16 letters, digits and hyphens"};
  lab.performance_location = text(j, "", "performance_location");
  if (std::find(std::begin(LOCATIONS), std::end(LOCATIONS), lab.performance_location) == std::end(LOCATIONS))
    throw Refusal{"performance_location: not laboratory, customer, laboratoryBranch, customerBranch or other"};
  const Json& person = object(j, "", "responsible_person");
  lab.person_name = text(person, "responsible_person.", "name");
  lab.person_role = text(person, "responsible_person.", "role");
  const auto references = j.find("references");
  if (references == j.end()) throw Refusal{"references: missing"};
  if (!references->is_array()) throw Refusal{"references: not a list"};
  for (std::size_t i = 0; i < references->size(); ++i) {
    const Json& r = (*references)[i];
    const std::string where = "references[" + std::to_string(i) + "].";
    if (!r.is_object()) throw Refusal{"references[" + std::to_string(i) + "]: not an object"};
    ReferenceEntry entry{text(r, where, "serial"), text(r, where, "certificate"), date(r, where, "calibrated"),
                         date(r, where, "due"), text(r, where, "traceability")};
    if (entry.due < entry.calibrated) throw Refusal{where + "due: before calibrated"};
    lab.references.push_back(std::move(entry));
  }
  return lab;
}

}  // namespace

bool is_iso_date(const std::string& s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  const std::size_t digits[] = {0, 1, 2, 3, 5, 6, 8, 9};
  if (!std::all_of(std::begin(digits), std::end(digits), [&](std::size_t i) { return s[i] >= '0' && s[i] <= '9'; }))
    return false;
  const int year = std::stoi(s.substr(0, 4)), month = std::stoi(s.substr(5, 2)), day = std::stoi(s.substr(8, 2));
  static const int DAYS[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > DAYS[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(month == 2 && day == 29 && !leap);
}

std::string lab_file_beside(const std::string& settings_path) {
  const std::size_t slash = settings_path.find_last_of("/\\");
  return slash == std::string::npos ? LAB_FILE_NAME : settings_path.substr(0, slash + 1) + LAB_FILE_NAME;
}

Result<LabFile> parse_lab_file(const std::string& text) {
  const Json j = Json::parse(text, nullptr, false);
  if (j.is_discarded()) return Status::failure("not valid JSON");
  try {
    return read(j);
  } catch (const Refusal& refusal) {
    return Status::failure(refusal.why);
  } catch (const std::exception& e) {
    return Status::failure(e.what());
  }
}

Result<std::optional<LabFile>> load_lab_file(const std::string& path, bool named) {
  std::string reason;
  if (!named && file_readable(path.c_str(), reason) == 0) return std::optional<LabFile>();
  std::string text;
  if (!read_regular_file(path.c_str(), LAB_FILE_MAX_BYTES, text, reason))
    return Status::failure("the lab file " + path + " cannot be read: " + reason);
  Result<LabFile> lab = parse_lab_file(text);
  if (!lab) return Status::failure("the lab file " + path + " is refused: " + lab.reason());
  return std::optional<LabFile>(std::move(*lab));
}

const ReferenceEntry* find_reference(const LabFile& lab, const std::string& serial) {
  const auto found = std::find_if(lab.references.begin(), lab.references.end(),
                                  [&](const ReferenceEntry& entry) { return entry.serial == serial; });
  return found == lab.references.end() ? nullptr : &*found;
}
