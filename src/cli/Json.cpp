#include "cli/Json.h"
#include "settings/TextConv.h"

#include <charconv>
#include <cmath>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qnb::cli {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    size_t n = Utf8SequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void AppendEscaped(std::string& out, uint32_t cp) {
  switch (cp) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  if (cp < 0x20 || cp == 0x7F) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(cp));
    out += buf;
  } else if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else {  // U+0080..U+00FF as UTF-8
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string JsonString(std::string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

namespace {

bool NeedsLook(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return c < 0x20 || c >= 0x7F || c == '"' || c == '\\';
}

// The first byte from i on that is not printable ASCII or is a quote or a
// backslash; s.size() when there is none. Eight bytes are tested at a time.
size_t PlainRunEnd(std::string_view s, size_t i) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  auto below = [](uint64_t w, uint64_t n) { return (w - kOnes * n) & ~w & kHigh; };  // some byte < n (n <= 128)
  auto equal = [&](uint64_t w, uint64_t c) { return below(w ^ (kOnes * c), 1); };
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, sizeof w);
    if ((below(w, 0x20) | (w & kHigh) | equal(w, 0x7F) | equal(w, '"') | equal(w, '\\')) != 0) break;
  }
  while (i < s.size() && !NeedsLook(s[i])) ++i;
  return i;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  out.reserve(out.size() + s.size() + 2);
  out += '"';
  // Printable ASCII goes out in runs; only the bytes between runs are looked
  // at one by one (status texts quote the server name, so most have a few).
  size_t i = PlainRunEnd(s, 0);
  if (i == s.size()) {
    out.append(s);
    out += '"';
    return;
  }
  // The plain prefix is valid UTF-8 in any case.
  const bool utf8 = IsUtf8(s.substr(i));
  out.append(s.data(), i);
  while (i < s.size()) {
    const size_t j = PlainRunEnd(s, i);
    out.append(s.data() + i, j - i);
    i = j;
    if (i == s.size()) break;
    const size_t n = utf8 ? Utf8SequenceLength(s, i) : 1;
    if (n == 1) AppendEscaped(out, static_cast<unsigned char>(s[i]));
    else out.append(s.data() + i, n);
    i += n;
  }
  out += '"';
}

std::string Utf8Text(std::string_view s) {
  if (IsUtf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() * 2);
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string JsonDouble(double v) {
  if (!std::isfinite(v)) return "0";
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string JsonStringList(TLineSpan lines) {
  std::string out = "[";
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += ',';
    out += JsonString(lines[i]);
  }
  return out + "]";
}

std::string JsonCurrency(int64_t v) {
  // Work on the magnitude as unsigned so that INT64_MIN is printed too.
  uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  char buf[40];
  std::snprintf(buf, sizeof buf, "\"%s%llu.%04llu\"", v < 0 ? "-" : "",
                static_cast<unsigned long long>(mag / 10000), static_cast<unsigned long long>(mag % 10000));
  return buf;
}

std::string DateTimeText(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return "";
  // Round to the nearest second first so that 23:59:59.9996 becomes the next day.
  long long secs = std::llround(days * 86400.0);
  long long d = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  long long rem = secs - d * 86400;
  // Civil date from a day count (days since 1970-01-01); 1899-12-30 is day -25569.
  long long z = d - 25569 + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long dd = doy - (153 * mp + 2) / 5 + 1;
  long long mm = mp < 10 ? mp + 3 : mp - 9;
  if (mm <= 2) ++y;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, mm, dd, rem / 3600, rem / 60 % 60,
                rem % 60);
  return buf;
}

void TJsonObject::Key(std::string_view key) {
  body_ += body_.empty() ? '{' : ',';
  AppendJsonString(body_, key);
  body_ += ':';
}

TJsonObject& TJsonObject::Raw(std::string_view key, std::string_view json) {
  Key(key);
  body_ += json;
  return *this;
}

TJsonObject& TJsonObject::Str(std::string_view key, std::string_view bytes) {
  Key(key);
  AppendJsonString(body_, bytes);
  return *this;
}

}  // namespace qnb::cli
