#pragma once
// Decoding of encoded words ("=?charset?X?text?=") in header values. The result
// is bytes: nothing is converted between character sets except ISO-2022-JP,
// which becomes Shift_JIS.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qnb {

// A "=XX" in a Q-encoded word whose two characters are not hexadecimal digits.
struct EConvertError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Replaces every recognised encoded word of S by its decoded bytes and removes
// every NUL byte. Throws EConvertError for a bad "=XX" in a Q-encoded word.
std::string VrDecodeHeader(std::string_view S);

// The message reader's variant: only words whose charset begins with ISO or
// WINDOWS are decoded, utf-8 words get no extra step, and NUL bytes are removed
// once, at the end. Throws EConvertError like VrDecodeHeader.
std::string DecodeIsoWindowsWords(std::string_view S);

// 1-based position of the first SubStr in S at or after Offset (0 or 1: from
// the start); 0 when there is none.
int32_t PosStartAt(std::string_view SubStr, std::string_view S, int32_t Offset, bool IgnoreCase);

// Index of C in the Base64 alphabet; 0 for any other character, "=" included.
int B64(char C);

// Hook for utf-8 words: returns S unchanged.
std::string UnicodeToStr(std::string_view S);

// ISO-2022-JP to Shift_JIS: ESC "$B" starts double-byte text, ESC "(B" ends it.
std::string Decode2022JP(std::string_view S);

}  // namespace qnb
