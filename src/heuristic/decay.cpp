// The time-decay rule: each touch of a converting journey weighs by how
// long before the conversion it came.
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

#include "heuristic/heuristic.h"

void TimeDecaySettings::validate() const {
  if (channel_sep.empty()) throw std::invalid_argument("channel_sep must not be empty");
  if (!(half_life > 0) || !std::isfinite(half_life))
    throw std::invalid_argument("half_life must be a positive number of days");
}

TimeDecayResult time_decay_run(TimeDecayInput input, const TimeDecaySettings& settings) {
  settings.validate();
  const char channel_sep = settings.channel_sep[0];
  const double half_life = settings.half_life;
  const std::vector<std::string>& paths = input.paths;
  const std::vector<double>& vvalue = input.value;
  TimeDecayResult out;
  const size_t n = paths.size();
  if (input.days.size() != n || input.conversions.size() != n || (!vvalue.empty() && vvalue.size() != n))
    throw std::invalid_argument("time_decay: path, days, conversions and value differ in length");
  std::unordered_map<std::string, uli> mp;
  std::vector<std::string> names;
  std::vector<std::string_view> days;
  std::vector<uli> idx;
  std::vector<double> w;
  for (size_t i = 0; i < n; ++i) {
    if ((i & 0xFFFF) == 0) check_interrupt();
    channels_normalised(paths[i], channel_sep, &names);
    split_views(input.days[i], channel_sep, &days);
    const std::string row = fmt_lu(i + 1);
    if (names.size() != days.size())
      throw std::invalid_argument("row " + row + ": the path has " + fmt_lu(names.size()) +
                                  " channels but days lists " + fmt_lu(days.size()));
    idx.resize(names.size());
    for (size_t k = 0; k < names.size(); ++k) {
      auto it = mp.find(names[k]);
      if (it == mp.end()) {
        it = mp.emplace(names[k], out.vchannels.size()).first;
        out.vchannels.push_back(names[k]);
        out.vattr_conv.push_back(0);
        out.vattr_value.push_back(0);
      }
      idx[k] = it->second;
    }
    const uli conv = input.conversions[i];
    const double value = vvalue.empty() ? 0.0 : vvalue[i];
    if (conv == 0 && value == 0) continue;
    if (names.empty()) throw std::invalid_argument("row " + row + " has conversions but no channels");
    // Weights relative to the most recent touch, so far-off journeys do not
    // underflow to zero in total.
    w.resize(names.size());
    double total = 0, nearest = 0;
    for (size_t k = 0; k < days.size(); ++k) {
      // The whole field is the number, as in count columns: "3abc" and
      // "0x10" are not days.
      const std::string_view d = trim_blanks(days[k]);
      double x = -1;
      if (!d.empty() && (std::isdigit(static_cast<unsigned char>(d[0])) || d[0] == '.')) {
        const auto r = std::from_chars(d.data(), d.data() + d.size(), x);
        if (r.ec != std::errc() || r.ptr != d.data() + d.size()) x = -1;
      }
      if (!(x >= 0) || !std::isfinite(x))
        throw std::invalid_argument("row " + row + ": days \"" + std::string(days[k]) +
                                    "\" is not a number of days >= 0");
      w[k] = x;
      if (k == 0 || x < nearest) nearest = x;
    }
    for (double& x : w) total += (x = std::exp2(-(x - nearest) / half_life));
    for (size_t k = 0; k < w.size(); ++k) {
      out.vattr_conv[idx[k]] += conv * (w[k] / total);
      out.vattr_value[idx[k]] += value * (w[k] / total);
    }
  }
  return out;
}
