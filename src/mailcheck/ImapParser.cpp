#include "mailcheck/ImapParser.h"

#include <cctype>
#include <charconv>

namespace qnb {

namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

[[noreturn]] void Malformed() { throw ENetFailure(kImapMalformed); }

class TParser {
 public:
  TParser(TImapInput& in, const TImapLimits& limits) : in_(in), limits_(limits) { NextLine(); }

  TImapResponse Parse() {
    TImapResponse r;
    r.Tag = Word();
    if (r.Tag.empty()) Malformed();
    if (r.Tag == "+") {
      SkipSpace();
      r.Text = Rest();
      return r;
    }
    if (!Space()) Malformed();
    // A status response: the rest of the line is text, never a literal.
    const size_t mark = pos_;
    std::string word = Upper(Word());
    if (word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH") {
      r.Status = word;
      SkipSpace();
      if (pos_ < line_.size() && line_[pos_] == '[') {
        const size_t close = line_.find(']', pos_);
        if (close == std::string::npos) Malformed();
        r.Code = line_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        SkipSpace();
      }
      r.Text = Rest();
      return r;
    }
    pos_ = mark;
    while (pos_ < line_.size()) {
      r.Data.push_back(Value(0));
      if (pos_ < line_.size() && !Space()) Malformed();
    }
    return r;
  }

 private:
  void NextLine() {
    line_ = in_.ReadLine();
    pos_ = 0;
    Count(line_.size() + 2);
  }

  void Count(size_t n) {
    total_ += n;
    if (total_ > limits_.MaxResponse) throw ENetFailure(kImapResponseTooLarge);
  }

  bool Space() {
    if (pos_ < line_.size() && line_[pos_] == ' ') {
      ++pos_;
      return true;
    }
    return false;
  }
  void SkipSpace() {
    while (Space()) {
    }
  }
  std::string Rest() {
    std::string s = line_.substr(pos_);
    pos_ = line_.size();
    return s;
  }
  // Up to the next blank.
  std::string Word() {
    const size_t end = std::min(line_.find(' ', pos_), line_.size());
    std::string w = line_.substr(pos_, end - pos_);
    pos_ = end;
    return w;
  }

  static bool AtomChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7f && c != '(' && c != ')' && c != '{' && c != '"';
  }

  TImapValue Value(int depth) {
    if (pos_ >= line_.size()) Malformed();
    const char c = line_[pos_];
    if (c == '(') return List(depth);
    if (c == '"') return Quoted();
    if (c == '{') return Literal();
    return Atom();
  }

  TImapValue List(int depth) {
    if (depth >= limits_.MaxDepth) Malformed();
    TImapValue v;
    v.Kind = TImapValue::vList;
    ++pos_;
    for (;;) {
      if (pos_ >= line_.size()) Malformed();
      if (line_[pos_] == ')') {
        ++pos_;
        return v;
      }
      if (!v.Items.empty() && !Space()) Malformed();
      if (pos_ < line_.size() && line_[pos_] == ')') continue;
      v.Items.push_back(Value(depth + 1));
    }
  }

  TImapValue Quoted() {
    TImapValue v;
    v.Kind = TImapValue::vString;
    for (++pos_;; ++pos_) {
      if (pos_ >= line_.size()) Malformed();
      char c = line_[pos_];
      if (c == '"') {
        ++pos_;
        return v;
      }
      if (c == '\\') {
        if (++pos_ >= line_.size()) Malformed();
        c = line_[pos_];
      }
      v.Text += c;
    }
  }

  // {n} or {n+} ends the line; the next n bytes are the string, and the
  // response goes on right after them.
  TImapValue Literal() {
    const size_t close = line_.find('}', pos_);
    if (close == std::string::npos || close + 1 != line_.size()) Malformed();
    std::string_view digits(line_.data() + pos_ + 1, close - pos_ - 1);
    if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
    size_t n = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
      if (ec == std::errc::result_out_of_range) throw ENetFailure(kImapLiteralTooLarge);
      Malformed();
    }
    if (n > limits_.MaxLiteral) throw ENetFailure(kImapLiteralTooLarge);
    Count(n);
    TImapValue v;
    v.Kind = TImapValue::vString;
    v.Text = in_.ReadBytes(n);
    NextLine();
    return v;
  }

  TImapValue Atom() {
    TImapValue v;
    const size_t start = pos_;
    while (pos_ < line_.size()) {
      const char c = line_[pos_];
      if (c == '[') {
        // A section such as BODY[HEADER.FIELDS (FROM)] belongs to its atom.
        const size_t close = line_.find(']', pos_);
        if (close == std::string::npos) Malformed();
        pos_ = close + 1;
        continue;
      }
      if (!AtomChar(c)) break;
      ++pos_;
    }
    if (pos_ == start) Malformed();
    v.Text = line_.substr(start, pos_ - start);
    if (Upper(v.Text) == "NIL") v.Kind = TImapValue::vNil;
    return v;
  }

  TImapInput& in_;
  const TImapLimits& limits_;
  std::string line_;
  size_t pos_ = 0;
  size_t total_ = 0;
};

}  // namespace

bool TImapValue::IsAtom(std::string_view upper) const { return Kind == vAtom && Upper(Text) == upper; }

TImapResponse ReadImapResponse(TImapInput& in, const TImapLimits& limits) { return TParser(in, limits).Parse(); }

bool ImapQuote(std::string_view s, std::string& quoted) {
  quoted = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0 || u == '\r' || u == '\n' || u >= 0x80) return false;
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return true;
}

}  // namespace qnb
