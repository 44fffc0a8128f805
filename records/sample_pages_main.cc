// trimora-sample-pages DIR: writes a demo-style set of records with their pages, certificate and index.
#include <cstdio>

#include "records/sample_records.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trimora-sample-pages DIR\n");
    return 2;
  }
  std::string reason;
  const auto run = write_sample_run(argv[1], reason);
  if (run.empty()) {
    std::fprintf(stderr, "trimora-sample-pages: %s\n", reason.c_str());
    return 1;
  }
  for (const auto& p : run) std::printf("%s\n", p.string().c_str());
  return 0;
}
