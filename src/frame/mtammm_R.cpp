#include "frame/frame.h"
#include "mtammm/mtammm.h"

// Leaves the numeric locale as it is: nothing here parses or prints with it.
extern "C" SEXP combine_mta_mmm_R(SEXP mta_path_attribution_p, SEXP mmm_attribution_p,
                                  SEXP prior_weights_mta_p, SEXP max_steps_p, SEXP conv_rate_p,
                                  SEXP verbose_p) {
  BEGIN_RCPP
  Rcpp::List mta(mta_path_attribution_p), mmm(mmm_attribution_p), prior(prior_weights_mta_p);
  MtaMmmInput in{as_counts(mta["path"], "column 'path' of mta_path_attribution"),
                  as_strings(mta["channel"]),
                  as_reals(mta["attribution"]),
                  as_strings(mmm["channel"]),
                  as_reals(mmm["attribution"]),
                  as_strings(prior["channel"]),
                  as_reals(prior["mta_weight"])};
  uli max_steps = as_count(max_steps_p, "max_steps");
  double conv_rate = as_real(conv_rate_p);
  uli verbose = as_count(verbose_p, "verbose");
  str_out_attr_combine_mta_mmm out =
      mtammm_run(std::move(in), {max_steps, conv_rate, verbose != 0});
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("path") = out.mta_attr_path,
                            Rcpp::Named("channel") = out.mta_attr_channel,
                            Rcpp::Named("attribution") = out.mta_attr_attr); });
  END_RCPP
}
