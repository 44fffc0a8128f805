// What a procedure tells while it runs. The procedures talk to the instruments and report each step,
// point, warning and stop here; the console shows them (app/console_observer) and the run's record
// collects them (RunRecorder). Every event has an empty default, so an observer takes only what it needs.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "calibration/channel_groups.h"
#include "calibration/decision_rule.h"
#include "calibration/run_result.h"
#include "link/channel.h"

// What the supply's error queue means where it was read.
enum class ErrorContext { calibration, assessment, path_check };

// An assessment's step in the run's record: A's only step, or F's step 2 (before the recalibration) or
// step 3 (final).
struct AssessmentStep {
  int number;
  const char* title;
};

inline constexpr AssessmentStep ASSESSMENT_STEP = {1, "Assessment"};
inline constexpr AssessmentStep BEFORE_RECALIBRATION_STEP = {2, "After factory calibration"};
inline constexpr AssessmentStep FINAL_STEP = {3, "Final"};

// The figures of the two assessments of a full calibration; NaN where an assessment left them unmeasured.
struct FullCalibrationFigures {
  double factory_sum_of_squares;
  double factory_rms;
  double achieved_sum_of_squares;
  double achieved_rms;
};

// What became of a supply whose link was lost in a procedure.
struct SupplyRecovery {
  bool reconnected = false;
  bool output_off = false;         // the supply confirmed the output off
  bool calibration_ended = false;  // CAL:END sent on the new link, and the link still up after it
};

class ProcedureObserver {
 public:
  ProcedureObserver() = default;
  ProcedureObserver(const ProcedureObserver&) = delete;
  ProcedureObserver& operator=(const ProcedureObserver&) = delete;
  virtual ~ProcedureObserver() = default;

  // ---- the record's structure
  virtual void step_begun(StepKind /*kind*/, int /*number*/, const char* /*title*/, Quantity /*quantity*/,
                          bool /*uses_corrections*/) {}
  virtual void phase_begun(const PhaseTexts& /*texts*/, Channel /*channel*/) {}
  virtual void point_taken(const PointResult& /*point*/) {}
  virtual void step_completed() {}
  // The run lost points or stopped early, and why.
  virtual void incomplete(const std::string& /*reason*/) {}
  // The corrections added to the V-DAC readings, one per set point.
  virtual void corrections_used(std::span<const double> /*set_points*/, std::span<const double> /*corrections*/) {}

  // ---- the supply
  virtual void output_switched_on(Channel /*channel*/) {}
  virtual void output_switched_off(Channel /*channel*/) {}
  // The supply's error queue, read at the end of a step; an empty list is no event for the console.
  virtual void supply_errors(Channel /*channel*/, ErrorContext /*context*/,
                             const std::vector<std::string>& /*errors*/) {}
  // The path check found no reading from the channel; errors: what the supply reported meanwhile.
  virtual void path_check_failed(Channel /*channel*/, const std::vector<std::string>& /*errors*/) {}
  // The supply's link was lost; one new connection was tried to switch the output off (and, in a
  // calibration, to end it).
  virtual void supply_recovered(Channel /*channel*/, const SupplyRecovery& /*recovery*/, bool /*calibration*/) {}

  // ---- the voltage sweep of an assessment
  virtual void sweep_point(double /*set*/, double /*error_v*/) {}
  virtual void sweep_stopped(Channel /*channel*/) {}
  virtual void sweep_supply_lost() {}
  virtual void sweep_reading_failed() {}
  // The supply did not confirm a command of the point (its text as sent): the sweep ends there.
  virtual void sweep_point_unconfirmed(const char* /*command*/) {}
  virtual void sweep_reading_wrong() {}
  // After a wrong reading, with the output off: the operator acknowledges.
  virtual void sweep_reading_wrong_acknowledge() {}
  virtual void sweep_figures(double /*sum_of_squares*/, double /*rms_error*/) {}
  // The supply's readback over a completed sweep: its verdict and its largest error in mV (NaN when no
  // point has one). Told just before sweep_figures.
  virtual void sweep_readback(Verdict /*verdict*/, double /*largest_error_mV*/) {}

  // ---- a factory calibration
  // A CAL:SET or CAL:MEAS command as sent for point number point.
  virtual void calibration_command(int /*point*/, const char* /*command*/) {}
  virtual void calibration_reading_implausible(double /*reading*/, double /*set*/) {}
  virtual void calibration_reading_failed() {}
  // The supply did not confirm a command of the point (its text as sent): the point is not reported.
  virtual void calibration_point_unconfirmed(const char* /*command*/) {}
  // After CAL:END the supply's error queue gave no answer: whether it took the calibration is unknown.
  virtual void calibration_unconfirmed(Channel /*channel*/) {}
  virtual void calibration_correction(double /*correction_v*/) {}
  virtual void calibration_supply_lost(Channel /*channel*/) {}
  virtual void calibration_ended(const char* /*end_command*/) {}
  virtual void calibration_stopped(Channel /*channel*/, int /*missed*/, int /*total*/) {}
  virtual void calibration_points_missed(Channel /*channel*/, int /*missed*/, int /*total*/) {}

  // ---- the full voltage calibration
  virtual void full_calibration_begun(Channel /*channel*/) {}
  virtual void full_calibration_step(int /*step*/, Channel /*channel*/) {}
  virtual void full_calibration_step_failed() {}
  virtual void full_calibration_summary(const FullCalibrationFigures& /*figures*/) {}
};

