#include <cstdint>

#include "common/common.h"

// The mask must be the same in every call, session and build, because masked
// vectors are handed back to us later. It is the sequence glibc's rand()
// gives after srand(5281946), which is what masks have always used; the
// generator is written out here so the masks do not depend on the platform's
// C library (other C libraries have other rand algorithms). gb::engine is
// untouched.
namespace {
constexpr std::uint32_t kMaskSeed = 5281946;
constexpr std::uint32_t kMaskModulus = 1000000;

// glibc's TYPE_3 generator: additive feedback r[i] = r[i-3] + r[i-31]
// (mod 2^32) over a state seeded by the minimal-standard LCG, with the first
// 310 outputs discarded; each value is the sum shifted right by one bit.
class CRand {
 public:
  explicit CRand(std::uint32_t seed) {
    if (seed == 0) seed = 1;  // as srand(0)
    std::int32_t word = static_cast<std::int32_t>(seed);
    r_[0] = seed;
    for (int i = 1; i < 31; ++i) {
      // 16807 * word mod (2^31 - 1) without overflow (Schrage's method)
      const std::int32_t hi = word / 127773;
      const std::int32_t lo = word % 127773;
      word = 16807 * lo - 2836 * hi;
      if (word < 0) word += 2147483647;
      r_[i] = static_cast<std::uint32_t>(word);
    }
    for (int i = 31; i < 34; ++i) r_[i] = r_[i - 31];
    pos_ = 0;  // the next sum is r[34]; slot i % 34 holds r[i - 34] until then
    for (int i = 0; i < 310; ++i) next();
  }
  // One value in [0, 2^31), as rand() returns it.
  std::uint32_t next() {
    // ring of the last 34 sums: r[i-31] sits 3 slots ahead of r[i-3]
    const std::uint32_t v = r_[(pos_ + 3) % 34] + r_[(pos_ + 31) % 34];
    r_[pos_] = v;
    pos_ = (pos_ + 1) % 34;
    return v >> 1;
  }

 private:
  std::uint32_t r_[34] = {};
  int pos_ = 0;
};
}  // namespace

void hide_index(std::vector<double>* v) {
  CRand gen(kMaskSeed);
  for (double& x : *v) x += static_cast<double>(gen.next() % kMaskModulus);
}

void unhide_index(std::vector<double>* v) {
  CRand gen(kMaskSeed);
  for (double& x : *v) x -= static_cast<double>(gen.next() % kMaskModulus);
}
