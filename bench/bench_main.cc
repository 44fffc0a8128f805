// trimora-bench: runs the real trimora program against the simulated bench in real time and shows,
// for start-up, the connection check and each procedure, how close its wall time comes to the floor
// that its own waits set, how much CPU it burns meanwhile and how much memory it holds.
// Exit code: 0 every target met, 1 a target missed, 2 a run that failed or could not be measured.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/answer_latency.h"
#include "bench/floors.h"
#include "bench/program_run.h"
#include "platform/guarded_main.h"
#include "sim/sim.h"

namespace {

// The targets.
constexpr double MAX_WALL_OVER_FLOOR = 1.01;
// V on CH1 and F on CH1, whose time is mostly readings, against the floor of the former pause.
constexpr double MAX_WALL_OVER_FORMER_FLOOR = 0.75;
// How long the simulated DMM takes for one reading.
constexpr int MEASUREMENT_MS = 200;
constexpr double MAX_CPU_SHARE = 0.005;          // of the wall time
constexpr long MAX_PEAK_RSS_BYTES = 4000000;     // 4 MB
constexpr double MAX_ANSWER_P99_MS = 1.0;

constexpr int LATENCY_QUERIES = 2000;
constexpr double EXIT_WAIT_S = 10.0;

struct Procedure {
  const char* name;
  const char* slug;           // names the run's working folder
  const char* keys;           // typed at the menu; nullptr: start-up only
  double Floors::*floor;
  const char* expect;         // the run must print this
  bool quick;                 // part of the quick set
  int processes;              // trimora processes run, one after the other
  int repeats;                // times the keys are typed in each
  bool former_target;         // held to MAX_WALL_OVER_FORMER_FLOOR
};

// The two short rows are medians of several runs, so that one scheduling hiccup of a busy machine does
// not decide them.
const Procedure PROCEDURES[] = {
    {"start-up to menu", "start-up", nullptr, &Floors::start_up_ms, "Simbench DP832 (S/N", true, 5, 0, false},
    {"connection check", "check", "?", &Floors::connection_check_ms, "?Unknown command.", false, 1, 9, false},
    {"V on CH3", "v-ch3", "V3\n", &Floors::voltage_ch3_ms, "CAL:END ", true, 1, 1, false},
    {"V on CH1", "v-ch1", "V1\n", &Floors::voltage_ch1_ms, "CAL:END ", false, 1, 1, true},
    {"C on CH3", "c-ch3", "C3\n", &Floors::current_ch3_ms, "CAL:END ", false, 1, 1, false},
    {"C on CH1", "c-ch1", "C1\n", &Floors::current_ch1_ms, "CAL:END ", false, 1, 1, false},
    // A asks the supply's readback at every point, and its summary ends in the readback's verdict.
    {"A on CH3", "a-ch3", "A3", &Floors::assess_ch3_ms, "Readback:", true, 1, 1, false},
    {"A on CH1", "a-ch1", "A1", &Floors::assess_ch1_ms, "Readback:", false, 1, 1, false},
    // F: channel, confirmation, and the key that the summary waits for.
    {"F on CH1", "f-ch1", "F1Y\n", &Floors::full_ch1_ms, "Summary of performance from Factory to Full Calibration",
     false, 1, 1, true},
};

// Texts that show a procedure did not run as it should have.
const char* const FAILURE_TEXTS[] = {"ERROR", "WARNING", "No active", "has been lost", "n/a", "No DMM detected",
                                     "No DP832 detected"};

struct Options {
  bool quick = false;
  bool keep = false;
  std::string only;           // comma-separated slugs; empty: the whole set
  std::string binary = TRIMORA_BINARY;
  std::string work;           // folder for the runs' working folders; empty: a new one under /tmp
};

// One measurement: wall time from the keys (or the program's start) to the menu, the CPU time the
// program used meanwhile, and its peak resident memory by then.
struct Sample {
  double wall_ms = 0.0;
  double cpu_ms = 0.0;
  long peak_rss_kib = -1;
};

struct Result {
  const Procedure* procedure = nullptr;
  double floor_ms = 0.0;
  double former_floor_ms = 0.0;      // the same traffic with the former pause before every answer
  std::vector<Sample> samples;
  std::vector<std::string> folders;  // the runs' working folders
  std::string problem;               // empty when every run went as it should
};

void usage() {
  std::fputs(
      "Usage: trimora-bench [--quick] [--only SLUG,...] [--trimora PATH] [--work DIR] [--keep]\n"
      "\n"
      "Runs the real trimora in real time against the simulated bench (measurement time 200 ms): one\n"
      "process"
      " per row (five for start-up), each in a fresh working folder whose settings file points at\n"
      "loopback, and prints wall time, floor, former floor (a 500 ms pause before every DMM answer), CPU\n"
      "time and peak memory per procedure with the simulator's answer time. Start-up is the median of\n"
      "5 runs, the connection check (typed 9 times in its process) the median of 9.\n"
      "\n"
      "  --quick        start-up, V on CH3 and A on CH3 only\n"
      "  --only LIST    these procedures only: start-up, check, v-ch3, v-ch1, c-ch3, c-ch1, a-ch3,\n"
      "                 a-ch1, f-ch1\n"
      "  --trimora PATH the program to run (default: the one built with this benchmark)\n"
      "  --work DIR     make the working folders in DIR (default: a new folder under /tmp)\n"
      "  --keep         keep the working folders: the transcript (output.txt) the commands each\n"
      "                 instrument received with their arrival times on the simulator's clock\n"
      "                 (dmm.log, psu.log), and when the program started, showed the menu, got its\n"
      "                 keys and showed the menu again on the same clock (times.log)\n",
      stdout);
}

// The command line into o, with CLI11; 0 to go on, else the exit code (help shown, or a bad option
// told in one line).
int parse_options(int argc, char** argv, Options& o) {
  CLI::App app("", "trimora-bench");
  app.set_help_flag();  // the help is usage()'s text
  bool help = false;
  app.add_flag("-h,--help", help);
  app.add_flag("--quick", o.quick);
  app.add_flag("--keep", o.keep);
  app.add_option("--only", o.only);
  app.add_option("--trimora", o.binary);
  app.add_option("--work", o.work);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::string why = e.what();
    std::replace(why.begin(), why.end(), '\n', ' ');
    std::fprintf(stderr, "trimora-bench: %s (see --help)\n", why.c_str());
    return 2;
  }
  if (help) {
    usage();
    return -1;
  }
  return 0;
}

