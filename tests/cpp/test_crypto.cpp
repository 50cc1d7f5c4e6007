#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>

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

// Cipher texts written by earlier releases, stored by users: every one must
// still be produced and read back the same way.
struct Stored { const char* key; const char* text; const char* cipher; };
const std::string kKeyB = "touchlane-fixture-key-32-bytes!!+extra";
const Stored kStored[] = {
    {"A", "", "f46c76b48845765ef6929a8f0173f436"},
    {"A", "a", "bf08cc1ec88e74d71e0d3ddef0e9524d"},
    {"A", "paid search", "3857c20e380a464febaadb9f22c5b64c"},
    {"A", "exactly sixteen!", "7ac3cf487e68ae9e2a8a0d015df6b00826e8aeb537eb3cc60e0a217155871942"},
    {"A", "display > search > email > direct",
     "e30dafb41606dac7002e72b963b6e8f171fb1fc7bc18772a2ff41eaddd139aa9770da6b4e83ed22194284aafd676649e"},
    {"A", "caf\xc3\xa9", "f5c8e8165152ef9bbde13791326a72d2"},
    {"A", "tab\there", "6f4d67d5ddc2e69dd0de550351b89a01"},
    {"A", "0123456789abcdef0123456789abcdef0",
     "80c73df1ce4650d6e9fd19291bfeed5ca88647e61aa43a732e9ebed2f2dba5329f00a550e5f330b2cf39b37bf58cbfeb"},
    {"B", "", "a9f23103fbb1f8c6dcec2402cc86389e"},
    {"B", "a", "342292d9ddd0b71141111678c8ad7b8a"},
    {"B", "paid search", "de5819e909d0f1e1b625cab4249f0d60"},
    {"B", "exactly sixteen!", "94420ff6b9f48e92234a1ec30f8fcd35b6dda63adc241d79463745608b5ed497"},
    {"B", "display > search > email > direct",
     "dd39a74c3e02e7ee950f93edeefa91fe98a00bce1fd29e49cee7379135ceedd90177f969c097ac6fdadf738779c10811"},
    {"B", "caf\xc3\xa9", "f4bf42758b9d5d6261ad2037e8677ec2"},
    {"B", "tab\there", "e461776d2358d869a6e92b14ce8fd16f"},
    {"B", "0123456789abcdef0123456789abcdef0",
     "27b6273a331b9edb3856f22fa56d0697336a8891dfc0a31f1a69d98fe2d88461f043171e33c0859109941da1f45230f3"},
};

TEST(Crypto, StoredCipherTextsAreReproducedAndRead) {
  for (const Stored& s : kStored) {
    const std::string key = std::string(s.key) == "A" ? kKey32 : kKeyB;
    EXPECT_EQ(encrypt(s.text, key), s.cipher) << s.text;
    std::string back;
    for (char ch : std::string(s.text))
      if (static_cast<unsigned char>(ch) >= 32 && ch != 127) back += ch;   // controls dropped
    EXPECT_EQ(decrypt(s.cipher, key), back) << s.text;
  }
}

TEST(Crypto, CbcKnownAnswers) {
  // SP 800-38A: F.1.5 (one block, which CBC with a zero IV is), then the
  // four blocks of F.2.5 / F.2.6.
  const bytes key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  EXPECT_EQ(to_hex(cbc_encrypt(key, bytes(16, 0), hex("6bc1bee22e409f96e93d7e117393172a"))),
            "f3eed1bdb5d2a03c064b5a7e3db181f8");
  const bytes iv = hex("000102030405060708090a0b0c0d0e0f");
  const std::string plain =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
                    cipher =
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
  EXPECT_EQ(to_hex(cbc_encrypt(key, iv, hex(plain))), cipher);
  EXPECT_EQ(to_hex(cbc_decrypt(key, iv, hex(cipher))), plain);
  EXPECT_TRUE(cbc_encrypt(key, iv, bytes()).empty());
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
}

TEST(Crypto, KeyBeyond32BytesAndUpperCaseDigitsChangeNothing) {
  EXPECT_EQ(encrypt("abc", kKey32 + "tail"), encrypt("abc", kKey32));
  std::string upper = encrypt("Hi", kKey32);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
  EXPECT_EQ(decrypt(upper, kKey32), "Hi");
}

void expect_utf8(const std::string& in, const std::string& out) {
  EXPECT_EQ(printable_utf8(reinterpret_cast<const std::uint8_t*>(in.data()), in.size()), out)
      << in;
}

TEST(Crypto, DecryptedTextKeepsUtf8AndDropsControls) {
  expect_utf8("caf\xc3\xa9", "caf\xc3\xa9");
  expect_utf8("a\x7f" "b\x1f~ c\td\n", "ab~ cd");                 // 127 and below 32 go
  expect_utf8("\xe2\x82\xac 5 \xf0\x9f\x98\x80", "\xe2\x82\xac 5 \xf0\x9f\x98\x80");
  expect_utf8("\xc2\x85", "\xc2\x85");                            // a C1 control is not ASCII
  expect_utf8("x\x80y\xc3", "xy");                                // stray continuation, cut end
  expect_utf8("\xc0\xaf\xe0\x80\xaf", "");                        // overlong forms
  expect_utf8("\xed\xa0\x80\xf4\x90\x80\x80\xf5\x80\x80\x80", "");  // surrogate, beyond U+10FFFF
  expect_utf8("\xe2\x82" "a", "a");                               // truncated, then ASCII
  const std::string text = "Zo\xc3\xab, caf\xc3\xa9 \xe2\x86\x92 M\xc3\xbcnchen";
  EXPECT_EQ(decrypt(encrypt(text, kKey32), kKey32), text);
  // A wrong key is no error: whatever well-formed text comes out.
  const std::string out = decrypt(encrypt("secret message", kKey32), std::string(32, 'f'));
  EXPECT_NE(out, "secret message");
  EXPECT_EQ(printable_utf8(reinterpret_cast<const std::uint8_t*>(out.data()), out.size()), out);
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
