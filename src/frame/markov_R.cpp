#include "frame/frame.h"
#include "markov/markov.h"

namespace {

// with_run: the result list ends with "simulation", how the simulation
// went (markov_model_method_R only; markov_model_R keeps its list).
SEXP markov_model_with(const MarkovMethod& method, bool with_run, SEXP flg_file_p, SEXP file_p, SEXP Data_p,
                       SEXP var_path_p, SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p,
                       SEXP row_sep_p, SEXP cha_sep_p, SEXP type_p, SEXP order_p,
                       SEXP nsim_start_p, SEXP max_step_p, SEXP ncore_p, SEXP nfold_p,
                       SEXP seed_p, SEXP conv_par_p, SEXP rate_step_sim_p, SEXP verbose_p,
                       SEXP flg_out_tran_mtx_p, SEXP file_output_p, SEXP flg_write_nulls_p,
                       SEXP flg_write_paths_p) {
  setlocale(LC_NUMERIC, "C");
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, var_null_p, row_sep_p);
  const std::string cha_sep = as_str(cha_sep_p);
  MarkovSettings s;
  s.type = as_int(type_p);
  s.order = as_count(order_p, "order");
  read_simulation_args(nsim_start_p, max_step_p, ncore_p, nfold_p, seed_p, conv_par_p,
                       rate_step_sim_p, &s);
  s.verbose = as_int(verbose_p);
  s.flg_out_tran_mtx = as_int(flg_out_tran_mtx_p);
  s.file_output = as_str(file_output_p);
  s.flg_write_nulls = as_int(flg_write_nulls_p);
  s.flg_write_paths = as_int(flg_write_paths_p);
  s.flg_out_attr = 1;
  s.method = method;
  in.load(Data_p);
  const MarkovResult r = markov_run(in.src, cha_sep, s);
  return r_result([&]() -> SEXP {
    Rcpp::List out = Rcpp::List::create(Rcpp::Named("vchannels") = r.vchannels,
                            Rcpp::Named("vindex") = r.vindex,
                            Rcpp::Named("vpath_id") = r.vpath_id,
                            Rcpp::Named("vpath_name") = to_character(r.vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(r.vpath_channel),
                            Rcpp::Named("vpath_chpos") = r.vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = r.vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = r.vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = r.vattr_convs_loc,
                            Rcpp::Named("vattr_convs_glob") = r.vattr_convs_glob,
                            Rcpp::Named("vattr_value_glob") = r.vattr_value_glob,
                            Rcpp::Named("vchannel_from_mtx") = r.vchannel_from_mtx,
                            Rcpp::Named("vchannel_to_mtx") = r.vchannel_to_mtx,
                            Rcpp::Named("vtran_prob_mtx") = r.vtran_prob_mtx);
    if (!with_run) return out;
    // How the simulation went, as numbers rather than progress text.
    out.push_back(Rcpp::List::create(Rcpp::Named("batches") = static_cast<double>(r.sim_batches),
                                     Rcpp::Named("walks") = static_cast<double>(r.sim_walks),
                                     Rcpp::Named("residual") = r.sim_residual,
                                     Rcpp::Named("ended_share") = r.sim_ended_share),
                  "simulation");
    return out;
  });
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
  return markov_model_with(MarkovMethod(), false, flg_file_p, file_p, Data_p, var_path_p, var_conv_p, var_value_p,
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
  return markov_model_with(m, true, flg_file_p, file_p, Data_p, var_path_p, var_conv_p, var_value_p,
                           var_null_p, row_sep_p, cha_sep_p, type_p, order_p, nsim_start_p,
                           max_step_p, ncore_p, nfold_p, seed_p, conv_par_p, rate_step_sim_p,
                           verbose_p, flg_out_tran_mtx_p, file_output_p, flg_write_nulls_p,
                           flg_write_paths_p);
  END_RCPP
}
