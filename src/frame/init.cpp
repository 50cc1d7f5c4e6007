#include <R_ext/Rdynload.h>

#include "frame/frame.h"

namespace {
// Throws Rcpp's interrupt exception when the user pressed Ctrl-C; the entry
// point's END_RCPP hands it back to R.
void r_interrupt_hook() { Rcpp::checkUserInterrupt(); }
}  // namespace

extern "C" void R_init_Touchlane(DllInfo* info) {
  R_registerRoutines(info, NULL, NULL, NULL, NULL);
  R_useDynamicSymbols(info, TRUE);
  set_console_stream(&Rcpp::Rcout);
  set_interrupt_hook(&r_interrupt_hook);
}
