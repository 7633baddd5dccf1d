#pragma once
// A mail's lines kept in a few large buffers instead of one heap block per
// line: a mail just under the largest allowed size is then held about once,
// and the views of it (body lines, the request to the analyzer helper) need
// no copies.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/TextUtil.h"

namespace qnb {

class TMailLines {
 public:
  TMailLines() = default;
  TMailLines(TMailLines&&) noexcept = default;
  TMailLines& operator=(TMailLines&&) noexcept = default;
  // Views point into the buffers: a copy would share them with its original.
  TMailLines(const TMailLines&) = delete;
  TMailLines& operator=(const TMailLines&) = delete;

  explicit TMailLines(TLineSpan lines);

  // Appends a copy of line (no line end); returns the stored view.
  std::string_view push_back(std::string_view line);
  std::string_view emplace_back(std::string_view line) { return push_back(line); }
  // Takes a mail's text over as one buffer and appends its lines without
  // copying: cut at LF, a CR before it or at the very end dropped.
  void AdoptText(std::string text);

  size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  std::string_view operator[](size_t i) const { return lines_[i]; }
  std::string_view back() const { return lines_.back(); }
  auto begin() const { return lines_.begin(); }
  auto end() const { return lines_.end(); }
  const TLineViews& Lines() const { return lines_; }
  operator TLineSpan() const { return TLineSpan(lines_); }

  // The bytes of the lines each with CR LF, as JoinCRLF would count them.
  size_t Bytes() const { return bytes_; }
  void Clear() { *this = TMailLines(); }

 private:
  // Each buffer is a string reserved once and never grown past that, so the
  // views into it stay put; the strings are held by pointer for the same
  // reason when the list of them grows.
  std::vector<std::unique_ptr<std::string>> buffers_;
  TLineViews lines_;
  size_t bytes_ = 0;
};

}  // namespace qnb
