#include "probabilistic/probabilistic.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace {
struct Counts {
  double pos = 0, neg = 0;
  double rate() const { return pos + neg > 0 ? pos / (pos + neg) : 0.0; }
};

// A journey kept for the second pass: its distinct channels and what it
// brings to split.
struct Kept {
  std::vector<uli> channels;
  double conv, value;
};
}  // namespace

ProbabilisticResult probabilistic_run(const JourneySource& source,
                                      const ProbabilisticSettings& settings) {
  JourneyReader reader(source);
  if (!reader.flg_null())
    throw std::invalid_argument("the probabilistic model needs the nulls column "
                                "(journeys that did not convert)");
  ProbabilisticResult out;
  std::unordered_map<std::string, uli> index;
  std::vector<Counts> single;
  std::map<std::pair<uli, uli>, Counts> pair;
  std::vector<Kept> kept;
  std::vector<std::string> names;
  std::vector<uli> ids;
  while (reader.next()) {
    if ((reader.index() & 0xFFFF) == 0) check_interrupt();
    channels_normalised(reader.path(), settings.cha_sep, &names);
    ids.clear();
    for (const std::string& name : names) {
      auto it = index.find(name);
      if (it == index.end()) {
        it = index.emplace(name, out.vchannels.size()).first;
        out.vchannels.push_back(name);
        single.emplace_back();
      }
      ids.push_back(it->second);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    const double conv = static_cast<double>(reader.conv()), nulls = static_cast<double>(reader.nulls());
    const double value = reader.flg_value() ? reader.value() : 0.0;
    if (conv + nulls > 0) {
      for (size_t a = 0; a < ids.size(); ++a) {
        single[ids[a]].pos += conv;
        single[ids[a]].neg += nulls;
        for (size_t b = a + 1; b < ids.size(); ++b) {
          Counts& c = pair[{ids[a], ids[b]}];
          c.pos += conv;
          c.neg += nulls;
        }
      }
    }
    if (conv == 0 && value == 0) continue;
    if (ids.empty())
      throw std::invalid_argument("row " + fmt_lu(reader.index() + 1) +
                                  " has conversions but no channels");
    kept.push_back({ids, conv, value});
  }

  const size_t n = out.vchannels.size();
  out.vrate.resize(n);
  for (size_t i = 0; i < n; ++i) out.vrate[i] = single[i].rate();
  std::vector<double> excess(n, 0.0);
  std::vector<uli> partners(n, 0);
  for (const auto& [ab, c] : pair) {
    const double p = c.rate();
    out.vpair_a.push_back(ab.first);
    out.vpair_b.push_back(ab.second);
    out.vpair_rate.push_back(p);
    const double e = p - out.vrate[ab.first] - out.vrate[ab.second];
    excess[ab.first] += e;
    excess[ab.second] += e;
    ++partners[ab.first];
    ++partners[ab.second];
  }
  out.vcontribution.resize(n);
  for (size_t i = 0; i < n; ++i)
    out.vcontribution[i] = out.vrate[i] + (partners[i] ? excess[i] / (2.0 * partners[i]) : 0.0);

  out.vattr_convs.assign(n, 0.0);
  out.vattr_value.assign(n, 0.0);
  for (const Kept& k : kept) {
    double total = 0;
    for (uli c : k.channels) total += std::max(out.vcontribution[c], 0.0);
    for (uli c : k.channels) {
      const double w = total > 0 ? std::max(out.vcontribution[c], 0.0) / total
                                 : 1.0 / static_cast<double>(k.channels.size());
      out.vattr_convs[c] += k.conv * w;
      out.vattr_value[c] += k.value * w;
    }
  }
  return out;
}
