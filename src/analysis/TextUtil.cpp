#include "analysis/TextUtil.h"

#include <algorithm>

namespace qnb {

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
}  // namespace

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), Upper);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), Lower);
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

bool StartsText(std::string_view prefix, std::string_view s) {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::string JoinCRLF(const TStrings& lines) {
  size_t n = 0;
  for (const auto& l : lines) n += l.size() + 2;
  std::string r;
  r.reserve(n);
  for (const auto& l : lines) {
    r += l;
    r += "\r\n";
  }
  return r;
}

std::string JoinCRLF(TLineSpan lines) {
  std::string r;
  r.reserve(JoinedSize(lines));
  for (std::string_view l : lines) {
    r += l;
    r += "\r\n";
  }
  return r;
}

size_t JoinedSize(TLineSpan lines) {
  size_t n = 0;
  for (std::string_view l : lines) n += l.size() + 2;
  return n;
}

TStrings SplitLines(std::string_view text) {
  TStrings lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    size_t len = end - pos;
    if (nl != std::string_view::npos && len > 0 && text[end - 1] == '\r') --len;
    lines.emplace_back(text.substr(pos, len));
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return lines;
}

}  // namespace qnb
