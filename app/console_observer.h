// What the operator sees of a procedure: every console text of the procedures, from the events they
// report. The key pauses of a procedure are the operator's, so they are here too.
#pragma once

#include <string>

#include "calibration/procedure_observer.h"
#include "console/console.h"

class ConsoleObserver final : public ProcedureObserver {
 public:
  explicit ConsoleObserver(Console& console) : console_(console) {}

  void phase_begun(const PhaseTexts& texts, Channel channel) override;
  void output_switched_on(Channel channel) override;
  void output_switched_off(Channel channel) override;
  void supply_errors(Channel channel, ErrorContext context, const std::vector<std::string>& errors) override;
  void path_check_failed(Channel channel, const std::vector<std::string>& errors) override;
  void supply_recovered(Channel channel, const SupplyRecovery& recovery, bool calibration) override;

  void sweep_point(double set, double error_v) override;
  void sweep_stopped(Channel channel) override;
  void sweep_supply_lost() override;
  void sweep_reading_failed() override;
  void sweep_point_unconfirmed(const char* command) override;
  void sweep_reading_wrong() override;
  void sweep_reading_wrong_acknowledge() override;
  void sweep_readback(Verdict verdict, double largest_error_mV) override;
  void sweep_figures(double sum_of_squares, double rms_error) override;

  void calibration_command(int point, const char* command) override;
  void calibration_reading_implausible(double reading, double set) override;
  void calibration_reading_failed() override;
  void calibration_point_unconfirmed(const char* command) override;
  void calibration_unconfirmed(Channel channel) override;
  void calibration_correction(double correction_v) override;
  void calibration_supply_lost(Channel channel) override;
  void calibration_ended(const char* end_command) override;
  void calibration_stopped(Channel channel, int missed, int total) override;
  void calibration_points_missed(Channel channel, int missed, int total) override;

  void full_calibration_begun(Channel channel) override;
  void full_calibration_step(int step, Channel channel) override;
  void full_calibration_step_failed() override;
  void full_calibration_summary(const FullCalibrationFigures& figures) override;

 private:
  // The readback's line, shown after the RMS error of the sweep it was told for.
  std::string readback_line_;
  void figures(double sum_of_squares, double rms_error, bool last);
  void pause_for_key(const char* prompt);
  void unconfirmed(const char* command, const char* then);

  Console& console_;
};
