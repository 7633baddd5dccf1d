#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "cli/Json.h"

namespace qnb::cli {
namespace {

TEST(Json, ByteStringsAsUtf8OrAsLatin1Characters) {
  struct Case { std::string bytes, json; };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\s\r\n\t", R"("q\"b\\s\r\n\t")"},
      {std::string("\x01\x7f", 2), R"("\u0001\u007F")"},
      {"gr\xC3\xBC\xC3\x9F", "\"gr\xC3\xBC\xC3\x9F\""},   // valid UTF-8 stays as it is
      {"gr\xFC\xDF", "\"gr\xC3\xBC\xC3\x9F\""},           // Latin-1 bytes become those characters
      {"\xE6\x97\xA5 \xFF", "\"\xC3\xA6\xC2\x97\xC2\xA5 \xC3\xBF\""},  // one bad byte: the whole string bytewise
      {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},   // encoded surrogate is not UTF-8
      {std::string("a\0b", 3), R"("a\u0000b")"},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.bytes), c.json);
}

TEST(Json, AByteThatNeedsEscapingIsFoundAtAnyPlaceOfALongText) {
  // Long texts are scanned several bytes at a time: the byte is put at every
  // place of the first words and the text must come out the same.
  struct Case { std::string byte, json; };
  const Case cases[] = {
      {"\"", "\\\""}, {"\\", "\\\\"}, {"\n", "\\n"}, {"\x1f", "\\u001F"}, {"\x7f", "\\u007F"},
      {std::string(1, '\0'), "\\u0000"}, {"\xC3\xBC", "\xC3\xBC"}, {"\xFC", "\xC3\xBC"},
  };
  const std::string plain = "0123456789abcdefghijklmnopqrstu~ ";
  for (const Case& c : cases)
    for (size_t at = 0; at <= plain.size(); ++at) {
      const std::string text = plain.substr(0, at) + c.byte + plain.substr(at);
      EXPECT_EQ(JsonString(text), '"' + plain.substr(0, at) + c.json + plain.substr(at) + '"') << at;
    }
  EXPECT_EQ(JsonString(plain), '"' + plain + '"');
}

TEST(Json, CurrencyWithFourDecimals) {
  EXPECT_EQ(JsonCurrency(123400), "\"12.3400\"");
  EXPECT_EQ(JsonCurrency(-5000), "\"-0.5000\"");
  EXPECT_EQ(JsonCurrency(0), "\"0.0000\"");
  EXPECT_EQ(JsonCurrency(std::numeric_limits<int64_t>::min()), "\"-922337203685477.5808\"");
}

TEST(Json, DateTimeText) {
  EXPECT_EQ(DateTimeText(0), "1899-12-30 00:00:00");
  EXPECT_EQ(DateTimeText(45000.5), "2023-03-15 12:00:00");
  EXPECT_EQ(DateTimeText(36526.75), "2000-01-01 18:00:00");
  EXPECT_EQ(DateTimeText(60.0), "1900-02-28 00:00:00");
  EXPECT_EQ(DateTimeText(61.0), "1900-03-01 00:00:00");
  EXPECT_EQ(DateTimeText(1.0 - 0.1 / 86400), "1899-12-31 00:00:00");  // rounds to the second
}

}  // namespace
}  // namespace qnb::cli
