#include <stdexcept>

#include "crypto/crypto.h"

namespace {
typedef std::uint8_t u8;

constexpr u8 xtime(u8 b) { return static_cast<u8>((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00)); }

constexpr u8 gmul(u8 a, u8 b) {
  u8 p = 0;
  while (b) {
    if (b & 1) p ^= a;
    a = xtime(a);
    b >>= 1;
  }
  return p;
}

constexpr u8 rotl8(u8 x, int s) { return static_cast<u8>((x << s) | (x >> (8 - s))); }

// The S-box is derived (multiplicative inverse, then the affine map) rather
// than typed in, so a mistyped entry cannot hide in a 256-byte table. The
// inverses come from logarithms to the generator 3, which keeps the
// compile-time work within every compiler's default evaluation limit.
struct Tables {
  std::array<u8, 256> sbox{}, inv{};
};

constexpr Tables make_tables() {
  std::array<u8, 256> pow3{}, log3{};
  u8 p = 1;
  for (int i = 0; i < 255; ++i) {
    pow3[i] = p;
    log3[p] = static_cast<u8>(i);
    p = static_cast<u8>(p ^ xtime(p));   // times 3
  }
  Tables t{};
  for (int x = 0; x < 256; ++x) {
    const u8 v = static_cast<u8>(x);
    const u8 y = x == 0 ? u8{0} : pow3[(255 - log3[x]) % 255];   // x^-1
    u8 s = static_cast<u8>(y ^ rotl8(y, 1) ^ rotl8(y, 2) ^ rotl8(y, 3) ^ rotl8(y, 4) ^ 0x63);
    t.sbox[x] = s;
    t.inv[s] = v;
  }
  return t;
}

constexpr Tables kTab = make_tables();
static_assert(kTab.sbox[0x00] == 0x63 && kTab.sbox[0x53] == 0xed, "S-box");

constexpr int kRounds = 14, kNk = 8;

void add_round_key(u8* s, const u8* rk) {
  for (int i = 0; i < 16; ++i) s[i] ^= rk[i];
}

// State byte (row r, column c) sits at s[r + 4c], as the bytes arrive.
void sub_shift(u8* s) {
  u8 t[16];
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) t[r + 4 * c] = kTab.sbox[s[r + 4 * ((c + r) & 3)]];
  for (int i = 0; i < 16; ++i) s[i] = t[i];
}

void inv_shift_sub(u8* s) {
  u8 t[16];
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) t[r + 4 * ((c + r) & 3)] = kTab.inv[s[r + 4 * c]];
  for (int i = 0; i < 16; ++i) s[i] = t[i];
}

void mix_columns(u8* s) {
  for (int c = 0; c < 4; ++c) {
    u8* a = s + 4 * c;
    u8 a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = static_cast<u8>(xtime(a0) ^ xtime(a1) ^ a1 ^ a2 ^ a3);
    a[1] = static_cast<u8>(a0 ^ xtime(a1) ^ xtime(a2) ^ a2 ^ a3);
    a[2] = static_cast<u8>(a0 ^ a1 ^ xtime(a2) ^ xtime(a3) ^ a3);
    a[3] = static_cast<u8>(xtime(a0) ^ a0 ^ a1 ^ a2 ^ xtime(a3));
  }
}

void inv_mix_columns(u8* s) {
  for (int c = 0; c < 4; ++c) {
    u8* a = s + 4 * c;
    u8 a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    a[0] = gmul(a0, 14) ^ gmul(a1, 11) ^ gmul(a2, 13) ^ gmul(a3, 9);
    a[1] = gmul(a0, 9) ^ gmul(a1, 14) ^ gmul(a2, 11) ^ gmul(a3, 13);
    a[2] = gmul(a0, 13) ^ gmul(a1, 9) ^ gmul(a2, 14) ^ gmul(a3, 11);
    a[3] = gmul(a0, 11) ^ gmul(a1, 13) ^ gmul(a2, 9) ^ gmul(a3, 14);
  }
}
}  // namespace

