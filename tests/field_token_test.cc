// FieldParser::token: how a settings line splits into name and value.
#include <gtest/gtest.h>

#include <string>

#include "console/field_parser.h"

namespace {

struct TokenResult {
  int position;
  std::string text;
};

TokenResult token_of(const std::string& line, int index, int out_size = 256) {
  FieldParser parser;
  std::string out(static_cast<std::size_t>(out_size) + 8, '#');  // '#' marks bytes never written
  TokenResult r;
  r.position = parser.token(line.c_str(), out.data(), index, out_size);
  r.text = out.c_str();
  EXPECT_EQ(out.substr(static_cast<std::size_t>(out_size)), std::string(8, '#')) << "wrote past out_size";
  return r;
}

}  // namespace

TEST(FieldToken, BlanksCommasAndPositions) {
  EXPECT_EQ(token_of("DMM_IP    172.16.0.133\n", 0).text, "DMM_IP");
  EXPECT_EQ(token_of("DMM_IP    172.16.0.133\n", 0).position, 6);
  EXPECT_EQ(token_of("DMM_IP    172.16.0.133\n", 1).text, "172.16.0.133");
  EXPECT_EQ(token_of("DMM_IP    172.16.0.133\n", 1).position, 22);
  EXPECT_EQ(token_of("DMM_IP    172.16.0.133\n", 2).position, -1);
  EXPECT_EQ(token_of("DMM_IP    172.16.0.133\n", 2).text, "");

  // Leading blanks and tabs, a comma as the separator, a blank before and after a comma.
  EXPECT_EQ(token_of(" \t DMM_Port 5024", 0).text, "DMM_Port");
  EXPECT_EQ(token_of(" \t DMM_Port 5024", 1).text, "5024");
  EXPECT_EQ(token_of("DMM_Port,5024\r\n", 1).text, "5024");
  // A gap is blanks then at most one comma: a blank after the comma starts an empty token.
  EXPECT_EQ(token_of("DMM_Port ,5024", 1).text, "5024");
  EXPECT_EQ(token_of("DMM_Port , 5024", 1).text, "");
  EXPECT_EQ(token_of("DMM_Port , 5024", 1).position, 10);

  // Two commas enclose an empty token; the one after it is the next.
  EXPECT_EQ(token_of("a,,b", 1).text, "");
  EXPECT_EQ(token_of("a,,b", 1).position, 2);
  EXPECT_EQ(token_of("a,,b", 2).text, "b");

  // An equals sign is a token of its own.
  EXPECT_EQ(token_of("DMM_IP = 127.0.0.1", 1).text, "=");
  EXPECT_EQ(token_of("DMM_IP = 127.0.0.1", 2).text, "127.0.0.1");

  // Empty and blank lines have no token at all.
  EXPECT_EQ(token_of("", 0).position, -1);
  EXPECT_EQ(token_of(" \t\r\n", 0).position, -1);
  EXPECT_EQ(token_of("name", 1).position, -1);
}

TEST(FieldToken, Quotes) {
  const std::string stamp = "Last_Run_Time    \"12/31/2026 23:59:58\"\n";
  EXPECT_EQ(token_of(stamp, 1).text, "12/31/2026 23:59:58");
  EXPECT_EQ(token_of(stamp, 1).position, 37);  // the closing quote
  EXPECT_EQ(token_of(stamp, 2).position, -1);

  // Unquoted, the space ends the value.
  EXPECT_EQ(token_of("Last_Run_Time    12/31/2026 23:59:58\n", 1).text, "12/31/2026");

  EXPECT_EQ(token_of("k 'a, b' c", 1).text, "a, b");
  EXPECT_EQ(token_of("k 'a, b' c", 2).text, "c");
  EXPECT_EQ(token_of("k \"it's\"", 1).text, "it's");
  EXPECT_EQ(token_of("k 'say \"hi\"'", 1).text, "say \"hi\"");

  // Adjacent quotes give an empty token.
  EXPECT_EQ(token_of("k \"\" next", 1).text, "");
  EXPECT_EQ(token_of("k \"\" next", 1).position, 3);
  EXPECT_EQ(token_of("k \"\" next", 2).text, "next");

  // A missing closing quote runs to the end of the line and takes its newline.
  EXPECT_EQ(token_of("k \"open value\n", 1).text, "open value\n");
  EXPECT_EQ(token_of("k \"open value\n", 1).position, 14);
  EXPECT_EQ(token_of("k \"open value\n", 2).position, -1);
}

TEST(FieldToken, HighBytesAndControlCharactersSeparate) {
  EXPECT_EQ(token_of("name\xA0value", 0).text, "name");
  EXPECT_EQ(token_of("name\xA0value", 1).text, "value");
  EXPECT_EQ(token_of("\xC3\xA9t\xC3\xA9 x", 0).text, "t");
  EXPECT_EQ(token_of("a\x01" "b\x1F" "c", 2).text, "c");
  EXPECT_EQ(token_of("a\x7F" "b", 0).text, "a\x7F" "b");  // 127 is no separator
}

TEST(FieldToken, OutputBoundedByOutSize) {
  // Cut to out_size - 1 characters; the position does not depend on the room.
  EXPECT_EQ(token_of("name 0123456789", 1, 5).text, "0123");
  EXPECT_EQ(token_of("name 0123456789", 1, 5).position, 15);
  EXPECT_EQ(token_of("name \"0123456789\"", 1, 5).text, "0123");
  EXPECT_EQ(token_of("name 0123456789", 1, 1).text, "");
  EXPECT_EQ(token_of(std::string(1000, 'x'), 0, 254).text, std::string(253, 'x'));

  FieldParser parser;
  char untouched = '#';
  EXPECT_EQ(parser.token("a b", &untouched, 1, 0), 3);
  EXPECT_EQ(untouched, '#');
  char out[8] = "#";
  EXPECT_EQ(parser.token(nullptr, out, 0, sizeof out), -1);
  EXPECT_STREQ(out, "");
}
