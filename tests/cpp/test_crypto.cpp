#include <gtest/gtest.h>

#include <cctype>

#include "crypto/crypto.h"
#include "helpers.h"

namespace {

bytes hex(const std::string& s) { return hexStringToByteVector(s); }

std::string to_hex(const bytes& b) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (auto x : b) s += std::string{d[x >> 4], d[x & 15]};
  return s;
}

const std::string kKey32 = "0123456789abcdef0123456789abcdef";

// CBC by hand over the block cipher: block i = AES(plain i xor previous).
std::string cbc_by_hand(const bytes& padded) {
  const Aes256 aes(reinterpret_cast<const std::uint8_t*>(kKey32.data()));
  bytes prev = fixed_iv(), out;
  for (size_t b = 0; b < padded.size(); b += 16) {
    bytes block(16);
    for (int i = 0; i < 16; ++i) block[i] = padded[b + i] ^ prev[i];
    aes.encrypt_block(block.data(), prev.data());
    out.insert(out.end(), prev.begin(), prev.end());
  }
  return to_hex(out);
}

TEST(Crypto, BlockCipherKnownAnswers) {
  // SP 800-38A F.1.5, then F.2.5 / F.2.6: two blocks of CBC.
  const Aes256 aes(hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4").data());
  bytes out(16), back(16);
  aes.encrypt_block(hex("6bc1bee22e409f96e93d7e117393172a").data(), out.data());
  EXPECT_EQ(to_hex(out), "f3eed1bdb5d2a03c064b5a7e3db181f8");
  aes.decrypt_block(out.data(), back.data());
  EXPECT_EQ(to_hex(back), "6bc1bee22e409f96e93d7e117393172a");
  const bytes iv = hex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
                    cipher = "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d";
  EXPECT_EQ(to_hex(cbc_encrypt(aes, iv, hex(plain))), cipher);
  EXPECT_EQ(to_hex(cbc_decrypt(aes, iv, hex(cipher))), plain);
}

TEST(Crypto, Pkcs7PaddingAddsAWholeBlockToAFullBlock) {
  bytes full(16, 'a');
  bytes want = full;
  want.insert(want.end(), 16, 16);
  EXPECT_EQ(pkcs7_pad(full), want);
  EXPECT_EQ(pkcs7_padding(want), 16u);
  EXPECT_EQ(pkcs7_pad(bytes(15, 'a')).back(), 1);
  EXPECT_EQ(pkcs7_padding(pkcs7_pad(bytes(5, 'a'))), 11u);
  for (std::pair<int, int> bad : {std::pair<int, int>{6, 3}, {15, 0}, {15, 17}}) {
    bytes b = pkcs7_pad(bytes(5, 'a'));
    b[bad.first] = static_cast<std::uint8_t>(bad.second);
    EXPECT_EQ(pkcs7_padding(b), 0u) << "byte " << bad.first << " = " << bad.second;
  }
  // End to end: sixteen characters give two blocks, the second all padding.
  const std::string text = "exactly sixteen!";
  bytes padded(text.begin(), text.end());
  padded.insert(padded.end(), 16, 16);
  EXPECT_EQ(encrypt(text, kKey32), cbc_by_hand(padded));
  EXPECT_EQ(decrypt(encrypt(text, kKey32), kKey32), text);
}

TEST(Crypto, EncryptIsCbcOfThePaddedTextInHex) {
  EXPECT_EQ(encrypt("hi", kKey32), cbc_by_hand(pkcs7_pad(bytes{'h', 'i'})));
  EXPECT_EQ(encrypt("abc", kKey32 + "tail"), encrypt("abc", kKey32));   // first 32 bytes only
  std::string upper = encrypt("Hi", kKey32);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
  EXPECT_EQ(decrypt(upper, kKey32), "Hi");
}

TEST(Crypto, DecryptionKeepsOnlyPrintableCharacters) {
  // 32 (blank) and 126 (~) are printable; 31, DEL (127) and bytes above are not.
  const std::string text = std::string("a\x7f") + "b\x1f~ c\x80\xc3\xa9" + "d\t";
  EXPECT_EQ(decrypt(encrypt(text, kKey32), kKey32), "ab~ cd");
  // A wrong key is no error: whatever printable bytes come out.
  const std::string out = decrypt(encrypt("secret message", kKey32), std::string(32, 'f'));
  EXPECT_NE(out, "secret message");
  for (char ch : out) EXPECT_TRUE(ch >= 32 && ch <= 126);
}

TEST(Crypto, ErrorTable) {
  const std::string c = encrypt("text", kKey32);
  std::string g = c;
  g[5] = 'g';
  const std::string len = "cipher text must be a non-zero multiple of 32 hexadecimal digits long, not ";
  tl_test::expect_errors({
      {"key must be at least 32 bytes long, not 9", [&] { decrypt(c, "short key"); }},
      {len + "31", [&] { decrypt(c.substr(0, 31), kKey32); }},
      {len + "0", [&] { decrypt("", kKey32); }},
      {"cipher text must be hexadecimal: character 6 is not a hexadecimal digit", [&] { decrypt(g, kKey32); }},
  });
}

}  // namespace
