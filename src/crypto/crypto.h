// AES-256-CBC string encryption with PKCS#7 padding and a fixed
// initialisation vector; the cipher text travels as lowercase hexadecimal.
// The block cipher is OpenSSL's (constant-time, maintained).
#ifndef TOUCHLANE_CRYPTO_CRYPTO_H
#define TOUCHLANE_CRYPTO_CRYPTO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<std::uint8_t> bytes;

// ---- CBC chaining and padding ----------------------------------------------
constexpr std::size_t aes_key_size = 32, aes_block_size = 16;
// Whole blocks only, no padding added or removed: throw std::invalid_argument
// when key is not 32 bytes, iv not one block or data not whole blocks, and
// std::runtime_error when the cipher library fails.
bytes cbc_encrypt(const bytes& key, const bytes& iv, const bytes& data);
bytes cbc_decrypt(const bytes& key, const bytes& iv, const bytes& data);
bytes pkcs7_pad(const bytes& data);                            // always adds 1..16 bytes
std::size_t pkcs7_padding(const bytes& data);                  // 0 when the padding is not valid

// ---- strings ---------------------------------------------------------------
const bytes& fixed_iv();
// Both throw std::invalid_argument for a key shorter than 32 bytes (longer
// keys use their first 32 bytes); decrypt also for a cipher text that is not
// hexadecimal or not a whole, non-zero number of blocks. The plain text
// comes back as UTF-8: ASCII control characters (below 32, and 127) and
// bytes that are not part of a well-formed UTF-8 character are dropped.
std::string encrypt(const std::string& raw_data, const std::string& key0);
std::string decrypt(const std::string& hexString, const std::string& key0);
// Two digits per byte (a trailing single digit makes one byte); throws
// std::invalid_argument naming the first character that is not a digit.
bytes       hexStringToByteVector(const std::string& hexString);
// The well-formed UTF-8 characters of p[0, n) that are not ASCII controls.
std::string printable_utf8(const std::uint8_t* p, std::size_t n);

#endif
