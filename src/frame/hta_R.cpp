#include <cmath>
#include <stdexcept>

#include "frame/frame.h"
#include "hta/hta.h"

namespace {

// Traffic counts, element by element; NA, negative or non-finite cells are
// an error naming the cell.
arma::Mat<uli> as_count_matrix(SEXP x) {
  Rcpp::NumericMatrix m(x);
  arma::Mat<uli> out(static_cast<arma::uword>(m.nrow()), static_cast<arma::uword>(m.ncol()));
  for (int i = 0; i < m.nrow(); ++i)
    for (int j = 0; j < m.ncol(); ++j) {
      const double d = m(i, j);
      if (!(d >= 0) || !(d < kTwo64))
        throw std::invalid_argument("MT[" + std::to_string(i + 1) + ", " + std::to_string(j + 1) +
                                    "] must be a non-negative count, not " +
                                    (std::isnan(d) ? std::string("NA") : std::to_string(d)));
      out(static_cast<arma::uword>(i), static_cast<arma::uword>(j)) = static_cast<uli>(d);
    }
  return out;
}

Rcpp::List rows_as_list(const arma::mat& M) {
  Rcpp::List out(static_cast<R_xlen_t>(M.n_rows));
  for (arma::uword t = 0; t < M.n_rows; ++t)
    out[static_cast<R_xlen_t>(t)] = Rcpp::NumericVector(M.begin_row(t), M.end_row(t));
  return out;
}

}  // namespace

extern "C" SEXP hta_model_R(SEXP vc_p, SEXP vv_p, SEXP MT_p, SEXP cr_p, SEXP vcr_p, SEXP vctr_p,
                            SEXP mean_cj_length_p, SEXP vadstock_p, SEXP nsim_p, SEXP seed_p,
                            SEXP flg_roc_p, SEXP flg_type_roc_p, SEXP perc_test_p,
                            SEXP roc_npt_p, SEXP type_worth_p, SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  HtaInput in;
  HtaSettings st;
  in.vc = as_counts(vc_p, "vc");
  in.vv = as_reals(vv_p);
  in.MT = as_count_matrix(MT_p);
  st.cr = as_real(cr_p);
  in.vcr = as_reals(vcr_p);
  in.vctr = as_reals(vctr_p);
  st.mean_cj_length = as_real(mean_cj_length_p);
  in.vadstock = as_reals(vadstock_p);
  st.nsim = as_count(nsim_p, "nsim");
  st.seed = as_seed(seed_p);
  st.flg_roc = as_int(flg_roc_p);
  st.flg_type_roc = as_int(flg_type_roc_p);
  st.perc_test = as_real(perc_test_p);
  st.roc_npt = as_count(roc_npt_p, "roc_npt");
  st.type_worth = as_int(type_worth_p);
  st.verbose = as_int(verbose_p);

  const HtaResult r = hta_run(in, st);
  if (in.vv.empty())
    return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("conversions") = rows_as_list(r.conversions),
                              Rcpp::Named("roc_y") = r.roc_y, Rcpp::Named("roc_x") = r.roc_x,
                              Rcpp::Named("auc") = r.auc); });
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("conversions") = rows_as_list(r.conversions),
                            Rcpp::Named("conversion_value") = rows_as_list(r.value),
                            Rcpp::Named("roc_y") = r.roc_y, Rcpp::Named("roc_x") = r.roc_x,
                            Rcpp::Named("auc") = r.auc); });
  END_RCPP
}
