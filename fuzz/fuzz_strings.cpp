// The string and number helpers against the standard library's conversions
// and against plain reference implementations.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/common.h"
#include "harness.h"
#include "journeys/journeys.h"

namespace {

enum Outcome { kValue, kInvalid, kRange };

template <class F, class T>
Outcome outcome(F&& f, T* out) {
  try {
    *out = f();
    return kValue;
  } catch (const std::invalid_argument&) {
    return kInvalid;
  } catch (const std::out_of_range&) {
    return kRange;
  }
}

std::vector<std::string> naive_split(const std::string& s, char d) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == d) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::string naive_normalise(const std::string& s) {
  std::string out;
  for (char c : s)
    if (!(c == ' ' && (out.empty() || out.back() == ' '))) out.push_back(c);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string naive_thousands(uli n) {
  std::string d = std::to_string(n), out;
  for (size_t k = 0; k < d.size(); ++k) {
    if (k && (d.size() - k) % 3 == 0) out.push_back(',');
    out.push_back(d[k]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  // The text up to a NUL byte, as the standard conversions see it.
  const std::string c_str(s.c_str());

  uli a = 0, b = 0;
  Outcome oa = outcome([&] { return parse_stoul(c_str); }, &a);
  Outcome ob = outcome([&] { return static_cast<uli>(std::stoul(c_str)); }, &b);
  FUZZ_CHECK(oa == ob);
  if (oa == kValue) FUZZ_CHECK(a == b);

  double x = 0, y = 0;
  oa = outcome([&] { return parse_stod(c_str); }, &x);
  ob = outcome([&] { return std::stod(c_str); }, &y);
  // std::stod also reports underflow (a tiny non-zero number) as out of
  // range; parse_stod returns the nearest double instead.
  if (ob == kRange && oa == kValue && std::fabs(x) < 1e-300) ob = kValue, y = x;
  FUZZ_CHECK(oa == ob);
  if (oa == kValue) FUZZ_CHECK(x == y || (std::isnan(x) && std::isnan(y)));

  const char d = size ? s[0] : ',';
  FUZZ_CHECK(split(s, d) == naive_split(s, d));
  FUZZ_CHECK(normalise_blanks(s) == naive_normalise(s));
  std::vector<std::string_view> pieces;
  channels_markov(s, d, &pieces);
  for (std::string_view p : pieces) FUZZ_CHECK(!p.empty() && p.front() != ' ' && p.back() != ' ');
  (void)path_problem(s, d);
  try {
    (void)split_string(s, size % 7 + 1);
  } catch (const std::invalid_argument&) {   // a piece that is not a number
  } catch (const std::out_of_range&) {
  }

  if (size >= 8) {
    uli n;
    double v;
    std::memcpy(&n, data, 8);
    std::memcpy(&v, data, 8);
    FUZZ_CHECK(group_thousands(n) == naive_thousands(n));
    FUZZ_CHECK(fmt_lu(n) == std::to_string(n));
    char buf[400];
    std::snprintf(buf, sizeof buf, "%f", v);
    FUZZ_CHECK(fmt_f(v) == buf);
    (void)f_print_perc(v);
  }
  return 0;
}
