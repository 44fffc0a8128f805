// The body of a tool's main: its work, with an error that escapes it told on standard error under the
// tool's name and turned into the tool's failure code, instead of ending the process with an abort.
#pragma once

#include <cstdio>
#include <exception>

inline int guarded_main(const char* tool, int failure_code, int (*work)(int, char**), int argc, char** argv) {
  try {
    return work(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", tool, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: stopped by an unexpected error\n", tool);
  }
  return failure_code;
}
