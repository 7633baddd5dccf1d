#include "analysis/MailBase.h"

#include <algorithm>

#include "analysis/TextUtil.h"

#include "settings/TextConv.h"

namespace qnb {

namespace {

constexpr size_t npos = std::string::npos;

// Printable form of a few raw bytes for an error text.
std::string Shown(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      r += c;
    } else {
      r += "\\x";
      r += kHex[b >> 4];
      r += kHex[b & 15];
    }
  }
  return r;
}

std::string DecodeQ(std::string_view payload) {
  // payload still ends with the closing "?="
  std::string r;
  const size_t n = payload.size();
  const size_t end = n >= 2 ? n - 2 : 0;
  r.reserve(end);
  for (size_t i = 0; i < end; ++i) {
    char c = payload[i];
    if (c == '_') {
      r += ' ';
    } else if (c == '=' && i + 4 < n) {
      int hi = HexDigitValue(payload[i + 1]), lo = HexDigitValue(payload[i + 2]);
      if (hi < 0 || lo < 0)
        throw EConvertError("'=" + Shown(payload.substr(i + 1, 2)) + "' is not a valid hexadecimal byte");
      r += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      r += c;
    }
  }
  return r;
}

std::string DecodeB(std::string_view payload) {
  std::string r;
  r.reserve(payload.size() / 4 * 3);
  for (size_t i = 0; payload.size() - i >= 4; i += 4) {
    unsigned c1 = B64(payload[i]), c2 = B64(payload[i + 1]), c3 = B64(payload[i + 2]), c4 = B64(payload[i + 3]);
    r += static_cast<char>(((c1 << 2) | (c2 >> 4)) & 0xFF);
    r += static_cast<char>(((c2 << 4) | (c3 >> 2)) & 0xFF);
    r += static_cast<char>(((c3 << 6) | c4) & 0xFF);
  }
  return r;
}

void RemoveNul(std::string& s) { s.erase(std::remove(s.begin(), s.end(), '\0'), s.end()); }

// A search whose answers are remembered. The scans of one decoding run move
// forward, so remembering the last answer keeps a long value with many
// near-miss words linear instead of rescanning it for every candidate.
class TCachedFind {
 public:
  explicit TCachedFind(std::string_view pat) : pat_(pat) {}

  size_t Find(const std::string& u, size_t x) {
    if (from_ != npos && x >= from_ && (pos_ == npos || x <= pos_)) return pos_;
    if (from_ != npos && x < from_) {
      // Nothing starts in [from_, pos_), so only [x, from_) needs a look.
      std::string_view head(u.data(), std::min(u.size(), from_ + pat_.size() - 1));
      size_t r = head.find(pat_, x);
      from_ = x;
      if (r != npos) pos_ = r;
      return pos_;
    }
    from_ = x;
    pos_ = u.find(pat_, x);
    return pos_;
  }

  // Bytes before `end` were rewritten.
  void Rewritten(size_t end) {
    if (from_ == npos) return;
    if (pos_ != npos && pos_ < end) from_ = npos;
    else from_ = std::max(from_, end);
  }

 private:
  std::string_view pat_;
  size_t from_ = npos;  // no match starts in [from_, pos_); one starts at pos_ (npos: none at all)
  size_t pos_ = npos;
};

