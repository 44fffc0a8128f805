// Golden records: the simulated bench's command log and the console text of V on CH3 and A on CH3 with
// a fixed seed, kept under tests/data. Every line sent to either instrument, every value reported to
// the supply (CAL:MEAS) and every reading shown must stay the same, line for line.
// The runs go on the bench in memory, and one of them again over loopback in real time (at the test
// time scale): both must give the records line for line. TRIMORA_RECORD_GOLDEN=1 writes the records
// afresh instead of comparing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "calibration/factory_calibration.h"
#include "calibration/voltage_assessment.h"
#include "app/console_observer.h"
#include "tests/program_fixture.h"

namespace {

struct Golden {
  const char* name;  // the records' file names in tests/data, without .log / .console
  void (*run)(Bench& bench, ProcedureObserver& observer);
  bool served = false;  // over loopback, not in memory
};

void voltage_ch3(Bench& bench, ProcedureObserver& observer) { factory_voltage_calibration(bench, CH3, observer); }

void assess_ch3(Bench& bench, ProcedureObserver& observer) { assess_voltage_accuracy(bench, CH3, observer); }

// The records were taken on 12/08/2026, the date CAL:END carries; the runs keep that date.
class GoldenRecordTest : public ProgramTest, public ::testing::WithParamInterface<Golden> {
 protected:
  GoldenRecordTest() { env.fixed_time = ZonedTime{LocalTime{2026, 12, 8, 19, 30, 0}, 60}; }
};

}  // namespace

TEST_P(GoldenRecordTest, SameTrafficAndReadingsAsRecorded) {
  const std::string log = folder->path() + "/commands.log";
  options.seed = 11;
  options.log_file = log;
  if (GetParam().served)
    connect_both_served();
  else
    connect_both();
  ConsoleObserver shown(console);
  GetParam().run(*instruments, shown);
  bench.reset();  // every line is in the log

  const std::string data = std::string(TRIMORA_TEST_DATA) + "/" + GetParam().name;
  const std::string console = mask_stamps(out);
  if (std::getenv("TRIMORA_RECORD_GOLDEN") != nullptr && !GetParam().served) {
    write_file(data + ".log", read_file(log));
    write_file(data + ".console", console);
    GTEST_SKIP() << "recorded " << data;
  }
  const std::string expected = read_file(data + ".log");
  ASSERT_FALSE(expected.empty()) << data;
  EXPECT_EQ(read_file(log), expected);
  EXPECT_EQ(console, read_file(data + ".console"));
}

INSTANTIATE_TEST_SUITE_P(Runs, GoldenRecordTest,
                         ::testing::Values(Golden{"v_ch3", voltage_ch3}, Golden{"a_ch3", assess_ch3},
                                           Golden{"v_ch3", voltage_ch3, true}),
                         [](const auto& info) { return info.param.name + std::string(info.param.served ? "_served" : ""); });
