// VrDecodeHeader, the reader's ISO/WINDOWS variant and Decode2022JP on
// arbitrary values. A conversion error is the only failure allowed, and the
// result must equal that of a plain version of the steps that splices the
// value for every word (slow, but easy to check against the rules).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/MailBase.h"
#include "analysis/TextUtil.h"

namespace {

constexpr size_t npos = std::string::npos;

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

struct TBadHex {};

std::string PlainDecode(std::string s, bool isoOnly) {
  auto find = [&](std::string_view pat, size_t from) { return qnb::UpperCase(s).find(pat, from); };
  auto start = [&](size_t from) {
    return isoOnly ? std::min(find("=?ISO", from), find("=?WINDOWS", from)) : find("=?", from);
  };
  size_t p1 = start(0);
  while (p1 != npos) {
    size_t p2 = find("?", p1 + 5);
    size_t p3 = p2 == npos ? npos : find("?", p2 + 1);
    size_t p4 = p3 == npos ? npos : find("?=", p3 + 1);
    if (p4 != npos) {
      std::string word = s.substr(p1, p4 + 2 - p1);
      size_t q1 = word.find('?'), q2 = word.find('?', q1 + 1), q3 = word.find('?', q2 + 1);
      std::string charset = word.substr(q1 + 1, q2 - q1 - 1), payload = word.substr(q3 + 1);
      std::string d;
      if (word[q2 + 1] == 'Q' || word[q2 + 1] == 'q') {
        for (size_t i = 0; i + 2 < payload.size(); ++i) {
          if (payload[i] == '_') {
            d += ' ';
          } else if (payload[i] == '=' && i + 4 < payload.size()) {
            if (Hex(payload[i + 1]) < 0 || Hex(payload[i + 2]) < 0) throw TBadHex();
            d += static_cast<char>(Hex(payload[i + 1]) * 16 + Hex(payload[i + 2]));
            i += 2;
          } else {
            d += payload[i];
          }
        }
      } else {
        for (size_t i = 0; i + 4 <= payload.size(); i += 4) {
          unsigned a = qnb::B64(payload[i]), b = qnb::B64(payload[i + 1]), c = qnb::B64(payload[i + 2]),
                   e = qnb::B64(payload[i + 3]);
          d += static_cast<char>((a << 2 | b >> 4) & 0xFF);
          d += static_cast<char>((b << 4 | c >> 2) & 0xFF);
          d += static_cast<char>((c << 6 | e) & 0xFF);
        }
      }
      if (qnb::SameText(charset, "ISO-2022-JP")) d = qnb::Decode2022JP(d);
      if (!isoOnly) d.erase(std::remove(d.begin(), d.end(), '\0'), d.end());
      s = s.substr(0, p1) + d + s.substr(p4 + 2);
    }
    p1 = start(p1 + 1);
  }
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view s(reinterpret_cast<const char*>(data), size);
  for (bool isoOnly : {false, true}) {
    std::string got, want;
    bool gotError = false, wantError = false;
    try {
      got = isoOnly ? qnb::DecodeIsoWindowsWords(s) : qnb::VrDecodeHeader(s);
    } catch (const qnb::EConvertError&) {
      gotError = true;
    }
    try {
      want = PlainDecode(std::string(s), isoOnly);
    } catch (const TBadHex&) {
      wantError = true;
    }
    if (gotError != wantError || got != want) __builtin_trap();
  }
  (void)qnb::Decode2022JP(s);
  return 0;
}
