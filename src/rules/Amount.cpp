#include "rules/Amount.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qnb::rules {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of a grouping or decimal mark at s[i]: . , ' space, no-break spaces,
// the typographic apostrophe; 0 for anything else.
size_t MarkLen(std::string_view s, size_t i, char& kind) {
  char c = s[i];
  if (c == '.' || c == ',') {
    kind = c;
    return 1;
  }
  if (c == '\'' || c == ' ') {
    kind = 'g';
    return 1;
  }
  static const char* const wide[] = {"\xC2\xA0", "\xE2\x80\xAF", "\xE2\x80\x89", "\xE2\x80\x99"};
  for (const char* w : wide) {
    size_t n = std::strlen(w);
    if (s.substr(i, n) == w) {
      kind = 'g';
      return n;
    }
  }
  return 0;
}

size_t DigitRun(std::string_view s, size_t i) {
  size_t n = 0;
  while (i + n < s.size() && IsDigit(s[i + n])) ++n;
  return n;
}

}  // namespace

bool ParseAmount(std::string_view text, int64_t& value) {
  size_t start = 0;
  while (start < text.size() && !IsDigit(text[start])) ++start;
  if (start == text.size()) return false;

  // A minus sign shortly before the number ("-12.50", "-$5.00", "$ -5").
  std::string_view before = text.substr(start > 8 ? start - 8 : 0, start > 8 ? 8 : start);
  bool negative = before.find('-') != std::string_view::npos ||
                  before.find("\xE2\x88\x92") != std::string_view::npos;

  struct TMark {
    char kind;
    size_t digitsBefore;
  };
  std::string digits;
  std::vector<TMark> marks;
  size_t i = start;
  while (i < text.size()) {
    if (IsDigit(text[i])) {
      digits += text[i++];
      continue;
    }
    char kind = 0;
    size_t len = MarkLen(text, i, kind);
    if (len == 0) break;
    size_t run = DigitRun(text, i + len);
    if (run == 0) break;
    // A space or apostrophe only groups thousands.
    if (kind == 'g' && run != 3) break;
    marks.push_back({kind, digits.size()});
    i += len;
  }

  size_t intDigits = digits.size();
  if (!marks.empty()) {
    const TMark& last = marks.back();
    size_t after = digits.size() - last.digitsBefore;
    if (last.kind == '.' || last.kind == ',') {
      bool repeated = std::count_if(marks.begin(), marks.end(), [&](const TMark& m) { return m.kind == last.kind; }) > 1;
      bool otherBefore =
          std::any_of(marks.begin(), marks.end() - 1, [&](const TMark& m) { return m.kind != last.kind; });
      bool decimal = !repeated && (after != 3 || otherBefore);
      if (decimal) intDigits = last.digitsBefore;
    }
  }
  std::string_view intPart(digits.data(), intDigits);
  std::string_view frac(digits.data() + intDigits, digits.size() - intDigits);
  while (intPart.size() > 1 && intPart[0] == '0') intPart.remove_prefix(1);
  if (intPart.size() > 14) return false;
  int64_t v = 0;
  for (char c : intPart) v = v * 10 + (c - '0');
  int64_t f = 0;
  for (size_t k = 0; k < 4; ++k) f = f * 10 + (k < frac.size() ? frac[k] - '0' : 0);
  v = v * 10000 + f;
  value = negative ? -v : v;
  return true;
}

