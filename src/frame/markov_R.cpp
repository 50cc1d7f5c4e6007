#include "frame/frame.h"
#include "markov/markov.h"

namespace {

SEXP markov_model_with(const MarkovMethod& method, SEXP flg_file_p, SEXP file_p, SEXP Data_p,
                       SEXP var_path_p, SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p,
                       SEXP row_sep_p, SEXP cha_sep_p, SEXP type_p, SEXP order_p,
                       SEXP nsim_start_p, SEXP max_step_p, SEXP ncore_p, SEXP nfold_p,
                       SEXP seed_p, SEXP conv_par_p, SEXP rate_step_sim_p, SEXP verbose_p,
                       SEXP flg_out_tran_mtx_p, SEXP file_output_p, SEXP flg_write_nulls_p,
                       SEXP flg_write_paths_p) {
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_value = as_str(var_value_p);
  std::string var_null = as_str(var_null_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  int type = as_flag(type_p);
  uli order = as_count(order_p, "order");
  uli nsim_start = as_count(nsim_start_p, "nsim_start");
  uli max_step = as_count(max_step_p, "max_step");
  uli ncore = as_count(ncore_p, "ncore");
  uli nfold = as_count(nfold_p, "nfold");
  uli seed = as_seed(seed_p);
  double conv_par = as_real(conv_par_p);
  double rate_step_sim = as_real(rate_step_sim_p);
  int verbose = as_flag(verbose_p);
  int flg_out_tran_mtx = as_flag(flg_out_tran_mtx_p);
  std::string file_output = as_str(file_output_p);
  int flg_write_nulls = as_flag(flg_write_nulls_p);
  int flg_write_paths = as_flag(flg_write_paths_p);
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, var_value, var_null, &vy, &vc, &vv, &vn);

  int flg_out_attr = 1;
  std::vector<std::string> vchannels, vpath_name, vpath_channel, vchannel_from_mtx, vchannel_to_mtx;
  std::vector<double> vindex, vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value,
      vattr_convs_loc, vattr_convs_glob, vattr_value_glob, vtran_prob_mtx, vindex_raw;
  double s_nconv = 0, s_nnull = 0;
  markov_model_method_cpp(&method, &flg_file, &file, &var_path, &var_conv, &var_value, &var_null,
                   &vy, &vc, &vv, &vn, &row_sep, &cha_sep, &type, &order, &nsim_start, &max_step, &ncore, &nfold,
                   &seed, &conv_par, &rate_step_sim, &verbose, &flg_out_tran_mtx, &file_output,
                   &flg_write_nulls, &flg_write_paths, &vchannels, &vindex, &flg_out_attr,
                   &vpath_id, &vpath_name, &vpath_channel, &vpath_chpos, &vpath_attr_convs,
                   &vpath_attr_value, &vattr_convs_loc, &vattr_convs_glob, &vattr_value_glob,
                   &vchannel_from_mtx, &vchannel_to_mtx, &vtran_prob_mtx, &s_nconv, &s_nnull,
                   &vindex_raw);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = vchannels,
                            Rcpp::Named("vindex") = vindex,
                            Rcpp::Named("vpath_id") = vpath_id,
                            Rcpp::Named("vpath_name") = to_character(vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(vpath_channel),
                            Rcpp::Named("vpath_chpos") = vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = vattr_convs_loc,
                            Rcpp::Named("vattr_convs_glob") = vattr_convs_glob,
                            Rcpp::Named("vattr_value_glob") = vattr_value_glob,
                            Rcpp::Named("vchannel_from_mtx") = vchannel_from_mtx,
                            Rcpp::Named("vchannel_to_mtx") = vchannel_to_mtx,
                            Rcpp::Named("vtran_prob_mtx") = vtran_prob_mtx); });
}

}  // namespace

extern "C" SEXP markov_model_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                               SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p,
                               SEXP row_sep_p, SEXP cha_sep_p, SEXP type_p, SEXP order_p,
                               SEXP nsim_start_p, SEXP max_step_p, SEXP ncore_p, SEXP nfold_p,
                               SEXP seed_p, SEXP conv_par_p, SEXP rate_step_sim_p,
                               SEXP verbose_p, SEXP flg_out_tran_mtx_p, SEXP file_output_p,
                               SEXP flg_write_nulls_p, SEXP flg_write_paths_p) {
  BEGIN_RCPP
  return markov_model_with(MarkovMethod(), flg_file_p, file_p, Data_p, var_path_p, var_conv_p, var_value_p,
                           var_null_p, row_sep_p, cha_sep_p, type_p, order_p, nsim_start_p,
                           max_step_p, ncore_p, nfold_p, seed_p, conv_par_p, rate_step_sim_p,
                           verbose_p, flg_out_tran_mtx_p, file_output_p, flg_write_nulls_p,
                           flg_write_paths_p);
  END_RCPP
}

// The same model with a method: "simulation" or "exact", and for the exact
// method the horizon "step_limit" or "unlimited".
extern "C" SEXP markov_model_method_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                                      SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p,
                                      SEXP row_sep_p, SEXP cha_sep_p, SEXP type_p, SEXP order_p,
                                      SEXP nsim_start_p, SEXP max_step_p, SEXP ncore_p,
                                      SEXP nfold_p, SEXP seed_p, SEXP conv_par_p,
                                      SEXP rate_step_sim_p, SEXP verbose_p,
                                      SEXP flg_out_tran_mtx_p, SEXP file_output_p,
                                      SEXP flg_write_nulls_p, SEXP flg_write_paths_p,
                                      SEXP method_p, SEXP horizon_p) {
  BEGIN_RCPP
  MarkovMethod m;
  const std::string method = as_str(method_p), horizon = as_str(horizon_p);
  if (method == "exact") m.exact = 1;
  else if (method != "simulation")
    throw std::invalid_argument("method must be \"simulation\" or \"exact\", not \"" + method + "\"");
  if (horizon == "unlimited") m.unlimited = 1;
  else if (horizon != "step_limit")
    throw std::invalid_argument("horizon must be \"step_limit\" or \"unlimited\", not \"" + horizon +
                                "\"");
  return markov_model_with(m, flg_file_p, file_p, Data_p, var_path_p, var_conv_p, var_value_p,
                           var_null_p, row_sep_p, cha_sep_p, type_p, order_p, nsim_start_p,
                           max_step_p, ncore_p, nfold_p, seed_p, conv_par_p, rate_step_sim_p,
                           verbose_p, flg_out_tran_mtx_p, file_output_p, flg_write_nulls_p,
                           flg_write_paths_p);
  END_RCPP
}
