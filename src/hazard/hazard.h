// The additive hazard model: every touch adds to the hazard of converting a
// term that decays exponentially with the time since the touch, at a rate
// of its own channel. A conversion is credited to the touches before it in
// proportion to the hazard each contributed at the moment of conversion.
#ifndef TOUCHLANE_HAZARD_HAZARD_H
#define TOUCHLANE_HAZARD_HAZARD_H

#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

struct AdditiveHazardSettings {
  char cha_sep = '>';                          // separator of the paths and of vdays
  // Per journey, in the order of the source: the whole days (floored)
  // between each touch and the conversion, written like the path.
  const std::vector<std::string>* vdays = nullptr;
};

// Channels in order of first appearance. A touch recorded d whole days
// before the conversion is taken to be d + 0.5 days before it; a channel's
// decay rate is the inverse of its mean delay (the exponential's maximum
// likelihood), over the touches of journeys with conversions (weighed by
// them) or with value only (weighed 1).
struct AdditiveHazardResult {
  std::vector<std::string> vchannels;
  std::vector<double> vrate;                   // per day; 0 for a channel never before a conversion
  std::vector<double> vmean_days;              // mean delay; 0 likewise
  std::vector<double> vattr_convs, vattr_value;
};

// Throws std::invalid_argument, naming the 1-based row, when vdays is
// missing or not one per journey, when a row's days do not match its
// channels one for one or are not numbers >= 0, and for a converting
// journey without channels.
AdditiveHazardResult additive_hazard_run(const JourneySource& source,
                                         const AdditiveHazardSettings& settings);

#endif
