// The run being recorded: the procedures add their steps and points to it as they go, and the program
// hands it to the records when the procedure ends. The procedures know nothing of files.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "calibration/run_result.h"
#include "link/channel.h"

extern RunResult current_run;

// Starts recording a run of procedure on channel: no steps yet, completed until a stop says otherwise.
void begin_run(Procedure procedure, Channel channel);

// The run lost points or stopped early: not completed, and the reason is added to any given before.
void note_incomplete(const std::string& reason);

// A new step (and for a calibration its phases) at the end of the run; the points go to the last one.
void record_step(StepKind kind, int number, const char* title, Quantity quantity, bool uses_corrections);
void record_phase(const char* name);
void record_assessed_point(double set, std::optional<double> reading);
void record_calibration_point(double set, std::optional<double> reading, std::optional<double> reported,
                              bool reported_to_supply);
// The last step ran to its end.
void record_step_completed();

// The corrections added to the V-DAC readings, one per set point.
void record_corrections(std::span<const double> set_points, const double* corrections);

// The value a calibration command carries after its third comma ("CAL:SET CH3,V,3,0.8,1" gives 0.8):
// what the supply was actually sent, as the console shows it.
double value_sent(const char* command);
