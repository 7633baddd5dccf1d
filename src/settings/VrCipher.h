#pragma once
// Hexadecimal text and the block cipher step of the stored-password coding.

#include <stdexcept>
#include <string>
#include <string_view>

namespace qnb {

struct ECipherError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Each byte as two upper-case hexadecimal digits.
std::string StringToHex(std::string_view bytes);
// Pairs of hexadecimal digits (either case) to bytes; a single digit at the end
// of an odd-length text is one byte too. Throws ECipherError on a non-hex pair.
std::string HexToString(std::string_view hex);

// Length (uint32 little-endian) + the text in zero-filled 16-byte blocks, each
// AES-128-ECB encrypted under the first 16 bytes of key (zero-padded), as hex.
std::string EncryptStr(std::string_view text, std::string_view key);
// The reverse; throws ECipherError when the data is not whole blocks or not hex.
std::string DecryptStr(std::string_view hex, std::string_view key);

}  // namespace qnb
