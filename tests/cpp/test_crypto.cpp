#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

#include "crypto/crypto.h"

namespace {

bytes hex(const std::string& s) { return hexStringToByteVector(s); }

std::string to_hex(const bytes& b) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (auto x : b) {
    s.push_back(d[x >> 4]);
    s.push_back(d[x & 15]);
  }
  return s;
}

void expect_block(const std::string& key, const std::string& plain, const std::string& cipher) {
  Aes256 aes(hex(key).data());
  bytes out(16), back(16);
  aes.encrypt_block(hex(plain).data(), out.data());
  EXPECT_EQ(to_hex(out), cipher);
  aes.decrypt_block(out.data(), back.data());
  EXPECT_EQ(to_hex(back), plain);
}

const std::string kKey32 = "0123456789abcdef0123456789abcdef";

void expect_rejected(const std::string& cipher, const std::string& key, const std::string& what) {
  try {
    decrypt(cipher, key);
    ADD_FAILURE() << "no error for '" << cipher << "'";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
  }
}

// Runs a shell command and returns its standard output; "" when it fails.
std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (pclose(p) != 0) return "";
  return out;
}

bool have_openssl() { return std::system("openssl version > /dev/null 2>&1") == 0; }

std::string hex_of(const std::string& s) {
  return to_hex(bytes(s.begin(), s.end()));
}

}  // namespace

TEST(Aes256, KnownAnswerBlocks) {
  // FIPS-197, appendix C.3
  expect_block("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
               "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089");
  // SP 800-38A, ECB-AES256 (F.1.5)
  const std::string k = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
  expect_block(k, "6bc1bee22e409f96e93d7e117393172a", "f3eed1bdb5d2a03c064b5a7e3db181f8");
  expect_block(k, "ae2d8a571e03ac9c9eb76fac45af8e51", "591ccb10d410ed26dc5ba74a31362870");
  expect_block(k, "30c81c46a35ce411e5fbc1191a0a52ef", "b6ed21b99ca6f4f9f153e7b1beafed1d");
  expect_block(k, "f69f2445df4f9b17ad2b417be66c3710", "23304b7a39f9f3ff067d8d8f9e24ecc7");
}

