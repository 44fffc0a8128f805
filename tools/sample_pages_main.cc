// trimora-sample-pages DIR [PLOT.svg]: writes a demo-style set of records with their pages, certificate and
// index into DIR, and with PLOT.svg also the error plot of the run's first assessment as a file of its own.
// trimora-sample-pages --pages RECORD.json...: (re)writes the page of each record given.
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/guarded_main.h"
#include "records/record_codec.h"
#include "records/record_page.h"
#include "tools/sample_records.h"

namespace {

int run(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--pages") {
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
      const Result<Record> record = read_record(argv[i]);
      const auto page = record ? write_record_page(*record, argv[i]) : Result<std::filesystem::path>(record.status());
      std::printf("%s\n", page ? page->string().c_str() : ("FAILED: " + page.reason()).c_str());
      failures += page ? 0 : 1;
    }
    return failures ? 1 : 0;
  }
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: trimora-sample-pages DIR [PLOT.svg] | --pages RECORD.json...\n");
    return 2;
  }
  const auto run = write_sample_run(argv[1]);
  if (!run) {
    std::fprintf(stderr, "trimora-sample-pages: %s\n", run.reason().c_str());
    return 1;
  }
  if (argc == 3) {
    const auto svg = svg_error_plot({assessment_series(run->front().record.steps[0], "Assessment")}, "V",
                                    "Error against set value, CH3 as found");
    const Status written = write_file_atomically(argv[2], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svg + "\n");
    if (!written) {
      std::fprintf(stderr, "trimora-sample-pages: %s\n", written.reason().c_str());
      return 1;
    }
  }
  for (const auto& written : *run) std::printf("%s\n", written.json_path.string().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return guarded_main("trimora-sample-pages", 1, run, argc, argv); }
