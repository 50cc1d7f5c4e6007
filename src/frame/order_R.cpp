#include <stdexcept>

#include "frame/frame.h"
#include "order/order.h"

extern "C" SEXP choose_order_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                               SEXP var_conv_p, SEXP var_null_p, SEXP row_sep_p,
                               SEXP max_order_p, SEXP cha_sep_p, SEXP roc_npt_p, SEXP nfold_p,
                               SEXP perc_test_p, SEXP seed_p, SEXP perc_tol_p, SEXP type_p,
                               SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_null = as_str(var_null_p);
  std::string row_sep = as_str(row_sep_p);
  uli max_order = as_count(max_order_p, "max_order");
  std::string cha_sep = as_str(cha_sep_p);
  uli roc_npt = as_count(roc_npt_p, "roc_npt");
  uli nfold = as_count(nfold_p, "nfold");
  double perc_test = as_real(perc_test_p);
  uli seed = as_seed(seed_p);
  double perc_tol = as_real(perc_tol_p);
  std::string type = as_str(type_p);
  int verbose = as_flag(verbose_p);
  int flg_type;
  if (type == "auc-roc") flg_type = 0;
  else if (type == "auc-prerec") flg_type = 1;
  else throw std::invalid_argument("type must be \"auc-roc\" or \"auc-prerec\", not \"" + type + "\"");
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, "", var_null, &vy, &vc, &vv, &vn);

  std::vector<double> vorder, vcurve, v_best_order;
  choose_order_cpp(&flg_file, &file, &var_path, &var_conv, &var_null, &row_sep, &vy, &vc, &vn,
                   &max_order, &cha_sep, &roc_npt, &nfold, &perc_test, &seed, &perc_tol,
                   &flg_type, &verbose, &vorder, &vcurve, &v_best_order);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("order") = vorder, Rcpp::Named("auc") = vcurve,
                            Rcpp::Named("best_order") = v_best_order); });
  END_RCPP
}
