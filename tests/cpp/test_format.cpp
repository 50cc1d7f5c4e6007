#include <gtest/gtest.h>

#include <sstream>

#include "common/common.h"

namespace {

void expect_perc(double x, const char* want) { EXPECT_EQ(f_print_perc(x), want) << "x = " << x; }

TEST(Format, Percent) {
  expect_perc(1.0, "100.00");
  expect_perc(0.99999, "99.99");   // floor, not rounding
  expect_perc(0.05, "5.00");
  expect_perc(0.1234, "12.34");
  expect_perc(0.0123, "1.23");
  expect_perc(1.5, "150.00");
  expect_perc(5.0, "500.00");
  expect_perc(0.0, "0.00");
}

TEST(Console, SinkReceivesLinesAndIsRestored) {
  std::ostringstream os;
  set_console_stream(&os);
  printA("**heuristic models estimation**");
  printA("- step");
  set_console_stream(nullptr);
  EXPECT_EQ(os.str(), "**heuristic models estimation**\n- step\n");
}

int g_calls = 0;
TEST(Console, InterruptHookIsCalledAndMayThrow) {
  check_interrupt();  // no hook: nothing happens
  set_interrupt_hook([] { ++g_calls; throw std::runtime_error("interrupted"); });
  EXPECT_THROW(check_interrupt(), std::runtime_error);
  set_interrupt_hook(nullptr);
  check_interrupt();
  EXPECT_EQ(g_calls, 1);
}

}  // namespace
