// The terminal key decoder, bytes in and codes out: every case a typed byte string and the codes it
// gives, as text ("224 72"), with no more input to come and (where it matters) while more may come;
// "wait" at the end when the decoder holds bytes back for more input.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/terminal_keys.h"

namespace {

// Decodes bytes key by key as the terminal reader does; more_may_come as it would be at their end.
std::string decode(const std::string& bytes, bool more_may_come) {
  std::string codes;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  int left = static_cast<int>(bytes.size());
  while (left > 0) {
    TerminalKey key = decode_terminal_key(p, left, more_may_come ? 1 : 0);
    if (!key.complete) return codes + (codes.empty() ? "" : " ") + "wait";
    if (key.used < 1 || key.used > left) return codes + " stuck";
    for (int i = 0; i < key.count; ++i) codes += (codes.empty() ? "" : " ") + std::to_string(key.codes[i]);
    p += key.used;
    left -= key.used;
  }
  return codes;
}

struct Case {
  const char* name;
  std::string bytes;
  const char* codes;    // with no more input to come
  const char* waiting = nullptr;  // while more may come, when checked
};

const std::string RUNAWAY = "\033[" + std::string(TERMINAL_SEQUENCE_MAX + 8, '1');

const Case CASES[] = {
    {"Letter", "a", "97", "97"},
    {"DelIsBackspace", "\x7f", "8"},
    {"Backspace", "\b", "8"},
    {"CarriageReturn", "\r", "13"},
    {"LineFeedIsEnter", "\n", "13"},
    {"ControlAndHighBytes", "\t\x01\xe9", "9 1 233"},
    {"NothingYet", "", "", ""},
    {"EscAlone", "\033", "27", "wait"},
    {"EscEsc", "\033\033", "27 27"},
    {"EscThenControlKey", "\033\r", "27 13"},
    {"ArrowsCsi", "\033[A\033[B\033[C\033[D", "224 72 224 80 224 77 224 75"},
    {"ArrowsSs3", "\033OA\033OB\033OC\033OD", "224 72 224 80 224 77 224 75"},
    {"HomeEveryForm", "\033[H\033OH\033[1~\033[7~", "224 71 224 71 224 71 224 71"},
    {"EndEveryForm", "\033[F\033OF\033[4~\033[8~", "224 79 224 79 224 79 224 79"},
    {"InsertDeletePages", "\033[2~\033[3~\033[5~\033[6~", "224 82 224 83 224 73 224 81"},
    {"ModifiersIgnored", "\033[1;5A\033[3;2~", "224 72 224 83"},
    {"KeypadEnter", "\033OM", "13"},
    {"F1ToF4Ss3", "\033OP\033OQ\033OR\033OS", "0 59 0 60 0 61 0 62"},
    {"F1ToF5Tilde", "\033[11~\033[12~\033[13~\033[14~\033[15~", "0 59 0 60 0 61 0 62 0 63"},
    {"F6ToF10", "\033[17~\033[18~\033[19~\033[20~\033[21~", "0 64 0 65 0 66 0 67 0 68"},
    {"F11F12", "\033[23~\033[24~", "224 133 224 134"},
    {"LinuxConsoleF1F5", "\033[[A\033[[E", "0 59 0 63"},
    {"ShiftTabDropped", "\033[Zq", "113"},
    {"NoSuchTildeKey", "\033[99~q", "113"},
    {"MouseReportDropped", "\033[<0;12;5Mq", "113"},
    {"TerminalAnswerDropped", "\033[?1;2cq", "113"},
    {"UnknownSs3Dropped", "\033Oxq", "113"},
    {"AltKeyDropped", "\033xq", "113"},
    {"UnknownLinuxConsoleKey", "\033[[Zq", "113"},
    // A sequence cut short waits while more may come, and is dropped when nothing more will.
    {"CutCsi", "\033[", "", "wait"},
    {"CutNumber", "\033[1", "", "wait"},
    {"CutParameter", "\033[1;", "", "wait"},
    {"CutSs3", "\033O", "", "wait"},
    {"CutLinuxConsole", "\033[[", "", "wait"},
    {"KeysBeforeACutSequence", "xy\033[", "120 121", "120 121 wait"},
    {"ControlKeyEndsASequence", "\033[1\r", "13"},
    {"EscEndsAnSs3", "\033O\033[A", "224 72"},
    // A runaway sequence is dropped in pieces instead of being waited on without end.
    {"RunawayDroppedInPieces", RUNAWAY, "49 49 49 49 49 49 49 49 49 49", "49 49 49 49 49 49 49 49 49 49"},
};

// ctest lists a case by its name rather than by its bytes.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class TerminalKeyDecoding : public testing::TestWithParam<Case> {};

TEST_P(TerminalKeyDecoding, GivesTheKeyCodes) {
  EXPECT_EQ(decode(GetParam().bytes, false), GetParam().codes);
  if (GetParam().waiting) {
    EXPECT_EQ(decode(GetParam().bytes, true), GetParam().waiting);
  }
}

INSTANTIATE_TEST_SUITE_P(Bytes, TerminalKeyDecoding, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
