#pragma once
// Country names to codes for the orders. The tables are "name=value" lines;
// nothing fills them in this program, so every country passes unchanged.

#include <string>
#include <string_view>

#include "analysis/TextUtil.h"

namespace qnb {

class TCountryCode {
 public:
  // The value listed for Country (name compared without regard to case), or
  // Country itself when there is no entry or the entry's value is blank.
  std::string CountryToCode(std::string_view country) const;

  TStrings& CountryList() { return FCountryList; }
  TStrings& CodeList() { return FCodeList; }
  TStrings& USStateList() { return FUSStateList; }

 private:
  TStrings FCountryList;
  TStrings FCodeList;
  TStrings FUSStateList;
};

// Created and freed by the program's start-up and shut-down code.
extern TCountryCode* CountryCode;

}  // namespace qnb
