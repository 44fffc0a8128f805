// The simulated bench: a DMM and a DP832 served on loopback TCP ports, for tests, demos and benchmarks.
// The program never includes this; it talks to the simulated instruments over the socket only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Fault counts run from the moment the faults are set (at start, or by set_dmm_faults /
// set_psu_faults) over every connection; readings are READ? commands.
struct SimDmmFaults {
  int silent_from_reading = 0;   // N > 0: from the Nth READ? on, nothing is answered at all
  int garbage_from_reading = 0;  // N > 0: from the Nth READ? on, the answer holds no number
  bool no_echo = false;          // received lines are not echoed
  int answer_delay_ms = 0;       // extra delay before each query's answer (program-time ms, scaled)
  int drop_at_reading = 0;       // N > 0: the connection is closed on receiving the Nth READ?
  bool refuse_connections = false;
  // Commands refused with -224,"Illegal parameter value" and no effect: a header in any of its forms
  // with exactly these parameters ("CONF:CURR:DC AUTO" refuses that, not a bare CONF:CURR:DC).
  std::vector<std::string> refuse_commands = {};
  bool overload = false;         // every reading answers the overload value +9.90000000E+37
};

struct SimPsuFaults {
  bool silent_to_idn = false;    // *IDN? is not answered
  bool refuse_calibration = false;  // every CAL command is refused: -203,"Command protected"
  bool refuse_all = false;       // every command but *IDN? and SYST:ERR? is refused the same way
  int drop_after_commands = 0;   // N > 0: the connection is closed after the Nth received command line
  bool unsolicited_stream = false;  // sends a line every 5 ms (real time) while a client is connected
  bool refuse_connections = false;
  // N > 0: the output-changing commands (:APPL, :OUTP, [:SOUR]:VOLT and :CURR, CAL:SET) act N ms
  // (program time, scaled) after they arrive, and *OPC? answers once every one of them has acted.
  int act_delay_ms = 0;
};

// Extra Gaussian noise of the DMM on one range: its standard deviation in volts or amperes.
struct SimDmmNoise {
  bool amps = false;
  double range = 0.0;            // one of the meter's ranges: 0.1 to 1000 V, 0.01 to 10 A
  double sigma = 0.0;
};

// Parses a noise list such as "10V=20e-6,1A=5e-6" (a range with its unit V, mV, A or mA, then the
// standard deviation in that unit's base: volts or amperes). false, with why, when it is none.
bool sim_parse_dmm_noise(const std::string& text, std::vector<SimDmmNoise>* noise, std::string* why);

// How the DMM frames its conversation: a telnet-style port (welcome line, echo of every line, a
// prompt, CR LF line ends) or a raw SCPI socket (none of those; every answer one line ended by LF).
enum class SimDmmStyle { telnet, raw };

struct SimOptions {
  int dmm_port = 0;                 // 0 picks a free port
  int psu_port = 0;
  std::string bind_address = "127.0.0.1";
  int wire = 0;                     // DMM leads on channel 1, 2 or 3; 0 none; -1 auto (last switched on)
  int measurement_time_ms = 200;    // DMM reading time (program-time ms, scaled)
  SimDmmStyle dmm_style = SimDmmStyle::telnet;
  std::uint64_t seed = 1;           // seeds the error model and the meter noise
  std::string state_file;           // keeps the supply's calibration across runs when not empty
  std::string log_file;             // logs every line each instrument receives when not empty
  SimDmmFaults dmm_faults;
  SimPsuFaults psu_faults;
  std::vector<SimDmmNoise> dmm_noise = {};  // none: the meter's own noise only
  // Added to every voltage the supply's own meter reports while the output is on (:MEAS), after its
  // calibration: a readback that no calibration takes out.
  double psu_readback_offset_v = 0.0;
  // Identification answers to *IDN? (comma-separated maker, model, serial number, firmware).
  std::string dmm_idn = "Simbench,DMM-65,SB65000001,1.02";
  std::string psu_idn = "Simbench,DP832,SB83200001,00.01.16";
};

// Writes the settings file that points trimora at a simulated bench on 127.0.0.1 with these ports, in
// the program's own format; the DMM's connection method follows the style. false when it cannot be
// written (why in *message when not null).
bool sim_write_settings(const std::string& path, int dmm_port, int psu_port, SimDmmStyle style,
                        std::string* message = nullptr);

