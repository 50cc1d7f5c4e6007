#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

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
  if (grad != nullptr) {
    ++l->grad_calls;
    *grad = l->g;
  }
  double f = 0.0;   // a loop: the core tests link no BLAS
  for (uli i = 0; i < x.n_elem; ++i) f += l->g[i] * x[i];
  return f;
}

double shifted_quadratic(const arma::vec& x, arma::vec* grad, void*) {
  arma::vec target = {3.0, -2.0};
  if (grad != nullptr) *grad = 2.0 * (x - target);
  return arma::accu(arma::square(x - target));
}

optim::algo_settings_t adam(uli iter_max = 2000) {
  optim::algo_settings_t s;
  s.gd_settings.method = optim::kMethodAdam;
  s.iter_max = iter_max;
  return s;
}

// One step from zero with a constant gradient component g.
void expect_first_step(double g) {
  Linear l{arma::vec{g}};
  arma::vec x(1, arma::fill::zeros);
  optim::algo_settings_t s = adam(1);
  optim::gd(x, linear_fn, &l, &s);
  const double want = -0.1 * g / (std::fabs(g) + 1e-5 / std::sqrt(1 - 0.999));
  EXPECT_NEAR(x[0], want, 1e-15 + 1e-12 * std::fabs(want)) << "g = " << g;
}

struct CaptureConsole {
  std::ostringstream out;
  CaptureConsole() { set_console_stream(&out); }
  ~CaptureConsole() { set_console_stream(nullptr); }
};

}  // namespace

TEST(Optim, AdamFirstStepFromZero) {
  expect_first_step(2.5);
  expect_first_step(-7.0);
  expect_first_step(1e-4);    // small gradients move by less than the step size
  expect_first_step(-3e-4);
  expect_first_step(1e6);
}

TEST(Optim, ZeroGradientCoordinateNeverMoves) {
  Linear l{arma::vec{0.0, 1.0, -1.0}};
  arma::vec x = {5.0, 0.0, 0.0};
  optim::algo_settings_t s = adam(50);
  optim::gd(x, linear_fn, &l, &s);
  EXPECT_EQ(x[0], 5.0);
  EXPECT_LT(x[1], -1.0);
  EXPECT_GT(x[2], 1.0);
}

TEST(Optim, StopsAfterTwoThousandIterations) {
  Linear l{arma::vec{1.0, -2.0}};
  arma::vec x(2, arma::fill::zeros);
  optim::algo_settings_t s = adam();
  const bool ok = optim::gd(x, linear_fn, &l, &s);
  EXPECT_FALSE(ok);
  EXPECT_EQ(s.opt_iter, 2000u);
  EXPECT_EQ(l.calls, 2002u);       // one initial, one per iteration, one final
  EXPECT_EQ(l.grad_calls, 2001u);  // the final evaluation asks for no gradient
  EXPECT_DOUBLE_EQ(s.opt_error_value, std::sqrt(5.0));
  EXPECT_DOUBLE_EQ(s.opt_fn_value, x[0] - 2 * x[1]);
  // With a constant gradient every Adam step is close to the step size.
  EXPECT_NEAR(x[0], -200.0, 1.0);
  EXPECT_NEAR(x[1], 200.0, 1.0);
}

TEST(Optim, OptimalStartIsReturnedUntouched) {
  Linear l{arma::vec{0.0, 0.0}};
  arma::vec x = {1.5, -4.0};
  optim::algo_settings_t s = adam();
  s.opt_iter = 77;
  EXPECT_TRUE(optim::gd(x, linear_fn, &l, &s));
  EXPECT_EQ(l.calls, 1u);
  EXPECT_EQ(x[0], 1.5);
  EXPECT_EQ(x[1], -4.0);
  EXPECT_EQ(s.opt_iter, 77u);      // outputs are not written
}

TEST(Optim, MinimisesAQuadratic) {
  arma::vec x(2, arma::fill::zeros);
  optim::algo_settings_t s = adam();
  optim::gd(x, shifted_quadratic, nullptr, &s);
  EXPECT_NEAR(x[0], 3.0, 1e-3);
  EXPECT_NEAR(x[1], -2.0, 1e-3);
  EXPECT_LT(s.opt_fn_value, 1e-5);
  // Default settings with Adam give the same run.
  arma::vec y(2, arma::fill::zeros);
  optim::gd(y, shifted_quadratic, nullptr);
  EXPECT_EQ(arma::approx_equal(x, y, "absdiff", 0.0), true);
}

TEST(Optim, NonFiniteStartIsRefused) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
    CaptureConsole console;
    Linear l{arma::vec{1.0, 1.0}};
    arma::vec x = {0.0, bad};
    optim::algo_settings_t s = adam();
    EXPECT_FALSE(optim::gd(x, linear_fn, &l, &s));
    EXPECT_EQ(console.out.str(), "gd error: non-finite initial value(s).\n");
    EXPECT_EQ(l.calls, 0u);
    EXPECT_EQ(x[0], 0.0);
  }
}

TEST(Optim, SettingsThatAreNotAvailableThrow) {
  Linear l{arma::vec{1.0}};
  auto expect_refused = [&](void (*tweak)(optim::algo_settings_t&), const char* what) {
    arma::vec x(1, arma::fill::zeros);
    optim::algo_settings_t s = adam();
    tweak(s);
    try {
      optim::gd(x, linear_fn, &l, &s);
      ADD_FAILURE() << what << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_EQ(x[0], 0.0);
  };
  expect_refused([](optim::algo_settings_t& s) { s.gd_settings.method = 0; }, "method = 0");
  expect_refused([](optim::algo_settings_t& s) { s.gd_settings.method = 7; }, "method = 7");
  expect_refused([](optim::algo_settings_t& s) { s.gd_settings.method = 42; }, "method = 42");
  expect_refused([](optim::algo_settings_t& s) { s.gd_settings.ada_max = true; }, "ada_max");
  expect_refused([](optim::algo_settings_t& s) { s.vals_bound = true; }, "vals_bound");
  expect_refused([](optim::algo_settings_t& s) { s.gd_settings.clip_grad = true; }, "clip_grad");
  EXPECT_EQ(l.calls, 0u);
}
