// Decryption and hexadecimal parsing of arbitrary text, and the round trip
// of encryption.
#include <stdexcept>
#include <string>

#include "crypto/crypto.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  const std::string key = size >= 32 ? s.substr(0, 32) : std::string(32, 'k');
  const std::string text = size >= 32 ? s.substr(32) : s;
  try {
    bytes b = hexStringToByteVector(text);
    FUZZ_CHECK(b.size() == (text.size() + 1) / 2);
  } catch (const std::invalid_argument&) {
  }
  try {
    (void)decrypt(text, key);
  } catch (const std::invalid_argument&) {
  }
  const std::string kept = printable_utf8(data + (size >= 32 ? 32 : 0), text.size());
  FUZZ_CHECK(decrypt(encrypt(text, key), key) == kept);
  FUZZ_CHECK(printable_utf8(reinterpret_cast<const uint8_t*>(kept.data()), kept.size()) == kept);
  return 0;
}
