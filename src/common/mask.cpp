#include <cstdlib>

#include "common/common.h"

// The mask must be reproducible across calls and sessions of the same
// build, so it uses the C library generator with a fixed seed (R CMD check
// notes the use of rand/srand; that is intended). gb::engine is untouched.
namespace {
constexpr unsigned kMaskSeed = 5281946;
constexpr int kMaskModulus = 1000000;
}  // namespace

void hide_index(std::vector<double>* v) {
  std::srand(kMaskSeed);
  for (double& x : *v) x += static_cast<double>(std::rand() % kMaskModulus);
}

void unhide_index(std::vector<double>* v) {
  std::srand(kMaskSeed);
  for (double& x : *v) x -= static_cast<double>(std::rand() % kMaskModulus);
}