TEST(Aes256, CbcKnownAnswer) {
  // SP 800-38A, CBC-AES256 (F.2.5 / F.2.6)
  Aes256 aes(hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4").data());
  bytes iv = hex("000102030405060708090a0b0c0d0e0f");
  std::string plain =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
  std::string cipher =
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
  EXPECT_EQ(to_hex(cbc_encrypt(aes, iv, hex(plain))), cipher);
  EXPECT_EQ(to_hex(cbc_decrypt(aes, iv, hex(cipher))), plain);
  EXPECT_THROW(cbc_encrypt(aes, iv, bytes(15)), std::invalid_argument);
  EXPECT_THROW(cbc_decrypt(aes, bytes(8), bytes(16)), std::invalid_argument);
}

TEST(Pkcs7, PadAndCheck) {
  EXPECT_EQ(pkcs7_pad({}), bytes(16, 16));
  EXPECT_EQ(pkcs7_pad(bytes(15, 'a')).back(), 1);
  EXPECT_EQ(pkcs7_pad(bytes(16, 'a')).size(), 32u);
  EXPECT_EQ(pkcs7_padding(pkcs7_pad(bytes(5, 'a'))), 11u);
  bytes bad = pkcs7_pad(bytes(5, 'a'));
  bad[6] = 3;                          // one padding byte disagrees
  EXPECT_EQ(pkcs7_padding(bad), 0u);
  bad.back() = 0;
  EXPECT_EQ(pkcs7_padding(bad), 0u);
  bad.back() = 17;
  EXPECT_EQ(pkcs7_padding(bad), 0u);
}

TEST(Encrypt, LengthsAndHexForm) {
  std::string e = encrypt("", kKey32);
  EXPECT_EQ(e.size(), 32u);
  EXPECT_EQ(e.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(encrypt("0123456789abcdef", kKey32).size(), 64u);
  EXPECT_EQ(encrypt("0123456789abcde", kKey32).size(), 32u);
  EXPECT_EQ(decrypt(e, kKey32), "");
  // only the first 32 bytes of a longer key are used
  EXPECT_EQ(encrypt("abc", kKey32 + "tail"), encrypt("abc", kKey32));
  // an independent computation: first block = AES(key, pad(text) xor IV)
  bytes block = pkcs7_pad(bytes{'h', 'i'});
  for (int i = 0; i < 16; ++i) block[i] ^= fixed_iv()[i];
  bytes out(16);
  Aes256(reinterpret_cast<const std::uint8_t*>(kKey32.data())).encrypt_block(block.data(), out.data());
  EXPECT_EQ(encrypt("hi", kKey32), to_hex(out));
}

TEST(Decrypt, WrongKeyIsNotAnError) {
  std::string c = encrypt("secret message", kKey32);
  std::string other = "ffffffffffffffffffffffffffffffff";
  std::string out;
  EXPECT_NO_THROW(out = decrypt(c, other));
  EXPECT_NE(out, "secret message");
  for (char ch : out) EXPECT_TRUE(ch >= 32 && ch <= 126);
}

TEST(Decrypt, RejectsBadInput) {
  std::string c = encrypt("text", kKey32);
  expect_rejected(c, "short key", "key must be at least 32 bytes long, not 9");
  expect_rejected(c.substr(0, 31), kKey32, "multiple of 32 hexadecimal digits long, not 31");
  expect_rejected(c + "00", kKey32, "not 34");
  expect_rejected("", kKey32, "not 0");
  std::string g = c;
  g[5] = 'g';
  expect_rejected(g, kKey32, "character 6 is not a hexadecimal digit");
  g[5] = ' ';
  expect_rejected(g, kKey32, "character 6");
  EXPECT_THROW(encrypt("x", std::string(31, 'k')), std::invalid_argument);
}

TEST(HexString, Bytes) {
  EXPECT_EQ(hexStringToByteVector("00ff0a"), (bytes{0x00, 0xff, 0x0a}));
  EXPECT_EQ(hexStringToByteVector("abc"), (bytes{0xab, 0x0c}));   // trailing single digit
  EXPECT_EQ(hexStringToByteVector(""), bytes{});
  EXPECT_THROW(hexStringToByteVector("0x"), std::invalid_argument);
  EXPECT_THROW(hexStringToByteVector("+1"), std::invalid_argument);
}

TEST(Encrypt, AgreesWithOpensslCommandLine) {
  if (!have_openssl()) GTEST_SKIP() << "openssl not found";
  const std::string key = hex_of(kKey32), iv = to_hex(fixed_iv());
  char name[] = "/tmp/touchlane_cryptoXXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string file = name;
  for (std::string text : {std::string(""), std::string("hello"), std::string("exactly sixteen!"),
                           std::string("a longer text, spanning three blocks of cipher")}) {
    {
      std::ofstream f(file, std::ios::binary);
      f << text;
    }
    std::string theirs = run("openssl enc -aes-256-cbc -K " + key + " -iv " + iv + " -in " + file +
                             " | od -An -v -tx1 | tr -d ' \\n'");
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(encrypt(text, kKey32), theirs) << text;
    // and our cipher text decrypts with openssl
    {
      std::ofstream f(file, std::ios::binary);
      bytes c = hexStringToByteVector(encrypt(text, kKey32));
      f.write(reinterpret_cast<const char*>(c.data()), static_cast<std::streamsize>(c.size()));
    }
    std::string plain = run("openssl enc -d -aes-256-cbc -K " + key + " -iv " + iv + " -in " + file);
    EXPECT_EQ(plain, text);
  }
  std::remove(file.c_str());
}
