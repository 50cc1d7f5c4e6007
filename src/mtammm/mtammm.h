// Combination of touch-point attribution (MTA) with media-mix channel
// totals (MMM) by iterative proportional fitting.
#ifndef TOUCHLANE_MTAMMM_MTAMMM_H
#define TOUCHLANE_MTAMMM_MTAMMM_H

#include <string>
#include <vector>

#include "common/common.h"

struct str_out_attr_combine_mta_mmm {
  std::vector<double>      mta_attr_path;      // input journey identifiers
  std::vector<std::string> mta_attr_channel;   // input channels
  std::vector<double>      mta_attr_attr;      // adjusted attribution per row
};

// ---- interface -------------------------------------------------------------
// Touch-point attribution (rows of one journey consecutive), the MMM
// channel totals and the prior weight of the MTA side by channel.
struct MtaMmmInput {
  std::vector<uli> mta_attr_path;
  std::vector<std::string> mta_attr_channel;
  std::vector<double> mta_attr_attr;
  std::vector<std::string> mmm_attr_channel;
  std::vector<double> mmm_attr_attr;
  std::vector<std::string> prior_weights_mta_channel;
  std::vector<double> prior_weights_mta_weight;
};

// Settings of the fitting; the defaults are the R function's.
struct MtaMmmSettings {
  uli max_steps = 100;       // passes after the first
  double conv_rate = 0.001;  // stop below this divergence (percent), 0 or more
  bool verbose = false;      // one line per pass
  void validate() const;     // "conv_rate must be a number of at least 0"
};

// The MMM and prior-weight tables must name every MTA channel exactly once;
// each pass keeps every journey's total and moves the channel totals towards
// the prior-weighted blend of MTA and MMM shares. Throws
// std::invalid_argument naming the channel or column that does not fit.
str_out_attr_combine_mta_mmm mtammm_run(MtaMmmInput input, const MtaMmmSettings& settings);

// ---- fixed-signature entry ---------------------------------------------------
// mtammm_run with every vector by value.
str_out_attr_combine_mta_mmm combine_mta_mmm_cpp(
    std::vector<uli> mta_attr_path, std::vector<std::string> mta_attr_channel,
    std::vector<double> mta_attr_attr, std::vector<std::string> mmm_attr_channel,
    std::vector<double> mmm_attr_attr, std::vector<std::string> prior_weights_mta_channel,
    std::vector<double> prior_weights_mta_weight, uli max_steps, double conv_rate, bool verbose);

// ---- internals ---------------------------------------------------------------
// Sums x by group: entry g = sum of x[i] over by[i] == g; length max(by) + 1
// (empty for empty input).
std::vector<double> sum_by(const std::vector<double>& x, const std::vector<uli>& by);

// Replaces non-finite factors by twice the largest finite one, then zero
// factors by half the smallest positive finite one (by 1 when there is
// none, which leaves journeys as they are).
void mend_corrfact(std::vector<double>* vcorrfact);

#endif
