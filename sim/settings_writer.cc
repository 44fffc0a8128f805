// The loopback settings file for a simulated bench: the one place that writes it for the demo, the
// Windows smoke test, the benchmark and the tests.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/sim.h"

bool sim_write_settings(const std::string& path, int dmm_port, int psu_port, SimDmmStyle style,
                        std::string* message) {
  char text[512];
  std::snprintf(text, sizeof text,
                "DMM_IP    127.0.0.1\nDMM_Port    %d\nDMM_Connect_Method    %s\nLast_Run_Time    \"NONE\"\n"
                "DP832_IP    127.0.0.1\nDP832_Port    %d\nDP832_Connect_Method    TCP.SCPI\n",
                dmm_port, style == SimDmmStyle::raw ? "TCP.RAW" : "TCP.SCPI", psu_port);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr && std::fputs(text, f) >= 0;
  int saved = errno;
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok && message != nullptr) *message = path + ": " + std::strerror(saved != 0 ? saved : errno);
  return ok;
}
