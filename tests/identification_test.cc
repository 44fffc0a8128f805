// connect_dmm and connect_psu against scripted instruments: messages, descriptions, links kept or dropped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "link/instruments.h"
#include "platform/sleep.h"
#include "settings/program_settings.h"
#include "tests/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const GOOD = "+4.99870000E+00";

// Tests in which the instrument must answer run in real time: under the test time scale the DMM's
// first line has only 10 ms to come, which a loaded machine can miss.
class IdentificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_time_scale(0.1);
    console_capture(&console);
  }
  void TearDown() override {
    console_capture(nullptr);
    delete dmm_link;
    dmm_link = nullptr;
    delete psu_link;
    psu_link = nullptr;
    set_time_scale(1.0);
  }
  static void real_time() { set_time_scale(1.0); }
  void point_dmm_at(int port) {
    std::snprintf(dmm_host, sizeof dmm_host, "%s", "127.0.0.1");
    dmm_port = port;
  }
  void point_psu_at(int port) {
    std::snprintf(psu_host, sizeof psu_host, "%s", "127.0.0.1");
    psu_port = port;
  }
  static std::string at(int port) { return " at 127.0.0.1:" + std::to_string(port); }
  static std::string dmm_connecting(int port) {
    return "Connecting to DMM on IP 127.0.0.1, Port " + std::to_string(port) + "...";
  }
  static std::string psu_connecting(int port) {
    return "Connecting to DP832 on IP 127.0.0.1, Port " + std::to_string(port) + "...";
  }

  std::string console;
};

}  // namespace

// --- The DMM

TEST_F(IdentificationTest, DmmThatIdentifiesAndReadsIsKept) {
  real_time();
  ScriptedDmm dmm({GOOD, GOOD, GOOD});
  point_dmm_at(dmm.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 1);
  ASSERT_NE(dmm_link, nullptr);
  EXPECT_EQ(dmm_link->is_connected(), 1);
  EXPECT_STREQ(dmm_description, ("ACME DMM9 (S/N SN123 )" + at(dmm.port())).c_str());
  EXPECT_EQ(console, dmm_connecting(dmm.port()) + "OK!\nChecking DMM read data......OK!\n\n");
  EXPECT_EQ(dmm.received(), "*RST\r*IDN?\rCONF:VOLT:DC AUTO\rREAD?\rREAD?\rREAD?\r");
}

TEST_F(IdentificationTest, DmmWithCarriageReturnOnlyLinesIsKept) {
  real_time();
  ScriptedDmm dmm({GOOD, GOOD, GOOD}, "ACME,DMM9,SN123,1.0", "\r");
  point_dmm_at(dmm.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 1);
  EXPECT_STREQ(dmm_description, ("ACME DMM9 (S/N SN123 )" + at(dmm.port())).c_str());
}

TEST_F(IdentificationTest, DmmReplyWithFewerThanThreeFieldsLeavesTheRestEmpty) {
  real_time();
  ScriptedDmm dmm({GOOD, GOOD, GOOD}, "ACME,DMM9");
  point_dmm_at(dmm.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 1);
  // The unquoted last field keeps the line's carriage return.
  EXPECT_STREQ(dmm_description, ("ACME DMM9\r (S/N  )" + at(dmm.port())).c_str());
}

TEST_F(IdentificationTest, DmmWhoseReadingsFailKeepsItsDescriptionButLosesItsLink) {
  real_time();
  ScriptedDmm dmm({GOOD, GOOD, ScriptedDmm::SILENT});
  point_dmm_at(dmm.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_STREQ(dmm_description, ("ACME DMM9 (S/N SN123 )" + at(dmm.port())).c_str());
  EXPECT_EQ(console, dmm_connecting(dmm.port()) +
                         "OK!\nChecking DMM read data.....\aERROR reading DMM data!\n\n");
}

TEST_F(IdentificationTest, DmmAnsweringOverloadOrTextIsNotReading) {
  real_time();
  for (const char* bad : {"+9.90000000E+37", "OVLD"}) {
    console.clear();
    ScriptedDmm dmm({bad});
    point_dmm_at(dmm.port());
    EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0) << bad;
    EXPECT_EQ(dmm_link, nullptr);
    EXPECT_EQ(console, dmm_connecting(dmm.port()) + "OK!\nChecking DMM read data...\aERROR reading DMM data!\n\n");
  }
}

