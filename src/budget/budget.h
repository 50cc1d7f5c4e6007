// Budget allocation from attributed conversions, costs and channel indices.
#ifndef TOUCHLANE_BUDGET_BUDGET_H
#define TOUCHLANE_BUDGET_BUDGET_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"

// ---- interface -------------------------------------------------------------
// Attributed conversions (and value) by channel, current costs by channel
// (both may be empty) and a model index by channel, masked and ending with
// its mean.
struct BudgetInput {
  std::vector<std::string> attr_channels;
  std::vector<double> attr_conversions, attr_value;
  std::vector<std::string> cost_channels;
  std::vector<double> cost_value;
  std::vector<std::string> index_channels;
  std::vector<double> index_value;
};

// The split of the new budget; the defaults are the R function's.
struct BudgetSettings {
  double total_budget_new = 0;     // 0 or more
  double perc_reall = 0.1;         // share moved by return, 0 to 1
  double min_perc_budget = 0.05;   // share split equally, 0 to 1 - perc_reall
  void validate() const;           // "<name> must be a number ..." naming the R argument
};

// The budget of each distinct attributed channel, in order of first appearance.
struct BudgetResult {
  std::vector<std::string> channels;
  std::vector<double> budget;
};

// Throws std::invalid_argument naming the channel when cost rows are given
// and an attributed channel has none (or a cost channel has no attribution
// rows), when the index lacks an attributed channel, or naming the vectors
// whose lengths differ.
BudgetResult budget_run(BudgetInput input, const BudgetSettings& settings);

// ---- fixed-signature entry ---------------------------------------------------
// budget_run by pointer: fills vchannels_new and vbudget_new.
void markov_budget_allocation_cpp(std::vector<std::string>* vattr_channels,
                                  std::vector<double>* vattr_conversions,
                                  std::vector<double>* vattr_value,
                                  std::vector<std::string>* vcost_channels,
                                  std::vector<double>* vcost_value,
                                  std::vector<std::string>* vindex_channels,
                                  std::vector<double>* vindex_value, double* total_budget_new,
                                  double* perc_reall, double* min_perc_budget,
                                  std::vector<std::string>* vchannels_new,
                                  std::vector<double>* vbudget_new);

#endif