bool selected(const Options& o, const Procedure& p) {
  if (!o.only.empty()) return ("," + o.only + ",").find(std::string(",") + p.slug + ",") != std::string::npos;
  return !o.quick || p.quick;
}

bool write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

// Both instruments on loopback, at the simulator's ports: written before trimora ever starts.
bool write_loopback_settings(const std::string& folder, int dmm_port, int psu_port) {
  return sim_write_settings(folder + "/QUELT_Trimora.cfg", dmm_port, psu_port, SimDmmStyle::telnet);
}

// The commands an instrument received, one a line, each with its arrival time in seconds.
void write_received(const std::string& path, const std::vector<SimReceived>& received) {
  std::string text;
  char stamp[32];
  for (const SimReceived& r : received) {
    std::snprintf(stamp, sizeof stamp, "%.6f ", r.time_s);
    text += stamp + r.line + "\n";
  }
  write_file(path, text);
}

// What the run printed that shows it went wrong; empty when it went as it should.
std::string check_transcript(const std::string& text, const Procedure& p) {
  for (const char* failure : FAILURE_TEXTS)
    if (text.find(failure) != std::string::npos) return std::string("printed \"") + failure + "\"";
  if (text.find(p.expect) == std::string::npos) return std::string("did not print \"") + p.expect + "\"";
  return "";
}

