// The fixed-signature entry of the MTA/MMM combination, a forwarder of
// mtammm_run.
#include "mtammm/mtammm.h"

str_out_attr_combine_mta_mmm combine_mta_mmm_cpp(
    std::vector<uli> mta_attr_path, std::vector<std::string> mta_attr_channel,
    std::vector<double> mta_attr_attr, std::vector<std::string> mmm_attr_channel,
    std::vector<double> mmm_attr_attr, std::vector<std::string> prior_weights_mta_channel,
    std::vector<double> prior_weights_mta_weight, uli max_steps, double conv_rate, bool verbose) {
  return mtammm_run({std::move(mta_attr_path), std::move(mta_attr_channel),
                     std::move(mta_attr_attr), std::move(mmm_attr_channel),
                     std::move(mmm_attr_attr), std::move(prior_weights_mta_channel),
                     std::move(prior_weights_mta_weight)},
                    {max_steps, conv_rate, verbose});
}
