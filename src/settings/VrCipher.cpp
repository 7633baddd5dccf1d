#include "settings/VrCipher.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>

#include "settings/TextConv.h"

namespace qnb {

namespace {

using TKey = std::array<unsigned char, 16>;

TKey MakeKey(std::string_view key) {
  TKey k{};
  for (size_t i = 0; i < k.size() && i < key.size(); ++i) k[i] = static_cast<unsigned char>(key[i]);
  return k;
}

// Encrypts or decrypts whole 16-byte blocks, each on its own (ECB, no padding).
std::string CryptBlocks(std::string_view data, const TKey& key, bool encrypt) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1)
    throw ECipherError("AES initialisation failed");
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  std::string out(data.size(), '\0');
  int len = 0;
  if (!data.empty() &&
      EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                       reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size())) != 1)
    throw ECipherError("AES failed");
  return out;
}

}  // namespace

std::string StringToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string HexToString(std::string_view hex) {
  std::string out;
  out.reserve(hex.size() / 2 + 1);
  for (size_t p = 0; p < hex.size(); p += 2) {
    int value = 0;
    for (size_t k = p; k < p + 2 && k < hex.size(); ++k) {
      int d = HexDigitValue(hex[k]);
      if (d < 0) throw ECipherError("'" + std::string(hex.substr(p, 2)) + "' is not a valid hexadecimal value");
      value = value * 16 + d;
    }
    out += static_cast<char>(value);
  }
  return out;
}

std::string EncryptStr(std::string_view text, std::string_view key) {
  uint32_t n = static_cast<uint32_t>(text.size());
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((n >> (8 * i)) & 0xFF);
  std::string padded(text);
  padded.resize((text.size() + 15) / 16 * 16, '\0');
  out += CryptBlocks(padded, MakeKey(key), true);
  return StringToHex(out);
}

std::string DecryptStr(std::string_view hex, std::string_view key) {
  std::string head = HexToString(hex.substr(0, 8));
  if (head.size() < 4) return {};
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(head[static_cast<size_t>(i)]);
  std::string data = HexToString(hex).substr(4);
  if (data.size() % 16 != 0) throw ECipherError("the coded text is not a whole number of blocks");
  std::string plain = CryptBlocks(data, MakeKey(key), false);
  if (plain.size() > n) plain.resize(n);
  return plain;
}

}  // namespace qnb
