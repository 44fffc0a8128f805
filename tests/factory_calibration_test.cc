// The factory calibrations against the simulated bench: the command stream and console text of a
// voltage run on CH1 (on the supply's model) and CH3 (scripted readings, in real time with its settle
// waits), a DMM that falls silent mid-run, current runs on each channel group's tables; and failed
// path checks of every procedure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "calibration/factory_calibration.h"
#include "calibration/point_tables.h"
#include "calibration/run_recording.h"
#include "calibration/voltage_assessment.h"
#include "link/primitives.h"
#include "tests/calibration_checks.h"
#include "tests/program_fixture.h"

using ::testing::HasSubstr;

class FactoryTest : public ProgramTest {
 protected:
  ConsoleObserver shown{console};
  std::string began = today(env);

  // The DP832's lines and the console against the run expected from these readings.
  void expect_run(const std::string& name, char quantity, std::span<const double> dac_points,
                  const std::vector<double>& dac, std::span<const double> meter_points,
                  const std::vector<double>& meter) {
    std::vector<std::string> lines = psu_lines();
    ExpectedCalibration expected(name, quantity, dac_points, dac, meter_points, meter, date_of_run(env, lines, began));
    EXPECT_EQ(lines, expected.commands);
    EXPECT_EQ(out, expected.console);
  }

  // The settle waits on the virtual clock, exact: from each CAL:SET reaching the supply to the next
  // READ? reaching the DMM, 500 ms after a DAC point and 200 ms after a meter point, each with the
  // 120 ms of the drains around it.
  void expect_settles(const std::string& head, std::size_t dac, std::size_t meter) {
    Settles dac_settles = settles_of(*bench, head, ",1");
    Settles meter_settles = settles_of(*bench, head, ",0");
    EXPECT_EQ(dac_settles.count, dac);
    EXPECT_EQ(meter_settles.count, meter);
    auto ms = [](double s) { return std::lround(s * 1000.0); };
    EXPECT_EQ(ms(dac_settles.shortest), 620);
    EXPECT_EQ(ms(dac_settles.longest), 620);
    EXPECT_EQ(ms(meter_settles.shortest), 320);
    EXPECT_EQ(ms(meter_settles.longest), 320);
  }
};

TEST_F(FactoryTest, Ch1RunOnTheModelCalibratesTheChannel) {
  connect_both();
  std::vector<double> uncalibrated = model_errors(psu_model_make(options.seed), 1);

  factory_voltage_calibration(*instruments, CH1, shown);

  // The stream, with the values the DMM actually gave: each near its point on the uncalibrated channel.
  std::vector<std::string> lines = psu_lines();
  std::vector<double> vdac = reported_values(lines, "CH1", 'V', 1, std::size(VDAC_POINTS_12));
  std::vector<double> vmeter = reported_values(lines, "CH1", 'V', 0, std::size(VMETER_POINTS_12));
  for (std::size_t i = 0; i < vdac.size(); i++) EXPECT_NEAR(vdac[i], VDAC_POINTS_12[i], 0.2) << i;
  for (std::size_t i = 0; i < vmeter.size(); i++) EXPECT_NEAR(vmeter[i], VMETER_POINTS_12[i], 0.2) << i;
  expect_run("CH1", 'V', VDAC_POINTS_12, vdac, VMETER_POINTS_12, vmeter);
  EXPECT_THAT(out, HasSubstr("[ 7] CAL:SET CH1,V,7,6.9,1\r\n"));
  EXPECT_THAT(out, HasSubstr("[ 1] CAL:SET CH1,V,1,0.1,0\r\n[ 1] CAL:MEAS CH1,V,1,"));
  EXPECT_THAT(out, ::testing::Not(HasSubstr("CORRECTION")));
  expect_settles("CAL:SET CH1,V,", 36, 11);

  // The channel's error falls from tens of millivolts to what the model leaves after such a run.
  std::vector<double> calibrated;
  for (double point : VDAC_POINTS_12) calibrated.push_back(bench->voltage_error(1, point));
  PsuModel model = predicted_voltage_calibration(psu_model_make(options.seed), 1, nullptr);
  EXPECT_GT(rms_mv(uncalibrated), 10.0);
  EXPECT_LT(rms_mv(calibrated), rms_mv(uncalibrated) / 10.0);
  EXPECT_NEAR(rms_mv(calibrated), rms_mv(model_errors(model, 1)), 0.1);
  EXPECT_FALSE(bench->output_on(1));
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_TRUE(bench->voltage_calibrated(1));
}

