// The simulated bench: the DMM and the DP832 cores behind one line server (on loopback, in real time) or
// its in-memory counterpart (on a virtual clock), their wiring (the DMM's leads and its current shunt as
// the supply's load), the logs of what each received, and the faults.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "sim/command_log.h"
#include "sim/dmm_core.h"
#include "sim/line_server.h"
#include "sim/memory_link.h"
#include "sim/psu_core.h"
#include "sim/sim.h"
#include "platform/sleep.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int STREAM_INTERVAL_MS = 5;         // real ms between lines of the unsolicited stream

}  // namespace

struct SimBench::Impl {
  SimOptions options;
  Clock::time_point start = Clock::now();

  // Everything below the lock is shared between the serving thread and the API.
  mutable std::mutex lock;
  DmmState dmm;
  PsuState psu;
  int wire = 0;
  SimPsuFaults psu_faults;
  int psu_commands = 0;
  std::vector<SimReceived> dmm_log;
  std::vector<SimReceived> psu_log;
  CommandLog command_log;
  bool log_ok = true;
  int dmm_accepted = 0;
  int psu_accepted = 0;
  std::string state_message;

  // In memory, the hub and its clock stand in for the server and the steady clock.
  std::shared_ptr<MemoryHub> hub;

  double now_s() const {
    if (hub) return static_cast<double>(hub->now_ms()) / 1000.0;
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  // In memory, carries out what is due by the clock; called before the lock is taken.
  void advance() const {
    if (hub) hub->advance();
  }
  // Asks the listeners to follow a refusal fault (the hub asks at each connect).
  void refresh() {
    if (server) server->refresh();
  }

  // Under the lock: the supply's clock brought to now (whole real ms, so that an answer held back by
  // whole ms finds its actions done), and the actions that are due carried out.
  void catch_up() {
    psu.now_ms = std::floor(now_s() * 1000.0);
    psu.act_delay_ms = psu_faults.act_delay_ms > 0 ? scaled_ms(psu_faults.act_delay_ms) : 0;
    psu_run_due(psu);
  }

  // Under the lock: the channel the leads are on, and the loads that the DMM puts on the supply.
  int wired() const {
    int w = wire < 0 ? psu.last_switched_on : wire;
    return (w >= 1 && w <= PSU_CHANNELS) ? w : 0;
  }
  void update_loads() { psu_dmm_sees(psu, wired(), dmm.amps); }
  double measure(bool amps) {
    catch_up();
    return psu_dmm_sees(psu, wired(), amps);
  }

  void save_state() {
    if (options.state_file.empty()) return;
    std::string message;
    if (!psu_model_save(psu.model, options.state_file, &message))
      std::fprintf(stderr, "trimora-sim: calibration not saved: %s\n", message.c_str());
  }

  struct Dmm : LinePeer {
    Impl& b;
    explicit Dmm(Impl& bench) : b(bench) {}
    std::string on_connect() override {
      std::lock_guard<std::mutex> held(b.lock);
      ++b.dmm_accepted;
      return dmm_welcome(b.dmm);
    }
    bool next_line(std::string& in, int& carry, std::string* line) override {
      std::lock_guard<std::mutex> held(b.lock);
      return dmm_next_line(b.dmm, in, carry, line);
    }
    LineReply on_line(const std::string& line) override {
      std::lock_guard<std::mutex> held(b.lock);
      if (!line.empty()) {
        b.dmm_log.push_back({line, b.now_s()});
        b.command_log.write("DMM", line);
      }
      b.update_loads();
      DmmReply r = dmm_handle_line(b.dmm, line, [this](bool amps) { return b.measure(amps); });
      b.update_loads();
      LineReply out;
      out.now = r.now;
      out.later = r.later;
      out.delay_ms = r.delay_ms;
      out.drop = r.close;
      return out;
    }
    bool refusing() override {
      std::lock_guard<std::mutex> held(b.lock);
      return b.dmm.faults.refuse_connections;
    }
  };

  struct Psu : LinePeer {
    Impl& b;
    explicit Psu(Impl& bench) : b(bench) {}
    std::string on_connect() override {
      std::lock_guard<std::mutex> held(b.lock);
      ++b.psu_accepted;
      return std::string();
    }
    // Lines end with LF; a CR and blanks before it are dropped.
    bool next_line(std::string& in, int&, std::string* line) override {
      std::size_t end = in.find('\n');
      if (end == std::string::npos) return false;
      *line = in.substr(0, end);
      in.erase(0, end + 1);
      while (!line->empty() && (line->back() == '\r' || line->back() == ' ' || line->back() == '\t'))
        line->pop_back();
      return true;
    }
    LineReply on_line(const std::string& line) override {
      LineReply out;
      if (line.find_first_not_of(" \t\r") == std::string::npos) return out;
      std::lock_guard<std::mutex> held(b.lock);
      b.psu_log.push_back({line, b.now_s()});
      b.command_log.write("DP832", line);
      b.update_loads();
      b.psu.silent_to_idn = b.psu_faults.silent_to_idn;
      b.psu.refuse_calibration = b.psu_faults.refuse_calibration;
      b.psu.refuse_all = b.psu_faults.refuse_all;
      b.catch_up();
      const double received_ms = b.psu.now_ms;
      std::string reply = psu_handle_line(b.psu, line);
      // An *OPC? while actions wait: the reply goes once they are due, in program ms for the server.
      double wait_ms = b.psu.answer_at_ms - received_ms;
      if (wait_ms > 0.0 && !reply.empty()) {
        out.later = reply;
        out.delay_ms = static_cast<int>(std::ceil(wait_ms / time_scale()));
      } else {
        out.now = reply;
      }
      if (b.psu.calibration_changed) {
        b.psu.calibration_changed = false;
        b.save_state();
      }
      ++b.psu_commands;
      out.close_after = b.psu_faults.drop_after_commands > 0 && b.psu_commands == b.psu_faults.drop_after_commands;
      return out;
    }
    bool refusing() override {
      std::lock_guard<std::mutex> held(b.lock);
      return b.psu_faults.refuse_connections;
    }
    int stream_interval_ms() override {
      std::lock_guard<std::mutex> held(b.lock);
      return b.psu_faults.unsolicited_stream ? STREAM_INTERVAL_MS : 0;
    }
    std::string stream_text(int count) override { return "STREAM," + std::to_string(count) + "\n"; }
  };

  Dmm dmm_peer{*this};
  Psu psu_peer{*this};
  std::unique_ptr<LineServer> server;  // started last, stopped first
};

SimBench::SimBench(const SimOptions& options) : SimBench(options, nullptr) {
  Impl& b = *impl;
  b.server = std::make_unique<LineServer>(options.bind_address, std::vector<int>{options.dmm_port, options.psu_port},
                                          std::vector<LinePeer*>{&b.dmm_peer, &b.psu_peer});
}

SimBench::SimBench(const SimOptions& options, long long* virtual_clock) : impl(std::make_unique<Impl>()) {
  Impl& b = *impl;
  if (virtual_clock != nullptr) b.hub = std::make_shared<MemoryHub>(virtual_clock);
  b.options = options;
  PsuModel model = psu_model_make(options.seed);
  if (!options.state_file.empty()) {
    std::string message;
    FILE* probe = std::fopen(options.state_file.c_str(), "r");
    if (probe != nullptr) {
      std::fclose(probe);
      if (!psu_model_load(&model, options.state_file, &message)) b.state_message = message;
    }
  }
  b.log_ok = b.command_log.open(options.log_file);
  b.psu = psu_make_state(model, options.psu_idn);
  b.psu.readback_offset_v = options.psu_readback_offset_v;
  b.dmm = dmm_make_state(options.seed, options.dmm_idn, options.measurement_time_ms, options.dmm_style);
  b.dmm.extra_noise = options.dmm_noise;
  dmm_set_faults(b.dmm, options.dmm_faults);
  b.psu_faults = options.psu_faults;
  b.wire = options.wire;
}

SimBench::~SimBench() {
  impl->server.reset();
  if (impl->hub) impl->hub->stop();
}

bool SimBench::ok() const { return impl->hub || (impl->server && impl->server->ok()); }
bool SimBench::log_ok() const { return impl->log_ok; }
int SimBench::dmm_port() const { return impl->server ? impl->server->port(0) : 0; }
int SimBench::psu_port() const { return impl->server ? impl->server->port(1) : 0; }

namespace {
std::unique_ptr<SimStream> connect_to(const std::shared_ptr<MemoryHub>& hub, LinePeer* peer) {
  if (!hub) return nullptr;
  std::shared_ptr<MemoryClient> client = hub->connect(peer);
  if (!client) return nullptr;
  auto state = std::make_unique<SimStream::State>();
  state->hub = hub;
  state->client = std::move(client);
  return std::make_unique<SimStream>(std::move(state));
}
}  // namespace

std::unique_ptr<SimStream> SimBench::connect_dmm() { return connect_to(impl->hub, &impl->dmm_peer); }
std::unique_ptr<SimStream> SimBench::connect_psu() { return connect_to(impl->hub, &impl->psu_peer); }

std::vector<SimReceived> SimBench::psu_received() const {
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu_log;
}

std::vector<SimReceived> SimBench::dmm_received() const {
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->dmm_log;
}

void SimBench::clear_received() {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->dmm_log.clear();
  impl->psu_log.clear();
}

void SimBench::set_wire(int wire) {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->wire = wire;
}

// The listeners follow a refusal fault before these return.
void SimBench::set_dmm_faults(const SimDmmFaults& faults) {
  {
    std::lock_guard<std::mutex> held(impl->lock);
    dmm_set_faults(impl->dmm, faults);
  }
  impl->refresh();
}

void SimBench::set_psu_faults(const SimPsuFaults& faults) {
  {
    std::lock_guard<std::mutex> held(impl->lock);
    impl->psu_faults = faults;
    impl->psu_commands = 0;
  }
  impl->refresh();
}

void SimBench::script_readings(const std::vector<double>& values) {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->dmm.scripted.insert(impl->dmm.scripted.end(), values.begin(), values.end());
}

void SimBench::set_measurement_time_ms(int ms) {
  std::lock_guard<std::mutex> held(impl->lock);
  impl->dmm.measurement_time_ms = ms;
}

namespace {
bool valid_channel(int channel) { return channel >= 1 && channel <= PSU_CHANNELS; }
}  // namespace

double SimBench::true_output_voltage(int channel, double set_volts) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  return psu_output_voltage(impl->psu.model, channel, set_volts);
}