// One command as an instrument received it, with the time it arrived.
struct SimReceived {
  std::string line;          // the command line without its line end
  double time_s;             // seconds since the bench started (steady clock), or on the virtual clock
};

// The client's end of an in-memory connection to an instrument of a bench on a virtual clock: what a
// socket would carry, with no socket and no real time. The clock is the bench's; whoever reads and
// waits moves it on, and the instrument's answers arrive when it reaches their time.
class SimStream {
 public:
  struct State;
  explicit SimStream(std::unique_ptr<State> state);
  ~SimStream();  // closes
  SimStream(const SimStream&) = delete;
  SimStream& operator=(const SimStream&) = delete;

  // Sends bytes at the clock's present time.
  void send(const std::string& bytes);
  // Takes at most `most` bytes of what has arrived by now.
  std::string take(std::size_t most);
  bool input_ready();       // bytes have arrived by now
  bool closed_by_peer();    // the instrument has closed by now (what came before it stays readable)
  // The time of the bench's next event (an answer held back, a line of a stream); -1 when none is due.
  long long next_event_ms();
  long long& clock();       // the virtual clock, in ms
  void close();

 private:
  std::unique_ptr<State> state_;
};

class SimBench {
 public:
  // Serves both instruments on loopback TCP ports, in real time.
  explicit SimBench(const SimOptions& options);
  // The same instruments in memory on a virtual clock (ms, owned by the caller, who must keep it while
  // the bench and its streams live): no sockets, no threads, no real time. They are reached through
  // connect_dmm() and connect_psu(); the options' ports and address are not used.
  SimBench(const SimOptions& options, long long* virtual_clock);
  ~SimBench();  // stops serving and closes every connection
  SimBench(const SimBench&) = delete;
  SimBench& operator=(const SimBench&) = delete;

  bool ok() const;            // both listeners are up (in memory: always)
  int dmm_port() const;       // 0 in memory
  int psu_port() const;
  // In memory: a new connection to the instrument; null when it refuses connections, or on loopback.
  std::unique_ptr<SimStream> connect_dmm();
  std::unique_ptr<SimStream> connect_psu();

  // Received commands, in order, for each instrument (safe to call while serving).
  std::vector<SimReceived> psu_received() const;
  std::vector<SimReceived> dmm_received() const;
  void clear_received();

  // Wiring and faults may be changed at any time.
  void set_wire(int wire);
  void set_dmm_faults(const SimDmmFaults& faults);
  void set_psu_faults(const SimPsuFaults& faults);
  // The next readings answer these values (in the present unit) instead of the model's, in order;
  // appended to any scripted values not yet used. Faults still apply to these readings.
  void script_readings(const std::vector<double>& values);
  void set_measurement_time_ms(int ms);

  // The model, for checking results: the true terminal voltage of a channel (1 to 3) set to volts
  // with its present calibration, and the output's error there (true minus set).
  double true_output_voltage(int channel, double set_volts) const;
  double voltage_error(int channel, double set_volts) const;
  // The same for the current of the constant-current limit.
  double true_output_current(int channel, double set_amps) const;
  double current_error(int channel, double set_amps) const;
  // What the supply's own meters report (:MEAS:VOLT?, :MEAS:CURR?) at those outputs, readback offset
  // included, and the readback's error (reported minus true).
  double voltage_readback(int channel, double set_volts) const;
  double voltage_readback_error(int channel, double set_volts) const;
  double current_readback(int channel, double set_amps) const;
  double current_readback_error(int channel, double set_amps) const;
  bool output_on(int channel) const;
  double set_voltage(int channel) const;   // the channel's programmed voltage and current limit
  double set_current(int channel) const;
  bool in_calibration() const;   // between CAL:START and CAL:END
  // The channel has a voltage (V-DAC) or current (I-DAC) calibration in force.
  bool voltage_calibrated(int channel) const;
  bool current_calibrated(int channel) const;
  int wired_channel() const;     // where the DMM's leads are now (auto resolved): 1 to 3, 0 none
  int dmm_connections() const;   // connections accepted so far
  int psu_connections() const;
  // Why the state file was not loaded at start; empty when it was, or when there was none to load.
  std::string state_message() const;
  // false when the command log asked for could not be opened.
  bool log_ok() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
