// The simulated DP832's analogue error model and its calibration memory.
//
// Each channel has four converters: the output voltage DAC (V-DAC), the voltmeter that reads the
// output back, the current DAC (I-DAC) that sets the constant-current limit, and the ammeter. Each
// follows the ideal line through a gain error, an offset and a smooth bow (a sum of half-sine terms
// that vanish at 0 and at full scale); the DACs move in steps of one code (16 bits from -2 % to 105 % of
// the range), the meters read in steps of 0.1 mV / 0.01 mA. Every figure comes from the seed.
//
// Calibration tables map the firmware's view through piecewise-linear interpolation:
//   V-DAC:  true volts wanted  -> nominal DAC volts (base + code x step)
//   voltmeter: raw reading     -> true volts
//   I-DAC:  true amperes wanted -> nominal DAC amperes
//   ammeter: raw reading       -> true amperes
// An empty table is the identity (uncalibrated); one point shifts; two or more interpolate, and the
// end segments extend beyond the outer points.
//
// In normal operation the firmware trims the output voltage against its own voltmeter: it sets the
// V-DAC for the wanted voltage, reads the output back, and moves the DAC target by half the
// difference between the wanted voltage and that reading. Between the voltmeter's calibration points
// the voltmeter keeps an interpolation residual, and half of it shows in the output: the systematic
// residual that a calibration with corrections takes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum PsuQuantity { Q_VDAC = 0, Q_VMETER = 1, Q_IDAC = 2, Q_IMETER = 3, Q_COUNT = 4 };

constexpr int PSU_CHANNELS = 3;
constexpr double TRIM_FRACTION = 0.5;  // share of the voltmeter's disagreement that the firmware trims
constexpr int DAC_MAX_CODE = 65535;

// Gain error, offset and a smooth bow: y = x (1 + gain_error) + offset + sum bow[k] sin((k+1) pi x / span).
struct Transfer {
  double gain_error = 0.0;
  double offset = 0.0;
  double bow[3] = {0.0, 0.0, 0.0};
  double span = 1.0;
  double apply(double x) const;
};

struct ChannelHardware {
  double v_max = 0.0;        // programmable voltage range, volts
  double i_max = 0.0;        // programmable current range, amperes
  double v_base = 0.0;       // nominal volts of V-DAC code 0 (a little below zero)
  double i_base = 0.0;       // nominal amperes of I-DAC code 0
  double v_step = 0.0;       // one V-DAC code, volts
  double i_step = 0.0;       // one I-DAC code, amperes
  double v_read_step = 0.0;  // voltmeter resolution
  double i_read_step = 0.0;  // ammeter resolution
  Transfer vdac, vmeter, idac, imeter;
};

struct CalPoint {
  double x;
  double y;
};
typedef std::vector<CalPoint> CalTable;  // strictly increasing x, non-decreasing y

struct PsuModel {
  std::uint64_t seed = 0;
  ChannelHardware hw[PSU_CHANNELS];
  CalTable cal[PSU_CHANNELS][Q_COUNT];
  std::string cal_date[PSU_CHANNELS];   // date given with the last CAL:END of the channel
};

// The hardware of the supply that this seed makes; every table empty (uncalibrated).
PsuModel psu_model_make(std::uint64_t seed);

// Sorts the points by x, merges points whose x lie within a microvolt (averaging y) and checks that
// y never falls as x rises. false (table untouched) when the points cannot form a calibration.
bool cal_build(std::vector<CalPoint> points, CalTable* table);
double cal_lookup(const CalTable& table, double x);

// Channel numbers are 1 to 3 in everything below.
int psu_nominal_vcode(const PsuModel& m, int channel, double volts);   // code by the ideal line
int psu_nominal_icode(const PsuModel& m, int channel, double amps);
int psu_vdac_code(const PsuModel& m, int channel, double volts);       // through the V-DAC table
int psu_idac_code(const PsuModel& m, int channel, double amps);
double psu_vdac_output(const PsuModel& m, int channel, int code);      // true open-circuit volts
double psu_idac_output(const PsuModel& m, int channel, int code);      // true constant-current amps
double psu_voltmeter_raw(const PsuModel& m, int channel, double volts);
double psu_ammeter_raw(const PsuModel& m, int channel, double amps);
double psu_voltmeter(const PsuModel& m, int channel, double volts);    // calibrated readings
double psu_ammeter(const PsuModel& m, int channel, double amps);

// The true open-circuit output voltage for a set voltage, trim included, and the true current of
// the constant-current limit for a set current.
double psu_output_voltage(const PsuModel& m, int channel, double set_volts);
double psu_output_current(const PsuModel& m, int channel, double set_amps);

// The calibration memory as a text file. Saving replaces the file as a whole. Loading refuses a file
// written for another seed (another supply) and leaves the model as it was on any failure; message
// then says why.
bool psu_model_save(const PsuModel& m, const std::string& path, std::string* message);
bool psu_model_load(PsuModel* m, const std::string& path, std::string* message);
