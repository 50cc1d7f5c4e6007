#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include <date/date.h>

#include "events/events.h"

namespace {

bool digits(std::string_view s, size_t at, size_t n, int* out) {
  if (at + n > s.size()) return false;
  int x = 0;
  for (size_t k = at; k < at + n; ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    x = x * 10 + (s[k] - '0');
  }
  *out = x;
  return true;
}

// "YYYY-MM-DD", then optionally ' ' or 'T' and "hh:mm[:ss[.fff]]", then
// optionally 'Z' or a UTC offset "+hh:mm" / "+hhmm" (after a time only).
// Read by hand, field by field: the date library's stream parser turns a
// signed seconds field such as ":+5" into an undefined conversion.
bool parse_iso_fast(std::string_view s, double* seconds) {
  int y, mo, d, h = 0, mi = 0, sec = 0;
  if (!digits(s, 0, 4, &y) || s[4] != '-' || !digits(s, 5, 2, &mo) || s.size() < 10 || s[7] != '-' ||
      !digits(s, 8, 2, &d))
    return false;
  const date::year_month_day ymd{date::year{y}, date::month{static_cast<unsigned>(mo)},
                                 date::day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return false;
  size_t k = 10;
  double frac = 0;
  if (k < s.size() && (s[k] == ' ' || s[k] == 'T')) {
    if (!digits(s, k + 1, 2, &h) || k + 3 >= s.size() || s[k + 3] != ':' || !digits(s, k + 4, 2, &mi))
      return false;
    k += 6;
    if (k < s.size() && s[k] == ':') {
      if (!digits(s, k + 1, 2, &sec)) return false;
      k += 3;
      if (k < s.size() && s[k] == '.') {
        size_t e = k + 1;
        while (e < s.size() && s[e] >= '0' && s[e] <= '9') ++e;
        if (e == k + 1) return false;
        frac = std::strtod(std::string(s.substr(k, e - k)).c_str(), nullptr);
        k = e;
      }
    }
    if (h > 23 || mi > 59 || sec > 60) return false;
  }
  double offset = 0;
  if (k < s.size() && s[k] == 'Z') {
    ++k;
  } else if (k > 10 && k < s.size() && (s[k] == '+' || s[k] == '-')) {
    int oh, om;
    const size_t m = s.size() - k == 6 && s[k + 3] == ':' ? k + 4 : k + 3;
    if (!digits(s, k + 1, 2, &oh) || !digits(s, m, 2, &om) || oh > 23 || om > 59) return false;
    offset = (s[k] == '-' ? -1.0 : 1.0) * (oh * 3600.0 + om * 60.0);
    k = m + 2;
  }
  if (k != s.size()) return false;
  const auto days = date::sys_days(ymd).time_since_epoch().count();
  *seconds = static_cast<double>(days) * 86400.0 + h * 3600.0 + mi * 60.0 + sec + frac - offset;
  return true;
}

}  // namespace

double parse_event_time(std::string_view text) {
  double x = 0;
  if (text.size() >= 10 && text[4] == '-') {
    if (parse_iso_fast(text, &x)) return x;
  } else if (!text.empty()) {
    // Decimal seconds only: no hexadecimal, no blanks, no "inf".
    const char* b = text.data() + (text[0] == '+' ? 1 : 0);
    const char* e = text.data() + text.size();
    const bool starts_number =
        b < e && ((*b == '-' && b == text.data()) || *b == '.' || (*b >= '0' && *b <= '9'));
    if (starts_number) {
      const auto r = std::from_chars(b, e, x);
      if (r.ec == std::errc() && r.ptr == e && std::isfinite(x)) return x;
    }
  }
  throw std::invalid_argument("time stamp \"" + std::string(text) +
                              "\" is neither seconds nor ISO text such as \"2024-01-31 12:00:00\"");
}
