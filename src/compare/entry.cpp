// The fixed-signature entries of the model comparisons, forwarders of
// compare_mta_run and compare_mta_mmm_run.
#include "compare/compare.h"

namespace {
void hand_back(CompareResult&& r, std::vector<std::vector<double>>* results_performance,
               std::vector<std::vector<double>>* results_allocation,
               std::vector<std::string>* vmodel_names) {
  *results_performance = std::move(r.performance);
  *results_allocation = std::move(r.allocation);
  *vmodel_names = std::move(r.model_names);
}
}  // namespace

void compare_models_mta_cpp(std::vector<std::string>* vy, std::vector<uli>* vc,
                            std::vector<uli>* vn, std::string var_path, std::string var_conv,
                            std::string var_null, std::string cha_sep, double perc_reall,
                            double perc_sample, uli max_nsim, double min_perc_traffic,
                            uli niter, uli flg_extra_path, uli max_markov_order, uli seed,
                            int flg_print, int verbose,
                            std::vector<std::vector<double>>* results_performance,
                            std::vector<std::vector<double>>* results_allocation,
                            std::vector<std::string>* vmodel_names) {
  CompareResult r =
      compare_mta_run({std::move(*vy), *vc, *vn, cha_sep, var_path, var_conv, var_null},
                      {perc_reall, perc_sample, min_perc_traffic, max_nsim, niter, flg_extra_path,
                       max_markov_order, seed, flg_print, verbose});
  *vy = std::move(r.encoded);
  hand_back(std::move(r), results_performance, results_allocation, vmodel_names);
}

void compare_models_mta_mmm_cpp(std::vector<uli>* tab_paths_id_path,
                                std::vector<std::string>* tab_paths_time_str,
                                std::vector<std::string>* tab_paths_channel,
                                std::vector<std::string>* tab_ctr_day_str,
                                std::vector<std::vector<double>>* tab_ctr_ctr,
                                std::string channel_conv_name, double perc_reall,
                                double perc_sample, uli max_nsim, double min_perc_traffic,
                                uli niter, uli flg_extra_path, uli max_markov_order, uli seed,
                                int flg_print, int verbose,
                                std::vector<std::vector<double>>* results_performance,
                                std::vector<std::vector<double>>* results_allocation,
                                std::vector<std::string>* vmodel_names) {
  hand_back(compare_mta_mmm_run({*tab_paths_id_path, *tab_paths_time_str, *tab_paths_channel,
                                 *tab_ctr_day_str, *tab_ctr_ctr, channel_conv_name},
                                {perc_reall, perc_sample, min_perc_traffic, max_nsim, niter,
                                 flg_extra_path, max_markov_order, seed, flg_print, verbose}),
            results_performance, results_allocation, vmodel_names);
}
