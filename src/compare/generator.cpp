#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "compare/compare.h"

namespace {

std::string candidate(size_t i) { return "candidate " + std::to_string(i + 1); }
std::string at_candidate(size_t i) { return "path_generator: " + candidate(i); }

// Smallest candidate >= i still in play (n when none), with path halving;
// a dropped candidate points past itself.
struct NextAlive {
  std::vector<size_t> next;
  explicit NextAlive(size_t n) : next(n + 1) {
    for (size_t i = 0; i <= n; ++i) next[i] = i;
  }
  size_t find(size_t i) {
    while (next[i] != i) i = next[i] = next[next[i]];
    return i;
  }
  void drop(size_t i) { next[i] = i + 1; }
};

struct Touch {
  uli channel, count;
};

// Touches per channel of every candidate, parsed once per call.
std::vector<std::vector<Touch>> candidate_touches(const std::vector<std::string>& vpath,
                                                  uli nchannels) {
  std::vector<std::vector<Touch>> out(vpath.size());
  std::vector<std::string_view> tokens;
  for (size_t i = 0; i < vpath.size(); ++i) {
    split_views(vpath[i], ' ', &tokens);
    for (std::string_view t : tokens) {
      if (t.empty()) continue;
      const uli c = parse_stoul(t);
      if (c == 0 || c > nchannels)
        throw std::invalid_argument(at_candidate(i) + " has token " + std::to_string(c) +
                                    " outside the channels 1.." + std::to_string(nchannels));
      auto it = std::find_if(out[i].begin(), out[i].end(),
                             [&](const Touch& x) { return x.channel == c - 1; });
      if (it == out[i].end()) out[i].push_back({c - 1, 1}); else ++it->count;
    }
    // Such a candidate could never run out of budget, so the skip count
    // would never reach the number of candidates.
    if (out[i].empty()) throw std::invalid_argument(at_candidate(i) + " touches no channel");
  }
  return out;
}

void check_candidates(const std::vector<std::string>& vpath, const std::vector<bool>& visconv,
                      const std::vector<double>& vfreq) {
  const size_t ncand = vpath.size();
  if (visconv.size() != ncand || vfreq.size() != ncand)
    throw std::invalid_argument("path_generator: " + std::to_string(ncand) + " paths but " +
                                std::to_string(visconv.size()) + " conversion flags and " +
                                std::to_string(vfreq.size()) + " probabilities");
  for (size_t i = 0; i < ncand; ++i) {
    if (!std::isfinite(vfreq[i]) || (i > 0 && vfreq[i] < vfreq[i - 1]))
      throw std::invalid_argument("path_generator: cumulative probability of " + candidate(i) +
                                  " is not finite or decreases");
  }
}

void check_traffic(const std::vector<double>& vtraffic, uli nchannels) {
  if (vtraffic.size() != nchannels)
    throw std::invalid_argument("path_generator: traffic for " + std::to_string(vtraffic.size()) +
                                " channels, expected " + std::to_string(nchannels));
  for (size_t c = 0; c < vtraffic.size(); ++c)
    if (std::isnan(vtraffic[c]))
      throw std::invalid_argument("path_generator: traffic of channel " + std::to_string(c + 1) +
                                  " is not a number");
}

// The output entry of each candidate: candidates sharing a path text share
// one entry, and a text already in the output (from an earlier call) keeps
// its entry.
class OutputEntries {
 public:
  OutputEntries(const std::vector<std::string>& vpath, const std::vector<std::string>& vy1)
      : cand_text_(vpath.size()) {
    std::unordered_map<std::string_view, size_t> text_id;
    for (size_t i = 0; i < vpath.size(); ++i)
      cand_text_[i] = text_id.emplace(std::string_view(vpath[i]), text_id.size()).first->second;
    out_of_text_.assign(text_id.size(), kNone);
    for (size_t k = 0; k < vy1.size(); ++k) {
      auto it = text_id.find(vy1[k]);
      if (it != text_id.end() && out_of_text_[it->second] == kNone) out_of_text_[it->second] = k;
    }
  }

