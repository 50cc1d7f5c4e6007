#include "common/arma.h"
#include "common/common.h"

#include <stdexcept>

namespace gb {
std::mt19937 engine;
std::uniform_real_distribution<double> uniform(0.0, 1.0);
std::random_device device;

void reseed(uli seed) {
  if (seed == limsup) {
    engine.seed(device());
  } else {
    engine.seed(static_cast<std::mt19937::result_type>(seed & 0xFFFFFFFFul));
  }
}
}  // namespace gb

arma::mat std_vec2_to_arma_mat(const std::vector<std::vector<double>>* v) {
  const arma::uword nr = v->size();
  const arma::uword nc = nr ? (*v)[0].size() : 0;
  arma::mat m(nr, nc);
  for (arma::uword i = 0; i < nr; ++i)
    for (arma::uword j = 0; j < nc; ++j) m(i, j) = (*v)[i].at(j);
  return m;
}

arma::Col<arma::uword> conv_vec_string_uli(const std::vector<std::string>* v,
                                           std::map<std::string, uli>* mp) {
  arma::Col<arma::uword> out(v->size());
  for (size_t i = 0; i < v->size(); ++i) out(i) = (*mp)[(*v)[i]];
  return out;
}

void count_overflow(uli row) {
  throw std::overflow_error("counts overflow at row " + std::to_string(row + 1) +
                            ": conversions and nulls add up to more than 2^64 - 1");
}

std::map<std::string, uli> unique_mp(const std::vector<std::string>* v) {
  std::map<std::string, uli> mp;
  uli next = 0;
  for (const auto& s : *v)
    if (mp.emplace(s, next).second) ++next;
  return mp;
}
