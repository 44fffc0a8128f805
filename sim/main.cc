// trimora-sim: a simulated DMM and DP832 on TCP ports, for trying Trimora without instruments.
#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/sim.h"

namespace {

const char* USAGE =
    "Usage: trimora-sim [options]\n"
    "\n"
    "Serves a simulated DMM and a simulated DP832 power supply on TCP ports until interrupted\n"
    "(Ctrl+C, SIGINT or SIGTERM). Prints one line per instrument with the address it listens on.\n"
    "\n"
    "Ports and wiring:\n"
    "  --dmm-port N         DMM port (default 5024); 0 picks a free port\n"
    "  --psu-port N         DP832 port (default 5555); 0 picks a free port\n"
    "  --bind ADDRESS       address to listen on (default 127.0.0.1)\n"
    "  --wire 1|2|3|none|auto\n"
    "                       where the DMM's leads are: on channel 1, 2 or 3, on nothing, or on the\n"
    "                       channel whose output was most recently switched on (default auto)\n"
    "\n"
    "Instruments:\n"
    "  --measurement-ms N   time the DMM takes for one reading, in ms (default 200)\n"
    "  --seed N             chooses the supply's error model and the meter noise (default 1)\n"
    "  --state FILE         keeps the supply's calibration in FILE across runs, like its\n"
    "                       non-volatile memory; written at every CAL:END\n"
    "  --dmm-idn TEXT       the DMM's answer to *IDN?\n"
    "  --psu-idn TEXT       the DP832's answer to *IDN?\n"
    "\n"
    "Faults (counts start at 1 with the first READ? or command line after start):\n"
    "  --dmm-silent-from N  from the Nth READ? on the DMM answers nothing at all\n"
    "  --dmm-garbage-from N from the Nth READ? on the DMM's answer holds no number\n"
    "  --dmm-no-echo        the DMM does not echo received lines\n"
    "  --dmm-answer-delay N extra delay in ms before every DMM answer\n"
    "  --dmm-drop-at N      the DMM closes the connection on receiving the Nth READ?\n"
    "  --dmm-refuse         the DMM refuses connections\n"
    "  --psu-silent-idn     the DP832 does not answer *IDN?\n"
    "  --psu-drop-after N   the DP832 closes the connection after the Nth command line\n"
    "  --psu-stream         the DP832 sends unsolicited lines continuously to every client\n"
    "  --psu-refuse         the DP832 refuses connections\n"
    "\n"
    "  --help               this text\n";

bool parse_int(const char* text, long low, long high, int* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

int fail(const char* option, const char* why) {
  std::fprintf(stderr, "trimora-sim: %s: %s (see --help)\n", option, why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  options.dmm_port = 5024;
  options.psu_port = 5555;
  options.wire = -1;

  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(USAGE, stdout);
      return 0;
    }
    // Switches without a value.
    if (option == "--dmm-no-echo") {
      options.dmm_faults.no_echo = true;
      continue;
    }
    if (option == "--dmm-refuse") {
      options.dmm_faults.refuse_connections = true;
      continue;
    }
    if (option == "--psu-silent-idn") {
      options.psu_faults.silent_to_idn = true;
      continue;
    }
    if (option == "--psu-stream") {
      options.psu_faults.unsolicited_stream = true;
      continue;
    }
    if (option == "--psu-refuse") {
      options.psu_faults.refuse_connections = true;
      continue;
    }
    if (i + 1 >= argc) return fail(option.c_str(), option.rfind("--", 0) == 0 ? "needs a value or is unknown" : "unknown");
    const char* value = argv[++i];
    int n = 0;
    if (option == "--dmm-port" || option == "--psu-port") {
      if (!parse_int(value, 0, 65535, &n)) return fail(option.c_str(), "not a port number (0 to 65535)");
      (option == "--dmm-port" ? options.dmm_port : options.psu_port) = n;
    } else if (option == "--bind") {
      options.bind_address = value;
    } else if (option == "--wire") {
      std::string w = value;
      if (w == "none") options.wire = 0;
      else if (w == "auto") options.wire = -1;
      else if (w == "1" || w == "2" || w == "3") options.wire = w[0] - '0';
      else return fail(option.c_str(), "must be 1, 2, 3, none or auto");
    } else if (option == "--measurement-ms") {
      if (!parse_int(value, 0, 60000, &n)) return fail(option.c_str(), "not a time in ms (0 to 60000)");
      options.measurement_time_ms = n;
    } else if (option == "--seed") {
      char* end = nullptr;
      errno = 0;
      unsigned long long seed = std::strtoull(value, &end, 10);
      if (errno != 0 || end == value || *end != 0 || value[0] == '-') return fail(option.c_str(), "not a number");
      options.seed = seed;
    } else if (option == "--state") {
      options.state_file = value;
    } else if (option == "--dmm-idn") {
      options.dmm_idn = value;
    } else if (option == "--psu-idn") {
      options.psu_idn = value;
    } else if (option == "--dmm-answer-delay") {
      if (!parse_int(value, 0, 600000, &n)) return fail(option.c_str(), "not a time in ms");
      options.dmm_faults.answer_delay_ms = n;
    } else if (option == "--dmm-silent-from" || option == "--dmm-garbage-from" || option == "--dmm-drop-at" ||
               option == "--psu-drop-after") {
      if (!parse_int(value, 1, INT_MAX, &n)) return fail(option.c_str(), "not a count (1 or more)");
      if (option == "--dmm-silent-from") options.dmm_faults.silent_from_reading = n;
      if (option == "--dmm-garbage-from") options.dmm_faults.garbage_from_reading = n;
      if (option == "--dmm-drop-at") options.dmm_faults.drop_at_reading = n;
      if (option == "--psu-drop-after") options.psu_faults.drop_after_commands = n;
    } else {
      return fail(option.c_str(), "unknown option");
    }
  }

  // The signals are taken by sigwait below; blocked before the serving thread starts, so that it
  // inherits the mask and never sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  SimBench bench(options);
  if (!bench.ok()) {
    std::fprintf(stderr, "trimora-sim: cannot listen on %s ports %d and %d\n", options.bind_address.c_str(),
                 options.dmm_port, options.psu_port);
    return 1;
  }
  if (!bench.state_message().empty())
    std::fprintf(stderr, "trimora-sim: calibration memory not loaded: %s\n", bench.state_message().c_str());
  std::printf("DMM listening on %s:%d\n", options.bind_address.c_str(), bench.dmm_port());
  std::printf("DP832 listening on %s:%d\n", options.bind_address.c_str(), bench.psu_port());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  std::printf("trimora-sim: stopped (%s)\n", received == SIGINT ? "SIGINT" : received == SIGTERM ? "SIGTERM" : "SIGHUP");
  return 0;
}