// Real time: the supply must be left to settle for the full wait after each set point before the DMM
// is read. The time from a CAL:SET reaching the supply to the next READ? reaching the DMM holds the
// set point's drain (100 ms), the settle wait (200 ms on CH3) and the DMM drain (10 ms).
TEST_F(FactoryTest, Ch3RealTimeRunHonoursEverySettleWait) {
  set_time_scale(1.0);
  connect_both_served();
  std::vector<double> vdac = near_readings(VDAC_POINTS_3, 0.000113);
  std::vector<double> vmeter = near_readings(VMETER_POINTS_3, -0.000017);
  bench->script_readings(calibration_script(3.0, vdac, vmeter));  // the path check's band's edge: passes

  factory_voltage_calibration(*instruments, CH3, shown);

  expect_run("CH3", 'V', VDAC_POINTS_3, vdac, VMETER_POINTS_3, vmeter);
  // The rounding cases of the CH3 tables.
  for (const char* echo : {"[ 3] CAL:SET CH3,V,3,0.8,1\r\n", "[ 6] CAL:SET CH3,V,6,2.5,1\r\n",
                           "[ 3] CAL:SET CH3,V,3,0.0,0\r\n", "[ 4] CAL:SET CH3,V,4,0.1,0\r\n"})
    EXPECT_THAT(out, HasSubstr(echo));

  // At least the settle wait plus part of the drain: a missing or shortened wait shows, while a late
  // timestamp on a busy machine has 80 ms of room.
  Settles settles = settles_of(*bench, "CAL:SET CH3,V,", "");
  EXPECT_EQ(settles.count, 24u);
  EXPECT_GE(settles.shortest, 0.001 * 200 + 0.03);
  EXPECT_LT(settles.longest, 5.0);
}

TEST_F(FactoryTest, DmmSilentFromAPointLeavesTheRestUnreported) {
  connect_both();
  std::vector<double> vdac = near_readings(VDAC_POINTS_3, 0.000091);
  std::vector<double> vmeter = near_readings(VMETER_POINTS_3, 0.000013);
  // Path check and the first 20 points answer; the DMM says nothing from the 21st point's reading on.
  bench->script_readings(calibration_script(4.9987, vdac, {vmeter.begin(), vmeter.begin() + 7}));
  SimDmmFaults faults;
  faults.silent_from_reading = 1 + 20 + 1;
  bench->set_dmm_faults(faults);

  factory_voltage_calibration(*instruments, CH3, shown);

  std::fill(vmeter.begin() + 7, vmeter.end(), NO_READING);
  expect_run("CH3", 'V', VDAC_POINTS_3, vdac, VMETER_POINTS_3, vmeter);
  EXPECT_THAT(out, HasSubstr("CAL:END " + date_of_run(env, psu_lines(), began) + ",CH3\r\n"
                             "\aWARNING: 4 OF 24 POINTS HAD NO DMM MEASUREMENT AND WERE NOT REPORTED TO THE "
                             "SUPPLY.\nTHE CALIBRATION OF CH3 IS INCOMPLETE: REPEAT IT.\n"));
  EXPECT_FALSE(bench->output_on(3));
}

namespace {

struct CurrentRun {
  Channel channel;
  std::span<const double> idac;
  std::span<const double> imeter;
  double path_reading;
  std::vector<std::string> echoes;  // console lines that must appear, spelled out
};

}  // namespace

class FactoryCurrentTest : public FactoryTest, public ::testing::WithParamInterface<CurrentRun> {};

