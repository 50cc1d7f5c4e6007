// AES-256-CBC string encryption with PKCS#7 padding and a fixed
// initialisation vector; the cipher text travels as lowercase hexadecimal.
#ifndef TOUCHLANE_CRYPTO_CRYPTO_H
#define TOUCHLANE_CRYPTO_CRYPTO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<std::uint8_t> bytes;

// ---- block cipher ----------------------------------------------------------
class Aes256 {
 public:
  static constexpr std::size_t key_size = 32, block_size = 16;
  explicit Aes256(const std::uint8_t* key);                    // reads key_size bytes
  void encrypt_block(const std::uint8_t* in, std::uint8_t* out) const;
  void decrypt_block(const std::uint8_t* in, std::uint8_t* out) const;

 private:
  std::array<std::uint8_t, 240> round_keys_;                   // 15 round keys
};

// ---- CBC chaining and padding ----------------------------------------------
// Whole blocks only: throw std::invalid_argument when data is not a multiple
// of the block size or iv is not one block.
bytes cbc_encrypt(const Aes256& aes, const bytes& iv, const bytes& data);
bytes cbc_decrypt(const Aes256& aes, const bytes& iv, const bytes& data);
bytes pkcs7_pad(const bytes& data);                            // always adds 1..16 bytes
std::size_t pkcs7_padding(const bytes& data);                  // 0 when the padding is not valid

// ---- strings ---------------------------------------------------------------
const bytes& fixed_iv();
// Both throw std::invalid_argument for a key shorter than 32 bytes (longer
// keys use their first 32 bytes); decrypt also for a cipher text that is not
// hexadecimal or not a whole, non-zero number of blocks. The plain text
// comes back with every non-printable character dropped.
std::string encrypt(const std::string& raw_data, const std::string& key0);
std::string decrypt(const std::string& hexString, const std::string& key0);
// Two digits per byte (a trailing single digit makes one byte); throws
// std::invalid_argument naming the first character that is not a digit.
bytes       hexStringToByteVector(const std::string& hexString);

#endif
