// Running trimora as a child process, with pipes for its keys and its output.
#include "bench/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const MENU_PROMPT = "Command >";

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Counts the menu prompts in output not yet looked at.
void count_prompts(ProgramRun& run) {
  const std::size_t length = std::strlen(MENU_PROMPT);
  for (;;) {
    std::size_t at = run.output.find(MENU_PROMPT, run.scanned);
    if (at == std::string::npos) break;
    ++run.prompts;
    run.scanned = at + length;
  }
  // A prompt cut in two by a read is found once its rest has come.
  if (run.output.size() >= length && run.scanned < run.output.size() - length + 1)
    run.scanned = run.output.size() - length + 1;
}

// Reads what the program has printed, waiting at most wait_ms. 1 read something, 0 nothing yet,
// -1 the output has ended.
int read_output(ProgramRun& run, int wait_ms) {
  pollfd p{run.output_fd, POLLIN, 0};
  int ready = poll(&p, 1, wait_ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  char buffer[65536];
  ssize_t got = read(run.output_fd, buffer, sizeof buffer);
  if (got < 0) return (errno == EINTR || errno == EAGAIN) ? 0 : -1;
  if (got == 0) return -1;
  run.output.append(buffer, static_cast<std::size_t>(got));
  count_prompts(run);
  return 1;
}

}  // namespace

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool start_program(ProgramRun& run, const std::string& binary, const std::string& folder) {
  int keys[2];
  int output[2];
  if (pipe2(keys, O_CLOEXEC) != 0) return false;
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(keys[0]);
    close(keys[1]);
    return false;
  }
  // posix_spawn rather than fork: the child never copies this process's memory, so none of the
  // benchmark's own work is counted as the program's CPU time.
  std::string error_file = folder + "/trimora.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, keys[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  char* const argv[] = {const_cast<char*>(binary.c_str()), nullptr};
  pid_t pid = -1;
  int failed = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(keys[0]);
  close(output[1]);
  if (failed != 0) {
    close(keys[1]);
    close(output[0]);
    return false;
  }
  run.pid = pid;
  run.keys_fd = keys[1];
  run.output_fd = output[0];
  return true;
}

bool wait_for_prompts(ProgramRun& run, int count, double deadline_s) {
  while (run.prompts < count) {
    double left_ms = (deadline_s - now_s()) * 1000.0;
    if (left_ms <= 0) return false;
    if (read_output(run, static_cast<int>(std::ceil(left_ms))) < 0) return false;
  }
  return true;
}

bool send_keys(ProgramRun& run, const char* keys) {
  std::size_t length = std::strlen(keys);
  std::size_t sent = 0;
  while (sent < length) {
    ssize_t n = write(run.keys_fd, keys + sent, length - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

double process_cpu_ms(pid_t pid) {
  char path[64];
  // The scheduler's own account of time on the CPU, in nanoseconds (user and system together).
  std::snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
  if (FILE* f = std::fopen(path, "r")) {
    unsigned long long ns = 0;
    // A count the kernel writes; a failed conversion shows in got.
    int got = std::fscanf(f, "%llu", &ns);  // NOLINT(cert-err34-c)
    std::fclose(f);
    if (got == 1) return static_cast<double>(ns) / 1e6;
  }
  // Otherwise utime and stime in clock ticks, fields 14 and 15 of stat.
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return -1;
  char line[1024];
  bool read = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!read) return -1;
  const char* p = std::strrchr(line, ')');  // the command name may hold blanks
  if (p == nullptr) return -1;
  unsigned long utime = 0, stime = 0;
  // Counts the kernel writes; a failed conversion shows in the count of fields.
  if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",  // NOLINT(cert-err34-c)
                  &utime, &stime) != 2)
    return -1;
  return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long process_peak_rss_kib(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) {
      kib = std::strtol(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kib;
}

int finish_program(ProgramRun& run, double timeout_s) {
  if (run.pid < 0) return -1;
  send_keys(run, "X");
  close_fd(run.keys_fd);
  double deadline = now_s() + timeout_s;
  int status = 0;
  bool ended = false;
  while (!ended) {
    pid_t got = waitpid(run.pid, &status, WNOHANG);
    if (got == run.pid) {
      ended = true;
      break;
    }
    if (got < 0 && errno != EINTR) break;
    if (now_s() >= deadline) break;
    // Keep reading, so that a program with a full output pipe can still end.
    if (run.output_fd >= 0 && read_output(run, 20) < 0) close_fd(run.output_fd);
    if (run.output_fd < 0) usleep(20000);
  }
  if (!ended) {
    kill(run.pid, SIGKILL);
    waitpid(run.pid, &status, 0);
  }
  while (run.output_fd >= 0 && read_output(run, 0) > 0) {
  }
  close_fd(run.output_fd);
  run.pid = -1;
  if (!ended || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
