// FieldParser::field and is_separator: how identification replies split into fields.
#include <gtest/gtest.h>

#include <string>

#include "console/field_parser.h"

namespace {

struct FieldResult {
  int position;
  std::string text;
};

// Runs field() into an output of out_size bytes followed by guard bytes that must stay untouched.
FieldResult field_of(const std::string& text, int index, int max_len = 0, int out_size = 64) {
  FieldParser parser;
  std::string out(static_cast<std::size_t>(out_size) + 8, '#');
  FieldResult r;
  r.position = parser.field(text.c_str(), out.data(), index, max_len, out_size);
  r.text = out.c_str();
  EXPECT_EQ(out.substr(static_cast<std::size_t>(out_size)), std::string(8, '#')) << "wrote past out_size";
  return r;
}

}  // namespace

TEST(FieldParserField, IdentificationReplySplitsIntoFields) {
  // The DMM's reply starts with the line feed left over from the line before.
  const std::string reply = "\nACME,DMM9,SN123,1.0\r";
  EXPECT_EQ(field_of(reply, 0).text, "ACME");
  EXPECT_EQ(field_of(reply, 0).position, 5);
  EXPECT_EQ(field_of(reply, 1).text, "DMM9");
  EXPECT_EQ(field_of(reply, 2).text, "SN123");
  // The last field keeps the line's terminator.
  EXPECT_EQ(field_of(reply, 3).text, "1.0\r");
  EXPECT_EQ(field_of(reply, 3).position, static_cast<int>(reply.size()));
}

TEST(FieldParserField, MissingFieldsGiveMinusOneAndEmptyOut) {
  EXPECT_EQ(field_of("ACME,DMM9\r", 1).text, "DMM9\r");
  FieldResult missing = field_of("ACME,DMM9\r", 2);
  EXPECT_EQ(missing.position, -1);
  EXPECT_EQ(missing.text, "");
  EXPECT_EQ(field_of("", 0).position, -1);
  EXPECT_EQ(field_of(" , ,\r\n", 0).position, -1);
  EXPECT_EQ(field_of(" , ,\r\n", 0).text, "");
}

TEST(FieldParserField, EmptyFieldsArePassedOver) {
  EXPECT_EQ(field_of("A,,C", 0).text, "A");
  EXPECT_EQ(field_of("A,,C", 1).text, "C");
  EXPECT_EQ(field_of("A,,C", 2).text, "C");
  EXPECT_EQ(field_of("A,,C", 3).position, -1);
  // Inner spaces of an unquoted field stay; leading ones go.
  EXPECT_EQ(field_of("A,  B C ,D", 1).text, "B C ");
}

TEST(FieldParserField, QuotedFieldsKeepTheirCommas) {
  FieldResult first = field_of("\"X, Y\",Z", 0);
  EXPECT_EQ(first.text, "X, Y");
  EXPECT_EQ(first.position, 6);  // just past the closing quote
  EXPECT_EQ(field_of("\"X, Y\",Z", 1).text, "Z");
  EXPECT_EQ(field_of("'X, Y',Z", 0).text, "X, Y");
  EXPECT_EQ(field_of("'X, Y',Z", 1).text, "Z");
  EXPECT_EQ(field_of("A,\"B,C\",D", 2).text, "D");
}

TEST(FieldParserField, MissingClosingQuoteEndsAtTheEndOfTheText) {
  FieldResult open = field_of("\"ABC", 0);
  EXPECT_EQ(open.text, "ABC");
  EXPECT_EQ(open.position, 4);  // never past the end of the text
  EXPECT_EQ(field_of("\"AB,C", 1).position, -1);
  EXPECT_EQ(field_of("X,'AB", 1).text, "AB");
  EXPECT_EQ(field_of("X,'AB", 2).position, -1);
}

TEST(FieldParserField, HighBytesAreSeparatorsOnlyInFrontOfAField) {
  EXPECT_EQ(field_of("\xB5\xB5V,W", 0).text, "V");
  EXPECT_EQ(field_of("A\xB5\xC2Z,W", 0).text, "A\xB5\xC2Z");
  EXPECT_EQ(field_of("A,\xC2\xB0" "C", 1).text, "C");
}

TEST(FieldParserField, CopiesAreBoundedByMaxLenAndOutSize) {
  const std::string long_field(200, 'L');
  FieldResult cut = field_of(long_field + ",B", 0, 0, 64);
  EXPECT_EQ(cut.text, std::string(63, 'L'));
  EXPECT_EQ(field_of(long_field + ",B", 0, 63, 64).text, std::string(63, 'L'));
  EXPECT_EQ(field_of(long_field + ",B", 0, 500, 64).text, std::string(63, 'L'));
  EXPECT_EQ(field_of(long_field + ",B", 0, 5, 64).text, "LLLLL");
  EXPECT_EQ(field_of("\"" + long_field + "\",B", 0, 0, 16).text, std::string(15, 'L'));
  EXPECT_EQ(field_of("\"" + long_field + "\",B", 0, 3, 64).text, "LLL");
  EXPECT_EQ(field_of(long_field + ",B", 1, 0, 64).text, "B");
  EXPECT_EQ(field_of("ABC", 0, 0, 1).text, "");
}

TEST(FieldParserField, NoOutputRoomOrNoTextIsRefused) {
  FieldParser parser;
  char out[4] = "xyz";
  EXPECT_EQ(parser.field("ABC", out, 0, 0, 0), -1);
  EXPECT_STREQ(out, "xyz");
  EXPECT_EQ(parser.field(nullptr, out, 0, 0, 4), -1);
  EXPECT_STREQ(out, "");
}

TEST(FieldParserIsSeparator, BlanksControlsCommasAndHighBytes) {
  FieldParser parser;
  EXPECT_EQ(parser.is_separator(' '), 1);
  EXPECT_EQ(parser.is_separator('\r'), 1);
  EXPECT_EQ(parser.is_separator('\n'), 1);
  EXPECT_EQ(parser.is_separator(0), 1);
  EXPECT_EQ(parser.is_separator(','), 1);
  EXPECT_EQ(parser.is_separator(0xB5), 1);
  EXPECT_EQ(parser.is_separator(-75), 1);
  EXPECT_EQ(parser.is_separator(0x80), 1);
  EXPECT_EQ(parser.is_separator(0xFF), 1);
  EXPECT_EQ(parser.is_separator('!'), 0);
  EXPECT_EQ(parser.is_separator('A'), 0);
  EXPECT_EQ(parser.is_separator('"'), 0);
  EXPECT_EQ(parser.is_separator(0x7F), 0);
}