namespace {

// Current ISO 4217 codes.
const char* const kCodes[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BGN", "BHD", "BIF",
    "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CLP", "CNY", "COP", "CRC",
    "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "EUR", "FJD", "FKP", "GBP", "GEL", "GHS",
    "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HTG", "HUF", "IDR", "ILS", "INR", "IQD", "IRR", "ISK", "JMD",
    "JOD", "JPY", "KES", "KGS", "KHR", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD",
    "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PYG", "QAR", "RON", "RSD",
    "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLE", "SOS", "SRD", "SSP", "STN", "SYP", "SZL",
    "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND",
    "VUV", "WST", "XAF", "XCD", "XOF", "XPF", "YER", "ZAR", "ZMW", "ZWL", "SVC", "CUC"};

struct TSign {
  const char* text;
  const char* code;  // nullptr: the fallback decides
  bool word;         // must stand alone (letters on neither side)
};

// Longer signs first, so that "US$" wins over "$".
const TSign kSigns[] = {
    {"US$", "USD", false}, {"CA$", "CAD", false}, {"AU$", "AUD", false}, {"NZ$", "NZD", false},
    {"HK$", "HKD", false}, {"MX$", "MXN", false}, {"CN\xC2\xA5", "CNY", false}, {"JP\xC2\xA5", "JPY", false},
    {"C$", "CAD", false},  {"A$", "AUD", false},  {"S$", "SGD", false},  {"R$", "BRL", false},
    {"\xE2\x82\xAC", "EUR", false}, {"\xC2\xA3", "GBP", false}, {"\xC2\xA5", "JPY", false},
    {"\xEF\xBF\xA5", "JPY", false}, {"\xE5\x85\x83", "CNY", false}, {"\xE2\x82\xB9", "INR", false},
    {"\xE2\x82\xA9", "KRW", false}, {"\xE2\x82\xBD", "RUB", false}, {"\xE2\x82\xBA", "TRY", false},
    {"\xE2\x82\xAA", "ILS", false}, {"\xE2\x82\xB4", "UAH", false}, {"\xE2\x82\xB1", "PHP", false},
    {"\xE2\x82\xAB", "VND", false}, {"\xE0\xB8\xBF", "THB", false}, {"z\xC5\x82", "PLN", true},
    {"K\xC4\x8D", "CZK", true},    {"RMB", "CNY", true},          {"Fr.", "CHF", false},
    {"Ft", "HUF", true},           {"lei", "RON", true},          {"kr", nullptr, true},
    {"$", nullptr, false},
};

const char* const kDollarCodes[] = {"USD", "CAD", "AUD", "NZD", "HKD", "SGD", "MXN", "TWD"};
const char* const kKronaCodes[] = {"SEK", "NOK", "DKK", "ISK"};

template <class List>
bool InList(const List& list, std::string_view code) {
  return std::any_of(std::begin(list), std::end(list), [&](const char* c) { return code == c; });
}

bool StandsAlone(std::string_view s, size_t pos, size_t len) {
  return (pos == 0 || !IsAlpha(s[pos - 1])) && (pos + len >= s.size() || !IsAlpha(s[pos + len]));
}

}  // namespace

bool IsCurrencyCode(std::string_view code) { return code.size() == 3 && InList(kCodes, code); }

std::string CurrencyCode(std::string_view text, std::string_view fallback) {
  // A code beats a symbol: "$14.95 CAD" is Canadian.
  for (size_t i = 0; i + 3 <= text.size(); ++i) {
    if (!(std::isupper(static_cast<unsigned char>(text[i])) && std::isupper(static_cast<unsigned char>(text[i + 1])) &&
          std::isupper(static_cast<unsigned char>(text[i + 2]))))
      continue;
    if (!StandsAlone(text, i, 3)) continue;
    std::string_view code = text.substr(i, 3);
    if (IsCurrencyCode(code)) return std::string(code);
  }
  for (const TSign& sign : kSigns) {
    size_t len = std::strlen(sign.text);
    for (size_t pos = text.find(sign.text); pos != std::string_view::npos; pos = text.find(sign.text, pos + 1)) {
      if (sign.word && !StandsAlone(text, pos, len)) continue;
      if (sign.code) return sign.code;
      if (sign.text[0] == '$') return InList(kDollarCodes, fallback) ? std::string(fallback) : "USD";
      return InList(kKronaCodes, fallback) ? std::string(fallback) : "SEK";
    }
  }
  std::string lower;
  for (char c : text) lower += Lower(c);
  struct TWord {
    const char* word;
    const char* code;
  } words[] = {{"euro", "EUR"}, {"pound", "GBP"}, {"yen", "JPY"}, {"dollar", nullptr}};
  for (const TWord& w : words) {
    size_t pos = lower.find(w.word);
    if (pos == std::string::npos || (pos > 0 && IsAlpha(lower[pos - 1]))) continue;
    if (w.code) return w.code;
    return InList(kDollarCodes, fallback) ? std::string(fallback) : "USD";
  }
  return {};
}

