#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

#include "compare/compare.h"

void int_attr_trf(std::vector<double>* y) {
  std::vector<double>& v = *y;
  const size_t n = v.size();
  std::vector<double> frac(n);
  double total = 0, whole_total = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i]))
      throw std::invalid_argument("int_attr_trf: entry " + std::to_string(i + 1) + " is not finite");
    total += v[i];
    const double w = std::floor(v[i]);
    frac[i] = v[i] - w;
    v[i] = w;
    whole_total += w;
  }
  // Compare whole numbers, not the raw total: a sum of shares carrying
  // rounding error (10.000000001) must not gain a unit.
  double missing = std::round(total) - whole_total;
  if (!(missing > 0)) return;
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return frac[a] > frac[b]; });
  for (size_t j = 0; missing > 0; --missing, ++j) {
    // Fractions cannot add up to more units than there are entries, so the
    // fallback to entry 0 only absorbs floating-point error.
    const size_t i = (j < n && frac[order[j]] > 0) ? order[j] : 0;
    v[i] += 1;
  }
}
