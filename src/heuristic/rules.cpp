#include <cmath>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "journeys/touchpoints.h"

namespace {

// Per-channel totals with channels numbered in order of first appearance.
struct Totals {
  std::unordered_map<std::string, uli> index;
  std::vector<std::string>* vchannels;
  std::vector<double>* vals[4];   // position convs, value; last non-direct convs, value
  uli id(const std::string& name) {
    auto it = index.emplace(name, vchannels->size()).first;
    if (it->second == vchannels->size()) {
      vchannels->push_back(name);
      for (auto* v : vals) v->push_back(0.0);
    }
    return it->second;
  }
};

}  // namespace

void position_weights(uli n, double first_share, double last_share, std::vector<double>* w) {
  w->assign(n, 0.0);
  if (n == 0) return;
  if (n == 1) {
    (*w)[0] = 1;
  } else if (n == 2) {
    const double t = first_share + last_share;
    (*w)[0] = t > 0 ? first_share / t : 0.5;
    (*w)[1] = t > 0 ? last_share / t : 0.5;
  } else {
    const double mid = (1 - first_share - last_share) / static_cast<double>(n - 2);
    for (uli k = 1; k + 1 < n; ++k) (*w)[k] = mid;
    (*w)[0] = first_share;
    (*w)[n - 1] = last_share;
  }
}

void RuleSettings::validate() const {
  const double f = first_share, l = last_share;
  if (!(f >= 0) || !(l >= 0) || !(f + l <= 1 + 1e-12))
    throw std::invalid_argument("position_shares: first and last shares must be at least 0 and "
                                "sum to at most 1, not " + fmt_f(f) + " and " + fmt_f(l));
  first_char(cha_sep, "cha_sep");
}

RuleResult rule_run(const JourneySource& source, const RuleSettings& settings) {
  if (settings.verbose == 1) printA("**position-based and last non-direct models estimation**");
  settings.validate();
  const double f = settings.first_share, l = settings.last_share;
  const char sep = settings.cha_sep[0];
  std::unordered_set<std::string> direct;
  for (const std::string& d : settings.direct_channels) direct.insert(normalise_blanks(d));

  JourneySource src = source;
  src.var_null.clear();
  JourneyReader reader(src);

  RuleResult r;
  Totals t{{}, &r.vchannels, {&r.vposition_convs, &r.vposition_value, &r.vlnd_convs, &r.vlnd_value}};
  std::vector<std::string> touches;
  std::vector<double> w;
  std::vector<uli> ids;
  const uli nread = for_each_journey(reader, false, [&] {
    channels_normalised(reader.path(), sep, &touches);
    ids.clear();
    for (const std::string& name : touches) ids.push_back(t.id(name));
    const uli n = ids.size();
    const double convs = static_cast<double>(reader.conv());
    if (n == 0 || convs == 0) return;
    const double value = reader.value();
    position_weights(n, f, l, &w);
    for (uli k = 0; k < n; ++k) {
      r.vposition_convs[ids[k]] += convs * w[k];
      r.vposition_value[ids[k]] += value * w[k];
    }
    uli last = n - 1;   // the last touch when every touch is direct
    for (uli k = n; k-- > 0;)
      if (!direct.count(touches[k])) {
        last = k;
        break;
      }
    r.vlnd_convs[ids[last]] += convs;
    r.vlnd_value[ids[last]] += value;
  });
  if (settings.verbose == 1) print_paths_elaborated(nread);
  return r;
}
