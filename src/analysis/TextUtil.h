#pragma once
// Byte-string helpers shared by the core. All system text is single-byte:
// nothing here converts character sets.

#include <string>
#include <string_view>
#include <vector>

namespace qnb {

using TStrings = std::vector<std::string>;
// Lines that live elsewhere (a mail's one buffer, a part's lines).
using TLineViews = std::vector<std::string_view>;

// A read-only list of lines, owned or viewed, for code that only reads them.
class TLineSpan {
 public:
  TLineSpan() = default;
  TLineSpan(const TStrings& lines) : strings_(&lines), size_(lines.size()) {}
  TLineSpan(const TLineViews& lines) : views_(&lines), size_(lines.size()) {}

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view operator[](size_t i) const { return strings_ ? std::string_view((*strings_)[i]) : (*views_)[i]; }

  class iterator {
   public:
    iterator(const TLineSpan* span, size_t i) : span_(span), i_(i) {}
    std::string_view operator*() const { return (*span_)[i_]; }
    iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const iterator& o) const { return i_ == o.i_; }

   private:
    const TLineSpan* span_;
    size_t i_;
  };
  iterator begin() const { return {this, 0}; }
  iterator end() const { return {this, size_}; }

 private:
  const TStrings* strings_ = nullptr;
  const TLineViews* views_ = nullptr;
  size_t size_ = 0;
};

// Every byte up to 0x20 counts as blank at both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII-only case mapping; bytes >= 0x80 stay as they are.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);

// Lines joined with CR LF after every line (also after the last one).
std::string JoinCRLF(const TStrings& lines);
std::string JoinCRLF(TLineSpan lines);
// The size of the lines so joined.
size_t JoinedSize(TLineSpan lines);

// Splits at LF; a CR right before the LF is dropped; a last line without LF
// still counts; an empty input gives no lines.
TStrings SplitLines(std::string_view text);

}  // namespace qnb
