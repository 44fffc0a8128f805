// trimora-sim: a simulated DMM and DP832 on TCP ports, for trying Trimora without instruments.
#include <signal.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/guarded_main.h"
#include "sim/sim.h"

namespace {

const char* DESCRIPTION =
    "Serves a simulated DMM and a simulated DP832 power supply on TCP ports until interrupted\n"
    "(Ctrl+C, SIGINT or SIGTERM). Prints one line per instrument with the address it listens on.\n"
    "Fault counts start at 1 with the first READ? or command line after start.";

// The options into SimOptions; 0 to go on, else the exit code (help shown, or a bad command line
// told in one line).
int parse_options(int argc, char** argv, SimOptions& options, std::string& settings_file) {
  CLI::App app(DESCRIPTION, "trimora-sim");
  app.get_formatter()->column_width(26);
  SimDmmFaults& d = options.dmm_faults;
  SimPsuFaults& p = options.psu_faults;
  std::string wire = "auto";
  std::vector<std::string> refusals;
  std::string noise;
  double readback_offset_mv = 0.0;
  std::string style = "telnet";
  auto not_negative = [](const std::string& text) { return text.empty() || text[0] == '-' ? "not a number" : ""; };

  const char* ports = "Ports and wiring";
  app.add_option("--dmm-port", options.dmm_port, "DMM port (default 5024); 0 picks a free port")
      ->check(CLI::Range(0, 65535))->group(ports);
  app.add_option("--psu-port", options.psu_port, "DP832 port (default 5555); 0 picks a free port")
      ->check(CLI::Range(0, 65535))->group(ports);
  app.add_option("--bind", options.bind_address, "address to listen on (default 127.0.0.1)")->group(ports);
  app.add_option("--wire", wire,
                 "where the DMM's leads are: on channel 1, 2 or 3, on nothing, or on the channel whose "
                 "output was most recently switched on (default auto)")
      ->check(CLI::IsMember({"1", "2", "3", "none", "auto"}))->group(ports);
  app.add_option("--write-settings", settings_file,
                 "once listening, writes trimora's settings file FILE pointing at these ports on 127.0.0.1")
      ->type_name("FILE")->group(ports);

  const char* instruments = "Instruments";
  app.add_option("--dmm-style", style,
                 "the DMM's framing: telnet (welcome line, echo, prompt; the default) or raw (a raw SCPI "
                 "socket: every answer one line ended by LF)")
      ->check(CLI::IsMember({"telnet", "raw"}))->group(instruments);
  app.add_option("--measurement-ms", options.measurement_time_ms,
                 "time the DMM takes for one reading, in ms (default 200)")
      ->check(CLI::Range(0, 60000))->group(instruments);
  app.add_option("--seed", options.seed, "chooses the supply's error model and the meter noise (default 1)")
      ->check(not_negative)->group(instruments);
  app.add_option("--state", options.state_file,
                 "keeps the supply's calibration in FILE across runs, like its non-volatile memory; "
                 "written at every CAL:END")
      ->type_name("FILE")->group(instruments);
  app.add_option("--log", options.log_file,
                 "writes every line each instrument receives to FILE, in order, one line each")
      ->type_name("FILE")->group(instruments);
  app.add_option("--dmm-idn", options.dmm_idn, "the DMM's answer to *IDN?")->group(instruments);
  app.add_option("--psu-idn", options.psu_idn, "the DP832's answer to *IDN?")->group(instruments);
  app.add_option("--dmm-noise", noise,
                 "extra Gaussian noise of the DMM per range: RANGE=SIGMA,... with the range in V, mV, A or mA "
                 "and its standard deviation in volts or amperes, e.g. 10V=20e-6,1A=5e-6 (default none: "
                 "the meter's own 0.3 ppm of range plus 0.2 ppm of reading only); drawn from the seed")
      ->type_name("LIST")->group(instruments);
  app.add_option("--psu-readback-offset-mv", readback_offset_mv,
                 "adds this many mV to every voltage the DP832's own meter reports while an output is on; "
                 "no calibration takes it out (default 0)")
      ->check(CLI::Range(-1000.0, 1000.0))->group(instruments);

  const char* faults = "Faults";
  auto count = CLI::Range(1, INT_MAX);
  app.add_option("--dmm-silent-from", d.silent_from_reading, "from the Nth READ? on the DMM answers nothing at all")
      ->check(count)->group(faults);
  app.add_option("--dmm-garbage-from", d.garbage_from_reading,
                 "from the Nth READ? on the DMM's answer holds no number")->check(count)->group(faults);
  app.add_flag("--dmm-no-echo", d.no_echo, "the DMM does not echo received lines")->group(faults);
  app.add_option("--dmm-answer-delay,--dmm-delay-ms", d.answer_delay_ms, "extra delay in ms before every DMM answer")
      ->check(CLI::Range(0, 600000))->group(faults);
  app.add_option("--dmm-drop-at", d.drop_at_reading, "the DMM closes the connection on receiving the Nth READ?")
      ->check(count)->group(faults);
  CLI::Option* refuse =
      app.add_option("--dmm-refuse", refusals,
                     "with CMD (repeatable): the DMM refuses that command, header and parameters as given "
                     "(\"CONF:CURR:DC AUTO\", not a bare CONF:CURR:DC), with -224 on its error queue; "
                     "alone: the DMM refuses connections")
          ->expected(0, 1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->type_name("[CMD]")->group(faults);
  app.add_flag("--dmm-overload", d.overload, "every DMM reading answers the overload +9.90000000E+37")
      ->group(faults);
  app.add_flag("--psu-silent-idn", p.silent_to_idn, "the DP832 does not answer *IDN?")->group(faults);
  app.add_flag("--psu-refuse-cal", p.refuse_calibration,
               "the DP832 refuses every CAL command with -203,\"Command protected\"")->group(faults);
  app.add_flag("--psu-refuse-all", p.refuse_all,
               "the DP832 refuses every command but *IDN? and SYST:ERR? the same way")->group(faults);
  app.add_option("--psu-drop-after", p.drop_after_commands,
                 "the DP832 closes the connection after the Nth command line")->check(count)->group(faults);
  app.add_flag("--psu-stream", p.unsolicited_stream,
               "the DP832 sends unsolicited lines continuously to every client")->group(faults);
  app.add_flag("--psu-refuse", p.refuse_connections, "the DP832 refuses connections")->group(faults);
  app.add_option("--psu-act-delay-ms", p.act_delay_ms,
                 "the DP832 acts on :APPL, :OUTP, :VOLT, :CURR and CAL:SET N ms after receiving them, "
                 "and *OPC? answers once they have acted (default 0: at once)")
      ->check(CLI::Range(0, 600000))->group(faults);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return -1;
  } catch (const CLI::ParseError& e) {
    std::string why = e.what();
    std::replace(why.begin(), why.end(), '\n', ' ');
    std::fprintf(stderr, "trimora-sim: %s (see --help)\n", why.c_str());
    return 2;
  }
  std::string why;
  if (!noise.empty() && !sim_parse_dmm_noise(noise, &options.dmm_noise, &why)) {
    std::fprintf(stderr, "trimora-sim: --dmm-noise: %s (see --help)\n", why.c_str());
    return 2;
  }
  for (const std::string& command : refusals) {
    if (command.empty()) d.refuse_connections = true;
    else d.refuse_commands.push_back(command);
  }
  if (refuse->count() > refusals.size()) d.refuse_connections = true;
  options.psu_readback_offset_v = readback_offset_mv / 1000.0;
  options.wire = wire == "none" ? 0 : wire == "auto" ? -1 : wire[0] - '0';
  options.dmm_style = style == "raw" ? SimDmmStyle::raw : SimDmmStyle::telnet;
  return 0;
}

int serve(int argc, char** argv) {
  SimOptions options;
  options.dmm_port = 5024;
  options.psu_port = 5555;
  options.wire = -1;
  std::string settings_file;
  int parsed = parse_options(argc, argv, options, settings_file);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;

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
  if (!bench.log_ok()) {
    std::fprintf(stderr, "trimora-sim: cannot write the command log %s\n", options.log_file.c_str());
    return 1;
  }
  if (!bench.state_message().empty())
    std::fprintf(stderr, "trimora-sim: calibration memory not loaded: %s\n", bench.state_message().c_str());
  // The settings file comes before the listening lines, so that whoever waits for those finds it.
  std::string why;
  if (!settings_file.empty() &&
      !sim_write_settings(settings_file, bench.dmm_port(), bench.psu_port(), options.dmm_style, &why)) {
    std::fprintf(stderr, "trimora-sim: cannot write the settings file %s\n", why.c_str());
    return 1;
  }
  std::printf("DMM listening on %s:%d\n", options.bind_address.c_str(), bench.dmm_port());
  std::printf("DP832 listening on %s:%d\n", options.bind_address.c_str(), bench.psu_port());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  std::printf("trimora-sim: stopped (%s)\n", received == SIGINT ? "SIGINT" : received == SIGTERM ? "SIGTERM" : "SIGHUP");
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return guarded_main("trimora-sim", 1, serve, argc, argv); }
