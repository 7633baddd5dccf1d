#pragma once
// Sums of orders per period and currency, for the CLI's totals and the
// window's totals strip.

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/OMAnalyze.h"

namespace qnb {

struct TTotal {
  std::string Period;    // "YYYY-MM-DD" or "YYYY-MM"; empty for a sum over a range
  std::string Currency;  // as the orders carry it
  int64_t Count = 0;
  TCurrency Amount = 0;
};

// The calendar date of a date-time.
void DecodeDate(TDateTime t, int& year, int& month, int& day);
// "YYYY-MM-DD" at midnight; false for anything else.
bool ParseDate(const std::string& text, TDateTime& result);

// One total per period (by PurchaseDate) and currency, in period order and
// then currency order.
std::vector<TTotal> TotalsByPeriod(const std::vector<const TOrderData*>& orders, bool byMonth);
// One total per currency of the orders with PurchaseDate in [from, to).
std::vector<TTotal> TotalsBetween(const std::vector<const TOrderData*>& orders, TDateTime from, TDateTime to);

// Midnight of the given day, of the Monday of its week, of the first of its month.
TDateTime StartOfDay(TDateTime t);
TDateTime StartOfWeek(TDateTime t);
TDateTime StartOfMonth(TDateTime t);

}  // namespace qnb
