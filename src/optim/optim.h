// Unconstrained first-order minimiser (gradient descent with the Adam
// update) for smooth objectives given as a callback.
#ifndef TOUCHLANE_OPTIM_OPTIM_H
#define TOUCHLANE_OPTIM_OPTIM_H

#include <functional>

#include "common/arma.h"
#include "common/common.h"

namespace optim {

// Update rules of the method selector; only Adam is provided, any other
// value makes gd() throw before the first step.
constexpr int kMethodAdam = 6;

struct gd_settings_t {
  int method = 0;                      // 0..7; only kMethodAdam is available
  double par_step_size = 0.1;          // base step size alpha
  bool step_decay = false;             // not available
  uli step_decay_periods = 10;
  double step_decay_val = 0.5;
  double par_momentum = 0.9;           // not used by Adam
  double par_ada_norm_term = 1.0e-5;   // epsilon added to sqrt(second moment)
  double par_ada_rho = 0.9;            // not used by Adam
  double par_adam_beta_1 = 0.9;
  double par_adam_beta_2 = 0.999;
  bool ada_max = false;                // not available
  bool clip_grad = false;              // not available
  int clip_norm_type = 2;
  double clip_norm_bound = 5.0;
};

struct algo_settings_t {
  algo_settings_t();                   // draws rng_seed_value from a random device

  int print_level = 0;                 // only 0 (silent) is available
  int conv_failure_switch = 0;         // only 0: keep the last iterate silently
  uli iter_max = 2000;
  double grad_err_tol = 1.0e-8;        // on the Euclidean norm of the gradient
  double rel_sol_change_tol = 1.0e-14;
  double rel_objfn_change_tol = 1.0e-8;   // not used by gradient descent
  uli rng_seed_value = 0;                 // not used by gradient descent
  bool vals_bound = false;             // only false: no box constraints
  gd_settings_t gd_settings;

  // Written by a run that takes at least one step.
  double opt_fn_value = 0.0;           // objective at the returned point
  uli opt_iter = 0;                    // update iterations performed
  double opt_error_value = 0.0;        // final gradient norm
};

// Objective: value at vals_inp; when grad_out is not null it is resized to
// the parameter count and filled with the gradient. opt_data is passed
// through untouched.
typedef std::function<double(const arma::vec& vals_inp, arma::vec* grad_out, void* opt_data)>
    objfn_t;

// Minimises opt_objfn from init_out_vals and leaves the last iterate there
// (converged or not). Returns true on convergence. Non-finite starting
// values print "gd error: non-finite initial value(s)." and return false
// with init_out_vals unchanged. Throws std::invalid_argument naming the
// setting when settings ask for something not available (a method other
// than Adam, AdaMax, step decay, clipping, bounds, tracing, another
// conv_failure_switch). settings may be null: the defaults with Adam.
bool gd(arma::vec& init_out_vals, const objfn_t& opt_objfn, void* opt_data,
        algo_settings_t* settings);

// The Euclidean norm gd() measures the gradient with against grad_err_tol.
double norm2(const arma::vec& v);
bool gd(arma::vec& init_out_vals, const objfn_t& opt_objfn, void* opt_data);

namespace internal {

bool gd_basic_impl(arma::vec& init_out_vals, const objfn_t& opt_objfn, void* opt_data,
                   algo_settings_t* settings);

// Step direction of iteration iter (1-based) from the gradient grad_p;
// updates the Adam moments in place.
arma::vec gd_update(const arma::vec& vals_inp, const arma::vec& grad, const arma::vec& grad_p,
                    const arma::vec& direc, uli iter, const gd_settings_t& gd_settings,
                    arma::vec& adam_vec_m, arma::vec& adam_vec_v);

}  // namespace internal
}  // namespace optim

#endif
