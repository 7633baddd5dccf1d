#include "analysis/CountryCode.h"

namespace qnb {

TCountryCode* CountryCode = nullptr;

std::string TCountryCode::CountryToCode(std::string_view country) const {
  for (const auto& line : FCountryList) {
    auto eq = line.find('=');
    if (eq == std::string::npos || !SameText(std::string_view(line).substr(0, eq), country)) continue;
    std::string code = line.substr(eq + 1);
    if (Trim(code).empty()) break;
    return code;
  }
  return std::string(country);
}

}  // namespace qnb
