#include "hazard/hazard.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

namespace {
struct Touches {
  std::vector<uli> channels;
  std::vector<double> delays;                  // days + 0.5
  double conv, value;
};

double parse_days(std::string_view text, uli row) {
  const std::string_view d = trim_blanks(text);
  double x = -1;
  if (!d.empty() && (std::isdigit(static_cast<unsigned char>(d[0])) || d[0] == '.')) x = parse_stod(d);
  if (!(x >= 0) || !std::isfinite(x))
    throw std::invalid_argument("row " + fmt_lu(row) + ": days \"" + std::string(d) +
                                "\" is not a number of days >= 0");
  return x;
}
}  // namespace

AdditiveHazardResult additive_hazard_run(const JourneySource& source,
                                         const AdditiveHazardSettings& settings) {
  if (!settings.vdays) throw std::invalid_argument("the additive hazard model needs the days column");
  const std::vector<std::string>& vdays = *settings.vdays;
  JourneyReader reader(source);
  AdditiveHazardResult out;
  std::unordered_map<std::string, uli> index;
  std::vector<double> weight, delay_sum;
  std::vector<Touches> kept;
  std::vector<std::string> names;
  std::vector<std::string_view> days;
  uli nread = 0;
  while (reader.next()) {
    const uli i = reader.index(), row = i + 1;
    ++nread;
    if ((i & 0xFFFF) == 0) check_interrupt();
    if (i >= vdays.size())
      throw std::invalid_argument("days: " + fmt_lu(vdays.size()) + " rows for more journeys");
    channels_normalised(reader.path(), settings.cha_sep, &names);
    split_views(vdays[i], settings.cha_sep, &days);
    if (names.size() != days.size())
      throw std::invalid_argument("row " + fmt_lu(row) + ": the path has " + fmt_lu(names.size()) +
                                  " channels but days lists " + fmt_lu(days.size()));
    Touches t;
    for (size_t k = 0; k < names.size(); ++k) {
      auto it = index.find(names[k]);
      if (it == index.end()) {
        it = index.emplace(names[k], out.vchannels.size()).first;
        out.vchannels.push_back(names[k]);
        weight.push_back(0);
        delay_sum.push_back(0);
      }
      t.channels.push_back(it->second);
      t.delays.push_back(parse_days(days[k], row) + 0.5);
    }
    t.conv = static_cast<double>(reader.conv());
    t.value = reader.flg_value() ? reader.value() : 0.0;
    if (t.conv == 0 && t.value == 0) continue;
    if (names.empty()) throw std::invalid_argument("row " + fmt_lu(row) + " has conversions but no channels");
    const double w = t.conv > 0 ? t.conv : 1.0;
    for (size_t k = 0; k < t.channels.size(); ++k) {
      weight[t.channels[k]] += w;
      delay_sum[t.channels[k]] += w * t.delays[k];
    }
    kept.push_back(std::move(t));
  }
  if (nread != vdays.size())
    throw std::invalid_argument("days: " + fmt_lu(vdays.size()) + " rows for " + fmt_lu(nread) +
                                " journeys");
  const size_t n = out.vchannels.size();
  out.vrate.assign(n, 0.0);
  out.vmean_days.assign(n, 0.0);
  for (size_t c = 0; c < n; ++c)
    if (weight[c] > 0) {
      out.vmean_days[c] = delay_sum[c] / weight[c];
      out.vrate[c] = 1.0 / out.vmean_days[c];
    }
  out.vattr_convs.assign(n, 0.0);
  out.vattr_value.assign(n, 0.0);
  std::vector<double> logh;
  for (const Touches& t : kept) {
    // Hazard terms rate * exp(-rate * delay), in logarithms shifted by
    // their largest so that old touches do not all underflow to zero.
    logh.resize(t.channels.size());
    double top = -INFINITY, total = 0;
    for (size_t k = 0; k < t.channels.size(); ++k) {
      const double r = out.vrate[t.channels[k]];
      logh[k] = std::log(r) - r * t.delays[k];
      top = std::max(top, logh[k]);
    }
    for (double& x : logh) total += (x = std::exp(x - top));
    for (size_t k = 0; k < t.channels.size(); ++k) {
      out.vattr_convs[t.channels[k]] += t.conv * logh[k] / total;
      out.vattr_value[t.channels[k]] += t.value * logh[k] / total;
    }
  }
  return out;
}
