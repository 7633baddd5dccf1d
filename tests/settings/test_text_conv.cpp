// The one integer parser and hex-digit value every layer uses, and the byte
// text conversions of the settings store and the windows.

#include <gtest/gtest.h>

#include "settings/QtBytes.h"
#include "settings/TextConv.h"

namespace qnb::test {
namespace {

TEST(TextConv, TryStrToIntTakesOnlyASignAndDigitsWithin32Bits) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"0", true, 0},           {"110", true, 110},
      {"+7", true, 7},          {"-7", true, -7},
      {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0}, {"-2147483649", false, 0},
      {"", false, 0},           {"+", false, 0},
      {"-", false, 0},          {"+-5", false, 0},
      {" 5", false, 0},         {"5 ", false, 0},
      {"0x10", false, 0},       {"12a", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 12345) << c.text;
  }
}

TEST(TextConv, HexDigitValue) {
  const std::string digits = "0123456789abcdefABCDEF";
  const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexDigitValue(digits[i]), values[i]) << digits[i];
  for (char c : std::string("gG/:@`\x80 "))
    EXPECT_EQ(HexDigitValue(c), -1) << int(c);
}

TEST(TextConv, BytesAsQtText) {
  struct Case {
    std::string bytes;
    QString text;
    std::string back;
  } cases[] = {
      {"plain", "plain", "plain"},
      {"Z\xC3\xBC" "rich", QString::fromUtf8("Z\xC3\xBC" "rich"), "Z\xC3\xBC" "rich"},
      // Not UTF-8: a character per byte, and UTF-8 on the way back.
      {"Z\xFC" "rich", QString::fromLatin1("Z\xFC" "rich"), "Z\xC3\xBC" "rich"},
      {std::string("\xC3", 1), QString::fromLatin1("\xC3"), "\xC3\x83"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToQ(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(FromQ(ToQ(c.bytes)), c.back) << c.bytes;
  }
}

}  // namespace
}  // namespace qnb::test
