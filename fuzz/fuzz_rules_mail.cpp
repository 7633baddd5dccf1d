// Arbitrary mails against all shipped rules, and the amount, currency, date
// and HTML readers on arbitrary text: nothing may crash or run away.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rules/Amount.h"
#include "rules/MailText.h"
#include "rules/RuleEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qnb::rules::TRuleSet* set = [] {
    auto* s = new qnb::rules::TRuleSet;
    s->Load(QUENBELL_FUZZ_RULES_DIR, "");
    return s;
  }();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TOriginData od{};
  set->Analyze(text, od);
  int64_t amount = 0;
  qnb::rules::ParseAmount(text, amount);
  (void)qnb::rules::CurrencyCode(text, "CAD");
  double days = 0;
  qnb::rules::ParseDate(text, "%d. %B %Y %H:%M:%S %p %Z", days);
  (void)qnb::rules::HtmlToText(text);
  return 0;
}
