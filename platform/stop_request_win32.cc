// Stop requests on Windows: the console control handler runs on a thread of its own; it sets a flag.
#include <windows.h>

#include "platform/raw_keys.h"
#include "platform/stop_request.h"

namespace {

volatile LONG program_finished = 0;

// The longest a close waits for the program's clean-up; Windows ends the process after about 5 s.
constexpr int CLOSE_WAIT_MS = 4500;
constexpr int CLOSE_SLICE_MS = 50;

BOOL WINAPI on_control(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stop_interrupts = 1;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this handler returns: give the main thread time to switch the output
      // off and save the settings first.
      stop_terminate = 1;
      for (int waited = 0; waited < CLOSE_WAIT_MS && program_finished == 0; waited += CLOSE_SLICE_MS)
        Sleep(CLOSE_SLICE_MS);
      return TRUE;
    default:
      return FALSE;
  }
}

// Waits for one byte of standard input (a key, a line on a console) or its end, then asks to stop.
DWORD WINAPI watch_input(LPVOID) {
  char byte = 0;
  DWORD count = 0;
  ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr);
  stop_interrupts = 1;
  return 0;
}

}  // namespace

void stop_on_console_input() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) == FILE_TYPE_DISK) return;
  // A console in line mode would hand the reader nothing before Enter.
  if (raw_keys_single_key_mode()) FlushConsoleInputBuffer(input);
  const HANDLE thread = CreateThread(nullptr, 0, watch_input, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

void stop_handlers_install() {
  static int installed = 0;
  if (installed) return;
  installed = 1;
  SetConsoleCtrlHandler(on_control, TRUE);
}

void stop_program_finished() { InterlockedExchange(&program_finished, 1); }

void stop_suspend_now() {}
