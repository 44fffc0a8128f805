// A procedure's record, page and index, written one after the other; a failure of one never stops the next.
#include "records/procedure_record.h"

#include <exception>

#include "records/history_index.h"
#include "records/record_file.h"
#include "records/record_page.h"

SavedRecord save_procedure_record(const std::string& folder, const RunResult& run, const RecordContext& context) {
  SavedRecord saved;
  try {
    RecordWrite written = write_record(folder, build_record(run, context));
    if (!written.ok) saved.problems.push_back("THE RECORD COULD NOT BE WRITTEN: " + written.reason);
    if (written.json_path.empty()) return saved;
    saved.json_path = written.json_path;
    saved.shown_path = written.json_path;
    PageResult page = write_record_page(written.json_path);
    if (page.ok)
      saved.shown_path = page.path.string();
    else
      saved.problems.push_back("THE RECORD PAGE COULD NOT BE WRITTEN: " + page.reason);
    PageResult index = write_history_index(folder);
    if (!index.ok) saved.problems.push_back("THE RECORD INDEX COULD NOT BE WRITTEN: " + index.reason);
  } catch (const std::exception& error) {
    saved.problems.push_back(std::string(saved.json_path.empty() ? "THE RECORD COULD NOT BE WRITTEN: "
                                                                  : "THE RECORD PAGE COULD NOT BE WRITTEN: ") +
                             error.what());
  }
  return saved;
}