// Tells every event to each of two observers, first to the first.
class ObserverPair final : public ProcedureObserver {
 public:
  ObserverPair(ProcedureObserver& first, ProcedureObserver& second) : a_(first), b_(second) {}

  void step_begun(StepKind kind, int number, const char* title, Quantity quantity, bool uses_corrections) override {
    a_.step_begun(kind, number, title, quantity, uses_corrections);
    b_.step_begun(kind, number, title, quantity, uses_corrections);
  }
  void phase_begun(const PhaseTexts& texts, Channel channel) override {
    a_.phase_begun(texts, channel);
    b_.phase_begun(texts, channel);
  }
  void point_taken(const PointResult& point) override {
    a_.point_taken(point);
    b_.point_taken(point);
  }
  void step_completed() override {
    a_.step_completed();
    b_.step_completed();
  }
  void incomplete(const std::string& reason) override {
    a_.incomplete(reason);
    b_.incomplete(reason);
  }
  void corrections_used(std::span<const double> set_points, std::span<const double> corrections) override {
    a_.corrections_used(set_points, corrections);
    b_.corrections_used(set_points, corrections);
  }
  void output_switched_on(Channel channel) override {
    a_.output_switched_on(channel);
    b_.output_switched_on(channel);
  }
  void output_switched_off(Channel channel) override {
    a_.output_switched_off(channel);
    b_.output_switched_off(channel);
  }
  void supply_errors(Channel channel, ErrorContext context, const std::vector<std::string>& errors) override {
    a_.supply_errors(channel, context, errors);
    b_.supply_errors(channel, context, errors);
  }
  void path_check_failed(Channel channel, const std::vector<std::string>& errors) override {
    a_.path_check_failed(channel, errors);
    b_.path_check_failed(channel, errors);
  }
  void supply_recovered(Channel channel, const SupplyRecovery& recovery, bool calibration) override {
    a_.supply_recovered(channel, recovery, calibration);
    b_.supply_recovered(channel, recovery, calibration);
  }
  void sweep_point_unconfirmed(const char* command) override {
    a_.sweep_point_unconfirmed(command);
    b_.sweep_point_unconfirmed(command);
  }
  void calibration_point_unconfirmed(const char* command) override {
    a_.calibration_point_unconfirmed(command);
    b_.calibration_point_unconfirmed(command);
  }
  void calibration_unconfirmed(Channel channel) override {
    a_.calibration_unconfirmed(channel);
    b_.calibration_unconfirmed(channel);
  }
  void sweep_point(double set, double error_v) override {
    a_.sweep_point(set, error_v);
    b_.sweep_point(set, error_v);
  }
  void sweep_stopped(Channel channel) override {
    a_.sweep_stopped(channel);
    b_.sweep_stopped(channel);
  }
  void sweep_supply_lost() override {
    a_.sweep_supply_lost();
    b_.sweep_supply_lost();
  }
  void sweep_reading_failed() override {
    a_.sweep_reading_failed();
    b_.sweep_reading_failed();
  }
  void sweep_reading_wrong() override {
    a_.sweep_reading_wrong();
    b_.sweep_reading_wrong();
  }
  void sweep_reading_wrong_acknowledge() override {
    a_.sweep_reading_wrong_acknowledge();
    b_.sweep_reading_wrong_acknowledge();
  }
  void sweep_figures(double sum_of_squares, double rms_error) override {
    a_.sweep_figures(sum_of_squares, rms_error);
    b_.sweep_figures(sum_of_squares, rms_error);
  }
  void sweep_readback(Verdict verdict, double largest_error_mV) override {
    a_.sweep_readback(verdict, largest_error_mV);
    b_.sweep_readback(verdict, largest_error_mV);
  }
  void calibration_command(int point, const char* command) override {
    a_.calibration_command(point, command);
    b_.calibration_command(point, command);
  }
  void calibration_reading_implausible(double reading, double set) override {
    a_.calibration_reading_implausible(reading, set);
    b_.calibration_reading_implausible(reading, set);
  }
  void calibration_reading_failed() override {
    a_.calibration_reading_failed();
    b_.calibration_reading_failed();
  }
  void calibration_correction(double correction_v) override {
    a_.calibration_correction(correction_v);
    b_.calibration_correction(correction_v);
  }
  void calibration_supply_lost(Channel channel) override {
    a_.calibration_supply_lost(channel);
    b_.calibration_supply_lost(channel);
  }
  void calibration_ended(const char* end_command) override {
    a_.calibration_ended(end_command);
    b_.calibration_ended(end_command);
  }
  void calibration_stopped(Channel channel, int missed, int total) override {
    a_.calibration_stopped(channel, missed, total);
    b_.calibration_stopped(channel, missed, total);
  }
  void calibration_points_missed(Channel channel, int missed, int total) override {
    a_.calibration_points_missed(channel, missed, total);
    b_.calibration_points_missed(channel, missed, total);
  }
  void full_calibration_begun(Channel channel) override {
    a_.full_calibration_begun(channel);
    b_.full_calibration_begun(channel);
  }
  void full_calibration_step(int step, Channel channel) override {
    a_.full_calibration_step(step, channel);
    b_.full_calibration_step(step, channel);
  }
  void full_calibration_step_failed() override {
    a_.full_calibration_step_failed();
    b_.full_calibration_step_failed();
  }
  void full_calibration_summary(const FullCalibrationFigures& figures) override {
    a_.full_calibration_summary(figures);
    b_.full_calibration_summary(figures);
  }

 private:
  ProcedureObserver& a_;
  ProcedureObserver& b_;
};
