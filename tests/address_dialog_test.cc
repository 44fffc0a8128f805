// The address dialogs of keys M and D in-process against the simulated bench: the texts, the port's
// number reading, leaving with Esc or without confirming, and the fixed order after confirmation.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/trimora.h"
#include "tests/loopback_peer.h"
#include "tests/program_fixture.h"
#include "tests/settings_checks.h"

namespace {

const std::string DMM_TITLE = "Configure DMM IP Address and Port. The current settings are:\n\n";
const std::string PSU_TITLE = "Configure DP832 IP Address and Port. The current settings are:\n\n";

std::string dialog_opening(const std::string& title, const std::string& host, int port) {
  return title + "IP address or hostname: " + host + "\nService Port: " + std::to_string(port) +
         "\n\nNew IP Address ([ESC] to quit): >" + host;
}

std::string proposed(const std::string& host, const std::string& port) {
  return "\n\nProposed new values:\n\nIP Address or Hostname: " + host + "\nService Port: " + port +
         "\n\nAre these correct?";
}

std::string erased_on_screen(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "\b \b";
  return text;
}

class AddressDialogTest : public ProgramTest {
 protected:
  int dmm_at = 0;  // the bench's ports
  int psu_at = 0;

  AddressDialogTest() {
    scale = RELIABLE_TIME_SCALE;
    options.dmm_idn = "Maker,DMM-1,SN42,1.0";
  }

  // The program's state at the menu: settings loaded from a file pointing at the bench, both on line.
  void start(int dmm_port_in_file = 0, int psu_port_in_file = 0) {
    start_bench();
    dmm_at = bench->dmm_port();
    psu_at = bench->psu_port();
    write_loopback_settings(dmm_port_in_file != 0 ? dmm_port_in_file : dmm_at,
                            psu_port_in_file != 0 ? psu_port_in_file : psu_at);
    settings.load(console);
    EXPECT_EQ(dmm().connect(console, settings.dmm.host, settings.dmm.port).ok(), dmm_port_in_file == 0) << out;
    EXPECT_EQ(psu().connect(console, settings.psu.host, settings.psu.port).ok(), psu_port_in_file == 0) << out;
    bench->clear_received();
    out.clear();
  }

