#include <algorithm>
#include <stdexcept>

#include "journeys/journeys.h"

namespace {

// Reused lookup keys: std::map<std::string, ...> needs a std::string to search.
struct EncodeScratch {
  std::string key;
  std::vector<std::string_view> names;
};

EncodeScratch& scratch() {
  thread_local EncodeScratch s;
  return s;
}

}  // namespace

uli channel_index(std::string_view name, ChannelMap* mp_channels,
                  std::vector<std::string>* vchannels, uli* nchannels) {
  std::string& key = scratch().key;
  key.assign(name.data(), name.size());
  auto it = mp_channels->lower_bound(key);
  if (it != mp_channels->end() && it->first == key) return it->second;
  mp_channels->emplace_hint(it, key, *nchannels);
  vchannels->push_back(key);
  return (*nchannels)++;
}

void init_state_dictionary(ChannelMap* mp_channels_sim, std::vector<std::string>* vchannels_sim,
                           StateInverse* mp_channels_sim_inv, uli* nchannels_sim) {
  mp_channels_sim->clear();
  vchannels_sim->clear();
  mp_channels_sim_inv->clear();
  for (const char* name : {"(start)", "(conversion)", "(null)"}) {
    (*mp_channels_sim)[name] = vchannels_sim->size();
    vchannels_sim->push_back(name);
  }
  *nchannels_sim = 3;
}

void check_order(uli order, const char* arg_name) {
  if (order == 0) throw std::invalid_argument(std::string(arg_name) + " must be at least 1");
  if (order > kMaxOrder)
    throw std::invalid_argument(std::string(arg_name) + " must be at most " + fmt_lu(kMaxOrder) +
                                ", not " + fmt_lu(order));
}

void encode_journey(std::string_view path, char sep, uli order,
                    ChannelMap* mp_channels, std::vector<std::string>* vchannels, uli* nchannels,
                    ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
                    std::vector<std::string>* vchannels_sim, uli* nchannels_sim,
                    std::vector<uli>* vchannel_idx, std::vector<uli>* vstates) {
  check_order(order, "order");
  EncodeScratch& s = scratch();
  channels_markov(path, sep, &s.names);
  vchannel_idx->clear();
  vstates->clear();
  for (std::string_view name : s.names)
    vchannel_idx->push_back(channel_index(name, mp_channels, vchannels, nchannels));
  const size_t n = vchannel_idx->size();
  if (n == 0) return;
  // Windows start at every index until one reaches the end of the journey.
  const size_t nwin = n >= order ? n - order + 1 : 1;
  std::string& key = s.key;
  for (size_t w = 0; w < nwin; ++w) {
    const size_t end = std::min(n, w + static_cast<size_t>(order));
    key.clear();
    for (size_t k = w; k < end; ++k) {
      if (k > w) key.push_back(' ');
      append_lu(key, (*vchannel_idx)[k]);
    }
    auto it = mp_channels_sim->lower_bound(key);
    if (it != mp_channels_sim->end() && it->first == key) {
      vstates->push_back(it->second);
      continue;
    }
    const uli q = (*nchannels_sim)++;
    mp_channels_sim->emplace_hint(it, key, q);
    std::vector<sli> inv(order, -1);
    for (size_t k = w; k < end; ++k) inv[k - w] = static_cast<sli>((*vchannel_idx)[k]);
    (*mp_channels_sim_inv)[q] = std::move(inv);
    vchannels_sim->push_back(key);
    vstates->push_back(q);
  }
}