// The one decoding loop behind both entry points. Positions follow the steps
// of VrDecodeHeader, 0-based. The decoded text of a word is never longer than
// the word, so it is written in place, ending where the word ended, and what
// lies before it is moved to `out` once: no splice copies the rest of the value.
std::string DecodeWords(std::string_view src, bool isoWindowsOnly) {
  std::string w(src);          // the value; w[start..] is what is not final yet
  std::string u = UpperCase(w);  // the upper-cased copy every search runs on
  std::string out;
  out.reserve(w.size());
  size_t start = 0;

  TCachedFind findIso("=?ISO"), findWin("=?WINDOWS"), findOpen("=?");
  TCachedFind findQ2("?"), findQ3("?"), findClose("?=");
  auto nextStart = [&](size_t from) {
    if (!isoWindowsOnly) return findOpen.Find(u, from);
    return std::min(findIso.Find(u, from), findWin.Find(u, from));
  };

  size_t p1 = nextStart(0);
  while (p1 != npos) {
    size_t p2 = findQ2.Find(u, p1 + 5);  // a charset has at least three characters
    size_t p3 = p2 == npos ? npos : findQ3.Find(u, p2 + 1);
    size_t p4 = p3 == npos ? npos : findClose.Find(u, p3 + 1);
    if (p4 != npos) {
      std::string_view word(w.data() + p1, p4 + 2 - p1);
      size_t q1 = word.find('?');
      size_t q2 = word.find('?', q1 + 1);
      size_t q3 = word.find('?', q2 + 1);
      std::string_view payload = word.substr(q3 + 1);
      if (payload.size() >= 2 && payload.substr(payload.size() - 2) == "?=") {
        std::string_view charset = word.substr(q1 + 1, q2 - q1 - 1);
        char encoding = word[q2 + 1];
        std::string d = (encoding == 'Q' || encoding == 'q') ? DecodeQ(payload) : DecodeB(payload);
        if (SameText(charset, "ISO-2022-JP")) d = Decode2022JP(d);
        else if (SameText(charset, "utf-8")) d = UnicodeToStr(d);
        if (!isoWindowsOnly) RemoveNul(d);

        out.append(w, start, p1 - start);
        const size_t wordEnd = p4 + 2;
        start = wordEnd - d.size();
        std::copy(d.begin(), d.end(), w.begin() + static_cast<std::ptrdiff_t>(start));
        std::string ud = UpperCase(d);
        std::copy(ud.begin(), ud.end(), u.begin() + static_cast<std::ptrdiff_t>(start));
        for (TCachedFind* f : {&findIso, &findWin, &findOpen, &findQ2, &findQ3, &findClose}) f->Rewritten(wordEnd);
        // The value now holds the decoded text at P1; the scan goes on from P1 + 1.
        p1 = start;
      }
    }
    p1 = nextStart(p1 + 1);
  }
  out.append(w, start, npos);
  RemoveNul(out);
  return out;
}

}  // namespace

std::string VrDecodeHeader(std::string_view S) { return DecodeWords(S, false); }

std::string DecodeIsoWindowsWords(std::string_view S) { return DecodeWords(S, true); }

int32_t PosStartAt(std::string_view SubStr, std::string_view S, int32_t Offset, bool IgnoreCase) {
  if (SubStr.empty()) return 0;
  size_t from = Offset > 1 ? static_cast<size_t>(Offset) - 1 : 0;
  if (from >= S.size()) return 0;
  size_t r = IgnoreCase ? UpperCase(S).find(UpperCase(SubStr), from) : S.find(SubStr, from);
  return r == npos ? 0 : static_cast<int32_t>(r + 1);
}

int B64(char C) {
  if (C >= 'A' && C <= 'Z') return C - 'A';
  if (C >= 'a' && C <= 'z') return C - 'a' + 26;
  if (C >= '0' && C <= '9') return C - '0' + 52;
  if (C == '+') return 62;
  if (C == '/') return 63;
  return 0;
}

std::string UnicodeToStr(std::string_view S) { return std::string(S); }

std::string Decode2022JP(std::string_view S) {
  std::string r;
  r.reserve(S.size());
  bool doubleByte = false;
  const size_t n = S.size();
  for (size_t i = 0; i < n;) {
    auto b = static_cast<unsigned char>(S[i]);
    if (b == 27) {
      if (i + 2 < n) {
        if (S[i + 1] == '$' && S[i + 2] == 'B') doubleByte = true;
        else if (S[i + 1] == '(' && S[i + 2] == 'B') doubleByte = false;
        i += 3;
      } else {
        ++i;
      }
    } else if (!doubleByte) {
      r += S[i];
      ++i;
    } else if (i + 1 < n) {
      unsigned j1 = b, j2 = static_cast<unsigned char>(S[i + 1]);
      unsigned s1 = ((j1 - 1) >> 1) + (j1 > 94 ? 177 : 113);
      unsigned s2 = (j1 % 2 == 0) ? j2 + 126 : (j2 >= 96 ? j2 + 32 : j2 + 31);
      r += static_cast<char>(s1 & 0xFF);
      r += static_cast<char>(s2 & 0xFF);
      i += 2;
    } else {
      ++i;  // a lone last byte of double-byte text
    }
  }
  return r;
}

}  // namespace qnb
