#pragma once
// A compiled PCRE2 pattern (UTF mode with Unicode properties, so that \w and \b
// know accented letters; JIT where the machine allows) with the
// limits that end runaway backtracking.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace qnb::rules {

struct TMatch {
  size_t start = 0, end = 0;  // the whole match
  bool hasGroup = false;      // group 1 took part
  size_t groupStart = 0, groupEnd = 0;
};

enum class TMatchResult { Match, NoMatch, Limit, Error };

class TPattern {
 public:
  // Compiles; on failure Ok() is false and Error()/ErrorOffset() say why and
  // where (a byte offset into the pattern).
  explicit TPattern(std::string_view pattern);
  ~TPattern();
  TPattern(const TPattern&) = delete;
  TPattern& operator=(const TPattern&) = delete;

  bool Ok() const { return code_ != nullptr; }
  const std::string& Error() const { return error_; }
  size_t ErrorOffset() const { return errorOffset_; }
  const std::string& Source() const { return source_; }
  // Capturing groups in the pattern.
  int Groups() const { return groups_; }

  // Searches subject (valid UTF-8) from byte offset start. Limit: the match or
  // depth limit ended the search.
  TMatchResult Search(std::string_view subject, TMatch& m, size_t start = 0) const;

 private:
  std::string source_;
  std::string error_;
  size_t errorOffset_ = 0;
  int groups_ = 0;
  void* code_ = nullptr;  // pcre2_code*
  // Compiled for the JIT on the first search: of the many field patterns of
  // the rule files most are never run in a check, and JIT compiling costs far
  // more than the plain compile.
  mutable std::once_flag jit_;
};

// Bytes that are not UTF-8 read as Latin-1, so that any text can be searched.
std::string ValidUtf8(std::string_view s);
// The same, and truncated at a character boundary to at most max bytes.
void CutUtf8(std::string& s, size_t max);

}  // namespace qnb::rules
