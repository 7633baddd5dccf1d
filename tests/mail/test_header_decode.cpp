#include <gtest/gtest.h>

#include <string>

#include "analysis/MailBase.h"

namespace qnb::test {
namespace {

using namespace std::string_literals;

struct TDecodeCase {
  const char* what;
  std::string in;
  std::string out;
};

void PrintTo(const TDecodeCase& c, std::ostream* os) { *os << c.what; }

class VrDecodeHeaderCases : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(VrDecodeHeaderCases, Decodes) {
  const auto& c = GetParam();
  EXPECT_EQ(VrDecodeHeader(c.in), c.out) << c.what;
}

// base64 of "z=?utf-8?Q?x_y?=": the decoded text holds a word of its own
const std::string kNested = "=?utf-8?B?ej0/dXRmLTg/UT94X3k/PQ==?=";

INSTANTIATE_TEST_SUITE_P(
    Words, VrDecodeHeaderCases,
    ::testing::Values(
        TDecodeCase{"utf-8 base64 stays bytes, pad NUL removed", "=?utf-8?B?w6k=?=", "\xC3\xA9"},
        TDecodeCase{"Q with hex byte", "=?iso-8859-1?Q?caf=E9?=", "caf\xE9"},
        TDecodeCase{"Q underscore is a blank", "=?iso-8859-1?Q?a_b_c?=", "a b c"},
        TDecodeCase{"two Q words each decode to their own text",
                    "Re: =?iso-8859-1?Q?caf=E9?= und =?iso-8859-1?Q?th=E9?=!", "Re: caf\xE9 und th\xE9!"},
        TDecodeCase{"blank between adjacent words stays", "=?utf-8?Q?a?= =?utf-8?Q?b?=", "a b"},
        TDecodeCase{"two-letter charset is not a word", "=?xx?Q?a?=", "=?xx?Q?a?="},
        TDecodeCase{"two-letter charset completed by later marks", "=?xx?Q?a? b?c?=", "a? b?c"},
        TDecodeCase{"unknown encoding letter is base64", "=?utf-8?X?w6k=?=", "\xC3\xA9"},
        TDecodeCase{"lower-case letters and markers", "=?UTF-8?q?=c3=a9?= / =?Utf-8?b?w6k=?=", "\xC3\xA9 / \xC3\xA9"},
        TDecodeCase{"base64 without padding consumes the closing marks", "=?utf-8?B?w6k?=", "\xC3\xA9"},
        TDecodeCase{"'=' too near the end is copied", "=?iso-8859-1?Q?ab=4?=", "ab=4"},
        TDecodeCase{"empty Q payload", "x=?iso-8859-1?Q?" "?=y", "xy"},
        TDecodeCase{"incomplete words stay", "=?utf-8?Q?abc and =? end", "=?utf-8?Q?abc and =? end"},
        TDecodeCase{"no word: only NULs removed", "a\0b\0"s, "ab"},
        TDecodeCase{"NUL decoded from Q is removed", "=?utf-8?Q?a=00b?=", "ab"},
        TDecodeCase{"decoded text holding a word is decoded again", "[" + kNested + "]", "[zx y]"},
        TDecodeCase{"ISO-2022-JP goes to Shift_JIS", "=?ISO-2022-JP?B?GyRCJEgkMxsoQg==?=", "\x82\xC6\x82\xB1"},
        TDecodeCase{"scan goes on one past a word that decoded to nothing",
                    "=?utf-8?B?AAAA?==?utf-8?Q?x?=", "=?utf-8?Q?x?="}));

TEST(VrDecodeHeader, BadHexInQWordIsAConversionError) {
  EXPECT_THROW(VrDecodeHeader("=?iso-8859-1?Q?caf=ZZ?="), EConvertError);
  EXPECT_THROW(VrDecodeHeader("ok =?utf-8?Q?=4?x?="), EConvertError);
  // The same characters in a base64 word are no error.
  EXPECT_EQ(VrDecodeHeader("=?utf-8?B?=ZZ?="), "\x01\x96@");
}

TEST(VrDecodeHeader, ManyNearMissWordsStayUnchanged) {
  // Every "=?" starts a candidate whose closing "?=" is missing.
  std::string s;
  for (int i = 0; i < 20000; ++i) s += "=?abc?Q?x ";
  EXPECT_EQ(VrDecodeHeader(s), s);
  std::string words;
  for (int i = 0; i < 20000; ++i) words += "=?utf-8?Q?a?=";
  EXPECT_EQ(VrDecodeHeader(words), std::string(20000, 'a'));
}

TEST(IsoWindowsWords, OnlyIsoAndWindowsCharsetsAreDecoded) {
  EXPECT_EQ(DecodeIsoWindowsWords("=?utf-8?Q?x?= =?iso-8859-1?Q?caf=E9?= =?Windows-1252?Q?=80?="),
            "=?utf-8?Q?x?= caf\xE9 \x80");
  EXPECT_EQ(DecodeIsoWindowsWords("=?iso-2022-jp?B?GyRCJEgbKEI=?="), "\x82\xC6");
  // NUL bytes go only at the end, so a NUL decoded into the value is gone too.
  EXPECT_EQ(DecodeIsoWindowsWords("=?ISO-8859-1?B?QUI=?="), "AB");
  EXPECT_THROW(DecodeIsoWindowsWords("=?ISO-8859-1?Q?=G0?="), EConvertError);
  EXPECT_EQ(DecodeIsoWindowsWords("=?utf-8?Q?=G0?="), "=?utf-8?Q?=G0?=");
}

TEST(PosStartAt, OneBasedSearchFromOffset) {
  struct {
    const char* sub;
    const char* s;
    int offset;
    bool ignoreCase;
    int expected;
  } cases[] = {
      {"b", "abcb", 0, false, 2},  {"b", "abcb", 1, false, 2}, {"b", "abcb", 3, false, 4},
      {"b", "abcb", 4, false, 4},  {"b", "abcb", 5, false, 0}, {"B", "abcb", 1, false, 0},
      {"B", "abcb", 3, true, 4},   {"cB", "ABCB", 0, true, 3}, {"", "abc", 1, false, 0},
      {"abcd", "abc", 0, false, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PosStartAt(c.sub, c.s, c.offset, c.ignoreCase), c.expected) << c.sub << " in " << c.s << " @" << c.offset;
}

TEST(B64, AlphabetIndexAndZeroOutside) {
  EXPECT_EQ(B64('A'), 0);
  EXPECT_EQ(B64('Z'), 25);
  EXPECT_EQ(B64('a'), 26);
  EXPECT_EQ(B64('z'), 51);
  EXPECT_EQ(B64('0'), 52);
  EXPECT_EQ(B64('9'), 61);
  EXPECT_EQ(B64('+'), 62);
  EXPECT_EQ(B64('/'), 63);
  for (char c : {'=', '-', '_', ' ', '\0', '\xC3'}) EXPECT_EQ(B64(c), 0) << int(c);
}

TEST(Decode2022JP, ModesAndShiftJisArithmetic) {
  struct {
    const char* what;
    std::string in;
    std::string out;
  } cases[] = {
      {"single-byte text is copied", "abc", "abc"},
      {"hiragana to", "\x1b$B$H\x1b(B", "\x82\xC6"},
      {"katakana MU: odd j1, j2 >= 96", "\x1b$B%`\x1b(B", "\x83\x80"},
      {"kanji row above 94", "\x1b$B`!\x1b(B", "\xE0\x9F"},
      {"back to single-byte after (B", "\x1b$B$H\x1b(Bx", "\x82\xC6x"},
      {"unknown escape keeps the mode", "\x1b$B$H\x1b(J$H", "\x82\xC6\x82\xC6"},
      {"escape near the end dropped alone", "ab\x1b$", "ab$"},
      {"lone last double byte dropped", "\x1b$B$H$", "\x82\xC6"},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode2022JP(c.in), c.out) << c.what;
}

}  // namespace
}  // namespace qnb::test
