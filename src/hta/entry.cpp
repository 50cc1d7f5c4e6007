// The fixed-signature entry of the HTA model, a forwarder of hta_run.
#include "hta/hta.h"

void hta_model_cpp(const std::vector<uli>* vc, const std::vector<double>* vv,
                   const arma::Mat<uli>* MT, const double* cr, const std::vector<double>* vcr,
                   const std::vector<double>* vctr, const double* mean_cj_length,
                   const std::vector<double>* vadstock, const uli* nsim, const uli* seed,
                   const int* type_worth, const int* verbose, const int* flg_roc,
                   const int* flg_type_roc, const double* perc_test, const uli* roc_npt,
                   arma::mat* Mattr_out, arma::mat* Mattr_value_out, std::vector<double>* vy,
                   std::vector<double>* vx, double* auc) {
  HtaResult r = hta_run({*vc, *vv, *MT, *vcr, *vctr, *vadstock},
                        {*cr, *mean_cj_length, *nsim, *seed, *type_worth, *verbose, *flg_roc,
                         *flg_type_roc, *perc_test, *roc_npt});
  *Mattr_out = std::move(r.conversions);
  *Mattr_value_out = std::move(r.value);
  *vy = std::move(r.roc_y);
  *vx = std::move(r.roc_x);
  *auc = r.auc;
}
