#pragma once
// Byte-string helpers shared by the core. All system text is single-byte:
// nothing here converts character sets.

#include <string>
#include <string_view>
#include <vector>

namespace qnb {

using TStrings = std::vector<std::string>;

// Every byte up to 0x20 counts as blank at both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII-only case mapping; bytes >= 0x80 stay as they are.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);

// Lines joined with CR LF after every line (also after the last one).
std::string JoinCRLF(const TStrings& lines);

// Splits at LF; a CR right before the LF is dropped; a last line without LF
// still counts; an empty input gives no lines.
TStrings SplitLines(std::string_view text);

}  // namespace qnb
