// Time-stamp parsing and the event table of the time-stamped model
// comparison. Input lines: "id;time stamp;channel"; a line "#day;r1;r2"
// adds a row of click-through rates.
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/common.h"
#include "compare/compare.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  // Formats whose seconds the library guards (see parse_time_stamp).
  static const char* kFormats[] = {"%Y-%m-%d %T", "%Y-%m-%d", "%d/%m/%Y %H:%M"};
  uli sec = 0;
  for (const char* f : kFormats) {
    if (parse_time_stamp(s, f, &sec)) {
      FUZZ_CHECK(date_conv_time_int(s, f) == sec);
    } else {
      try {
        (void)date_conv_time_int(s, f);
        FUZZ_CHECK(false);
      } catch (const std::invalid_argument&) {
      }
    }
  }

  std::vector<uli> id;
  std::vector<std::string> stamp, channel, ctr_day;
  std::vector<std::vector<double>> ctr;
  std::map<std::string, uli> channels{{"a", 0}, {"b", 1}, {"c", 2}};
  for (const std::string& line : split(s, '\n')) {
    std::vector<std::string> f = split(line, ';');
    if (f.empty()) continue;
    if (f[0][0] == '#') {
      ctr_day.push_back(f[0].substr(1));
      std::vector<double> r;
      for (size_t k = 1; k < f.size(); ++k) {
        try {
          r.push_back(parse_stod(f[k]));
        } catch (const std::exception&) {
          r.push_back(0);
        }
      }
      ctr.push_back(r);
      continue;
    }
    if (f.size() < 3) continue;
    uli i = 0;
    try {
      i = parse_stoul(f[0]);
    } catch (const std::exception&) {
    }
    id.push_back(i);
    stamp.push_back(f[1]);
    channel.push_back(f[2]);
  }
  EventTable ev;
  try {
    read_event_table(&id, &stamp, &channel, "conv", channels, &ctr_day, &ctr, &ev);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  FUZZ_CHECK(ev.seconds.size() == id.size() && ev.days.size() == ev.ctr.size());
  for (size_t r = 0; r < id.size(); ++r) {
    FUZZ_CHECK(ev.day[r] < ev.days.size());
    FUZZ_CHECK(ev.channel[r] == gb::limsup || ev.channel[r] < channels.size());
  }
  return 0;
}
