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
#include "journeys/journeys.h"

// Scalars (Rcpp's single-value conversions; "Expecting a single value").
int                      as_int(SEXP x);
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

// The journeys of an entry point, built the same way for every model so
// that one fault gets one message. The constructor converts the arguments
// that name them, in the entry point's argument order (an argument a model
// does not take is passed as nullptr and stays ""); load() then takes the
// named columns out of the data frame when the journeys do not come from
// the file (Rcpp's "Index out of bounds" for a missing name, a count
// column's bad row named by as_counts). `src` reads the file or the
// columns; an empty var_value / var_null means no such column.
// The simulation arguments every Markov-family entry point takes, in their
// argument order, into the settings struct s (any with these fields).
template <class S>
void read_simulation_args(SEXP nsim_start, SEXP max_step, SEXP ncore, SEXP nfold, SEXP seed,
                          SEXP conv_par, SEXP rate_step_sim, S* s) {
  s->nsim_start = as_count(nsim_start, "nsim_start");
  s->max_step = as_count(max_step, "max_step");
  s->ncore = as_count(ncore, "ncore");
  s->nfold = as_count(nfold, "nfold");
  s->seed = as_seed(seed);
  s->conv_par = as_real(conv_par);
  s->rate_step_sim = as_real(rate_step_sim);
}

class JourneyInput {
 public:
  JourneyInput(SEXP flg_file, SEXP file, SEXP var_path, SEXP var_conv, SEXP var_value,
               SEXP var_null, SEXP row_sep);
  JourneyInput(const JourneyInput&) = delete;              // src points into the columns
  JourneyInput& operator=(const JourneyInput&) = delete;
  void load(SEXP Data);

  JourneySource src;
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
};

#endif