TEST_F(IdentificationTest, DmmThatDoesNotIdentifyIsDropped) {
  ScriptedDmm dmm({GOOD, GOOD, GOOD}, ScriptedDmm::SILENT);
  point_dmm_at(dmm.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_STREQ(dmm_description, "No DMM detected.");
  EXPECT_EQ(console, dmm_connecting(dmm.port()) +
                         "OK!\n\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
}

TEST_F(IdentificationTest, DmmClosingTheConnectionDuringIdentificationFailsIt) {
  ScriptedDmm dmm({GOOD, GOOD, GOOD}, ScriptedDmm::DROP_ON_IDN);
  point_dmm_at(dmm.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_STREQ(dmm_description, "No DMM detected.");
  EXPECT_EQ(console, dmm_connecting(dmm.port()) +
                         "OK!\n\n\aWARNING: DMM FAILED TO IDENTIFY. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
}

TEST_F(IdentificationTest, DmmOnARefusedPortIsReported) {
  RefusingPort refusing;
  point_dmm_at(refusing.port());
  EXPECT_EQ(connect_dmm(dmm_host, dmm_port), 0);
  EXPECT_EQ(dmm_link, nullptr);
  EXPECT_STREQ(dmm_description, "No DMM detected.");
  EXPECT_EQ(console, dmm_connecting(refusing.port()) + "\n\n\aERROR - Failed to connect to DMM!\n\n");
}

// --- The DP832

TEST_F(IdentificationTest, PsuThatIdentifiesIsKept) {
  real_time();
  ScriptedPsu psu;
  point_psu_at(psu.port());
  EXPECT_EQ(connect_psu(psu_host, psu_port), 1);
  ASSERT_NE(psu_link, nullptr);
  EXPECT_EQ(psu_link->is_connected(), 1);
  EXPECT_STREQ(psu_description, ("ACME PSU3 (S/N SN9 )" + at(psu.port())).c_str());
  EXPECT_EQ(console, psu_connecting(psu.port()) + "OK!\n\n");
  EXPECT_EQ(psu.received(), "*RST\r\n*IDN?\r\n");
}

TEST_F(IdentificationTest, PsuReplyWithFewerThanThreeFieldsLeavesTheRestEmpty) {
  real_time();
  ScriptedPsu psu("ACME,PSU3");
  point_psu_at(psu.port());
  EXPECT_EQ(connect_psu(psu_host, psu_port), 1);
  EXPECT_STREQ(psu_description, ("ACME PSU3\n (S/N  )" + at(psu.port())).c_str());
}

TEST_F(IdentificationTest, LongFieldsAndDescriptionsAreCutToFit) {
  real_time();
  // A field longer than 63 characters is cut to 63.
  ScriptedPsu psu(std::string(70, 'M') + ",P,S,1");
  point_psu_at(psu.port());
  EXPECT_EQ(connect_psu(psu_host, psu_port), 1);
  EXPECT_EQ(std::string(psu_description), std::string(63, 'M') + " P (S/N S )" + at(psu.port()));

  // A description longer than 127 characters is cut to 127.
  const std::string a(40, 'A'), b(40, 'B'), c(40, 'C');
  ScriptedPsu wordy(a + "," + b + "," + c + ",1");
  point_psu_at(wordy.port());
  delete psu_link;
  psu_link = nullptr;
  EXPECT_EQ(connect_psu(psu_host, psu_port), 1);
  const std::string full = a + " " + b + " (S/N " + c + " )" + at(wordy.port());
  ASSERT_GT(full.size(), 127u);
  EXPECT_EQ(std::string(psu_description), full.substr(0, 127));
}

TEST_F(IdentificationTest, SilentPsuIsDroppedAfterHalfASecond) {
  ScriptedPsu psu("");
  point_psu_at(psu.port());
  const auto start = Clock::now();
  EXPECT_EQ(connect_psu(psu_host, psu_port), 0);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(elapsed, scaled_ms(500));
  EXPECT_LT(elapsed, 5000);
  EXPECT_EQ(psu_link, nullptr);
  EXPECT_STREQ(psu_description, "No DP832 detected.");
  EXPECT_EQ(console, psu_connecting(psu.port()) +
                         "\a\n*IDN? \n WARNING: DP832 FAILED TO IDENTIFY. IS IP/PORT/INSTRUMENT OK?\n\n");
}

TEST_F(IdentificationTest, PsuOnARefusedPortIsReported) {
  RefusingPort refusing;
  point_psu_at(refusing.port());
  EXPECT_EQ(connect_psu(psu_host, psu_port), 0);
  EXPECT_EQ(psu_link, nullptr);
  EXPECT_STREQ(psu_description, "No DP832 detected.");
  EXPECT_EQ(console, psu_connecting(refusing.port()) +
                         "\n\aWARNING: DP832 FAILED TO CONNECT. ARE IP/PORT/INSTRUMENT SETTINGS CORRECT?\n");
}
