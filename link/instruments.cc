// Bringing the DMM and the DP832 on line: connect, reset, identify.
#include "link/instruments.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "console/console.h"
#include "console/field_parser.h"
#include "link/identity.h"
#include "link/framing.h"
#include "link/primitives.h"
#include "link/tcp_link.h"

Instruments instruments;
std::unique_ptr<Transport>& dmm_link = instruments.dmm;
std::unique_ptr<Transport>& psu_link = instruments.psu;
char dmm_description[128] = "";
char psu_description[128] = "";
IdentifiedInstrument dmm_identified;
IdentifiedInstrument psu_identified;

namespace {

constexpr int REPLY_COUNT = 127;
constexpr int FIELD_MAX = 63;
// Lines a framing probe looks at, at most, for an identification.
constexpr int PROBE_LINES = 3;

// The identification fields of a "*IDN?" reply as the description shows them, each cut to 63 characters.
struct DescribedFields {
  char manufacturer[64];
  char model[64];
  char serial[64];
};

DescribedFields described_fields(const char* reply) {
  DescribedFields id{};
  FieldParser parser;
  parser.field(reply, id.manufacturer, 0, FIELD_MAX, sizeof id.manufacturer);
  parser.field(reply, id.model, 1, FIELD_MAX, sizeof id.model);
  parser.field(reply, id.serial, 2, FIELD_MAX, sizeof id.serial);
  return id;
}

void describe(char* description, int size, const DescribedFields& id, const char* host, int port) {
  int length = std::snprintf(description, static_cast<std::size_t>(size), "%s %s (S/N %s ) at %s:%d",
                             id.manufacturer, id.model, id.serial, host, port);
  // A longer description is cut to fit; a failed format leaves it empty.
  if (length < 0) description[0] = 0;
}

// A new TCP link to host:port; null only when there is no memory for it.
std::unique_ptr<Transport> new_link(const char* host, int port) {
  return std::unique_ptr<Transport>(new (std::nothrow) TcpLink(host, port));
}

// An identification answer: at least maker, model and serial number, and not the echo of the query.
bool looks_like_identification(const char* line) {
  const char* first = std::strchr(line, ',');
  return first != nullptr && std::strchr(first + 1, ',') != nullptr && std::strstr(line, "*IDN?") == nullptr;
}

// Called once a telnet-style identification has failed: does the port answer as a raw SCPI socket?
// The line that the carriage returns left open is ended first, then the query goes out as a raw
// socket wants it.
bool answers_as_raw_socket() {
  dmm_link->send_text("\n*IDN?\n");
  char line[128];
  for (int i = 0; i < PROBE_LINES; ++i) {
    if (read_reply(line, REPLY_COUNT, dmm_link.get(), RAW_DMM.identify_ms, RAW_DMM.terminator) <= 0) return false;
    if (looks_like_identification(line)) return true;
  }
  return false;
}

// The identification has failed: say so, and when the port answers as the other framing would, what to
// set. echoed: the DMM echoed the query, as only a telnet-style port does (one that did so is merely
// slow or confused, and is not probed). Nothing more is sent once the verdict is in.
void report_failed_identification(const DmmFraming& framing, bool echoed, int port) {
  console_print("\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
  const DmmFraming* other = nullptr;
  if (framing.echoes && !echoed && answers_as_raw_socket()) other = &RAW_DMM;
  if (!framing.echoes && echoed) other = &TELNET_DMM;
  if (other != nullptr)
    console_print("The DMM on port %d answers as a %s: set DMM_Connect_Method to %s in the settings file.\n", port,
                  other->kind, other->method);
}

}  // namespace

void drop_dmm_link() { instruments.dmm.reset(); }

void drop_psu_link() { instruments.psu.reset(); }

void drop_links() {
  drop_dmm_link();
  drop_psu_link();
}

// The identification after the connect, on whatever link dmm_link holds: reset, identify, and check
// that readings come. 1 on success; 0 with the link dropped.
int identify_dmm(const char* host, int port) {
  dmm_identified = {};
  const DmmFraming& framing = *dmm_framing;
  drain_input(dmm_link.get(), framing.connect_drain_ms);
  dmm_send("*RST");
  drain_input(dmm_link.get(), framing.reset_drain_ms);
  dmm_send("*IDN?");

  char reply[128];
  // On a telnet-style port the first line back is not the identification; it is the echo.
  bool echoed = false;
  if (framing.echoes)
    echoed = read_reply(reply, REPLY_COUNT, dmm_link.get(), framing.echo_ms, framing.terminator) > 0 &&
             std::strstr(reply, "*IDN?") != nullptr;
  int r = read_reply(reply, REPLY_COUNT, dmm_link.get(), framing.identify_ms, framing.terminator);
  // On a raw socket an echo of the query in its place means a telnet-style port.
  if (!framing.echoes) echoed = r > 0 && std::strstr(reply, "*IDN?") != nullptr;
  if (r <= 0 || (!framing.echoes && echoed)) {
    report_failed_identification(framing, echoed, port);
    drop_dmm_link();
    return 0;
  }
  describe(dmm_description, sizeof dmm_description, described_fields(reply), host, port);
  dmm_identified = {parse_identity(reply), host, port};

  dmm_set_voltage_mode();
  console_print("Checking DMM read data...");
  for (int i = 0; i < DMM_READ_CHECKS; ++i) {
    int ok = 0;
    dmm_read(ok);
    if (!ok) {
      console_print("\aERROR reading DMM data!\n\n");
      dmm_identified = {};
      drop_dmm_link();
      return 0;
    }
    console_print(".");
  }
  console_print("OK!\n\n");
  return 1;
}

// The identification of the DP832 after the connect, on whatever link psu_link holds. 1 on success;
// 0 with the link dropped.
int identify_psu(const char* host, int port) {
  psu_identified = {};
  const PsuFraming& framing = DP832_FRAMING;
  drain_input(psu_link.get(), framing.connect_drain_ms);
  psu_link->send_text("*RST\r\n");
  drain_input(psu_link.get(), framing.reset_drain_ms);
  psu_link->send_text("*IDN?\r\n");

  char reply[128];
  if (read_reply(reply, REPLY_COUNT, psu_link.get(), framing.identify_ms, framing.terminator) <= 0) {
    console_print("\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n");
    drop_psu_link();
    return 0;
  }
  describe(psu_description, sizeof psu_description, described_fields(reply), host, port);
  psu_identified = {parse_identity(reply), host, port};
  console_print("OK!\n\n");
  return 1;
}

int connect_dmm(const char* host, int port) {
  console_print_untrusted("Connecting to DMM on IP %s, Port %d...", host, port);
  drop_dmm_link();
  dmm_link = new_link(host, port);
  std::snprintf(dmm_description, sizeof dmm_description, "%s", "No DMM detected.");
  dmm_identified = {};
  if (dmm_link == nullptr || !dmm_link->is_connected()) {
    console_print("\n\n\aERROR - Failed to connect to DMM!\n\n");
    drop_dmm_link();
    return 0;
  }
  console_print("OK!\n");
  return identify_dmm(host, port);
}

int connect_psu(const char* host, int port) {
  std::snprintf(psu_description, sizeof psu_description, "%s", "No DP832 detected.");
  psu_identified = {};
  console_print_untrusted("Connecting to DP832 on IP %s, Port %d...", host, port);
  drop_psu_link();
  psu_link = new_link(host, port);
  if (psu_link == nullptr || !psu_link->is_connected()) {
    console_print("\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
    drop_psu_link();
    return 0;
  }
  return identify_psu(host, port);
}
