#include <openssl/evp.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "crypto/crypto.h"

namespace {
typedef std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context;

void check_sizes(const bytes& key, const bytes& iv, const bytes& data) {
  if (key.size() != aes_key_size)
    throw std::invalid_argument("key must be 32 bytes, not " + std::to_string(key.size()));
  if (iv.size() != aes_block_size)
    throw std::invalid_argument("initialisation vector must be 16 bytes, not " +
                                std::to_string(iv.size()));
  if (data.size() % aes_block_size != 0)
    throw std::invalid_argument("cipher input must be whole 16-byte blocks, not " +
                                std::to_string(data.size()) + " bytes");
}

// Padding is ours (pkcs7_pad / pkcs7_padding): a wrong key must not be an
// error, which OpenSSL's own padding check would make it.
bytes run(int encrypting, const bytes& key, const bytes& iv, const bytes& data) {
  check_sizes(key, iv, data);
  context ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  if (!ctx) throw std::runtime_error("cipher: out of memory");
  bytes out(data.size() + aes_block_size);
  int n = 0, tail = 0;
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypting) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1)
    throw std::runtime_error("cipher: AES-256-CBC failed");
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}
}  // namespace

bytes cbc_encrypt(const bytes& key, const bytes& iv, const bytes& data) {
  return run(1, key, iv, data);
}

bytes cbc_decrypt(const bytes& key, const bytes& iv, const bytes& data) {
  return run(0, key, iv, data);
}

bytes pkcs7_pad(const bytes& data) {
  const std::size_t n = aes_block_size - data.size() % aes_block_size;
  bytes out(data);
  out.insert(out.end(), n, static_cast<std::uint8_t>(n));
  return out;
}

std::size_t pkcs7_padding(const bytes& data) {
  if (data.empty() || data.size() % aes_block_size != 0) return 0;
  const std::size_t n = data.back();
  if (n == 0 || n > aes_block_size) return 0;
  for (std::size_t i = data.size() - n; i < data.size(); ++i)
    if (data[i] != n) return 0;
  return n;
}
