#include "complexity/complexity.h"
#include "frame/frame.h"

// Leaves the numeric locale alone: nothing here parses or prints a number
// with a decimal point.
extern "C" SEXP describe_complexity_R(SEXP Data_p, SEXP var_path_p, SEXP order_p, SEXP sep_p) {
  BEGIN_RCPP
  Rcpp::List data(Data_p);
  std::string var_path = as_str(var_path_p);
  uli order = as_count(order_p, "order");
  std::string sep = as_str(sep_p);
  std::vector<std::string> vy = as_strings(data[var_path]);
  const double npaths = static_cast<double>(vy.size());

  const ComplexityResult r = complexity_run(std::move(vy), ComplexitySettings{order, sep});
  std::vector<double> group_len(r.group_len.begin(), r.group_len.end());
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("npaths") = npaths,
                            Rcpp::Named("nchannels") = static_cast<double>(r.nchannels),
                            Rcpp::Named("nchannels_sim") = static_cast<double>(r.nchannels_sim),
                            Rcpp::Named("group_channel_len") = group_len); });
  END_RCPP
}