TEST_P(FactoryCurrentTest, RunReportsEveryPointWithTheDmmReading) {
  const CurrentRun& c = GetParam();
  const std::string name = c.channel.name();
  connect_both();
  std::vector<double> idac = near_readings(c.idac, 0.000137);
  std::vector<double> imeter = near_readings(c.imeter, -0.000021);
  bench->script_readings(calibration_script(c.path_reading, idac, imeter));

  factory_current_calibration(*instruments, c.channel, shown);

  expect_run(name, 'C', c.idac, idac, c.imeter, imeter);
  for (const std::string& echo : c.echoes) EXPECT_THAT(out, HasSubstr(echo));
  expect_settles("CAL:SET " + name + ",C,", c.idac.size(), c.imeter.size());
  // The DMM was reset into current mode before the check, and read once per point after it.
  std::vector<std::string> dmm = dmm_lines();
  ASSERT_GE(dmm.size(), 2u);
  EXPECT_EQ(dmm[0], "*RST");
  EXPECT_EQ(dmm[1], "CONF:CURR:DC AUTO");
  EXPECT_EQ(reads(), static_cast<int>(1 + c.idac.size() + c.imeter.size()));
  EXPECT_FALSE(bench->output_on(static_cast<int>(c.channel.index()) + 1));
  EXPECT_FALSE(bench->in_calibration());
}

INSTANTIATE_TEST_SUITE_P(
    Channels, FactoryCurrentTest,
    ::testing::Values(
        // The path check's band exactly: passes. Numbering restarts with the ammeter phase.
        CurrentRun{CH1, IDAC_POINTS_12, IMETER_POINTS_12, 1.2,
                   {"[ 0] CAL:SET CH1,C,0,0.10,1\r\n", "[ 9] CAL:SET CH1,C,9,2.15,1\r\n",
                    "[14] CAL:SET CH1,C,14,3.20,1\r\n", "[ 0] CAL:SET CH1,C,0,0.00,0\r\n"}},
        CurrentRun{CH2, IDAC_POINTS_12, IMETER_POINTS_12, 2.8, {"[ 6] CAL:SET CH2,C,6,3.20,0\r\n"}},
        CurrentRun{CH3, IDAC_POINTS_3, IMETER_POINTS_3, 2.0,
                   {"[ 0] CAL:SET CH3,C,0,0.10,1\r\n", "[ 5] CAL:SET CH3,C,5,3.20,0\r\n"}}),
    [](const auto& info) { return std::string(info.param.channel.name()); });

namespace {

enum class Checked { voltage, current, assessment, full };

struct FailedPathCheck {
  Checked procedure;
  Channel channel;
  double reading;  // NO_READING: the DMM says nothing
};

std::string case_name(const FailedPathCheck& c) {
  const char* names[] = {"Voltage", "Current", "Assessment", "Full"};
  return names[static_cast<int>(c.procedure)] + std::string(c.channel.name());
}

}  // namespace

class ProcedurePathCheckTest : public ProgramTest, public ::testing::WithParamInterface<FailedPathCheck> {};

// A failed path check ends the procedure at once: no calibration command, no figures, no key wait.
TEST_P(ProcedurePathCheckTest, FailedPathCheckSendsNoCalibrationCommand) {
  const FailedPathCheck& c = GetParam();
  connect_both();
  if (std::isnan(c.reading)) {
    SimDmmFaults faults;
    faults.silent_from_reading = 1;
    bench->set_dmm_faults(faults);
  } else {
    bench->script_readings({c.reading});
  }
  keys("k");
  ConsoleObserver shown(console);
  std::string before;

  switch (c.procedure) {
    case Checked::voltage: factory_voltage_calibration(*instruments, c.channel, shown); break;
    case Checked::current: factory_current_calibration(*instruments, c.channel, shown); break;
    case Checked::assessment: {
      const SweepResult sweep = assess_voltage_accuracy(*instruments, c.channel, shown);
      EXPECT_FALSE(sweep.completed);
      EXPECT_TRUE(std::isnan(sweep.sum_of_squares));
      EXPECT_TRUE(std::isnan(sweep.rms_error));
      EXPECT_TRUE(sweep.errors.empty());
      break;
    }
    case Checked::full:
      full_voltage_calibration(*instruments, c.channel, shown);
      before = BANNER + c.channel.name()[2] + "\n";
      break;
  }

  EXPECT_EQ(out, before + (std::isnan(c.reading) ? "\aERROR: DMM NOT READING FROM TARGET CHANNEL.\nDMM FAULT: the DMM "
                                                   "gave no answer.\n\n"
                                                 : NOT_READING));
  EXPECT_EQ(psu_lines(), path_check(c.channel.name(), c.procedure == Checked::current ? 3 : 5, true));
  EXPECT_TRUE(key_waits.empty());
  EXPECT_EQ(key_queue.size(), 1u);
  EXPECT_FALSE(bench->in_calibration());
  EXPECT_FALSE(bench->output_on(static_cast<int>(c.channel.index()) + 1));
}