// Runs one trimora process in a fresh folder: its start-up, then the procedure's keys as often as the
// procedure asks. Adds one sample per measurement; returns what went wrong, or an empty text.
std::string run_process(const Procedure& p, const Floors& floors, const Options& o, const std::string& folder,
                        std::vector<Sample>& samples) {
  if (mkdir(folder.c_str(), 0755) != 0)
    return "cannot make a fresh working folder " + folder + ": " + std::strerror(errno);

  SimOptions sim_options;
  sim_options.measurement_time_ms = MEASUREMENT_MS;
  sim_options.wire = -1;  // the DMM's leads follow the channel switched on last
  const double sim_started = now_s();  // the simulator's clock starts as it is made
  SimBench sim(sim_options);
  if (!sim.ok()) return "the simulator could not listen on loopback";
  if (!write_loopback_settings(folder, sim.dmm_port(), sim.psu_port()))
    return "cannot write the settings file in " + folder;

  ProgramRun run;
  std::string problem;
  std::string times;
  char line[96];
  const double procedure_limit_s = floors.*(p.floor) / 1000.0 * 3.0 + 30.0;
  const double started = now_s();
  if (!start_program(run, o.binary, folder)) return "cannot start " + o.binary;
  std::snprintf(line, sizeof line, "%.6f program started\n", started - sim_started);
  times += line;

  std::size_t span_from = 0;
  if (!wait_for_prompts(run, 1, started + floors.start_up_ms / 1000.0 * 3.0 + 30.0)) {
    problem = "no menu within the time allowed";
  } else {
    const double menu_at = now_s();
    std::snprintf(line, sizeof line, "%.6f menu shown\n", menu_at - sim_started);
    times += line;
    // The start-up's own text is checked whole; a procedure's from its keys on.
    if (p.keys == nullptr)
      samples.push_back({(menu_at - started) * 1000.0, process_cpu_ms(run.pid), process_peak_rss_kib(run.pid)});
    else
      span_from = run.output.size();
  }
  for (int i = 0; problem.empty() && p.keys != nullptr && i < p.repeats; ++i) {
    const double cpu_before = process_cpu_ms(run.pid);
    const double t0 = now_s();
    if (!send_keys(run, p.keys)) {
      problem = "cannot type the keys";
    } else if (!wait_for_prompts(run, 2 + i, t0 + procedure_limit_s)) {
      problem = "the menu did not come back within the time allowed";
    } else {
      const double t1 = now_s();
      const double cpu_after = process_cpu_ms(run.pid);
      const double cpu = (cpu_before < 0 || cpu_after < 0) ? -1.0 : cpu_after - cpu_before;
      samples.push_back({(t1 - t0) * 1000.0, cpu, process_peak_rss_kib(run.pid)});
      std::snprintf(line, sizeof line, "%.6f keys typed\n%.6f menu again\n", t0 - sim_started, t1 - sim_started);
      times += line;
    }
  }
  const int status = finish_program(run, EXIT_WAIT_S);
  write_file(folder + "/output.txt", run.output);
  if (o.keep) {
    write_file(folder + "/times.log", times);
    write_received(folder + "/dmm.log", sim.dmm_received());
    write_received(folder + "/psu.log", sim.psu_received());
  }
  if (problem.empty() && status != 0) problem = "trimora did not end with exit code 0 after X";
  if (problem.empty()) problem = check_transcript(run.output.substr(span_from), p);
  for (const Sample& s : samples)
    if (problem.empty() && (s.cpu_ms < 0 || s.peak_rss_kib < 0))
      problem = "cannot read the process's CPU time or memory";
  if (!problem.empty()) problem += " (transcript: " + folder + "/output.txt)";
  return problem;
}

