// Rule files as users write them, broken in every way: the reader must report
// faults, never crash, and keep only rules it fully understood.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rules/RuleEngine.h"
#include "rules/RuleFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  qnb::rules::TRuleFileResult r = qnb::rules::ParseRuleText(text, "fuzz.toml", true);
  for (const auto& e : r.errors)
    if (e.line < 1) __builtin_trap();
  // Rules that loaded can be used on a mail.
  qnb::rules::TRuleSet set;
  set.Assign({}, r.rules);
  TOriginData od{};
  set.Analyze("From: a@b.example\r\nSubject: x\r\n\r\nOrder 1 Total $1.00\r\n", od);
  return 0;
}
