#include "analysis/NameParser.h"

#include "analysis/TextUtil.h"

namespace qnb {

TNameParser* NameParser = nullptr;

void TNameParser::splitName(const std::string& sName, std::string& fName, std::string& lName) const {
  if (!Trim(fName + lName).empty()) return;
  auto blank = sName.find(' ');
  if (blank == std::string::npos) {
    fName = sName;
    return;
  }
  fName = sName.substr(0, blank);
  lName = sName.substr(blank + 1);
}

bool VrTryStrToInt(std::string_view s, int32_t& value) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  // Accumulate as a negative number so that INT32_MIN fits.
  int64_t acc = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    acc = acc * 10 - (s[i] - '0');
    if (acc < INT32_MIN) return false;
  }
  if (!negative && -acc > INT32_MAX) return false;
  value = static_cast<int32_t>(negative ? acc : -acc);
  return true;
}

int32_t VrStrToInt(std::string_view s) {
  if (s.empty()) return 0;
  int32_t v = 0;
  return VrTryStrToInt(s, v) ? v : 0;
}

}  // namespace qnb
