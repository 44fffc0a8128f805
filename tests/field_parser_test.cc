// FieldParser: identification replies split into fields, settings lines into tokens.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/field_parser.h"

namespace {

constexpr int ANY = -99;  // the position is not checked

struct Expected {
  int position;
  std::string text;
};

// Runs field() or token() into an output of out_size bytes followed by guard bytes that must stay untouched.
template <typename Call>
Expected run_into(int out_size, Call call) {
  std::string out(static_cast<std::size_t>(out_size) + 8, '#');
  Expected r{call(out.data()), ""};
  r.text = out.c_str();
  EXPECT_EQ(out.substr(static_cast<std::size_t>(out_size)), std::string(8, '#')) << "wrote past out_size";
  return r;
}

struct FieldCase {
  std::string text;
  int index;
  std::string field;
  int position = ANY;
  int max_len = 0;
  int out_size = 64;
};

const std::string REPLY = "\nACME,DMM9,SN123,1.0\r";  // led by the line feed left from the line before
const std::string LONG(200, 'L');

const FieldCase FIELDS[] = {
    {REPLY, 0, "ACME", 5}, {REPLY, 1, "DMM9"}, {REPLY, 2, "SN123"},
    {REPLY, 3, "1.0\r", static_cast<int>(REPLY.size())},  // the last field keeps the terminator
    // A missing field: -1 and an empty output.
    {"ACME,DMM9\r", 1, "DMM9\r"}, {"ACME,DMM9\r", 2, "", -1}, {"", 0, "", -1}, {" , ,\r\n", 0, "", -1},
    // Empty fields are passed over; an unquoted field keeps its inner spaces, not its leading ones.
    {"A,,C", 0, "A"}, {"A,,C", 1, "C"}, {"A,,C", 2, "C"}, {"A,,C", 3, "", -1}, {"A,  B C ,D", 1, "B C "},
    // Quoted fields keep their commas; the position is just past the closing quote.
    {"\"X, Y\",Z", 0, "X, Y", 6}, {"\"X, Y\",Z", 1, "Z"}, {"'X, Y',Z", 0, "X, Y"}, {"'X, Y',Z", 1, "Z"},
    {"A,\"B,C\",D", 2, "D"},
    // A missing closing quote ends at the end of the text, never past it.
    {"\"ABC", 0, "ABC", 4}, {"\"AB,C", 1, "", -1}, {"X,'AB", 1, "AB"}, {"X,'AB", 2, "", -1},
    // Bytes from 128 up separate only in front of a field.
    {"\xB5\xB5V,W", 0, "V"}, {"A\xB5\xC2Z,W", 0, "A\xB5\xC2Z"}, {"A,\xC2\xB0" "C", 1, "C"},
    // Copies bounded by max_len and out_size.
    {LONG + ",B", 0, std::string(63, 'L')}, {LONG + ",B", 0, std::string(63, 'L'), ANY, 63},
    {LONG + ",B", 0, std::string(63, 'L'), ANY, 500}, {LONG + ",B", 0, "LLLLL", ANY, 5},
    {"\"" + LONG + "\",B", 0, std::string(15, 'L'), ANY, 0, 16}, {"\"" + LONG + "\",B", 0, "LLL", ANY, 3},
    {LONG + ",B", 1, "B"}, {"ABC", 0, "", ANY, 0, 1},
};

struct TokenCase {
  std::string line;
  int index;
  std::string token;
  int position = ANY;
  int out_size = 256;
};

const std::string IP_LINE = "DMM_IP    172.16.0.133\n";
const std::string STAMP_LINE = "Last_Run_Time    \"12/31/2026 23:59:58\"\n";

const TokenCase TOKENS[] = {
    {IP_LINE, 0, "DMM_IP", 6}, {IP_LINE, 1, "172.16.0.133", 22}, {IP_LINE, 2, "", -1},
    // Leading blanks and tabs, a comma as the separator; a gap is blanks then at most one comma, so a
    // blank after the comma starts an empty token.
    {" \t DMM_Port 5024", 0, "DMM_Port"}, {" \t DMM_Port 5024", 1, "5024"}, {"DMM_Port,5024\r\n", 1, "5024"},
    {"DMM_Port ,5024", 1, "5024"}, {"DMM_Port , 5024", 1, "", 10},
    // Two commas enclose an empty token; an equals sign is a token of its own.
    {"a,,b", 1, "", 2}, {"a,,b", 2, "b"}, {"DMM_IP = 127.0.0.1", 1, "="}, {"DMM_IP = 127.0.0.1", 2, "127.0.0.1"},
    // Empty and blank lines have no token at all.
    {"", 0, "", -1}, {" \t\r\n", 0, "", -1}, {"name", 1, "", -1},
    // Quotes: the position is the closing quote's; unquoted, the space ends the value.
    {STAMP_LINE, 1, "12/31/2026 23:59:58", 37}, {STAMP_LINE, 2, "", -1},
    {"Last_Run_Time    12/31/2026 23:59:58\n", 1, "12/31/2026"},
    {"k 'a, b' c", 1, "a, b"}, {"k 'a, b' c", 2, "c"}, {"k \"it's\"", 1, "it's"},
    {"k 'say \"hi\"'", 1, "say \"hi\""},
    {"k \"\" next", 1, "", 3}, {"k \"\" next", 2, "next"},  // adjacent quotes: an empty token
    // A missing closing quote runs to the end of the line and takes its newline.
    {"k \"open value\n", 1, "open value\n", 14}, {"k \"open value\n", 2, "", -1},
    // Bytes from 128 up and control characters separate; 127 does not.
    {"name\xA0value", 0, "name"}, {"name\xA0value", 1, "value"}, {"\xC3\xA9t\xC3\xA9 x", 0, "t"},
    {"a\x01" "b\x1F" "c", 2, "c"}, {"a\x7F" "b", 0, "a\x7F" "b"},
    // Cut to out_size - 1 characters; the position does not depend on the room.
    {"name 0123456789", 1, "0123", 15, 5}, {"name \"0123456789\"", 1, "0123", ANY, 5},
    {"name 0123456789", 1, "", ANY, 1}, {std::string(1000, 'x'), 0, std::string(253, 'x'), ANY, 254},
};

}  // namespace