namespace {

// Month names, lower case, index 0..11; full names and abbreviations of the
// languages the shipped rules meet.
const char* const kMonthNames[][12] = {
    {"january", "february", "march", "april", "may", "june", "july", "august", "september", "october", "november",
     "december"},
    {"januar", "februar", "m\xC3\xA4rz", "april", "mai", "juni", "juli", "august", "september", "oktober", "november",
     "dezember"},
    {"janvier", "f\xC3\xA9vrier", "mars", "avril", "mai", "juin", "juillet", "ao\xC3\xBBt", "septembre", "octobre",
     "novembre", "d\xC3\xA9""cembre"},
    {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre", "octubre", "noviembre",
     "diciembre"},
    {"gennaio", "febbraio", "marzo", "aprile", "maggio", "giugno", "luglio", "agosto", "settembre", "ottobre",
     "novembre", "dicembre"},
    {"januari", "februari", "maart", "april", "mei", "juni", "juli", "augustus", "september", "oktober", "november",
     "december"},
    {"janeiro", "fevereiro", "mar\xC3\xA7o", "abril", "maio", "junho", "julho", "agosto", "setembro", "outubro",
     "novembro", "dezembro"},
    {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"},
    {"jan", "feb", "m\xC3\xA4r", "apr", "mai", "jun", "jul", "aug", "sep", "okt", "nov", "dez"},
    {"janv", "f\xC3\xA9vr", "mars", "avr", "mai", "juin", "juil", "ao\xC3\xBBt", "sept", "oct", "nov",
     "d\xC3\xA9""c"},
    {"ene", "feb", "mar", "abr", "may", "jun", "jul", "ago", "sept", "oct", "nov", "dic"},
    {"gen", "feb", "mar", "apr", "mag", "giu", "lug", "ago", "set", "ott", "nov", "dic"},
    {"jan", "feb", "mrt", "apr", "mei", "jun", "jul", "aug", "sep", "okt", "nov", "dec"},
    {"jan", "fev", "mar", "abr", "mai", "jun", "jul", "ago", "set", "out", "nov", "dez"},
};

// ASCII letters lowered; bytes of other characters kept (the names hold their
// accented letters in lower case, as mails write them inside a date).
bool StartsWithFolded(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(s[i]) != prefix[i]) return false;
  return true;
}

// The longest month name at s, with an optional dot after an abbreviation.
bool ReadMonth(std::string_view s, size_t& pos, int& month) {
  size_t best = 0;
  for (const auto& names : kMonthNames)
    for (int m = 0; m < 12; ++m) {
      size_t len = std::strlen(names[m]);
      if (len > best && StartsWithFolded(s.substr(pos), names[m]) &&
          (pos + len >= s.size() || !IsAlpha(s[pos + len]))) {
        best = len;
        month = m + 1;
      }
    }
  if (best == 0) return false;
  pos += best;
  if (pos < s.size() && s[pos] == '.') ++pos;
  return true;
}

bool ReadNumber(std::string_view s, size_t& pos, int maxDigits, int& out) {
  size_t n = 0;
  int v = 0;
  while (pos + n < s.size() && IsDigit(s[pos + n]) && static_cast<int>(n) < maxDigits) v = v * 10 + (s[pos + n++] - '0');
  if (n == 0) return false;
  pos += n;
  out = v;
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

bool ParseDate(std::string_view text, std::string_view format, double& days) {
  int year = -1, month = -1, day = -1, hour = 0, minute = 0, second = 0;
  int pm = -1;  // -1 none, 0 am, 1 pm
  size_t p = 0;
  while (p < text.size() && IsSpace(text[p])) ++p;
  for (size_t f = 0; f < format.size(); ++f) {
    char fc = format[f];
    if (IsSpace(fc)) {
      while (p < text.size() && IsSpace(text[p])) ++p;
      continue;
    }
    if (fc != '%' || f + 1 >= format.size()) {
      if (p >= text.size() || Lower(text[p]) != Lower(fc)) return false;
      ++p;
      continue;
    }
    char conv = format[++f];
    switch (conv) {
      case 'Y':
        if (!ReadNumber(text, p, 4, year)) return false;
        break;
      case 'y':
        if (!ReadNumber(text, p, 2, year)) return false;
        year += year < 70 ? 2000 : 1900;
        break;
      case 'm':
        if (!ReadNumber(text, p, 2, month)) return false;
        break;
      case 'd':
      case 'e':
        if (!ReadNumber(text, p, 2, day)) return false;
        // "1st", "22nd", "3rd", "4th"
        if (StartsWithFolded(text.substr(p), "st") || StartsWithFolded(text.substr(p), "nd") ||
            StartsWithFolded(text.substr(p), "rd") || StartsWithFolded(text.substr(p), "th"))
          p += 2;
        break;
      case 'H':
      case 'I':
        if (!ReadNumber(text, p, 2, hour)) return false;
        break;
      case 'M':
        if (!ReadNumber(text, p, 2, minute)) return false;
        break;
      case 'S':
        if (!ReadNumber(text, p, 2, second)) return false;
        break;
      case 'p':
        if (StartsWithFolded(text.substr(p), "am") || StartsWithFolded(text.substr(p), "a.m.")) pm = 0;
        else if (StartsWithFolded(text.substr(p), "pm") || StartsWithFolded(text.substr(p), "p.m.")) pm = 1;
        else return false;
        p += text.substr(p, 2)[1] == '.' ? 4 : 2;
        break;
      case 'B':
      case 'b':
        if (!ReadMonth(text, p, month)) return false;
        break;
      case 'A':
      case 'a':
      case 'Z':
        // A weekday or a zone: letters, digits, signs; skipped.
        if (p >= text.size()) return false;
        while (p < text.size() && !IsSpace(text[p]) && text[p] != ',' && text[p] != ')') ++p;
        break;
      case '%':
        if (p >= text.size() || text[p] != '%') return false;
        ++p;
        break;
      default:
        return false;
    }
  }
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  if (pm >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 60) return false;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  int64_t serial = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + 25569;
  days = static_cast<double>(serial) + (hour * 3600 + minute * 60 + std::min(second, 59)) / 86400.0;
  return true;
}

}  // namespace qnb::rules
