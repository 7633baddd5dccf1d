#pragma once
// Small conversions of text every layer needs: the value of a hex digit, a
// strict decimal integer, UTF-8 sequences and ASCII case. Header-only and free of Qt, so that the layers
// without Qt (analysis, mailcheck) use the same ones as the settings store.

#include <cstddef>
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

// The length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), or 0
// when the bytes there are no valid UTF-8 (overlong, surrogate, cut short).
constexpr size_t Utf8SequenceLength(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

// ASCII letters compared without case; other bytes as they are.
constexpr bool AsciiIEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace qnb
