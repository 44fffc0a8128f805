// A procedure's record, page and index, written one after the other; a failure of one never stops the next.
#include "records/procedure_record.h"

#include <exception>

#include "records/history_index.h"
#include "records/record_file.h"
#include "records/record_page.h"

SavedRecord save_procedure_record(const std::string& folder, const RunResult& run, const RecordContext& context) {
  SavedRecord saved;
  try {
    saved.record = build_record(run, context);
    const Result<std::string> json = write_record_json(folder, saved.record);
    if (!json) {
      saved.problems.push_back("THE RECORD COULD NOT BE WRITTEN: " + json.reason());
      return saved;
    }
    saved.json_path = *json;
    saved.shown_path = *json;
    const Status csv = write_record_csv(*json, saved.record);
    if (!csv) saved.problems.push_back("THE RECORD COULD NOT BE WRITTEN: " + csv.reason());
    const Result<std::filesystem::path> page = write_record_page(saved.record, *json);
    if (page)
      saved.shown_path = page->string();
    else
      saved.problems.push_back("THE RECORD PAGE COULD NOT BE WRITTEN: " + page.reason());
    const Result<std::filesystem::path> index = write_history_index(folder);
    if (!index) saved.problems.push_back("THE RECORD INDEX COULD NOT BE WRITTEN: " + index.reason());
  } catch (const std::exception& error) {
    saved.problems.push_back(std::string(saved.json_path.empty() ? "THE RECORD COULD NOT BE WRITTEN: "
                                                                  : "THE RECORD PAGE COULD NOT BE WRITTEN: ") +
                             error.what());
  }
  return saved;
}