// Just below each check's band, a reversed lead, a DMM left on volts, and a DMM that does not answer.
INSTANTIATE_TEST_SUITE_P(Cases, ProcedurePathCheckTest,
                         ::testing::Values(FailedPathCheck{Checked::voltage, CH1, 2.9999},
                                           FailedPathCheck{Checked::voltage, CH2, -5.0},
                                           FailedPathCheck{Checked::voltage, CH3, NO_READING},
                                           FailedPathCheck{Checked::current, CH2, 1.1999},
                                           FailedPathCheck{Checked::current, CH3, 5.3},
                                           FailedPathCheck{Checked::assessment, CH1, 2.9999},
                                           FailedPathCheck{Checked::full, CH1, 1.0}),
                         [](const auto& info) { return case_name(info.param); });

// ---- The supply's faults on in-memory links (virtual clock): a late confirmation, an unanswered error
// queue after CAL:END, a link lost mid-run.

namespace {

// A voltage calibration of CH3 on fakes, told to the console and the run's record. The DMM reads every
// point exactly, but for the points left out (the supply's confirmation missing, no READ? is sent).
struct FakeCalibration {
  TestEnvironment env;
  Bench bench{env, TELNET_DMM};
  ConsoleObserver shown{env.console()};
  RunRecorder recorder{Procedure::voltage_calibration, CH3};
  ObserverPair both{shown, recorder};
  FakeTransport* psu = nullptr;

  explicit FakeCalibration(std::unique_ptr<FakeTransport> supply, int skipped = -1) {
    env.virtual_clock = true;
    std::vector<std::string> readings = {"+5.0"};
    for (int i = 0; i < 13; ++i)
      if (i != skipped) readings.push_back(text_of("%f", VDAC_POINTS_3[i]));
    for (double point : VMETER_POINTS_3) readings.push_back(text_of("%f", point));
    install_dmm(bench, fake_dmm(readings));
    psu = &install_psu(bench, std::move(supply));
    EXPECT_TRUE(bench.psu.identify(env.console(), "127.0.0.1", 5555));
    env.text().clear();
  }
  CalibrationOutcome run() { return factory_voltage_calibration(bench, CH3, both); }
  const std::string& out() { return env.text(); }
};

// A DP832 fake that answers *IDN?, and *OPC? as told: after reply_ms, or, for the line that begins
// with late_line, after late_ms; SYST:ERR? gets "0" unless errors_silent.
std::unique_ptr<FakeTransport> supply(const std::string& late_line = "", long long late_ms = 0,
                                      bool errors_silent = false) {
  auto fake = std::make_unique<FakeTransport>();
  auto last = std::make_shared<std::string>();
  fake->respond('\n', [=](FakeTransport& link, const std::string& line) {
    if (line == "*IDN?\r\n") link.arrive_after(1, "ACME,DP832,SN9,1.0\n");
    if (line == "*OPC?\r\n") link.arrive_after(!late_line.empty() && last->starts_with(late_line) ? late_ms : 1, "1\n");
    if (line == "SYST:ERR?\r\n" && !errors_silent) link.arrive_after(1, "0,\"No error\"\n");
    *last = line;
  });
  return fake;
}

}  // namespace

// The supply acts on one CAL:SET 600 ms late: its point is never measured nor reported, the rest are.
TEST(FactoryOnFakes, AnUnconfirmedSetPointIsNotReported) {
  FakeCalibration cal(supply("CAL:SET CH3,V,8,3.4,1", 600), 8);
  const CalibrationOutcome outcome = cal.run();
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(outcome.missed, 1);
  const std::string dac_phase = cal.psu->sent.substr(0, cal.psu->sent.find("CAL:SET CH3,V,0,0.0,0"));
  EXPECT_EQ(dac_phase.find("CAL:MEAS CH3,V,8,"), std::string::npos) << dac_phase;
  EXPECT_NE(dac_phase.find("CAL:MEAS CH3,V,9,4.100000,1"), std::string::npos) << dac_phase;
  EXPECT_THAT(cal.out(), HasSubstr("[ 8] CAL:SET CH3,V,8,3.4,1\r\n\aWARNING: THE DP832 DID NOT CONFIRM "
                                   "\"CAL:SET CH3,V,8,3.4,1\": THE POINT IS NOT REPORTED TO THE SUPPLY.\n"));
  EXPECT_FALSE(cal.recorder.run().completed);
}