double SimBench::voltage_error(int channel, double set_volts) const {
  return true_output_voltage(channel, set_volts) - set_volts;
}

double SimBench::true_output_current(int channel, double set_amps) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  return psu_output_current(impl->psu.model, channel, set_amps);
}

double SimBench::current_error(int channel, double set_amps) const {
  return true_output_current(channel, set_amps) - set_amps;
}

double SimBench::voltage_readback(int channel, double set_volts) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  const PsuModel& m = impl->psu.model;
  return psu_voltmeter(m, channel, psu_output_voltage(m, channel, set_volts)) + impl->psu.readback_offset_v;
}

double SimBench::voltage_readback_error(int channel, double set_volts) const {
  return voltage_readback(channel, set_volts) - true_output_voltage(channel, set_volts);
}

double SimBench::current_readback(int channel, double set_amps) const {
  if (!valid_channel(channel)) return NAN;
  std::lock_guard<std::mutex> held(impl->lock);
  const PsuModel& m = impl->psu.model;
  return psu_ammeter(m, channel, psu_output_current(m, channel, set_amps));
}

double SimBench::current_readback_error(int channel, double set_amps) const {
  return current_readback(channel, set_amps) - true_output_current(channel, set_amps);
}

bool SimBench::output_on(int channel) const {
  if (!valid_channel(channel)) return false;
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  impl->catch_up();
  return impl->psu.ch[channel - 1].on;
}