Result run_procedure(const Procedure& p, const Floors& floors, const Floors& former, const Options& o,
                     const std::string& base, int number) {
  Result r;
  r.procedure = &p;
  r.floor_ms = floors.*(p.floor);
  r.former_floor_ms = former.*(p.floor);
  for (int k = 1; k <= p.processes && r.problem.empty(); ++k) {
    char name[64];
    if (p.processes > 1)
      std::snprintf(name, sizeof name, "/%02d-%s-%d", number, p.slug, k);
    else
      std::snprintf(name, sizeof name, "/%02d-%s", number, p.slug);
    r.folders.push_back(base + name);
    r.problem = run_process(p, floors, o, r.folders.back(), r.samples);
  }
  return r;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  if (n == 0) return 0.0;
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::string make_base_folder(const Options& o) {
  if (!o.work.empty()) {
    if (mkdir(o.work.c_str(), 0755) != 0 && errno != EEXIST) return "";
    char pattern[4096];
    std::snprintf(pattern, sizeof pattern, "%s/trimora-bench-XXXXXX", o.work.c_str());
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "";
  }
  char pattern[] = "/tmp/trimora-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made != nullptr ? made : "";
}

// Removes the runs' working folders (files only, no subfolders) and then the folder holding them.
void remove_folders(const std::string& base, const std::vector<Result>& results) {
  for (const Result& r : results) {
    for (const std::string& folder : r.folders) {
      if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
          if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            unlink((folder + "/" + e->d_name).c_str());
        closedir(d);
      }
      rmdir(folder.c_str());
    }
  }
  rmdir(base.c_str());
}

// Prints the table; returns how many targets were missed.
int print_table(const std::vector<Result>& results, const AnswerLatency& latency) {
  int missed = 0;
  std::printf("| Procedure | Wall (s) | Floor (s) | Former floor (s) | Wall/floor | Wall/former floor | CPU (ms) | "
              "CPU/wall | Peak RSS (MB) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Result& r : results) {
    std::string name = r.procedure->name;
    int runs = r.procedure->processes * (r.procedure->keys == nullptr ? 1 : r.procedure->repeats);
    if (runs > 1) name += " (median of " + std::to_string(runs) + ")";
    if (!r.problem.empty() || r.samples.empty()) {
      std::printf("| %s | failed | %.3f | %.3f | | | | | |\n", name.c_str(), r.floor_ms / 1000.0,
                  r.former_floor_ms / 1000.0);
      continue;
    }
    std::vector<double> walls, cpus;
    long peak_rss_kib = 0;
    for (const Sample& s : r.samples) {
      walls.push_back(s.wall_ms);
      cpus.push_back(s.cpu_ms);
      peak_rss_kib = std::max(peak_rss_kib, s.peak_rss_kib);
    }
    double wall_ms = median(walls);
    double cpu_ms = median(cpus);
    double ratio = wall_ms / r.floor_ms;
    double former_ratio = wall_ms / r.former_floor_ms;
    double share = cpu_ms / wall_ms;
    double rss_mb = static_cast<double>(peak_rss_kib) * 1024.0 / 1e6;
    bool ratio_miss = ratio > MAX_WALL_OVER_FLOOR;
    bool former_miss = r.procedure->former_target && former_ratio > MAX_WALL_OVER_FORMER_FLOOR;
    bool cpu_miss = share > MAX_CPU_SHARE;
    bool rss_miss = peak_rss_kib * 1024L > MAX_PEAK_RSS_BYTES;
    missed += ratio_miss + former_miss + cpu_miss + rss_miss;
    std::printf("| %s | %.3f | %.3f | %.3f | %.4f%s | %.3f%s | %.1f | %.3f %%%s | %.2f%s |\n", name.c_str(),
                wall_ms / 1000.0, r.floor_ms / 1000.0, r.former_floor_ms / 1000.0, ratio, ratio_miss ? " MISS" : "",
                former_ratio, former_miss ? " MISS" : "", cpu_ms, share * 100.0, cpu_miss ? " MISS" : "", rss_mb,
                rss_miss ? " MISS" : "");
  }
  bool latency_miss = !latency.ok || latency.p99_ms > MAX_ANSWER_P99_MS;
  missed += latency_miss;
  std::printf("\nSimulator answer time (%d queries, from sending each until the simulator answered it, on its "
              "own clock): p50 %.3f ms, p99 %.3f ms%s, max %.3f ms%s; whole round trip at the client: p99 %.3f ms\n",
              latency.queries, latency.p50_ms, latency.p99_ms, latency_miss ? " MISS" : "", latency.max_ms,
              latency.ok ? "" : " (a query went unanswered or unlogged)", latency.round_trip_p99_ms);
  std::printf("Targets: wall/floor <= %.2f, wall/former floor <= %.2f for V on CH1 and F on CH1, CPU/wall <= "
              "%.1f %%, peak RSS <= %.0f MB, simulator answer p99 <= %.0f ms.\n",
              MAX_WALL_OVER_FLOOR, MAX_WALL_OVER_FORMER_FLOOR, MAX_CPU_SHARE * 100.0, MAX_PEAK_RSS_BYTES / 1e6,
              MAX_ANSWER_P99_MS);
  return missed;
}