// No answer to SYST:ERR? after CAL:END, or the link reset right after it: the calibration's acceptance
// is unknown, said on the console and in the record.
TEST(FactoryOnFakes, AnUnansweredErrorQueueLeavesTheCalibrationUnconfirmed) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "silent");
    auto fake = supply("", 0, !reset);
    if (reset)
      fake->respond('\n', [](FakeTransport& link, const std::string& line) {
        if (line == "*IDN?\r\n") link.arrive_after(1, "ACME,DP832,SN9,1.0\n");
        if (line == "*OPC?\r\n") link.arrive_after(1, "1\n");
        if (line.starts_with("CAL:END ")) link.close_at(link.clock_ms + 1);
      });
    FakeCalibration cal(std::move(fake));
    EXPECT_FALSE(cal.run().completed);
    EXPECT_THAT(cal.out(), HasSubstr("\aWARNING: THE DP832 DID NOT CONFIRM THE CALIBRATION OF CH3: ITS ACCEPTANCE "
                                     "IS UNKNOWN. REPEAT IT.\n"));
    EXPECT_FALSE(cal.recorder.run().completed);
    EXPECT_THAT(cal.recorder.run().incomplete_reason, HasSubstr("the supply did not confirm the calibration"));
  }
}

// The link drops at the third V-DAC point: one new connection to the identified address switches the
// output off and ends the calibration, and nothing else; without one, the console and record say so.
TEST(FactoryOnFakes, ALostSupplyIsReconnectedOnceToMakeItSafe) {
  for (const bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "reconnects" : "cannot reconnect");
    auto fake = supply();
    fake->respond('\n', [](FakeTransport& link, const std::string& line) {
      if (line == "*IDN?\r\n") link.arrive_after(1, "ACME,DP832,SN9,1.0\n");
      if (line == "*OPC?\r\n") link.arrive_after(1, "1\n");
      if (line.starts_with("CAL:SET CH3,V,2,")) link.close_at(link.clock_ms);
    });
    FakeCalibration cal(std::move(fake));
    FakeTransport* second = nullptr;
    std::vector<std::string> asked;
    cal.bench.psu.connector = [&](const std::string& host, int port, int timeout_ms) -> std::unique_ptr<Transport> {
      asked.push_back(host + ":" + std::to_string(port));
      EXPECT_LE(timeout_ms, PSU_RECOVERY_MS);
      if (!answers) return nullptr;
      auto link = supply();
      second = link.get();
      return link;
    };
    EXPECT_FALSE(cal.run().completed);
    EXPECT_EQ(asked, std::vector<std::string>{"127.0.0.1:5555"});
    const std::string reason = cal.recorder.run().incomplete_reason;
    if (answers) {
      ASSERT_NE(second, nullptr);
      EXPECT_EQ(second->sent, "OUTPUT CH3,OFF\r\n*OPC?\r\nCAL:END " + today(cal.env) + ",CH3\r\n");
      EXPECT_LE(second->clock_ms + PSU_RECONNECT_MS, PSU_RECOVERY_MS);
      EXPECT_THAT(cal.out(), HasSubstr("THE DP832 WAS RECONNECTED: CH3 OUTPUT SWITCHED OFF.\nTHE CALIBRATION OF CH3 "
                                       "WAS ENDED.\n"));
      EXPECT_THAT(reason, HasSubstr("lost; reconnected: output switched off, calibration ended"));
    } else {
      EXPECT_THAT(cal.out(), HasSubstr("\aWARNING: THE DP832 COULD NOT BE RECONNECTED: CH3 OUTPUT MAY STILL BE ON"));
      EXPECT_THAT(reason, HasSubstr("could not reconnect: the output may still be on"));
    }
    EXPECT_FALSE(cal.bench.psu.connected()) << "the supply stays lost to the program";
  }
}