  // One more journey of candidate i in the output.
  void record(size_t i, const std::vector<std::string>& vpath, const std::vector<bool>& visconv,
              std::vector<uli>* vidy1, std::vector<std::string>* vy1, std::vector<uli>* vc1,
              std::vector<uli>* vn1) {
    size_t& k = out_of_text_[cand_text_[i]];
    if (k == kNone) {
      k = vy1->size();
      vidy1->push_back(i);
      vy1->push_back(vpath[i]);
      vc1->push_back(0);
      vn1->push_back(0);
    }
    ++(visconv[i] ? (*vc1)[k] : (*vn1)[k]);
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<size_t> cand_text_, out_of_text_;
};

bool costs_more_than_left(const std::vector<Touch>& touches, const std::vector<double>& vtraffic) {
  for (const Touch& t : touches)
    if (static_cast<double>(t.count) > vtraffic[t.channel]) return true;
  return false;
}

// The draw loop shared by both generators; on_accept(i) runs after
// candidate i is recorded (before the budget is spent).
template <class OnAccept>
void draw_journeys(const std::vector<std::string>& vpath, const std::vector<bool>& visconv,
                   const std::vector<double>& vfreq, uli nchannels, std::vector<double>& vtraffic,
                   uli nsim, std::vector<uli>* vidy1, std::vector<std::string>* vy1,
                   std::vector<uli>* vc1, std::vector<uli>* vn1, OnAccept on_accept) {
  check_candidates(vpath, visconv, vfreq);
  const size_t ncand = vpath.size();
  const bool traffic = !vtraffic.empty();
  std::vector<std::vector<Touch>> touches;
  if (traffic) {
    check_traffic(vtraffic, nchannels);
    touches = candidate_touches(vpath, nchannels);
  } else {
    if (nsim == 0) return;
    if (ncand == 0 || !(vfreq.back() > 0))
      throw std::invalid_argument("path_generator: no candidate can be drawn");
  }

  OutputEntries entries(vpath, *vy1);
  NextAlive alive(ncand);
  const std::vector<double>& cum = vfreq;   // never modified: dropping goes through `alive`
  uli skips = 0, generated = 0, attempts = 0;
  for (;;) {
    if ((++attempts & 0xFFFFF) == 0) check_interrupt();
    const double u = gb::uniform(gb::engine);
    size_t i = alive.find(static_cast<size_t>(std::upper_bound(cum.begin(), cum.end(), u) - cum.begin()));
    while (i < ncand) {
      if (traffic && costs_more_than_left(touches[i], vtraffic)) {
        alive.drop(i);
        ++skips;
        i = alive.find(i + 1);
        continue;
      }
      entries.record(i, vpath, visconv, vidy1, vy1, vc1, vn1);
      on_accept(i);
      if (traffic)
        for (const Touch& t : touches[i]) vtraffic[t.channel] -= static_cast<double>(t.count);
      ++generated;
      break;
    }
    if (traffic ? skips == ncand : generated == nsim) break;
  }
}

}  // namespace

void path_generator(const std::vector<std::string>* vpath, const std::vector<bool>* visconv,
                    std::vector<uli> vnpath, std::vector<double> vfreq, uli nchannels,
                    std::vector<double> vtraffic, uli nsim,
                    std::vector<uli>* vidy1, std::vector<std::string>* vy1,
                    std::vector<uli>* vc1, std::vector<uli>* vn1) {
  (void)vnpath;
  draw_journeys(*vpath, *visconv, vfreq, nchannels, vtraffic, nsim, vidy1, vy1, vc1, vn1,
                [](size_t) {});
}

void path_generator_new(const std::vector<std::string>* vpath, const std::vector<bool>* visconv,
                        std::vector<uli> vnpath, std::vector<double> vfreq, uli nchannels,
                        std::vector<double> vtraffic, uli nsim, std::vector<uli>* vidy1,
                        const std::vector<std::vector<uli>>* Mpaths_ids,
                        const std::vector<uli>* vpaths_ids_1, const EventTable* events,
                        double perc_sample, std::vector<std::string>* vy1,
                        std::vector<uli>* vc1, std::vector<uli>* vn1,
                        std::vector<std::vector<double>>* Mtouches1,
                        std::vector<double>* vconvs1, std::vector<std::vector<double>>* Mctr1) {
  (void)vnpath;
  const EventTable& ev = *events;
  if (vpaths_ids_1->size() != vpath->size())
    throw std::invalid_argument("path_generator_new: " + std::to_string(vpath->size()) +
                                " paths but " + std::to_string(vpaths_ids_1->size()) +
                                " journey lists");
  const uli njourneys = ev.tab_info_paths_id_from.size();
  for (size_t i = 0; i < vpaths_ids_1->size(); ++i) {
    const uli p = (*vpaths_ids_1)[i];
    if (p >= Mpaths_ids->size() || (*Mpaths_ids)[p].empty())
      throw std::invalid_argument("path_generator_new: " + candidate(i) + " has no journey to replay");
    for (uli j : (*Mpaths_ids)[p])
      if (j >= njourneys)
        throw std::invalid_argument("path_generator_new: journey " + std::to_string(j) +
                                    " is not in the event table");
  }
  if (!(perc_sample >= 0) || !std::isfinite(perc_sample))
    throw std::invalid_argument("perc_sample must be a non-negative number");

  const uli ndays0 = static_cast<uli>(std::floor(static_cast<double>(ev.days.size()) * perc_sample));
  const double time_range = static_cast<double>(ndays0) * 86400.0;
  Mtouches1->assign(ndays0, std::vector<double>(nchannels, 0.0));
  Mctr1->assign(ndays0, std::vector<double>(nchannels, 0.0));
  vconvs1->assign(ndays0, 0.0);
  std::vector<std::vector<uli>> count(ndays0, std::vector<uli>(nchannels, 0));

  auto replay = [&](size_t i) {
    const std::vector<uli>& ids = (*Mpaths_ids)[(*vpaths_ids_1)[i]];
    const double u = gb::uniform(gb::engine);
    const uli j = ids[static_cast<size_t>(std::floor(u * static_cast<double>(ids.size())))];
    const sli time_start = static_cast<sli>(std::floor(gb::uniform(gb::engine) * time_range));
    const uli from = ev.tab_info_paths_id_from[j], to = ev.tab_info_paths_id_to[j];
    const sli t0 = static_cast<sli>(ev.seconds[from]);
    for (uli r = from; r <= to; ++r) {
      // A row stamped before its journey's first row lies before the window.
      const sli at = time_start + static_cast<sli>(ev.seconds[r]) - t0;
      if (at < 0) continue;
      const uli d = static_cast<uli>(at) / 86400;
      if (d >= ndays0) continue;
      const uli c = ev.channel[r];
      if (c == gb::limsup) {
        (*vconvs1)[d] += 1;
      } else {
        (*Mtouches1)[d].at(c) += 1;
        (*Mctr1)[d][c] += ev.ctr[ev.day[r]][c];
        ++count[d][c];
      }
    }
  };
  draw_journeys(*vpath, *visconv, vfreq, nchannels, vtraffic, nsim, vidy1, vy1, vc1, vn1, replay);

  for (uli d = 0; d < ndays0; ++d)
    for (uli c = 0; c < nchannels; ++c)
      if (count[d][c] > 0) (*Mctr1)[d][c] /= static_cast<double>(count[d][c]);
}
