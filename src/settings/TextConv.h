#pragma once
// Small conversions of text every layer needs: the value of a hex digit and a
// strict decimal integer. Header-only and free of Qt, so that the layers
// without Qt (analysis, mailcheck) use the same ones as the settings store.

#include <cstdint>
#include <string_view>

namespace qnb {

// 0-15 for a hex digit in either case, -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decimal integer text: an optional sign, then only digits, within 32 bits.
// False, and value untouched, for anything else.
constexpr bool TryStrToInt(std::string_view s, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  // Accumulate as a negative number so that INT32_MIN fits.
  int64_t acc = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    acc = acc * 10 - (s[i] - '0');
    if (acc < INT32_MIN) return false;
  }
  if (!negative && -acc > INT32_MAX) return false;
  value = static_cast<int32_t>(negative ? acc : -acc);
  return true;
}

}  // namespace qnb
