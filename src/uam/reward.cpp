#include <cmath>
#include <stdexcept>

#include "uam/uam.h"

void reward_model(std::vector<double>* tab_aggr_conversions,
                  std::vector<std::vector<double>>* tab_aggr_touches, int* verbose,
                  uli nchannels_aggr, std::vector<std::string>* vchannels_aggr, double icr,
                  uli len_tab_aggr, std::map<std::string, double>* mp_weight_mmm) {
  if (len_tab_aggr == 0)
    throw std::invalid_argument("the aggregated table has no periods: at least one is needed");
  if (tab_aggr_conversions->size() < len_tab_aggr || tab_aggr_touches->size() < len_tab_aggr)
    throw std::invalid_argument("the aggregated conversions and touches need " +
                                std::to_string(len_tab_aggr) + " periods, not " +
                                std::to_string(tab_aggr_conversions->size()) + " and " +
                                std::to_string(tab_aggr_touches->size()));
  if (vchannels_aggr->size() < nchannels_aggr)
    throw std::invalid_argument("vchannels_aggr names " + std::to_string(vchannels_aggr->size()) +
                                " channels, not " + std::to_string(nchannels_aggr));
  for (uli j = 0; j < len_tab_aggr; ++j)
    if ((*tab_aggr_touches)[j].size() < nchannels_aggr)
      throw std::invalid_argument("the aggregated touches of period " + std::to_string(j + 1) +
                                  " hold " + std::to_string((*tab_aggr_touches)[j].size()) +
                                  " channels, not " + std::to_string(nchannels_aggr));

  // Weights come from changes between periods: one period has none, and
  // dividing by a zero total would hand back not-a-number for every channel.
  if (len_tab_aggr < 2)
    throw std::invalid_argument("the reward model needs at least two periods: it rewards channels "
                                "whose impressions move with the conversions from one period to "
                                "the next");
  const uli l_tab_delta = len_tab_aggr - 1;
  if (*verbose == 1) printA("- Calculate reward model on aggregated data");

  // Rewards accumulate per column, then per name: a name listed twice
  // collects both columns under one entry.
  std::vector<double> worth_by_col(nchannels_aggr, 0.0);
  double sworth = 0;
  for (uli j = 0; j < l_tab_delta; ++j) {
    const double c = (*tab_aggr_conversions)[j + 1] - (*tab_aggr_conversions)[j];
    const std::vector<double>& now = (*tab_aggr_touches)[j + 1];
    const std::vector<double>& before = (*tab_aggr_touches)[j];
    for (uli i = 0; i < nchannels_aggr; ++i) {
      const double d = (now[i] - before[i]) * icr;
      if ((d > 0 && c > 0) || (d < 0 && c < 0)) {
        const double worth = std::max(std::min(std::fabs(d), std::fabs(c)), 1.0);
        worth_by_col[i] += worth;
        sworth += worth;
      }
    }
  }
  if (sworth == 0)
    throw std::invalid_argument("the reward model found no step between periods in which a "
                                "channel's impressions moved with the conversions: no channel "
                                "can be weighed");
  for (uli i = 0; i < nchannels_aggr; ++i) (*mp_weight_mmm)[(*vchannels_aggr)[i]] += worth_by_col[i];
  for (uli i = 0; i < nchannels_aggr; ++i) (*mp_weight_mmm)[(*vchannels_aggr)[i]] /= sworth;
}