double SimBench::set_voltage(int channel) const {
  if (!valid_channel(channel)) return NAN;
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  impl->catch_up();
  return impl->psu.ch[channel - 1].volts;
}

double SimBench::set_current(int channel) const {
  if (!valid_channel(channel)) return NAN;
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  impl->catch_up();
  return impl->psu.ch[channel - 1].amps;
}

bool SimBench::in_calibration() const {
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  impl->catch_up();
  return impl->psu.cal_channel != 0;
}

bool SimBench::voltage_calibrated(int channel) const {
  if (!valid_channel(channel)) return false;
  std::lock_guard<std::mutex> held(impl->lock);
  return !impl->psu.model.cal[channel - 1][Q_VDAC].empty();
}

bool SimBench::current_calibrated(int channel) const {
  if (!valid_channel(channel)) return false;
  std::lock_guard<std::mutex> held(impl->lock);
  return !impl->psu.model.cal[channel - 1][Q_IDAC].empty();
}

int SimBench::wired_channel() const {
  impl->advance();
  std::lock_guard<std::mutex> held(impl->lock);
  impl->catch_up();
  return impl->wired();
}

int SimBench::dmm_connections() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->dmm_accepted;
}

int SimBench::psu_connections() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->psu_accepted;
}

std::string SimBench::state_message() const {
  std::lock_guard<std::mutex> held(impl->lock);
  return impl->state_message;
}
