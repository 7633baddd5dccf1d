#pragma once
// Minimal JSON output for quenbell-cli. Byte strings are written as UTF-8 text
// when they are valid UTF-8, otherwise each byte as the character of the same
// code (U+0000..U+00FF).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/TextUtil.h"

namespace qnb::cli {

std::string JsonString(std::string_view bytes);
// The bytes as UTF-8 text: as they are when they are valid UTF-8, otherwise
// each byte as the character of the same code.
std::string Utf8Text(std::string_view bytes);
// The shortest text that reads back as the same double ("0" for NaN and infinities).
std::string JsonDouble(double v);
// The same, appended to out.
void AppendJsonString(std::string& out, std::string_view bytes);
std::string JsonStringList(TLineSpan lines);
inline std::string JsonBool(bool b) { return b ? "true" : "false"; }
// Currency (amount x 10000) as a string with exactly four decimals.
std::string JsonCurrency(int64_t value);
// A date-time (days since 1899-12-30) as "YYYY-MM-DD HH:MM:SS", local, no zone.
std::string DateTimeText(double days);

// Builds one object: {"k": v, ...} with values already in JSON form.
class TJsonObject {
 public:
  TJsonObject& Raw(std::string_view key, std::string_view json);
  TJsonObject& Str(std::string_view key, std::string_view bytes);
  TJsonObject& Int(std::string_view key, int64_t v) { return Raw(key, std::to_string(v)); }
  TJsonObject& Bool(std::string_view key, bool v) { return Raw(key, JsonBool(v)); }
  std::string Text() const { return body_.empty() ? "{}" : body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;  // "{" and the members so far
};

}  // namespace qnb::cli
