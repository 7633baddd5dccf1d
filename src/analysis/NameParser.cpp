#include "analysis/NameParser.h"

#include "analysis/TextUtil.h"

#include "settings/TextConv.h"

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
  return TryStrToInt(s.substr(i), value);
}

int32_t VrStrToInt(std::string_view s) {
  if (s.empty()) return 0;
  int32_t v = 0;
  return VrTryStrToInt(s, v) ? v : 0;
}

}  // namespace qnb
