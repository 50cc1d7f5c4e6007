#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "markov/markov.h"

namespace {

constexpr uli kProgressEvery = 1000000;
constexpr uli kStart = 0, kConversion = 1, kNull = 2;

struct BuildScratch {
  std::vector<uli> channels, states;
};

BuildScratch& scratch() {
  thread_local BuildScratch s;
  return s;
}

void progress(uli nrows) {
  printA("Building transition matrix, number of paths elaborated: " + thousandSeparator(nrows));
}

// Set-up shared by both drivers.
void start_build(Fx* S, uli* nchannels, ChannelMap* mp_channels,
                 std::vector<std::string>* vchannels, uli* max_npassi,
                 ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
                 std::vector<std::string>* vchannels_sim, uli* nchannels_sim, double* svc,
                 double* svv, const uli* order) {
  if (*order == 0) throw std::invalid_argument("order must be at least 1");
  *S = Fx(0);
  *nchannels = 0;
  mp_channels->clear();
  vchannels->clear();
  init_state_dictionary(mp_channels_sim, vchannels_sim, mp_channels_sim_inv, nchannels_sim);
  *svc = 0;
  *svv = 0;
  *max_npassi = 0;
}

// Adds one encoded journey (its states) to the store.
void add_states(const std::vector<uli>& states, uli convs, uli nulls, Fx* S, uli* max_npassi) {
  const uli weight = convs + nulls;
  uli p = kStart;
  for (uli q : states) {
    if (weight > 0) S->add(p, q, weight);
    p = q;
  }
  if (convs > 0) S->add(p, kConversion, convs);
  if (nulls > 0) S->add(p, kNull, nulls);
  *max_npassi = std::max<uli>(*max_npassi, states.size() + 1);
}

// Paths repeat a lot in one-row-per-customer tables: each distinct path
// text is encoded once and its states are reused. Encoding the same text
// again would register nothing new and give the same states, so results
// are identical. The cache stops growing at kCacheMax paths.
constexpr size_t kCacheMax = size_t(1) << 21;

void read_all(JourneyReader& reader, std::string* cha_sep, uli* order, Fx* S, uli* nchannels,
              ChannelMap* mp_channels, std::vector<std::string>* vchannels, uli* max_npassi,
              ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
              std::vector<std::string>* vchannels_sim, uli* nchannels_sim, double* svc,
              double* svv, int* verbose) {
  std::string s;
  uli nrows = 0;
  std::unordered_map<std::string, std::vector<uli>> encoded;
  while (reader.next()) {
    const uli i = reader.index();
    uli convs = reader.conv(), nulls = reader.nulls();
    auto hit = encoded.find(reader.path());
    if (hit != encoded.end()) {
      add_states(hit->second, convs, nulls, S, max_npassi);
    } else {
      s = reader.path();
      build_simulation_matrix_i_cpp(&s, &convs, &nulls, cha_sep, order, S, nchannels,
                                    mp_channels, vchannels, max_npassi, mp_channels_sim,
                                    mp_channels_sim_inv, vchannels_sim, nchannels_sim);
      if (encoded.size() < kCacheMax) encoded.emplace(reader.path(), scratch().states);
    }
    *svc += static_cast<double>(convs);
    *svv += reader.value();
    nrows = i + 1;
    if (*verbose == 1 && i > 0 && i % kProgressEvery == 0) progress(i);
    if (i % kProgressEvery == 0) check_interrupt();
  }
  if (*verbose == 1) progress(nrows);
  S->set_nchannels(*nchannels_sim);
  S->cum();
}

}  // namespace

void build_simulation_matrix_i_cpp(std::string* s, uli* convs, uli* nulls, std::string* cha_sep,
                                   uli* order, Fx* S, uli* nchannels, ChannelMap* mp_channels,
                                   std::vector<std::string>* vchannels, uli* max_npassi,
                                   ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
                                   std::vector<std::string>* vchannels_sim, uli* nchannels_sim) {
  const char sep = first_char(*cha_sep, "cha_sep");
  s->push_back(sep);
  BuildScratch& b = scratch();
  encode_journey(*s, sep, *order, mp_channels, vchannels, nchannels, mp_channels_sim,
                 mp_channels_sim_inv, vchannels_sim, nchannels_sim, &b.channels, &b.states);
  const uli base = (100 * *nchannels + 300) * *order;
  S->init(base);
  if (*nchannels_sim > S->capacity()) S->resize(base * (*nchannels_sim / base + 1));
  add_states(b.states, *convs, *nulls, S, max_npassi);
  S->set_nchannels(*nchannels_sim);
}

void build_simulation_matrix_from_vec_cpp(
    std::vector<std::string>* vy, std::vector<uli>* vc, std::vector<uli>* vn,
    std::vector<double>* vv, std::string* cha_sep, uli* order, Fx* S, uli* nchannels,
    ChannelMap* mp_channels, std::vector<std::string>* vchannels, uli* max_npassi,
    ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
    std::vector<std::string>* vchannels_sim, uli* nchannels_sim, double* svc, double* svv,
    int* verbose) {
  start_build(S, nchannels, mp_channels, vchannels, max_npassi, mp_channels_sim,
              mp_channels_sim_inv, vchannels_sim, nchannels_sim, svc, svv, order);
  const JourneySource src = vector_source(vy, vc, vv, vn);
  JourneyReader reader(src);
  read_all(reader, cha_sep, order, S, nchannels, mp_channels, vchannels, max_npassi,
           mp_channels_sim, mp_channels_sim_inv, vchannels_sim, nchannels_sim, svc, svv, verbose);
}

void build_simulation_matrix_from_file_cpp(
    std::string* file, std::string* var_path, std::string* var_conv, std::string* var_null,
    std::string* var_value, std::string* row_sep, std::string* cha_sep, uli* order, Fx* S,
    uli* nchannels, ChannelMap* mp_channels, std::vector<std::string>* vchannels,
    uli* max_npassi, ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
    std::vector<std::string>* vchannels_sim, uli* nchannels_sim, double* svc, double* svv,
    int* verbose) {
  start_build(S, nchannels, mp_channels, vchannels, max_npassi, mp_channels_sim,
              mp_channels_sim_inv, vchannels_sim, nchannels_sim, svc, svv, order);
  const JourneySource src = file_source(*file, *var_path, *var_conv, *var_value, *var_null, *row_sep);
  JourneyReader reader(src);
  read_all(reader, cha_sep, order, S, nchannels, mp_channels, vchannels, max_npassi,
           mp_channels_sim, mp_channels_sim_inv, vchannels_sim, nchannels_sim, svc, svv, verbose);
}
