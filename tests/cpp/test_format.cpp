#include <gtest/gtest.h>

#include <sstream>

#include "common/common.h"

namespace {

void expect_perc(double x, const char* want) { EXPECT_EQ(f_print_perc(x), want) << "x = " << x; }
void expect_thousands(uli n, const char* want) { EXPECT_EQ(thousandSeparator(n), want) << n; }
void expect_f(double x, const char* want) { EXPECT_EQ(fmt_f(x), want) << x; }

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

TEST(Format, ThousandSeparator) {
  expect_thousands(0, "0");
  expect_thousands(999, "999");
  expect_thousands(1000, "1,000");
  expect_thousands(123456, "123,456");
  expect_thousands(1000000, "1,000,000");
  expect_thousands(1234567, "1,234,567");
  expect_thousands(18446744073709551615ul, "18,446,744,073,709,551,615");
}

TEST(Format, FixedSixDecimalsLikePrintf) {
  const double xs[] = {0.0, -0.0, 1.0 / 3, 2.0 / 3, 1e-7, 5e-7, 123456789.123456789, 1e20, -2.5, 0.0000005};
  for (double x : xs) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", x);
    expect_f(x, buf);
  }
  EXPECT_EQ(fmt_lu(0), "0");
  EXPECT_EQ(fmt_lu(18446744073709551615ul), "18446744073709551615");
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
