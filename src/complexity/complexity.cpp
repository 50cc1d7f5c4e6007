#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "compare/compare.h"
#include "complexity/complexity.h"

namespace {

constexpr uli kNoGroup = gb::limsup;

// Window names of one encoded journey by the k-order rule: windows start at
// every token and hold up to k tokens; the last one reaches the end.
void windows(std::string_view encoded, uli k, std::vector<std::string_view>* tokens,
             std::vector<std::string>* out) {
  split_views(encoded, ' ', tokens);
  tokens->erase(std::remove_if(tokens->begin(), tokens->end(),
                               [](std::string_view t) { return t.empty(); }),
                tokens->end());
  out->clear();
  const size_t n = tokens->size();
  for (size_t start = 0; start < n; ++start) {
    const size_t end = (n - start > k) ? start + k : n;
    std::string name;
    for (size_t j = start; j < end; ++j) {
      if (j > start) name.push_back(' ');
      name.append((*tokens)[j]);
    }
    out->push_back(std::move(name));
    if (end == n) break;
  }
}

}  // namespace

HighOrderStates high_order_states(const std::vector<std::string>& encoded, uli k) {
  HighOrderStates st;
  const std::vector<std::string>* vy = &encoded;
  const uli* order = &k;
  std::map<std::string, uli>* mp_channels_sim = &st.mp_channels_sim;
  std::vector<std::string>* vchannels_sim = &st.vchannels_sim;
  uli* nchannels_sim = &st.nchannels_sim;
  std::vector<uli>* v_channel_group = &st.v_channel_group;
  std::vector<std::vector<uli>>* v_group_channel_ids = &st.v_group_channel_ids;
  std::vector<uli>* v_group_channel_len = &st.v_group_channel_len;
  if (*order == 0) throw std::invalid_argument("order must be at least 1");
  mp_channels_sim->clear();
  vchannels_sim->clear();
  v_channel_group->clear();
  v_group_channel_ids->clear();
  v_group_channel_len->clear();
  *nchannels_sim = 0;
  auto enter = [&](const std::string& name) {
    auto it = mp_channels_sim->emplace(name, *nchannels_sim);
    if (it.second) {
      vchannels_sim->push_back(name);
      v_channel_group->push_back(kNoGroup);
      ++*nchannels_sim;
    }
    return it.first->second;
  };
  enter("(start)");

  std::vector<std::string_view> tokens;
  std::vector<std::string> names;
  std::vector<uli> vchannels_path, vgroups_path;
  uli progress = 0;
  for (const std::string& path : *vy) {
    if ((++progress & 0xFFFF) == 0) check_interrupt();
    windows(path, *order, &tokens, &names);
    vchannels_path.clear();
    vgroups_path.clear();
    for (const std::string& name : names) {
      const uli s = enter(name);
      const uli g = (*v_channel_group)[s];
      if (g == kNoGroup) vchannels_path.push_back(s); else vgroups_path.push_back(g);
    }
    std::sort(vchannels_path.begin(), vchannels_path.end());
    vchannels_path.erase(std::unique(vchannels_path.begin(), vchannels_path.end()), vchannels_path.end());
    std::sort(vgroups_path.begin(), vgroups_path.end());
    vgroups_path.erase(std::unique(vgroups_path.begin(), vgroups_path.end()), vgroups_path.end());
    if (vchannels_path.empty() && vgroups_path.size() < 2) continue;

    uli g0;
    if (vgroups_path.empty()) {
      g0 = v_group_channel_ids->size();
      v_group_channel_ids->emplace_back();
      v_group_channel_len->push_back(0);
    } else {
      g0 = vgroups_path[0];
    }
    std::vector<uli>& members = (*v_group_channel_ids)[g0];
    for (uli s : vchannels_path) {
      (*v_channel_group)[s] = g0;
      members.push_back(s);
    }
    for (size_t j = 1; j < vgroups_path.size(); ++j) {
      std::vector<uli>& other = (*v_group_channel_ids)[vgroups_path[j]];
      for (uli s : other) {
        (*v_channel_group)[s] = g0;
        members.push_back(s);
      }
      std::vector<uli>().swap(other);
      (*v_group_channel_len)[vgroups_path[j]] = 0;
    }
    (*v_group_channel_len)[g0] = members.size();
  }
  enter("(conversion)");
  enter("(null)");
  return st;
}

void ComplexitySettings::validate() const {
  if (order == 0) throw std::invalid_argument("order must be at least 1");
}

ComplexityResult complexity_run(std::vector<std::string> journeys,
                                const ComplexitySettings& settings) {
  settings.validate();
  ComplexityResult r;
  std::map<std::string, uli> mp_channels;
  std::vector<std::string> vchannels;
  uli max_touches = 0;
  encoding_channels_cpp(&journeys, settings.sep, &mp_channels, &vchannels, &r.nchannels,
                        &max_touches);

  HighOrderStates st = high_order_states(journeys, settings.order);
  r.nchannels_sim = st.nchannels_sim;
  r.group_len = std::move(st.v_group_channel_len);
  r.encoded = std::move(journeys);
  return r;
}
