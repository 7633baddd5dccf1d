#include <gtest/gtest.h>

#include "settings/QnbBase.h"
#include "settings/VrCipher.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

TEST(Cipher, CodedLengthFollowsWholeBlocks) {
  struct Case { size_t len; size_t hexDigits; };
  for (Case c : {Case{0, 8}, {1, 40}, {15, 40}, {16, 40}, {17, 72}, {32, 72}, {33, 104}}) {
    std::string coded = EncodePass(std::string(c.len, 'x'));
    EXPECT_EQ(coded.size(), c.hexDigits) << "length " << c.len;
    EXPECT_EQ(coded.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  }
  EXPECT_EQ(EncodePass(""), "00000000");
}

TEST(Cipher, RoundTripsAnyBytes) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (const std::string& p : {std::string("a"), std::string("p\xE4ss w\xC3\xB6rd"), all, std::string(16, '\0'),
                               std::string("trailing zero\0", 14)})
    EXPECT_EQ(DecodePass(EncodePass(p)), p);
}

// The coding must stay readable by any AES-128 implementation: compare with the
// openssl command line (key "KQJ" padded with zero bytes, ECB, no padding).
TEST(Cipher, AgreesWithOpensslCommandLine) {
  const std::string password = "Secret-Password-17";  // 18 characters: two blocks
  std::string reversed(password.rbegin(), password.rend());
  std::string padded = reversed + std::string(32 - reversed.size(), '\0');
  test::TTempDir dir;
  auto in = dir.Write("plain.bin", padded);
  auto r = test::RunProcess({"/usr/bin/openssl", "enc", "-aes-128-ecb", "-K", "4B514A00000000000000000000000000",
                             "-nopad", "-in", in.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(EncodePass(password), "12000000" + StringToHex(r.out));
}

TEST(Cipher, HexConversion) {
  EXPECT_EQ(StringToHex(std::string("\x00\x0f\xab\xff", 4)), "000FABFF");
  EXPECT_EQ(HexToString("4a4B"), "JK");
  EXPECT_EQ(HexToString("414"), std::string("A\x04", 2));  // a lone last digit is a byte too
  EXPECT_THROW(HexToString("4G"), ECipherError);
  EXPECT_EQ(HexToString(""), "");
}

TEST(Cipher, StoredTextsThatDecodeOrFail) {
  EXPECT_EQ(DecodePass(""), "");
  EXPECT_EQ(DecodePass("05000000"), "");  // no data: nothing to take the length from
  EXPECT_EQ(DecodePass("0500"), "");
  EXPECT_THROW(DecodePass("05000000ZZ"), ECipherError);
  EXPECT_THROW(DecodePass("05000000" + std::string(30, 'A')), ECipherError);  // 15 bytes: not a block
  // A length larger than the data gives all decrypted bytes, padding included.
  std::string coded = EncodePass("abc");
  std::string longer = "FF000000" + coded.substr(8);
  EXPECT_EQ(DecodePass(longer).size(), 16u);
}

TEST(Cipher, KeyLongerThanSixteenBytesIsCut) {
  EXPECT_EQ(EncryptStr("data", std::string(16, 'k')), EncryptStr("data", std::string(16, 'k') + "ignored"));
  EXPECT_EQ(DecryptStr(EncryptStr("data", "K"), "K"), "data");
}

}  // namespace
}  // namespace qnb
