#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "optim/optim.h"

namespace optim {

algo_settings_t::algo_settings_t() {
  std::random_device rd;
  rng_seed_value = rd();
}

// Plain loop rather than arma::norm: keeps the core free of BLAS calls.
double norm2(const arma::vec& v) {
  double sum = 0.0;
  for (double x : v) sum += x * x;
  return std::sqrt(sum);
}

namespace {

void unavailable(const std::string& what) {
  throw std::invalid_argument("gd: " + what + " is not available (only the Adam update)");
}

// Refuses settings this minimiser does not implement, so that nothing
// silently runs a different algorithm than the one asked for.
void check_settings(const algo_settings_t& s) {
  const gd_settings_t& g = s.gd_settings;
  if (g.method != kMethodAdam)
    unavailable("gd_settings.method = " + std::to_string(g.method));
  if (g.ada_max) unavailable("gd_settings.ada_max");
  if (g.step_decay) unavailable("gd_settings.step_decay");
  if (g.clip_grad) unavailable("gd_settings.clip_grad");
  if (s.vals_bound) unavailable("vals_bound");
  if (s.print_level != 0) unavailable("print_level = " + std::to_string(s.print_level));
  if (s.conv_failure_switch != 0)
    unavailable("conv_failure_switch = " + std::to_string(s.conv_failure_switch));
}

}  // namespace

namespace internal {

arma::vec gd_update(const arma::vec& /*vals_inp*/, const arma::vec& /*grad*/,
                    const arma::vec& grad_p, const arma::vec& /*direc*/, uli iter,
                    const gd_settings_t& g, arma::vec& adam_vec_m, arma::vec& adam_vec_v) {
  if (g.method != kMethodAdam || g.ada_max)
    unavailable("gd_settings.method = " + std::to_string(g.method));
  const double b1 = g.par_adam_beta_1, b2 = g.par_adam_beta_2;
  const double t = static_cast<double>(iter);
  adam_vec_m = b1 * adam_vec_m + (1.0 - b1) * grad_p;
  const double step = g.par_step_size * std::sqrt(1.0 - std::pow(b2, t)) / (1.0 - std::pow(b1, t));
  adam_vec_v = b2 * adam_vec_v + (1.0 - b2) * arma::square(grad_p);
  return step * (adam_vec_m / (arma::sqrt(adam_vec_v) + g.par_ada_norm_term));
}

bool gd_basic_impl(arma::vec& init_out_vals, const objfn_t& opt_objfn, void* opt_data,
                   algo_settings_t* settings) {
  const algo_settings_t s = *settings;
  check_settings(s);
  arma::vec x = init_out_vals;
  if (!x.is_finite()) {
    printA("gd error: non-finite initial value(s).");
    return false;
  }
  const uli n = x.n_elem;

  arma::vec grad(n, arma::fill::zeros);
  opt_objfn(x, &grad, opt_data);
  double grad_err = norm2(grad);
  if (grad_err <= s.grad_err_tol) return true;

  arma::vec grad_p = grad, d(n, arma::fill::zeros), x_p = x;
  arma::vec adam_vec_m(n, arma::fill::zeros), adam_vec_v(n, arma::fill::zeros);
  uli iter = 0;
  double rel_sol_change = 1.0;
  while (grad_err > s.grad_err_tol && rel_sol_change > s.rel_sol_change_tol &&
         iter < s.iter_max) {
    ++iter;
    d = gd_update(x, grad, grad_p, d, iter, s.gd_settings, adam_vec_m, adam_vec_v);
    x_p = x - d;
    grad = grad_p;
    opt_objfn(x_p, &grad_p, opt_data);
    grad_err = norm2(grad_p);
    rel_sol_change = arma::accu(arma::abs(x_p - x) / (arma::abs(x) + 1.0e-5));
    x = x_p;
  }

  init_out_vals = x;
  const bool success = iter <= s.iter_max && grad_err <= s.grad_err_tol;
  settings->opt_fn_value = opt_objfn(x, nullptr, opt_data);
  settings->opt_iter = iter;
  settings->opt_error_value = grad_err;
  return success;
}

}  // namespace internal

bool gd(arma::vec& init_out_vals, const objfn_t& opt_objfn, void* opt_data,
        algo_settings_t* settings) {
  if (settings == nullptr) return gd(init_out_vals, opt_objfn, opt_data);
  return internal::gd_basic_impl(init_out_vals, opt_objfn, opt_data, settings);
}

bool gd(arma::vec& init_out_vals, const objfn_t& opt_objfn, void* opt_data) {
  algo_settings_t settings;
  settings.gd_settings.method = kMethodAdam;
  return internal::gd_basic_impl(init_out_vals, opt_objfn, opt_data, &settings);
}

}  // namespace optim
