// The fixed-signature entry of the order choice, a forwarder of
// choose_order_run.
#include "order/order.h"

void choose_order_cpp(int* flg_file, std::string* file, std::string* var_path,
                      std::string* var_conv, std::string* var_null, std::string* row_sep,
                      std::vector<std::string>* vy, std::vector<uli>* vc, std::vector<uli>* vn,
                      uli* max_order, std::string* cha_sep, uli* roc_npt, uli* nfold,
                      double* perc_test, uli* seed, double* perc_tol, int* flg_type,
                      int* verbose, std::vector<double>* vorder, std::vector<double>* vcurve,
                      std::vector<double>* v_best_order) {
  const JourneySource src = *flg_file != 0
                                ? file_source(*file, *var_path, *var_conv, "", *var_null, *row_sep)
                                : vector_source(vy, vc, nullptr, vn);
  OrderResult r = choose_order_run(src, {*cha_sep, *max_order, *roc_npt, *nfold, *perc_test, *seed,
                                         *perc_tol, *flg_type, *verbose});
  *vorder = std::move(r.vorder);
  *vcurve = std::move(r.vcurve);
  *v_best_order = std::move(r.v_best_order);
}
