// Bringing the DMM and the DP832 on line: connect, reset, identify.
#include "link/instruments.h"

#include <cstdio>
#include <new>

#include "console/console.h"
#include "console/field_parser.h"
#include "link/primitives.h"

TcpLink* dmm_link = nullptr;
TcpLink* psu_link = nullptr;
char dmm_description[128] = "";
char psu_description[128] = "";

namespace {

constexpr int REPLY_COUNT = 127;
constexpr int FIELD_MAX = 63;
constexpr int DMM_IDN_TIMEOUT_MS = 100;
constexpr int PSU_IDN_TIMEOUT_MS = 500;
constexpr int DMM_READ_CHECKS = 3;

// The identification fields of a "*IDN?" reply, each cut to 63 characters.
struct Identity {
  char manufacturer[64];
  char model[64];
  char serial[64];
};

Identity parse_identity(const char* reply) {
  Identity id{};
  FieldParser parser;
  parser.field(reply, id.manufacturer, 0, FIELD_MAX, sizeof id.manufacturer);
  parser.field(reply, id.model, 1, FIELD_MAX, sizeof id.model);
  parser.field(reply, id.serial, 2, FIELD_MAX, sizeof id.serial);
  return id;
}

void describe(char* description, int size, const Identity& id, const char* host, int port) {
  int length = std::snprintf(description, static_cast<std::size_t>(size), "%s %s (S/N %s ) at %s:%d",
                             id.manufacturer, id.model, id.serial, host, port);
  // A longer description is cut to fit; a failed format leaves it empty.
  if (length < 0) description[0] = 0;
}

int drop_link(TcpLink*& link) {
  delete link;  // closes it
  link = nullptr;
  return 0;
}

}  // namespace

int connect_dmm(const char* dmm_host, int dmm_port) {
  console_print("Connecting to DMM on IP %s, Port %d...", dmm_host, dmm_port);
  delete dmm_link;
  dmm_link = new (std::nothrow) TcpLink(dmm_host, dmm_port);
  std::snprintf(dmm_description, sizeof dmm_description, "%s", "No DMM detected.");
  if (dmm_link == nullptr || !dmm_link->is_connected()) {
    console_print("\n\n\aERROR - Failed to connect to DMM!\n\n");
    return drop_link(dmm_link);
  }
  console_print("OK!\n");

  drain_input(dmm_link, 100);
  dmm_link->send_text("*RST\r");
  drain_input(dmm_link, 10);
  dmm_link->send_text("*IDN?\r");

  char reply[128];
  // The first line back is not the identification.
  read_reply(reply, REPLY_COUNT, dmm_link, DMM_IDN_TIMEOUT_MS, 13);
  if (read_reply(reply, REPLY_COUNT, dmm_link, DMM_IDN_TIMEOUT_MS, 13) <= 0) {
    console_print("\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
    return drop_link(dmm_link);
  }
  describe(dmm_description, sizeof dmm_description, parse_identity(reply), dmm_host, dmm_port);

  dmm_set_voltage_mode();
  console_print("Checking DMM read data...");
  for (int i = 0; i < DMM_READ_CHECKS; ++i) {
    int ok = 0;
    dmm_read(ok);
    if (!ok) {
      console_print("\aERROR reading DMM data!\n\n");
      return drop_link(dmm_link);
    }
    console_print(".");
  }
  console_print("OK!\n\n");
  return 1;
}

int connect_psu(const char* psu_host, int psu_port) {
  std::snprintf(psu_description, sizeof psu_description, "%s", "No DP832 detected.");
  console_print("Connecting to DP832 on IP %s, Port %d...", psu_host, psu_port);
  delete psu_link;
  psu_link = new (std::nothrow) TcpLink(psu_host, psu_port);
  if (psu_link == nullptr || !psu_link->is_connected()) {
    console_print("\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
    return drop_link(psu_link);
  }

  drain_input(psu_link, 100);
  psu_link->send_text("*RST\r\n");
  drain_input(psu_link, 10);
  psu_link->send_text("*IDN?\r\n");

  char reply[128];
  if (read_reply(reply, REPLY_COUNT, psu_link, PSU_IDN_TIMEOUT_MS, 10) <= 0) {
    console_print("\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n");
    return drop_link(psu_link);
  }
  describe(psu_description, sizeof psu_description, parse_identity(reply), psu_host, psu_port);
  console_print("OK!\n\n");
  return 1;
}
