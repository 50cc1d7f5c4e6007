#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "helpers.h"
#include "optim/optim.h"

namespace {

// f(x) = g . x: a constant gradient, so Adam never converges and the run
// is bounded only by iter_max.
struct Linear {
  arma::vec g;
  uli calls = 0, grad_calls = 0;
};

double linear_fn(const arma::vec& x, arma::vec* grad, void* data) {
  Linear* l = static_cast<Linear*>(data);
  ++l->calls;
  if (grad != nullptr) ++l->grad_calls, *grad = l->g;
  double f = 0.0;
  for (uli i = 0; i < x.n_elem; ++i) f += l->g[i] * x[i];
  return f;
}

optim::algo_settings_t adam(uli iter_max = 2000) {
  optim::algo_settings_t s;
  s.gd_settings.method = optim::kMethodAdam;
  s.iter_max = iter_max;
  return s;
}

TEST(Optim, AdamFirstStepFromZero) {
  // Bias-corrected first step: -0.1 g / (|g| + 1e-5 / sqrt(1 - 0.999)).
  for (double g : {2.5, -7.0, 1e-4, -3e-4, 1e6}) {
    Linear l{arma::vec{g}};
    arma::vec x(1, arma::fill::zeros);
    optim::algo_settings_t s = adam(1);
    optim::gd(x, linear_fn, &l, &s);
    const double want = -0.1 * g / (std::fabs(g) + 1e-5 / std::sqrt(1 - 0.999));
    EXPECT_NEAR(x[0], want, 1e-15 + 1e-12 * std::fabs(want)) << "g = " << g;
  }
}

TEST(Optim, StopsAfterIterMaxWithItsCounts) {
  Linear l{arma::vec{1.0, -2.0, 0.0}};
  arma::vec x = {0.0, 0.0, 5.0};
  optim::algo_settings_t s = adam();
  EXPECT_FALSE(optim::gd(x, linear_fn, &l, &s));
  EXPECT_EQ(s.opt_iter, 2000u);
  EXPECT_EQ(l.calls, 2002u);       // one initial, one per iteration, one final
  EXPECT_EQ(l.grad_calls, 2001u);  // the final evaluation asks for no gradient
  EXPECT_DOUBLE_EQ(s.opt_error_value, std::sqrt(5.0));
  EXPECT_DOUBLE_EQ(s.opt_fn_value, x[0] - 2 * x[1]);
  EXPECT_NEAR(x[0], -200.0, 1.0);  // every step close to the step size
  EXPECT_NEAR(x[1], 200.0, 1.0);
  EXPECT_EQ(x[2], 5.0);            // a zero gradient never moves
}

TEST(Optim, OptimalOrNonFiniteStartIsReturnedUntouched) {
  Linear l{arma::vec{0.0, 0.0}};
  arma::vec x = {1.5, -4.0};
  optim::algo_settings_t s = adam();
  s.opt_iter = 77;
  EXPECT_TRUE(optim::gd(x, linear_fn, &l, &s));
  EXPECT_EQ(l.calls, 1u);
  EXPECT_EQ(x[1], -4.0);
  EXPECT_EQ(s.opt_iter, 77u);      // outputs are not written
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    tl_test::Console console;
    Linear m{arma::vec{1.0, 1.0}};
    x = {0.0, bad};
    EXPECT_FALSE(optim::gd(x, linear_fn, &m, &s));
    EXPECT_EQ(console.os.str(), "gd error: non-finite initial value(s).\n");
    EXPECT_EQ(m.calls, 0u);
  }
}

TEST(Optim, OnlyTheAdamUpdateIsAvailable) {
  Linear l{arma::vec{1.0}};
  arma::vec x(1, arma::fill::zeros);
  optim::algo_settings_t s = adam();
  s.gd_settings.method = 7;
  EXPECT_EQ(tl_test::error_of([&] { optim::gd(x, linear_fn, &l, &s); }),
            "gd: gd_settings.method = 7 is not available (only the Adam update)");
}

}  // namespace
