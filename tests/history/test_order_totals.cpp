// Sums per period and currency, and the calendar steps behind them.

#include <gtest/gtest.h>

#include "history/OrderTotals.h"

namespace qnb::test {
namespace {

TDateTime Day(int y, int m, int d, int h = 0) {
  TDateTime t = 0;
  TryEncodeDateTime(y, m, d, h, 0, 0, t);
  return t;
}

TOrderData Order(TDateTime date, TCurrency amount, const std::string& currency) {
  TOrderData o;
  o.PurchaseDate = date;
  o.Amount = amount;
  o.Currency = currency;
  return o;
}

TEST(OrderTotals, PerDayAndMonthAndCurrencyInPeriodOrder) {
  const TOrderData a = Order(Day(2026, 12, 10, 23), 499000, "EUR"), b = Order(Day(2026, 12, 10, 1), 1000, "EUR"),
                   c = Order(Day(2026, 12, 10, 9), 349000, "USD"), d = Order(Day(2026, 11, 30, 12), -5000, "EUR"),
                   e = Order(Day(2026, 12, 11), 100, "");
  const std::vector<const TOrderData*> all = {&a, &b, &c, &d, &e};
  const auto days = TotalsByPeriod(all, false);
  ASSERT_EQ(days.size(), 4u);
  EXPECT_EQ(days[0].Period, "2026-11-30");
  EXPECT_EQ(days[0].Amount, -5000);
  EXPECT_EQ(days[1].Period, "2026-12-10");
  EXPECT_EQ(days[1].Currency, "EUR");
  EXPECT_EQ(days[1].Count, 2);
  EXPECT_EQ(days[1].Amount, 500000);
  EXPECT_EQ(days[2].Currency, "USD");
  EXPECT_EQ(days[3].Period, "2026-12-11");
  EXPECT_EQ(days[3].Currency, "");
  const auto months = TotalsByPeriod(all, true);
  ASSERT_EQ(months.size(), 4u);
  EXPECT_EQ(months[1].Period, "2026-12");
  EXPECT_EQ(months[1].Currency, "");
  EXPECT_EQ(months[2].Count, 2);

  const auto range = TotalsBetween(all, Day(2026, 12, 10), Day(2026, 12, 11));
  ASSERT_EQ(range.size(), 2u);
  EXPECT_EQ(range[0].Amount, 500000);
  EXPECT_EQ(range[1].Count, 1);
}

TEST(OrderTotals, CalendarSteps) {
  // 2026-12-10 is a Thursday.
  EXPECT_EQ(StartOfWeek(Day(2026, 12, 10, 15)), Day(2026, 12, 7));
  EXPECT_EQ(StartOfWeek(Day(2026, 12, 7)), Day(2026, 12, 7));
  EXPECT_EQ(StartOfWeek(Day(2026, 12, 6, 23)), Day(2026, 11, 30));
  EXPECT_EQ(StartOfMonth(Day(2026, 12, 10, 15)), Day(2026, 12, 1));
  EXPECT_EQ(StartOfDay(Day(2026, 12, 10, 15)), Day(2026, 12, 10));
  TDateTime t = 0;
  EXPECT_TRUE(ParseDate("2026-02-28", t));
  EXPECT_EQ(t, Day(2026, 2, 28));
  for (const char* bad : {"2026-02-30", "2026-2-28", "2026-02-28x", "", "yesterday"}) EXPECT_FALSE(ParseDate(bad, t)) << bad;
}

}  // namespace
}  // namespace qnb::test