int run_bench(int argc, char** argv) {
  Options o;
  if (int parsed = parse_options(argc, argv, o); parsed != 0) return parsed < 0 ? 0 : parsed;
  // The program starts in its working folder, so it is named by its absolute path.
  if (char* absolute = realpath(o.binary.c_str(), nullptr)) {
    o.binary = absolute;
    std::free(absolute);
  }
  if (access(o.binary.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "trimora-bench: %s is not an executable program\n", o.binary.c_str());
    return 2;
  }
  bool any = false;
  for (const Procedure& p : PROCEDURES) any = any || selected(o, p);
  if (!any) {
    std::fprintf(stderr, "trimora-bench: --only names no procedure (see --help)\n");
    return 2;
  }
  std::string base = make_base_folder(o);
  if (base.empty()) {
    std::fprintf(stderr, "trimora-bench: cannot make a working folder\n");
    return 2;
  }

  Floors floors = compute_floors(MEASUREMENT_MS);
  Floors former = compute_floors(std::max(MEASUREMENT_MS, FORMER_ANSWER_PAUSE_MS));
  std::vector<Result> results;
  bool failed = false;
  double bench_start = now_s();
  std::fprintf(stderr, "trimora-bench: %s, working folders under %s\n", o.binary.c_str(), base.c_str());
  for (int i = 0; i < static_cast<int>(std::size(PROCEDURES)); ++i) {
    const Procedure& p = PROCEDURES[i];
    if (!selected(o, p)) continue;
    std::fprintf(stderr, "trimora-bench: %s (floor %.3f s)...", p.name, floors.*(p.floor) / 1000.0);
    Result r = run_procedure(p, floors, former, o, base, i + 1);
    if (r.problem.empty()) {
      for (const Sample& s : r.samples) std::fprintf(stderr, " %.3f s", s.wall_ms / 1000.0);
      std::fprintf(stderr, "\n");
    } else {
      std::fprintf(stderr, " FAILED: %s\n", r.problem.c_str());
    }
    failed = failed || !r.problem.empty();
    results.push_back(r);
  }
  std::fprintf(stderr, "trimora-bench: simulator answer time...\n");
  AnswerLatency latency = measure_answer_latency(LATENCY_QUERIES);

  std::printf("\nTrimora pacing benchmark: real time, simulator measurement time %d ms, one trimora process "
              "in a fresh working folder per row, five for start-up (%.0f s in all)\n\n",
              MEASUREMENT_MS, now_s() - bench_start);
  int missed = print_table(results, latency);
  for (const Result& r : results)
    if (!r.problem.empty()) std::printf("FAILED: %s: %s\n", r.procedure->name, r.problem.c_str());
  if (failed) {
    std::printf("Result: %s\n", "a run failed; its figures are missing");
  } else {
    std::printf("Result: %s\n", missed == 0 ? "every target met" : "a target was missed (marked MISS)");
  }
  if (!o.keep && !failed) remove_folders(base, results);
  if (failed) return 2;
  return missed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return guarded_main("trimora-bench", 2, run_bench, argc, argv); }
