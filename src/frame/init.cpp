#include <R_ext/Rdynload.h>

#include "frame/frame.h"

// The entry points, declared here for their registration.
extern "C" {
SEXP bootstrap_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP markov_budget_allocation_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP uidx_R(SEXP);
SEXP compare_models_mta_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP compare_models_mta_mmm_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP describe_complexity_R(SEXP, SEXP, SEXP, SEXP);
SEXP encrypt_R(SEXP, SEXP);
SEXP decrypt_R(SEXP, SEXP);
SEXP journeys_from_events_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP journeys_from_event_frame_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP time_decay_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP heuristic_models_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP hta_model_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP logistic_regression_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP logistic_regression_fit_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP markov_model_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP markov_model_method_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP combine_mta_mmm_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP next_best_action_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP next_best_action_train_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP choose_order_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP new_paths_attribution_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP rule_models_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP shapley_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP probabilistic_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP additive_hazard_R(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP uam_R(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
}

namespace {
// Throws Rcpp's interrupt exception when the user pressed Ctrl-C; the entry
// point's END_RCPP hands it back to R.
void r_interrupt_hook() { Rcpp::checkUserInterrupt(); }

// Every entry point with its number of arguments, so that R refuses a call
// with another count instead of reading arguments that were never passed.
const R_CallMethodDef kCallMethods[] = {
    {"bootstrap_R", reinterpret_cast<DL_FUNC>(&bootstrap_R), 14},
    {"markov_budget_allocation_R", reinterpret_cast<DL_FUNC>(&markov_budget_allocation_R), 10},
    {"uidx_R", reinterpret_cast<DL_FUNC>(&uidx_R), 1},
    {"compare_models_mta_R", reinterpret_cast<DL_FUNC>(&compare_models_mta_R), 16},
    {"compare_models_mta_mmm_R", reinterpret_cast<DL_FUNC>(&compare_models_mta_mmm_R), 15},
    {"describe_complexity_R", reinterpret_cast<DL_FUNC>(&describe_complexity_R), 4},
    {"encrypt_R", reinterpret_cast<DL_FUNC>(&encrypt_R), 2},
    {"decrypt_R", reinterpret_cast<DL_FUNC>(&decrypt_R), 2},
    {"journeys_from_events_R", reinterpret_cast<DL_FUNC>(&journeys_from_events_R), 18},
    {"journeys_from_event_frame_R", reinterpret_cast<DL_FUNC>(&journeys_from_event_frame_R), 14},
    {"time_decay_R", reinterpret_cast<DL_FUNC>(&time_decay_R), 6},
    {"heuristic_models_R", reinterpret_cast<DL_FUNC>(&heuristic_models_R), 12},
    {"hta_model_R", reinterpret_cast<DL_FUNC>(&hta_model_R), 16},
    {"logistic_regression_R", reinterpret_cast<DL_FUNC>(&logistic_regression_R), 11},
    {"logistic_regression_fit_R", reinterpret_cast<DL_FUNC>(&logistic_regression_fit_R), 11},
    {"markov_model_R", reinterpret_cast<DL_FUNC>(&markov_model_R), 23},
    {"markov_model_method_R", reinterpret_cast<DL_FUNC>(&markov_model_method_R), 25},
    {"combine_mta_mmm_R", reinterpret_cast<DL_FUNC>(&combine_mta_mmm_R), 6},
    {"next_best_action_R", reinterpret_cast<DL_FUNC>(&next_best_action_R), 6},
    {"next_best_action_train_R", reinterpret_cast<DL_FUNC>(&next_best_action_train_R), 18},
    {"choose_order_R", reinterpret_cast<DL_FUNC>(&choose_order_R), 16},
    {"new_paths_attribution_R", reinterpret_cast<DL_FUNC>(&new_paths_attribution_R), 15},
    {"rule_models_R", reinterpret_cast<DL_FUNC>(&rule_models_R), 12},
    {"shapley_R", reinterpret_cast<DL_FUNC>(&shapley_R), 15},
    {"probabilistic_R", reinterpret_cast<DL_FUNC>(&probabilistic_R), 9},
    {"additive_hazard_R", reinterpret_cast<DL_FUNC>(&additive_hazard_R), 5},
    {"uam_R", reinterpret_cast<DL_FUNC>(&uam_R), 24},
    {NULL, NULL, 0}};
}  // namespace

extern "C" void R_init_Touchlane(DllInfo* info) {
  R_registerRoutines(info, NULL, kCallMethods, NULL, NULL);
  // Calls by name (.Call("shapley_R", ...)) keep working.
  R_useDynamicSymbols(info, TRUE);
  set_console_stream(&Rcpp::Rcout);
  set_interrupt_hook(&r_interrupt_hook);
}
