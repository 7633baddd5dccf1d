// Country codes, name splitting, the integer conversion, the Internet date rule
// and the capacity of the order record's short texts.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "analysis/CountryCode.h"
#include "analysis/NameParser.h"
#include "analysis/OMAnalyze.h"

namespace qnb::test {
namespace {

TEST(CountryCodeTest, EmptyTablePassesEveryCountryUnchanged) {
  TCountryCode table;
  for (const char* country : {"Germany", "", "  Spain ", "Zo\xC3\xAB-land"})
    EXPECT_EQ(table.CountryToCode(country), country);
}

TEST(CountryCodeTest, LooksNamesUpWithoutRegardToCaseAndKeepsBlankCodesOut) {
  TCountryCode table;
  table.CountryList() = {"France", "Germany=DE", "austria= ", "Spain=ES", "germany=XX"};
  struct Case {
    const char* country;
    const char* code;
  } cases[] = {
      {"Germany", "DE"},   // first matching line wins
      {"GERMANY", "DE"},   // name compared without regard to case
      {"Austria", "Austria"},  // a blank code counts as none
      {"France", "France"},    // a line without "=" names nothing
      {"Spain", "ES"},
      {"Italy", "Italy"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(table.CountryToCode(c.country), c.code) << c.country;
}

TEST(NameParserTest, SplitsAtTheFirstBlankOnlyWhenBothNamesAreBlank) {
  struct Case {
    const char* name;
    const char* first;
    const char* last;
    const char* wantFirst;
    const char* wantLast;
  } cases[] = {
      {"Ann Lee", "", "", "Ann", "Lee"},
      {"Mary Ann Lee", "", "", "Mary", "Ann Lee"},
      {" Ann Lee", "", "", "", "Ann Lee"},    // the name is not trimmed
      {"Ann ", "", "", "Ann", ""},
      {"Cher", " ", " ", "Cher", " "},        // no blank: the last name stays as it was
      {"Ann Lee", "Bob", "", "Bob", ""},     // a first name alone stops the split
      {"Ann Lee", "", "Ray", "", "Ray"},
      {"", "", "", "", ""},
  };
  TNameParser parser;
  for (const auto& c : cases) {
    std::string first = c.first, last = c.last;
    parser.splitName(c.name, first, last);
    EXPECT_EQ(first, c.wantFirst) << '"' << c.name << '"';
    EXPECT_EQ(last, c.wantLast) << '"' << c.name << '"';
  }
}

TEST(VrStrToIntTest, ConvertsDecimalTextAndGivesZeroForAnythingElse) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12", 12},         {"", 0},           {"2 pcs", 0},          {"  42", 42},     {"\t7", 7},
      {"+7", 7},          {"-7", -7},        {"007", 7},            {"12 ", 0},       {"-", 0},
      {" ", 0},           {"0x10", 0},       {"1e3", 0},            {"2147483647", INT32_MAX},
      {"2147483648", 0},  {"-2147483648", INT32_MIN},               {"-2147483649", 0},
      {"99999999999999999999", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VrStrToInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(InternetDateTest, ReadsTheUsualFormsAndIgnoresTheZone) {
  const double k8Dec2026 = 46364, kTime = (21 * 3600 + 5 * 60 + 9) / 86400.0;
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"Tue, 8 Dec 2026 21:05:09 +0900", k8Dec2026 + kTime},
      {"Tue, 08 Dec 2026 21:05:09 -0700 (PDT)", k8Dec2026 + kTime},
      {"  tue, 8 dec 2026 21:05:09 GMT  ", k8Dec2026 + kTime},
      {"Tue,8 Dec 2026 21:05:09", k8Dec2026 + kTime},    // no blank after the comma
      {"8 Dec 2026 21:05:09", k8Dec2026 + kTime},        // no day name
      {"Tuesday 8 Dec 2026 21:05:09", k8Dec2026 + kTime},  // only the first word is dropped
      {"08-Dec-2026 21:05:09", k8Dec2026 + kTime},
      {"Tue, 08-Dec-2026 21:05:09", k8Dec2026 + kTime},
      {"Dec 8 2026 21:05:09", k8Dec2026 + kTime},        // month first
      {"Tue Dec  8 21:05:09 2026", k8Dec2026 + kTime},   // time before the year
      {"Tue, 8 Dec 2026", k8Dec2026},
      {"8 Dec 2026 21", k8Dec2026},                      // no ":" means no time
      {"8 Dec 2026 21:05", k8Dec2026 + (21 * 3600 + 5 * 60) / 86400.0},
      {"8 Dec 2026 21:xx:09", k8Dec2026 + (21 * 3600 + 9) / 86400.0},
      {"x Dec 2026", 46357},                              // a day that is no number is the 1st
      {"8 Dec 99", 36502},
      {"8 Dec 80", 29563},
      {"8 Dec 79", 65722},
      {"8 Dec 00", 36868},
      {"29 Feb 2024", 45351},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(InternetDateToDateTime(c.text), c.value) << c.text;
}

TEST(InternetDateTest, UnreadableDatesGiveZero) {
  for (const char* text : {"", "   ", "Tue", "Tue, ", "8 December 2026", "8 13 2026", "31 Feb 2026",
                           "29 Feb 2025", "8 Dec 2026 25:00:00", "8 Dec 2026 21:61:00", "2026-12-08",
                           "8 Dec", "8 Dec twenty", "Dec 8 21:05:09 soon", "8 Dec 10000"})
    EXPECT_EQ(InternetDateToDateTime(text), 0.0) << '"' << text << '"';
}

TEST(DateTimeTest, EncodesDaysSince30Dec1899) {
  struct Case {
    int y, m, d, h, mi, s;
    double value;
  } cases[] = {
      {1899, 12, 30, 0, 0, 0, 0.0},
      {1900, 1, 1, 12, 0, 0, 2.5},
      {1899, 12, 29, 6, 0, 0, -1.25},  // before the epoch the time counts away from zero
      {9999, 12, 31, 0, 0, 0, 2958465},
      {1, 1, 1, 0, 0, 0, -693593},
  };
  for (const auto& c : cases) {
    TDateTime v = -1;
    ASSERT_TRUE(TryEncodeDateTime(c.y, c.m, c.d, c.h, c.mi, c.s, v)) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_DOUBLE_EQ(v, c.value);
  }
  TDateTime v = 0;
  EXPECT_FALSE(TryEncodeDateTime(0, 1, 1, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29, 0, 0, 0, v));  // 1900 was no leap year
  EXPECT_FALSE(TryEncodeDateTime(2026, 4, 31, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeDateTime(2026, 4, 1, 24, 0, 0, v));
}

TEST(OrderDataTest, ShortTextsAreCutAtTheirCapacityHoweverTheyAreSet) {
  const std::string long201(201, 'x');
  TOrderData o;
  o.Name = long201;                        // std::string
  o.Email = std::string_view(long201);     // string_view
  o.Version = long201.c_str();             // C string
  o.IPAddress = TShortText<200>(long201);  // a wider short text
  o.OrderID = "PN-1";
  EXPECT_EQ(o.Name.size(), 100u);
  EXPECT_EQ(o.Email.size(), 200u);
  EXPECT_EQ(o.Version.size(), 20u);
  EXPECT_EQ(o.IPAddress.size(), 50u);
  EXPECT_EQ(o.OrderID, "PN-1");
  const std::string& asText = o.Name;
  EXPECT_EQ(asText, std::string(100, 'x'));

  // A fresh record is empty and zero.
  TOrderData fresh;
  EXPECT_TRUE(fresh.OrderID.empty());
  EXPECT_EQ(fresh.Quantity, 0);
  EXPECT_EQ(fresh.Amount, 0);
  EXPECT_EQ(fresh.PurchaseDate, 0.0);
}

}  // namespace
}  // namespace qnb::test
