// trimora-sample-pages DIR [PLOT.svg]: writes a demo-style set of records with their pages, certificate and
// index into DIR, and with PLOT.svg also the error plot of the run's first assessment as a file of its own.
// trimora-sample-pages --pages RECORD.json...: (re)writes the page of each record given.
#include <cstdio>
#include <string>

#include "platform/guarded_main.h"
#include "records/page_files.h"
#include "records/record_page.h"
#include "records/sample_records.h"

namespace {

int run(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--pages") {
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
      const auto page = write_record_page(argv[i]);
      std::printf("%s\n", page.ok ? page.path.string().c_str() : ("FAILED: " + page.reason).c_str());
      failures += page.ok ? 0 : 1;
    }
    return failures ? 1 : 0;
  }
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: trimora-sample-pages DIR [PLOT.svg] | --pages RECORD.json...\n");
    return 2;
  }
  std::string reason;
  const auto run = write_sample_run(argv[1], reason);
  if (run.empty()) {
    std::fprintf(stderr, "trimora-sample-pages: %s\n", reason.c_str());
    return 1;
  }
  if (argc == 3) {
    nlohmann::json record;
    if (!load_record_for_page(run.front(), record, reason)) {
      std::fprintf(stderr, "trimora-sample-pages: %s\n", reason.c_str());
      return 1;
    }
    const auto svg = svg_error_plot({assessment_series(record["steps"][0], "Assessment")}, "V",
                                    "Error against set value, CH3 as found");
    reason = write_page_file(argv[2], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svg + "\n");
    if (!reason.empty()) {
      std::fprintf(stderr, "trimora-sample-pages: %s\n", reason.c_str());
      return 1;
    }
  }
  for (const auto& p : run) std::printf("%s\n", p.string().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return guarded_main("trimora-sample-pages", 1, run, argc, argv); }
