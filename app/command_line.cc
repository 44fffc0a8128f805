// The command line, read with CLI11: options for the files, and the run subcommand.
#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "app/run_mode.h"
#include "app/trimora.h"
#include "settings/program_settings.h"

#ifndef TRIMORA_VERSION
#define TRIMORA_VERSION "unknown"
#endif

namespace {

const char* const DESCRIPTION =
    "Calibrates a DP832 power supply against a networked DMM. Without a command it runs the one-key\n"
    "menu; `trimora run PROCEDURE CHANNEL` runs one procedure unattended and ends.";

const char* const EXIT_CODES =
    "Exit codes of run:\n"
    "  0  done, every verdict PASS (voltage and current: the calibration completed)\n"
    "  1  done, some verdict FAIL, INDETERMINATE or NO READING\n"
    "  2  usage error: a bad option or value, a calibration or assess-current without --yes, or a\n"
    "     settings file that cannot be read or gives no address\n"
    "  3  an instrument absent or lost\n"
    "  4  the calibration incomplete or refused by the supply, or its record or certificate not\n"
    "     written (RECORD NOT WRITTEN)\n"
    "The menu program ends with 0 after X.";

const std::map<std::string, Procedure> PROCEDURE_NAMES = {
    {"assess", Procedure::assessment},
    {"voltage", Procedure::voltage_calibration},
    {"current", Procedure::current_calibration},
    {"full", Procedure::full_voltage_calibration},
    {"assess-current", Procedure::current_assessment},
};

// One line on standard error naming what is wrong.
int usage_error(std::string why) {
  std::replace(why.begin(), why.end(), '\n', ' ');
  while (!why.empty() && why.back() == ' ') why.pop_back();
  std::fprintf(stderr, "trimora: %s (see --help)\n", why.c_str());
  return EXIT_USAGE;
}

auto not_empty = [](const std::string& text) { return text.empty() ? std::string("empty") : std::string(); };

}  // namespace

namespace {

int parse(int argc, const char* const* argv, CommandLine& line) {
  CLI::App app(DESCRIPTION, "trimora");
  app.footer(EXIT_CODES);
  app.set_version_flag("--version", "trimora " TRIMORA_VERSION);
  app.add_option("--settings", line.settings_file,
                 "the settings file to read and to save to, instead of QUELT_Trimora.cfg in the working folder")
      ->type_name("FILE")->check(not_empty);
  app.add_option("--records", line.records_dir,
                 "the folder for the records and pages, instead of records/ beside the settings file")
      ->type_name("DIR")->check(not_empty);

  std::string procedure;
  CLI::App* run = app.add_subcommand(
      "run", "runs one procedure on one channel with no menu, writes its record, prints its path and ends");
  run->fallthrough();  // --settings and --records may follow the subcommand
  run->add_option("PROCEDURE", procedure,
                  "assess (voltage accuracy), voltage or current (factory calibration), full (full voltage "
                  "calibration, channel 1 or 2), assess-current (current accuracy, through the DMM's current input)")
      ->required()->check(CLI::IsMember({"assess", "voltage", "current", "full", "assess-current"}));
  run->add_option("CHANNEL", line.channel, "the channel: 1, 2 or 3")->required()->check(CLI::Range(1, 3));
  run->add_flag("--yes", line.yes,
                "the DMM is wired to the channel: confirms the calibrations (voltage, current, full) and the "
                "current assessment (assess-current, the DMM's current input), which refuse to run without it");
  run->add_flag("--quiet", line.quiet, "prints only the final line");
  run->add_flag("--json", line.json, "prints the record on standard output instead of the console text");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    // The whole help at once, the run subcommand's options included: the man page is made from it.
    std::fputs(run->parsed() ? run->help().c_str() : app.help("", CLI::AppFormatMode::All).c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  }

  line.run = run->parsed();
  // A settings file named on the command line that is not there is a mistyped path, not a wish for
  // the built-in default addresses, which belong to some other bench.
  std::error_code absent;
  const bool named = !line.settings_file.empty();
  if (named && !std::filesystem::exists(std::filesystem::symlink_status(line.settings_file, absent)))
    return usage_error("--settings: there is no file " + line.settings_file);
  if (!line.run) return -1;
  line.procedure = PROCEDURE_NAMES.at(procedure);
  if (line.procedure == Procedure::full_voltage_calibration && line.channel == 3)
    return usage_error("run full: CHANNEL 3 keeps no corrections; the full calibration runs on 1 or 2");
  // Unattended, nobody could correct an address: the run never falls back to the built-in defaults.
  const std::string settings_file = line.settings_file.empty() ? SETTINGS_FILE_NAME : line.settings_file;
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(settings_file, ignored))
    return usage_error("run needs the settings file with the instruments' addresses; there is no file " +
                       settings_file);
  if (line.procedure == Procedure::current_assessment && !line.yes)
    return usage_error("run assess-current asks to confirm that the DMM's current input is connected to channel " +
                       std::to_string(line.channel) + "'s output terminals: wire it and add --yes");
  if (line.procedure != Procedure::assessment && !line.yes)
    return usage_error("run " + procedure + " asks to confirm that the DMM is connected to channel " +
                       std::to_string(line.channel) + "'s output terminals: wire it and add --yes");
  return -1;
}

}  // namespace

int parse_command_line(int argc, const char* const* argv, CommandLine& line) {
  try {
    return parse(argc, argv, line);
  } catch (const std::exception& e) {
    return usage_error(e.what());
  }
}

int trimora_command(int argc, const char* const* argv) {
  CommandLine line;
  int parsed = parse_command_line(argc, argv, line);
  if (parsed >= 0) return parsed;
  ProgramSettings settings;
  if (!line.settings_file.empty()) settings.path = line.settings_file;
  settings.records_folder_option = line.records_dir;
  TerminalConsole terminal;
  if (!line.run) {
    ProgramEnvironment environment(terminal);
    return trimora_main(environment, settings);
  }
  // --quiet and --json keep the procedure's console text off standard output.
  CapturedConsole hidden;
  ProgramEnvironment environment(line.quiet || line.json ? static_cast<Console&>(hidden) : terminal);
  return run_mode(line, environment, settings);
}
