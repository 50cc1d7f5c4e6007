// The simple probabilistic model: a channel's credit is its conversion rate
// among the journeys that touched it, corrected by half the mean excess of
// the rate of each pair it was seen with over the two single rates.
#ifndef TOUCHLANE_PROBABILISTIC_PROBABILISTIC_H
#define TOUCHLANE_PROBABILISTIC_PROBABILISTIC_H

#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

struct ProbabilisticSettings {
  char cha_sep = '>';                          // channel separator of the paths
};

// Channels in order of first appearance. A journey counts once per distinct
// channel it touched: its conversions as successes, its nulls as failures.
struct ProbabilisticResult {
  std::vector<std::string> vchannels;
  std::vector<double> vrate;                   // P(conversion | channel), 0 without journeys
  std::vector<double> vcontribution;           // rate plus the pair correction
  std::vector<double> vattr_convs, vattr_value;
  // Pairs seen together in journeys with conversions or nulls, a < b.
  std::vector<uli> vpair_a, vpair_b;
  std::vector<double> vpair_rate;
};

// Reads every journey of source (it must have a null column: throws
// std::invalid_argument otherwise); splits each journey's conversions and
// value over its distinct channels in proportion to their contributions
// (negative ones count as 0; evenly when all are 0).
ProbabilisticResult probabilistic_run(const JourneySource& source,
                                      const ProbabilisticSettings& settings);

#endif
