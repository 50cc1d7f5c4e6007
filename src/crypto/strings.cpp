#include <stdexcept>

#include "crypto/crypto.h"

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The key is read as 32 bytes; a shorter one would be read past its end.
Aes256 make_cipher(const std::string& key0) {
  if (key0.size() < Aes256::key_size)
    throw std::invalid_argument("key must be at least 32 bytes long, not " +
                                std::to_string(key0.size()));
  return Aes256(reinterpret_cast<const std::uint8_t*>(key0.data()));
}

// Printable in the "C" locale: codes 32 to 126.
std::string printable_only(const std::uint8_t* p, std::size_t n) {
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] >= 32 && p[i] <= 126) out.push_back(static_cast<char>(p[i]));
  return out;
}
}  // namespace

const bytes& fixed_iv() {
  static const bytes iv = {0x5c, 0x1e, 0x93, 0xa0, 0x7b, 0x2d, 0x48, 0xf6,
                           0xe1, 0x0c, 0x7a, 0x39, 0x54, 0xb8, 0xd2, 0x6f};
  return iv;
}

bytes hexStringToByteVector(const std::string& hexString) {
  bytes out;
  out.reserve(hexString.size() / 2 + 1);
  for (std::size_t i = 0; i < hexString.size(); i += 2) {
    int v = 0;
    for (std::size_t k = i; k < i + 2 && k < hexString.size(); ++k) {
      int d = hex_value(hexString[k]);
      if (d < 0)
        throw std::invalid_argument("cipher text must be hexadecimal: character " +
                                    std::to_string(k + 1) + " is not a hexadecimal digit");
      v = v * 16 + d;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

std::string encrypt(const std::string& raw_data, const std::string& key0) {
  Aes256 aes = make_cipher(key0);
  bytes plain(raw_data.begin(), raw_data.end());
  bytes cipher = cbc_encrypt(aes, fixed_iv(), pkcs7_pad(plain));
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * cipher.size());
  for (std::uint8_t b : cipher) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return printable_only(reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size());
}

std::string decrypt(const std::string& hexString, const std::string& key0) {
  Aes256 aes = make_cipher(key0);
  if (hexString.empty() || hexString.size() % (2 * Aes256::block_size) != 0)
    throw std::invalid_argument("cipher text must be a non-zero multiple of 32 hexadecimal "
                                "digits long, not " + std::to_string(hexString.size()));
  bytes plain = cbc_decrypt(aes, fixed_iv(), hexStringToByteVector(hexString));
  // A wrong key leaves no valid padding: nothing is stripped then, and the
  // caller gets whatever printable bytes came out.
  const std::size_t npad = pkcs7_padding(plain);
  return printable_only(plain.data(), plain.size() - npad);
}
