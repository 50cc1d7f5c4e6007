// Conversions between R objects and native values, used by the entry
// points. The only header of the library that includes Rcpp.
#ifndef TOUCHLANE_FRAME_FRAME_H
#define TOUCHLANE_FRAME_FRAME_H

#include <Rcpp.h>
#include <clocale>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "common/common.h"

// Scalars (Rcpp's single-value conversions; "Expecting a single value").
int                      as_flag(SEXP x);
uli                      as_count(SEXP x, const char* arg);   // rejects NA, negative, non-finite
uli                      as_seed(SEXP x);                     // NA or >= 2^64: gb::limsup
double                   as_real(SEXP x);
std::string              as_str(SEXP x);

// Vectors, element by element.
std::vector<std::string> as_strings(SEXP x);
std::vector<double>      as_reals(SEXP x);
// Counts truncated towards zero; NA, negative or non-finite elements are an
// error naming `what` and the 1-based row.
std::vector<uli>         as_counts(SEXP x, const std::string& what);
// A character vector of v; repeated strings (channel names, paths of
// every touch point) share one R string instead of being hashed again.
SEXP to_character(const std::vector<std::string>& v);

// Builds an entry point's R result under R's unwind protection: an R error
// while allocating it (memory exhausted) first unwinds the C++ stack, so no
// destructor is skipped, and then resumes in R. A C++ exception from build
// is carried out of R's C frames and thrown again here.
template <class F>
SEXP r_result(F&& build) {
  std::exception_ptr error;
  SEXP out = Rcpp::unwindProtect(std::function<SEXP(void)>([&]() -> SEXP {
    try {
      return build();
    } catch (...) {
      error = std::current_exception();
      return R_NilValue;
    }
  }));
  if (error) std::rethrow_exception(error);
  return out;
}

void conv_rcpp_mat_to_vec2(Rcpp::NumericMatrix* m, std::vector<std::vector<double>>* out);

// The journey columns of a data frame (Rcpp's "Index out of bounds" error
// for a missing name); vv / vn are left empty when var_value / var_null are
// empty strings.
void read_journey_columns(SEXP Data, const std::string& var_path, const std::string& var_conv,
                          const std::string& var_value, const std::string& var_null,
                          std::vector<std::string>* vy, std::vector<uli>* vc,
                          std::vector<double>* vv, std::vector<uli>* vn);

#endif
