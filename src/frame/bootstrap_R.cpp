#include "bootstrap/bootstrap.h"
#include "frame/frame.h"
#include "journeys/journeys.h"

namespace {

// A named element of the settings list, or `fallback` when it is absent.
SEXP setting(const Rcpp::List& l, const char* name) {
  if (l.size() == 0 || Rf_isNull(l.names())) return R_NilValue;
  Rcpp::CharacterVector nm = l.names();
  for (R_xlen_t k = 0; k < nm.size(); ++k)
    if (std::string(nm[k]) == name) return l[k];
  return R_NilValue;
}

}  // namespace

extern "C" SEXP bootstrap_R(SEXP model_p, SEXP flg_file_p, SEXP file_p, SEXP Data_p,
                            SEXP var_path_p, SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p,
                            SEXP row_sep_p, SEXP cha_sep_p, SEXP settings_p, SEXP nrep_p,
                            SEXP seed_p, SEXP threads_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::string model = as_str(model_p);
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, var_null_p, row_sep_p);
  BootstrapSettings s;
  s.cha_sep = as_str(cha_sep_p);
  Rcpp::List l(settings_p);
  SEXP x;
  if ((x = setting(l, "first_share")) != R_NilValue) s.first_share = as_real(x);
  if ((x = setting(l, "last_share")) != R_NilValue) s.last_share = as_real(x);
  if ((x = setting(l, "direct_channels")) != R_NilValue) s.direct_channels = as_strings(x);
  if ((x = setting(l, "flg_simplified")) != R_NilValue) s.flg_simplified = as_int(x);
  if ((x = setting(l, "exact")) != R_NilValue) s.markov.method.exact = as_int(x);
  if ((x = setting(l, "unlimited")) != R_NilValue) s.markov.method.unlimited = as_int(x);
  if ((x = setting(l, "order")) != R_NilValue) s.markov.order = as_count(x, "order");
  if ((x = setting(l, "nsim_start")) != R_NilValue) s.markov.nsim_start = as_count(x, "nsim_start");
  if ((x = setting(l, "max_step")) != R_NilValue) s.markov.max_step = as_count(x, "max_step");
  if ((x = setting(l, "nfold")) != R_NilValue) s.markov.nfold = as_count(x, "nfold");
  if ((x = setting(l, "conv_par")) != R_NilValue) s.markov.conv_par = as_real(x);
  if ((x = setting(l, "rate_step_sim")) != R_NilValue) s.markov.rate_step_sim = as_real(x);
  uli nrep = as_count(nrep_p, "bootstrap");
  // Every replicate is a column of the result matrix, so the count is
  // refused before anything is drawn rather than failing on allocation.
  if (nrep > 1000000) throw std::invalid_argument("bootstrap must be at most 1e+06");
  uli seed = as_seed(seed_p);
  uli threads = as_count(threads_p, "threads");
  if (threads == 0) throw std::invalid_argument("threads must be at least 1");

  in.load(Data_p);
  if (in.src.flg_file != 0) {
    // Replicates redraw every row, so the file is read into memory once.
    JourneyReader reader(in.src);
    while (reader.next()) {
      in.vy.push_back(reader.path());
      in.vc.push_back(reader.conv());
      if (reader.flg_value()) in.vv.push_back(reader.value());
      if (reader.flg_null()) in.vn.push_back(reader.nulls());
    }
  }
  std::vector<std::string> vchannels;
  std::vector<double> estimate, reps;
  bootstrap_cpp(model, s, in.vy, in.vc, in.vv, in.vn, nrep, seed, threads, &vchannels, &estimate, &reps);
  return r_result([&]() -> SEXP {
    Rcpp::NumericMatrix m(static_cast<int>(vchannels.size()), static_cast<int>(nrep));
    std::copy(reps.begin(), reps.end(), m.begin());   // column r = replicate r
    return Rcpp::List::create(Rcpp::Named("vchannels") = vchannels,
                              Rcpp::Named("vestimate") = estimate, Rcpp::Named("vreps") = m);
  });
  END_RCPP
}
