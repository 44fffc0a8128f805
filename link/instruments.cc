// Bringing the DMM and the DP832 on line: connect, reset, identify.
#include "link/instruments.h"

#include <cstdio>
#include <new>

#include "console/console.h"
#include "console/field_parser.h"
#include "link/identity.h"
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
constexpr int DMM_IDN_TIMEOUT_MS = 100;
constexpr int PSU_IDN_TIMEOUT_MS = 500;
constexpr int DMM_READ_CHECKS = 3;

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
  drain_input(dmm_link.get(), 100);
  dmm_link->send_text("*RST\r");
  drain_input(dmm_link.get(), 10);
  dmm_link->send_text("*IDN?\r");

  char reply[128];
  // The first line back is not the identification.
  read_reply(reply, REPLY_COUNT, dmm_link.get(), DMM_IDN_TIMEOUT_MS, 13);
  if (read_reply(reply, REPLY_COUNT, dmm_link.get(), DMM_IDN_TIMEOUT_MS, 13) <= 0) {
    console_print("\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
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
  drain_input(psu_link.get(), 100);
  psu_link->send_text("*RST\r\n");
  drain_input(psu_link.get(), 10);
  psu_link->send_text("*IDN?\r\n");

  char reply[128];
  if (read_reply(reply, REPLY_COUNT, psu_link.get(), PSU_IDN_TIMEOUT_MS, 10) <= 0) {
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
