// Time-stamp parsing and the event table of the time-stamped model
// comparison. Input lines: "id;time stamp;channel"; a line "#day;r1;r2"
// adds a row of click-through rates. The same text, under a header, is
// also an events file for the journey builder: read grouped and not, the
// two must agree whenever both succeed.
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/common.h"
#include "compare/compare.h"
#include "events/events.h"
#include "harness.h"

namespace {

bool event_file(const std::string& file, int grouped, JourneyTable* out) {
  EventFile src{file, "user", "time", "channel", "conv", "", "", ';', grouped};
  JourneyRules rules;
  rules.flg_times = 1;
  rules.lookback_days = 2;
  try {
    journeys_from_event_file_cpp(&src, &rules, out);
  } catch (const std::invalid_argument&) {
    return false;
  } catch (const std::overflow_error&) {
    return false;
  }
  return true;
}

void check_event_file(const std::string& s) {
  static ScratchFile scratch("events");
  const std::string& file = scratch.write("user;time;channel;conv\n" + s);
  JourneyTable a, b;
  const bool ok_a = event_file(file, 0, &a), ok_b = event_file(file, 1, &b);
  if (ok_a) FUZZ_CHECK(a.vpath.size() == a.vconv.size() && a.vpath.size() == a.vdays.size());
  if (ok_a && ok_b) {
    FUZZ_CHECK(a.vpath == b.vpath && a.vdays == b.vdays && a.vconv == b.vconv && a.vnulls == b.vnulls);
    FUZZ_CHECK(a.untouched == b.untouched);
  }
  for (const std::string& line : split(s, '\n')) {
    const std::vector<std::string> f = split(line, ';');
    if (f.size() < 2) continue;
    try {
      FUZZ_CHECK(std::isfinite(parse_event_time(f[1])));
    } catch (const std::invalid_argument&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  check_event_file(s);
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
