// One run of the real trimora program as a child process: keys in through a pipe, its output read
// back through another, and its CPU time and peak memory taken from /proc.
#pragma once

#include <sys/types.h>

#include <string>

struct ProgramRun {
  pid_t pid = -1;
  int keys_fd = -1;      // the program's standard input
  int output_fd = -1;    // the program's standard output
  std::string output;    // everything it has printed so far
  int prompts = 0;       // how many "Command >" it has printed
  std::size_t scanned = 0;
};

// Seconds on the steady clock.
double now_s();

// Starts binary in folder (which must already hold the settings file); its standard error goes to
// folder/trimora.err. false with a message on stderr when it could not be started.
bool start_program(ProgramRun& run, const std::string& binary, const std::string& folder);

// Reads the program's output until it has printed count menu prompts in all; false when the time
// on the steady clock passes deadline_s or the output ends first.
bool wait_for_prompts(ProgramRun& run, int count, double deadline_s);

bool send_keys(ProgramRun& run, const char* keys);

// CPU time (user + system) the process has used so far, in milliseconds; -1 when unknown.
double process_cpu_ms(pid_t pid);

// The process's peak resident memory so far (VmHWM), in KiB; -1 when unknown.
long process_peak_rss_kib(pid_t pid);

// Sends X, closes the keys and waits up to timeout_s for the program to end (then kills it).
// The exit status (0 to 255), or -1 when it had to be killed or did not end normally.
int finish_program(ProgramRun& run, double timeout_s);
