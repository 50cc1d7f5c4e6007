// The fixed-signature entry of the budget allocation, a forwarder of
// budget_run.
#include "budget/budget.h"

void markov_budget_allocation_cpp(std::vector<std::string>* vattr_channels,
                                  std::vector<double>* vattr_conversions,
                                  std::vector<double>* vattr_value,
                                  std::vector<std::string>* vcost_channels,
                                  std::vector<double>* vcost_value,
                                  std::vector<std::string>* vindex_channels,
                                  std::vector<double>* vindex_value, double* total_budget_new,
                                  double* perc_reall, double* min_perc_budget,
                                  std::vector<std::string>* vchannels_new,
                                  std::vector<double>* vbudget_new) {
  BudgetResult r = budget_run(
      {*vattr_channels, *vattr_conversions, *vattr_value, *vcost_channels, *vcost_value,
       *vindex_channels, *vindex_value},
      {*total_budget_new, *perc_reall, *min_perc_budget});
  *vchannels_new = std::move(r.channels);
  *vbudget_new = std::move(r.budget);
}