Aes256::Aes256(const std::uint8_t* key) {
  u8* w = round_keys_.data();
  for (int i = 0; i < 4 * kNk; ++i) w[i] = key[i];
  u8 rcon = 1;
  for (int i = kNk; i < 4 * (kRounds + 1); ++i) {
    u8 t[4] = {w[4 * (i - 1)], w[4 * (i - 1) + 1], w[4 * (i - 1) + 2], w[4 * (i - 1) + 3]};
    if (i % kNk == 0) {
      u8 t0 = t[0];
      t[0] = static_cast<u8>(kTab.sbox[t[1]] ^ rcon);
      t[1] = kTab.sbox[t[2]];
      t[2] = kTab.sbox[t[3]];
      t[3] = kTab.sbox[t0];
      rcon = xtime(rcon);
    } else if (i % kNk == 4) {
      for (u8& b : t) b = kTab.sbox[b];
    }
    for (int j = 0; j < 4; ++j) w[4 * i + j] = static_cast<u8>(w[4 * (i - kNk) + j] ^ t[j]);
  }
}

void Aes256::encrypt_block(const std::uint8_t* in, std::uint8_t* out) const {
  u8 s[16];
  for (int i = 0; i < 16; ++i) s[i] = in[i];
  add_round_key(s, round_keys_.data());
  for (int r = 1; r < kRounds; ++r) {
    sub_shift(s);
    mix_columns(s);
    add_round_key(s, round_keys_.data() + 16 * r);
  }
  sub_shift(s);
  add_round_key(s, round_keys_.data() + 16 * kRounds);
  for (int i = 0; i < 16; ++i) out[i] = s[i];
}

void Aes256::decrypt_block(const std::uint8_t* in, std::uint8_t* out) const {
  u8 s[16];
  for (int i = 0; i < 16; ++i) s[i] = in[i];
  add_round_key(s, round_keys_.data() + 16 * kRounds);
  for (int r = kRounds - 1; r >= 1; --r) {
    inv_shift_sub(s);
    add_round_key(s, round_keys_.data() + 16 * r);
    inv_mix_columns(s);
  }
  inv_shift_sub(s);
  add_round_key(s, round_keys_.data());
  for (int i = 0; i < 16; ++i) out[i] = s[i];
}

namespace {
void check_blocks(const bytes& iv, const bytes& data) {
  if (iv.size() != Aes256::block_size)
    throw std::invalid_argument("initialisation vector must be 16 bytes, not " +
                                std::to_string(iv.size()));
  if (data.size() % Aes256::block_size != 0)
    throw std::invalid_argument("cipher input must be whole 16-byte blocks, not " +
                                std::to_string(data.size()) + " bytes");
}
}  // namespace

bytes cbc_encrypt(const Aes256& aes, const bytes& iv, const bytes& data) {
  check_blocks(iv, data);
  bytes out(data.size());
  u8 chain[16];
  for (int i = 0; i < 16; ++i) chain[i] = iv[i];
  for (std::size_t b = 0; b < data.size(); b += 16) {
    for (int i = 0; i < 16; ++i) chain[i] ^= data[b + i];
    aes.encrypt_block(chain, chain);
    for (int i = 0; i < 16; ++i) out[b + i] = chain[i];
  }
  return out;
}

bytes cbc_decrypt(const Aes256& aes, const bytes& iv, const bytes& data) {
  check_blocks(iv, data);
  bytes out(data.size());
  const u8* prev = iv.data();
  for (std::size_t b = 0; b < data.size(); b += 16) {
    aes.decrypt_block(data.data() + b, out.data() + b);
    for (int i = 0; i < 16; ++i) out[b + i] ^= prev[i];
    prev = data.data() + b;
  }
  return out;
}

bytes pkcs7_pad(const bytes& data) {
  const std::size_t n = Aes256::block_size - data.size() % Aes256::block_size;
  bytes out(data);
  out.insert(out.end(), n, static_cast<u8>(n));
  return out;
}

std::size_t pkcs7_padding(const bytes& data) {
  if (data.empty() || data.size() % Aes256::block_size != 0) return 0;
  const std::size_t n = data.back();
  if (n == 0 || n > Aes256::block_size) return 0;
  for (std::size_t i = data.size() - n; i < data.size(); ++i)
    if (data[i] != n) return 0;
  return n;
}
