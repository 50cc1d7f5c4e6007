#include <cctype>
#include <sstream>
#include <stdexcept>

#include <date/date.h>

#include "compare/compare.h"

namespace {

// Whether text can get as far as date::parse("%Y-%m-%d %T") reading the
// seconds and read them: [+-]Y{1,4}-m{1,2}-d{1,2}, blanks, H{1,2}:M{1,2}:
// then a digit or '.' and a digit. The date library reads its seconds into
// an uninitialised variable that it still converts when that read fails, so
// such text must not reach it; the check accepts everything it accepts.
bool reaches_seconds(const std::string& t) {
  size_t k = 0;
  auto digits = [&](size_t lo, size_t hi) {
    size_t n = 0;
    while (k < t.size() && n < hi && t[k] >= '0' && t[k] <= '9') ++k, ++n;
    return n >= lo;
  };
  auto lit = [&](char c) { return k < t.size() && t[k] == c ? (++k, true) : false; };
  if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
  if (!(digits(1, 4) && lit('-') && digits(1, 2) && lit('-') && digits(1, 2))) return false;
  while (k < t.size() && std::isspace(static_cast<unsigned char>(t[k]))) ++k;
  if (!(digits(1, 2) && lit(':') && digits(1, 2) && lit(':'))) return false;
  if (lit('.')) return digits(1, 1);
  return digits(1, 1);
}

}  // namespace

bool parse_time_stamp(const std::string& datetime, const std::string& ts_parse, uli* seconds) {
  if (ts_parse == "%Y-%m-%d %T" && !reaches_seconds(datetime)) return false;
  std::istringstream in(datetime);
  date::sys_seconds tp{};
  in >> date::parse(ts_parse, tp);
  if (in.fail()) return false;
  const auto s = tp.time_since_epoch().count();
  if (s < 0) return false;
  *seconds = static_cast<uli>(s);
  return true;
}

uli date_conv_time_int(const std::string& datetime, const std::string& ts_parse) {
  uli seconds = 0;
  if (!parse_time_stamp(datetime, ts_parse, &seconds))
    throw std::invalid_argument("time stamp \"" + datetime + "\" does not match \"" + ts_parse +
                                "\" or lies before 1970-01-01");
  return seconds;
}
