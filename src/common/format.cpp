#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/common.h"

namespace {
constexpr double kTwo52 = 4503599627370496.0;
}

void append_f(std::string& out, double x) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 6);
  if (r.ec == std::errc()) {
    // "%f" writes -0.000000 for negative zero and small negatives alike;
    // to_chars agrees, but spells non-finite values differently.
    if (std::isfinite(x)) {
      out.append(buf, r.ptr);
      return;
    }
  }
  if (std::isnan(x)) {
    out.append(std::signbit(x) ? "-nan" : "nan");
  } else if (std::isinf(x)) {
    out.append(x < 0 ? "-inf" : "inf");
  } else {
    int n = std::snprintf(buf, sizeof buf, "%f", x);
    out.append(buf, static_cast<size_t>(n));
  }
}

void append_lu(std::string& out, uli x) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  out.append(buf, r.ptr);
}

std::string fmt_f(double x) {
  std::string s;
  append_f(s, x);
  return s;
}

std::string fmt_lu(uli x) {
  std::string s;
  append_lu(s, x);
  return s;
}

std::string f_print_perc(double x) {
  double p = x * 10000.0;
  if (std::fabs(p) < kTwo52) p = std::floor(p);
  p /= 100.0;
  std::string s = fmt_f(p);
  size_t keep = x >= 1.0 ? 6 : (x >= 0.1 ? 5 : 4);
  if (s.size() > keep) s.resize(keep);
  return s;
}

std::string group_thousands(uli n) {
  std::string digits = fmt_lu(n);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3 + 1);
  size_t count = 0;
  for (size_t k = digits.size(); k-- > 0;) {
    out.push_back(digits[k]);
    if (++count % 3 == 0) out.push_back(',');
  }
  std::string r(out.rbegin(), out.rend());
  if (r.size() % 4 == 0) r.erase(0, 1);
  return r;
}