  std::string settings_now() const { return mask_stamps(read_file(SETTINGS_FILE_NAME)); }
};

// Enter, Enter and Y (or y) reconnect each instrument at the same address and leave the other's link alone.
TEST_F(AddressDialogTest, EnterEnterYesReconnectsAtTheSameAddress) {
  start();
  keys("\r\rY");
  set_dmm_address(*instruments, settings);
  std::string p = std::to_string(dmm_at);
  EXPECT_EQ(out, dialog_opening(DMM_TITLE, "127.0.0.1", dmm_at) + "\r\nNew Service Port ([ESC] to quit): >" + p +
                     "\r\n" + proposed("127.0.0.1", p) + "Y\n\n" + "Connecting to DMM on IP 127.0.0.1, Port " + p +
                     "...OK!\nChecking DMM read data......OK!\n\n");
  ASSERT_NE(dmm().link(), nullptr) << out;
  EXPECT_EQ(dmm().link()->is_connected(), 1);
  EXPECT_EQ(bench->dmm_connections(), 2);
  EXPECT_EQ(bench->psu_connections(), 1);
  EXPECT_EQ(settings_now(), saved_settings("127.0.0.1", dmm_at, "127.0.0.1", psu_at));

  Transport* dmm_before = dmm().link();
  out.clear();
  keys("\r\ry");
  set_psu_address(*instruments, settings);
  p = std::to_string(psu_at);
  EXPECT_EQ(out, dialog_opening(PSU_TITLE, "127.0.0.1", psu_at) + "\r\nNew Service Port ([ESC] to quit): >" + p +
                     "\r\n" + proposed("127.0.0.1", p) + "y\n\n" + "Connecting to DP832 on IP 127.0.0.1, Port " + p +
                     "...OK!\n\n");
  ASSERT_NE(psu().link(), nullptr) << out;
  EXPECT_EQ(psu().link()->is_connected(), 1);
  EXPECT_EQ(bench->psu_connections(), 2);
  EXPECT_EQ(dmm().link(), dmm_before);
  EXPECT_EQ(settings_now(), saved_settings("127.0.0.1", dmm_at, "127.0.0.1", psu_at));
}

// The port is read as its leading number, clamped to int; "P" stands for the bench's port. Confirmed
// (Y), it is saved and connected to, and where nothing answers the DMM is then absent; declined (n, N),
// nothing changes.
struct PortCase {
  std::string typed;
  std::string proposed;
  char answer;
};

class PortTextTest : public AddressDialogTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortTextTest, IsReadAsItsLeadingNumber) {
  start();
  const std::string p = std::to_string(dmm_at);
  auto with_port = [&](std::string text) { return text[0] == 'P' ? p + text.substr(1) : text; };
  const std::string typed = with_port(GetParam().typed);
  const std::string number = with_port(GetParam().proposed);
  const char answer = GetParam().answer;
  const std::string before = read_file(SETTINGS_FILE_NAME);
  keys("\r" + std::string(p.size(), '\b') + typed + "\r" + answer);
  set_dmm_address(*instruments, settings);
  EXPECT_NE(out.find(erased_on_screen(p.size()) + typed + "\r\n" + proposed("127.0.0.1", number) + answer + "\n\n"),
            std::string::npos)
      << out;
  if (answer != 'Y') {
    EXPECT_EQ(settings.dmm.port, dmm_at);
    EXPECT_EQ(read_file(SETTINGS_FILE_NAME), before);
    return;
  }
  EXPECT_EQ(std::to_string(settings.dmm.port), number);
  EXPECT_EQ(settings_now(), saved_settings("127.0.0.1", settings.dmm.port, "127.0.0.1", psu_at));
  if (number == p) {
    ASSERT_NE(dmm().link(), nullptr) << out;
    EXPECT_EQ(bench->dmm_connections(), 2);
  } else {
    EXPECT_TRUE(out.ends_with("Connecting to DMM on IP 127.0.0.1, Port " + number +
                              "...\n\n\aERROR - Failed to connect to DMM!\n\n"))
        << out;
    EXPECT_EQ(dmm().link(), nullptr);
    EXPECT_EQ(dmm().description(), "No DMM detected.");
    EXPECT_EQ(bench->dmm_connections(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Ports, PortTextTest,
                         ::testing::Values(PortCase{"5024x", "5024", 'n'}, PortCase{"Px", "P", 'Y'},
                                           PortCase{"abc", "0", 'Y'}, PortCase{"99999999999", "2147483647", 'Y'},
                                           PortCase{"-99999999999", "-2147483648", 'N'}));

TEST_F(AddressDialogTest, EscapeLeavesEverythingAsItWasAndPrintsNothingMore) {
  start();
  Transport* link = dmm().link();
  std::string before = read_file(SETTINGS_FILE_NAME);
  std::string p = std::to_string(dmm_at);

  // Esc at the port prompt after the host was edited.
  keys(std::string(9, '\b') + "localhost\r\033");
  set_dmm_address(*instruments, settings);
  EXPECT_EQ(out, dialog_opening(DMM_TITLE, "127.0.0.1", dmm_at) + erased_on_screen(9) +
                     "localhost\r\nNew Service Port ([ESC] to quit): >" + p);

  // Esc at the host prompt after typing.
  out.clear();
  keys("xyz\033");
  set_dmm_address(*instruments, settings);
  EXPECT_EQ(out, dialog_opening(DMM_TITLE, "127.0.0.1", dmm_at) + "xyz");

  EXPECT_EQ(settings.dmm.host, "127.0.0.1");
  EXPECT_EQ(settings.dmm.port, dmm_at);
  EXPECT_EQ(dmm().link(), link);
  EXPECT_EQ(dmm().link()->is_connected(), 1);
  EXPECT_EQ(bench->dmm_connections(), 1);
  EXPECT_EQ(read_file(SETTINGS_FILE_NAME), before);
}

TEST_F(AddressDialogTest, AnyKeyButYDeclinesAndWritesNoFile) {
  start();
  Transport* link = psu().link();
  std::filesystem::remove(SETTINGS_FILE_NAME);
  for (const char* answer : {"N", "\r", "x"}) {
    SCOPED_TRACE(answer);
    out.clear();
    keys(std::string(9, '\b') + "localhost\r" + std::string(std::to_string(psu_at).size(), '\b') + "1\r" + answer);
    set_psu_address(*instruments, settings);
    EXPECT_TRUE(out.ends_with(proposed("localhost", "1") + answer + "\n\n")) << out;
  }
  EXPECT_FALSE(std::filesystem::exists(SETTINGS_FILE_NAME));
  EXPECT_EQ(settings.psu.host, "127.0.0.1");
  EXPECT_EQ(settings.psu.port, psu_at);
  EXPECT_EQ(psu().link(), link);
  EXPECT_EQ(bench->psu_connections(), 1);
}

TEST_F(AddressDialogTest, ConfirmingWhileTheInstrumentIsAbsentConnects) {
  RefusingPort refusing;
  start(refusing.port(), 0);
  ASSERT_EQ(dmm().link(), nullptr);
  std::string old_port = std::to_string(refusing.port());
  std::string p = std::to_string(dmm_at);
  keys("\r" + std::string(old_port.size(), '\b') + p + "\rY");
  set_dmm_address(*instruments, settings);
  ASSERT_NE(dmm().link(), nullptr) << out;
  EXPECT_EQ(dmm().link()->is_connected(), 1);
  EXPECT_EQ(dmm().description(), "Maker DMM-1 (S/N SN42 ) at 127.0.0.1:" + p);
  EXPECT_EQ(settings_now(), saved_settings("127.0.0.1", dmm_at, "127.0.0.1", psu_at));
}

TEST_F(AddressDialogTest, HostIsLimitedToSixtyThreeCharacters) {
  start();
  keys(std::string(60, 'h') + "\r\rn");
  set_dmm_address(*instruments, settings);
  std::string host = "127.0.0.1" + std::string(54, 'h');
  EXPECT_EQ(std::count(out.begin(), out.end(), '\a'), 6);
  EXPECT_NE(out.find(proposed(host, std::to_string(dmm_at))), std::string::npos) << out;
}

// Through the menu: the new address is on disk at once, and the menu then reports the DMM absent.
TEST_F(AddressDialogTest, ConfirmingAnAddressWhereNothingAnswersLeavesTheInstrumentAbsent) {
  start_bench();
  RefusingPort refusing;
  std::string p = std::to_string(bench->dmm_port());
  std::string q = std::to_string(refusing.port());
  keys("m\r" + std::string(p.size(), '\b') + q + "\ry" + "a" + "x");
  std::string file_after_dialog;
  std::size_t keys_before_a = 1 + 1 + p.size() + q.size() + 2;
  before_key[static_cast<int>(keys_before_a)] = [&]() { file_after_dialog = settings_now(); };
  ASSERT_EQ(trimora_main(env, settings), 0);
  EXPECT_EQ(file_after_dialog, saved_settings("127.0.0.1", refusing.port(), "127.0.0.1", bench->psu_port()));
  std::string text = mask_stamps(out);
  EXPECT_NE(text.find("y\n\nConnecting to DMM on IP 127.0.0.1, Port " + q +
                      "...\n\n\aERROR - Failed to connect to DMM!\n\n====="),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("( <stamp> )\nNo DMM detected.\n"), std::string::npos);
  EXPECT_NE(text.find("Command >A\n\a\nNo active DMM connection.\n"), std::string::npos) << text;
  EXPECT_EQ(bench->dmm_connections(), 1);  // A did not reach the bench's DMM again
}

}  // namespace
