#pragma once
// Buyer-name splitting and the tolerant integer conversion used for order fields.

#include <cstdint>
#include <string>
#include <string_view>

namespace qnb {

class TNameParser {
 public:
  // When fName and lName are both blank: fName := the text before the first
  // blank of sName, lName := the text after it; a name without a blank goes
  // whole into fName. sName is taken as it is, leading blanks included.
  void splitName(const std::string& sName, std::string& fName, std::string& lName) const;
};

// Created and freed by the program's start-up and shut-down code.
extern TNameParser* NameParser;

// Decimal integer with optional leading blanks and sign, nothing after the
// digits, within 32 bits. False (and value untouched) otherwise.
bool VrTryStrToInt(std::string_view s, int32_t& value);

// VrTryStrToInt with empty text counting as 0 and every failure giving 0.
int32_t VrStrToInt(std::string_view s);

}  // namespace qnb
