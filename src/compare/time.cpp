#include <sstream>
#include <stdexcept>

#include <date/date.h>

#include "compare/compare.h"

bool parse_time_stamp(const std::string& datetime, const std::string& ts_parse, uli* seconds) {
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
