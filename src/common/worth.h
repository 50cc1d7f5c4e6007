// The worth of a set of journeys from its conversions c and nulls n, the
// four kinds every model offers (Markov index, Shapley worth, the unified
// model), and the calibration of per-channel weights. One home, so the
// models cannot drift apart.
//
//   kind 1  conversion rate    c / (c + n)
//   kind 2  odds               c / n
//   kind 3  difference         (c - n + 1) / 2
//   kind 4  saturation         1 - exp(-c / n)
#ifndef TOUCHLANE_COMMON_WORTH_H
#define TOUCHLANE_COMMON_WORTH_H

#include <cmath>
#include <limits>
#include <vector>

// Worth of totals c, n of kind 1..4 (any other kind counts as 4).
inline double worth_of_totals(int kind, double c, double n) {
  switch (kind) {
    case 1: return c / (c + n);
    case 2: return c / n;
    case 3: return (c - n + 1) * 0.5;
    default: return 1 - std::exp(-c / n);
  }
}

// Odds per channel (kind 2) with its one special case: a channel with
// conversions and no nulls has no finite ratio (it is marked -inf), a
// channel with neither has 0.
inline double odds_or_unbounded(double c, double n) {
  if (n > 0) return c / n;
  if (c > 0) return -std::numeric_limits<double>::infinity();
  return 0;
}

// The "largest ratio" rule: every entry that is not finite takes the
// largest finite entry, or `if_none` when no entry is finite, so that such
// a channel ranks with the best one instead of turning its journeys into
// not-a-number.
inline void unbounded_take_largest(std::vector<double>* v, double if_none) {
  double largest = -std::numeric_limits<double>::infinity();
  for (double w : *v)
    if (std::isfinite(w) && w > largest) largest = w;
  if (!std::isfinite(largest)) largest = if_none;
  for (double& w : *v)
    if (!std::isfinite(w)) w = largest;
}

// Second-pass weight of a channel: its model total over the total that
// path attribution gave it with the first-pass weights. Adding 10 to both
// is a prior of ten conversions: a channel with few conversions keeps a
// weight near 1 instead of swinging on one or two journeys, and a channel
// that path attribution gave nothing does not divide by zero.
inline double calibrated_weight(double model_total, double path_total) {
  constexpr double kPrior = 10;
  return (model_total + kPrior) / (path_total + kPrior);
}

#endif