TEST(FieldParser, FieldsFromText) {
  FieldParser parser;
  for (const FieldCase& c : FIELDS) {
    SCOPED_TRACE(testing::PrintToString(c.text.substr(0, 24)) + " field " + std::to_string(c.index));
    Expected got = run_into(c.out_size, [&](char* out) {
      return parser.field(c.text.c_str(), out, c.index, c.max_len, c.out_size);
    });
    EXPECT_EQ(got.text, c.field);
    if (c.position != ANY) { EXPECT_EQ(got.position, c.position); }
    EXPECT_EQ(got.position == -1, c.position == -1);
  }
}

TEST(FieldParser, TokensFromALine) {
  FieldParser parser;
  for (const TokenCase& c : TOKENS) {
    SCOPED_TRACE(testing::PrintToString(c.line.substr(0, 24)) + " token " + std::to_string(c.index));
    Expected got =
        run_into(c.out_size, [&](char* out) { return parser.token(c.line.c_str(), out, c.index, c.out_size); });
    EXPECT_EQ(got.text, c.token);
    if (c.position != ANY) { EXPECT_EQ(got.position, c.position); }
    EXPECT_EQ(got.position == -1, c.position == -1);
  }
}

TEST(FieldParser, NoOutputRoomOrNoTextIsRefused) {
  FieldParser parser;
  char out[4] = "xyz";
  EXPECT_EQ(parser.field("ABC", out, 0, 0, 0), -1);
  EXPECT_STREQ(out, "xyz");
  EXPECT_EQ(parser.field(nullptr, out, 0, 0, 4), -1);
  EXPECT_STREQ(out, "");
  char untouched = '#';
  EXPECT_EQ(parser.token("a b", &untouched, 1, 0), 3);  // the position even without room
  EXPECT_EQ(untouched, '#');
  std::strcpy(out, "#");
  EXPECT_EQ(parser.token(nullptr, out, 0, sizeof out), -1);
  EXPECT_STREQ(out, "");
}

TEST(FieldParser, SeparatorsAreBlanksControlsCommasAndHighBytes) {
  FieldParser parser;
  using Codes = std::initializer_list<int>;
  for (int ch : Codes{' ', '\r', '\n', 0, ',', 0xB5, -75, 0x80, 0xFF}) EXPECT_EQ(parser.is_separator(ch), 1) << ch;
  for (int ch : Codes{'!', 'A', '"', 0x7F}) EXPECT_EQ(parser.is_separator(ch), 0) << ch;
}
