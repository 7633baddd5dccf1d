#pragma once
// The plug-in interface as the host sees it: the C record and export types of
// the public SDK header, and reading the record's text fields.

#include <cstddef>
#include <cstring>
#include <string>

#include "quenbell/analyzer.h"

namespace qnb {

using ::TOriginData;
using ::TGetResellerNameFunc;
using ::TIsOrderFunc;
using ::TIsOrderExFunc;
using ::TParseOrderFunc;
using ::TParseOrderExFunc;

// A text field of the record: up to its first zero byte, or the whole array when
// the plug-in filled it without one.
template <std::size_t N>
std::string OriginText(const char (&field)[N]) {
  const void* zero = std::memchr(field, 0, N);
  return std::string(field, zero ? static_cast<const char*>(zero) - field : N);
}

}  // namespace qnb
