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
bytes key_bytes(const std::string& key0) {
  if (key0.size() < aes_key_size)
    throw std::invalid_argument("key must be at least 32 bytes long, not " +
                                std::to_string(key0.size()));
  return bytes(key0.begin(), key0.begin() + aes_key_size);
}

// Length of the well-formed UTF-8 character starting at p[0] (of n bytes
// left), or 0 when the bytes there are not one.
std::size_t utf8_length(const std::uint8_t* p, std::size_t n) {
  const std::uint8_t b = p[0];
  std::size_t len;
  std::uint8_t lo = 0x80, hi = 0xbf;   // range of the second byte
  if (b < 0x80) return 1;
  if (b >= 0xc2 && b <= 0xdf) len = 2;
  else if (b >= 0xe0 && b <= 0xef) {
    len = 3;
    if (b == 0xe0) lo = 0xa0;          // overlong
    if (b == 0xed) hi = 0x9f;          // surrogates
  } else if (b >= 0xf0 && b <= 0xf4) {
    len = 4;
    if (b == 0xf0) lo = 0x90;          // overlong
    if (b == 0xf4) hi = 0x8f;          // beyond U+10FFFF
  } else {
    return 0;
  }
  if (n < len || p[1] < lo || p[1] > hi) return 0;
  for (std::size_t k = 2; k < len; ++k)
    if (p[k] < 0x80 || p[k] > 0xbf) return 0;
  return len;
}
}  // namespace

std::string printable_utf8(const std::uint8_t* p, std::size_t n) {
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    const std::size_t len = utf8_length(p + i, n - i);
    if (len == 0) { ++i; continue; }
    if (len > 1 || (p[i] >= 32 && p[i] != 127))
      out.append(reinterpret_cast<const char*>(p + i), len);
    i += len;
  }
  return out;
}

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
  const bytes key = key_bytes(key0);
  bytes plain(raw_data.begin(), raw_data.end());
  bytes cipher = cbc_encrypt(key, fixed_iv(), pkcs7_pad(plain));
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * cipher.size());
  for (std::uint8_t b : cipher) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

std::string decrypt(const std::string& hexString, const std::string& key0) {
  const bytes key = key_bytes(key0);
  if (hexString.empty() || hexString.size() % (2 * aes_block_size) != 0)
    throw std::invalid_argument("cipher text must be a non-zero multiple of 32 hexadecimal "
                                "digits long, not " + std::to_string(hexString.size()));
  bytes plain = cbc_decrypt(key, fixed_iv(), hexStringToByteVector(hexString));
  // A wrong key leaves no valid padding: nothing is stripped then, and the
  // caller gets whatever printable bytes came out.
  const std::size_t npad = pkcs7_padding(plain);
  return printable_utf8(plain.data(), plain.size() - npad);
}
