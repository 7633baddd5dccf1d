#include "history/OrderTotals.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

namespace qnb {

void DecodeDate(TDateTime t, int& year, int& month, int& day) {
  // Civil date from a day count; 1899-12-30 is day -25569 of 1970-01-01.
  const long long secs = std::llround(t * 86400.0);
  const long long d = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  const long long z = d - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (month <= 2) ++y;
  year = static_cast<int>(y);
}

bool ParseDate(const std::string& text, TDateTime& result) {
  int y, m, d;
  char tail;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return false;
  return TryEncodeDateTime(y, m, d, 0, 0, 0, result);
}

TDateTime StartOfDay(TDateTime t) { return std::floor(t + 0.5 / 86400.0); }

TDateTime StartOfWeek(TDateTime t) {
  const TDateTime day = StartOfDay(t);
  // 1899-12-30 was a Saturday: day 2 is a Monday.
  const long long n = static_cast<long long>(day);
  const long long sinceMonday = ((n - 2) % 7 + 7) % 7;
  return day - static_cast<double>(sinceMonday);
}

TDateTime StartOfMonth(TDateTime t) {
  int y, m, d;
  DecodeDate(t, y, m, d);
  TDateTime first = 0;
  TryEncodeDateTime(y, m, 1, 0, 0, 0, first);
  return first;
}

std::vector<TTotal> TotalsByPeriod(const std::vector<const TOrderData*>& orders, bool byMonth) {
  std::map<std::pair<std::string, std::string>, TTotal> sums;
  for (const TOrderData* o : orders) {
    int y, m, d;
    DecodeDate(o->PurchaseDate, y, m, d);
    char buf[32];
    if (byMonth) std::snprintf(buf, sizeof buf, "%04d-%02d", y, m);
    else std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    TTotal& t = sums[{buf, o->Currency}];
    t.Period = buf;
    t.Currency = o->Currency;
    ++t.Count;
    t.Amount += o->Amount;
  }
  std::vector<TTotal> out;
  out.reserve(sums.size());
  for (auto& [key, t] : sums) out.push_back(std::move(t));
  return out;
}

std::vector<TTotal> TotalsBetween(const std::vector<const TOrderData*>& orders, TDateTime from, TDateTime to) {
  std::map<std::string, TTotal> sums;
  for (const TOrderData* o : orders) {
    if (o->PurchaseDate < from || o->PurchaseDate >= to) continue;
    TTotal& t = sums[o->Currency];
    t.Currency = o->Currency;
    ++t.Count;
    t.Amount += o->Amount;
  }
  std::vector<TTotal> out;
  for (auto& [key, t] : sums) out.push_back(std::move(t));
  return out;
}

}  // namespace qnb
