#include <cmath>
#include <limits>
#include <stdexcept>

#include "common/worth.h"
#include "markov/markov.h"
#include "pathattr/pathattr.h"
#include "uam/uam.h"

namespace {

// Shapes the per-period arithmetic relies on; a short row would be read
// past its end.
void check_shapes(uli len_tab_aggr, uli nchannels_aggr, const std::vector<double>& conversions,
                  const std::vector<std::vector<double>>& touches,
                  const std::vector<std::vector<double>>& ctr) {
  if (len_tab_aggr == 0)
    throw std::invalid_argument("tab_aggr_time_from_str is empty: at least one period is needed");
  if (conversions.size() != len_tab_aggr)
    throw std::invalid_argument("tab_aggr_conversions has " + std::to_string(conversions.size()) +
                                " periods, tab_aggr_time_from_str " +
                                std::to_string(len_tab_aggr));
  if (touches.size() != len_tab_aggr)
    throw std::invalid_argument("tab_aggr_touches has " + std::to_string(touches.size()) +
                                " rows for " + std::to_string(len_tab_aggr) + " periods");
  for (const auto& row : touches)
    if (row.size() != nchannels_aggr)
      throw std::invalid_argument("tab_aggr_touches has " + std::to_string(row.size()) +
                                  " columns for " + std::to_string(nchannels_aggr) +
                                  " channels in vchannels_aggr");
  if (ctr.size() < len_tab_aggr)
    throw std::invalid_argument("tab_ctr_ctr has " + std::to_string(ctr.size()) +
                                " rows, fewer than the " + std::to_string(len_tab_aggr) +
                                " periods");
  for (uli j = 0; j < len_tab_aggr; ++j)
    if (ctr[j].size() < nchannels_aggr)
      throw std::invalid_argument("tab_ctr_ctr has " + std::to_string(ctr[j].size()) +
                                  " columns, fewer than the " + std::to_string(nchannels_aggr) +
                                  " channels in vchannels_aggr");
}

// The journey channel a path token names (tokens are one-based).
const std::string& token_channel(const std::string& token,
                                 const std::vector<std::string>& vchannels_mta) {
  const uli t = std::stoul(token);
  if (t == 0 || t > vchannels_mta.size())
    throw std::invalid_argument("journey token '" + token + "' names no journey channel");
  return vchannels_mta[t - 1];
}

// The journeys of the event table: distinct paths of one-based channel
// tokens with their converting and non-converting journeys.
struct EventJourneys {
  std::vector<std::string> vchannels_mta, vpaths;
  uli nchannels_mta = 0;
  std::vector<uli> vconv, vnull;
};

EventJourneys journeys_of_events(std::vector<uli>* tab_paths_id_path,
                                 std::vector<std::string>* tab_paths_channel,
                                 std::string* channel_conv_name) {
  EventJourneys j;
  std::map<std::string, uli> mp_channels;
  std::vector<std::vector<uli>> Mpaths_ids;
  uli len_tab_paths = tab_paths_id_path->size();
  std::string cha_sep = " ";
  transpose_paths(&len_tab_paths, tab_paths_channel, tab_paths_id_path, channel_conv_name,
                  &cha_sep, &j.vchannels_mta, &j.nchannels_mta, &j.vpaths, &j.vconv, &j.vnull,
                  &mp_channels, &Mpaths_ids);
  return j;
}

// Clicks become impressions in place; returns the conversions per
// impression of an average channel. The impression counts are accumulated
// into whole numbers later, so they must be finite and not negative.
double impressions_from_clicks(const std::vector<double>& conversions,
                               const std::vector<std::vector<double>>& ctr,
                               const std::vector<std::string>& vchannels_aggr,
                               std::vector<std::vector<double>>* imp) {
  const uli len_tab_aggr = imp->size(), nchannels_aggr = vchannels_aggr.size();
  double sconversions = 0, simpressions = 0;
  for (double c : conversions) sconversions += c;
  for (uli j = 0; j < len_tab_aggr; ++j)
    for (uli i = 0; i < nchannels_aggr; ++i) {
      double& x = (*imp)[j][i];
      x = ctr[j][i] > 0 ? x / ctr[j][i] : 0.0;
      if (!(x >= 0 && x < kTwo64))
        throw std::invalid_argument("tab_aggr_touches: period " + std::to_string(j + 1) +
                                    ", channel '" + vchannels_aggr[i] +
                                    "' gives impressions that are negative, NA or too large");
      simpressions += x;
    }
  return sconversions / (simpressions / static_cast<double>(nchannels_aggr));
}

// Index kind 1 when the journeys mix click and view channels, else the
// share of conversions (kind 2).
int markov_type(const EventJourneys& ej, const std::vector<std::string>& vchannels_aggr,
                const std::vector<int>& vtype_channels_aggr) {
  uli n_channel_click = 0;
  for (const std::string& c : ej.vchannels_mta)
    for (uli i = 0; i < vchannels_aggr.size(); ++i)
      if (vchannels_aggr[i] == c) {
        if (vtype_channels_aggr[i] != 0) ++n_channel_click;
        break;
      }
  return (n_channel_click == 0 || n_channel_click == ej.nchannels_mta) ? 2 : 1;
}

// Each journey channel's share of the journey conversions, by path
// attribution with the raw odds as weights.
void conversion_shares(const EventJourneys& ej, const MarkovResult& mr,
                       std::map<std::string, double>* mp_weight_mta) {
  ChannelMap mp_tokens;
  for (uli k = 0; k < mr.vchannels.size(); ++k) mp_tokens[mr.vchannels[k]] = k;
  // A channel with conversions and no nulls has no finite raw index; it
  // takes the largest finite one, as in the Markov model's own index, so
  // that its journeys are not turned into not-a-number.
  std::vector<double> weights(mr.vindex_raw);
  unbounded_take_largest(&weights, 1.0);
  JourneySource src = vector_source(&ej.vpaths, &ej.vconv, nullptr, nullptr);
  src.field_sep = " ";
  PathSettings ps;
  ps.cha_sep = " ";
  TouchpointRows rows;
  std::vector<double> vattr_convs_loc(ej.vchannels_mta.size(), 0.0);
  attribute_journeys(src, ps, mp_tokens, weights, worth_of_totals(2, mr.s_nconv, mr.s_nnull),
                     &rows, &vattr_convs_loc);
  double sconversions_mta = 0;
  for (uli r = 0; r < rows.vpath_channel.size(); ++r) {
    (*mp_weight_mta)[token_channel(rows.vpath_channel[r], ej.vchannels_mta)] +=
        rows.vpath_attr_convs[r];
    sconversions_mta += rows.vpath_attr_convs[r];
  }
  for (const std::string& token : mr.vchannels)
    (*mp_weight_mta)[token_channel(token, ej.vchannels_mta)] /= sconversions_mta;
}

// Markov weights of the journey channels: each channel's share of the
// journey conversions (type 2) or its Markov index (type 1).
std::map<std::string, double> markov_weights(const EventJourneys& ej, int type,
                                             const MarkovSettings& base) {
  JourneySource src = vector_source(&ej.vpaths, &ej.vconv, nullptr, &ej.vnull);
  src.var_path = "path";
  src.var_conv = "total_conversions";
  src.var_null = "total_nulls";   // nulls count even for an empty event table
  src.field_sep = " ";
  MarkovSettings set = base;
  set.type = type;
  const MarkovResult mr = markov_run(src, " ", set);
  std::map<std::string, double> mp_weight_mta;
  if (type == 2) {
    conversion_shares(ej, mr, &mp_weight_mta);
    return mp_weight_mta;
  }
  std::vector<double> vindex = mr.vindex;
  unhide_index(&vindex);
  for (uli k = 0; k < mr.vchannels.size(); ++k)
    mp_weight_mta[token_channel(mr.vchannels[k], ej.vchannels_mta)] = vindex.at(k);
  return mp_weight_mta;
}

// The journey channels keep, together, the reward weight they had,
// shared among them by the journey evidence.
void combine_weights(const EventJourneys& ej, int type,
                     std::map<std::string, double>& mp_weight_mta,
                     std::map<std::string, double>* mp_weight_mmm) {
  std::map<std::string, double>& mmm = *mp_weight_mmm;
  double sweight_mta_in_mmm = 0, sweight_mta_in_mta = 0;
  for (const std::string& c : ej.vchannels_mta) sweight_mta_in_mmm += mmm[c];
  for (const std::string& c : ej.vchannels_mta) {
    mmm[c] = type == 2 ? mp_weight_mta[c] : mmm[c] * mp_weight_mta[c];
    sweight_mta_in_mta += mmm[c];
  }
  for (const std::string& c : ej.vchannels_mta)
    mmm[c] = sweight_mta_in_mmm == 0 ? 0.0 : sweight_mta_in_mmm * mmm[c] / sweight_mta_in_mta;
}

// Weight per impression of each channel into vindex, and per period the
// conversions shared among the channels in proportion to their weighted
// impressions (at least one conversion's worth for a channel with any).
void attribute_periods(const std::vector<std::vector<double>>& imp,
                       const std::vector<double>& conversions,
                       const std::vector<std::string>& vchannels_aggr, double icr,
                       std::map<std::string, double>& mp_weight_mmm, std::vector<double>* vindex,
                       std::vector<std::vector<double>>* Mattr) {
  const uli len_tab_aggr = imp.size(), nchannels_aggr = vchannels_aggr.size();
  // Impressions are totalled as whole numbers, the fraction of every
  // running total dropped.
  std::vector<uli> vtouches(nchannels_aggr, 0);
  for (uli j = 0; j < len_tab_aggr; ++j)
    for (uli i = 0; i < nchannels_aggr; ++i) {
      const double t = static_cast<double>(vtouches[i]) + imp[j][i];
      vtouches[i] = t < kTwo64 ? static_cast<uli>(t) : ~uli{0};
    }
  vindex->assign(nchannels_aggr, 0.0);
  for (uli i = 0; i < nchannels_aggr; ++i)
    (*vindex)[i] = mp_weight_mmm[vchannels_aggr[i]] / static_cast<double>(vtouches[i]);

  Mattr->assign(len_tab_aggr, std::vector<double>(nchannels_aggr, 0.0));
  std::vector<double> vattr_j(nchannels_aggr);
  for (uli j = 0; j < len_tab_aggr; ++j) {
    const double convs = conversions[j];
    double sum_vattr_j = 0;
    for (uli i = 0; i < nchannels_aggr; ++i) {
      const double convs0 = std::min(imp[j][i] * icr, convs);
      vattr_j[i] = convs0 > 0 ? std::max(convs0, 1.0) / icr * (*vindex)[i] : 0.0;
      sum_vattr_j += vattr_j[i];
    }
    for (uli i = 0; i < nchannels_aggr; ++i) (*Mattr)[j][i] = vattr_j[i] / sum_vattr_j * convs;
  }
}
}  // namespace

void UamSettings::validate() const {
  if (flg_path == 1) markov.validate();
}

UamResult uam_run(UamInput in, const UamSettings& settings) {
  settings.validate();
  std::vector<uli>* tab_paths_id_path = &in.tab_paths_id_path;
  std::vector<std::string>* tab_paths_channel = &in.tab_paths_channel;
  std::string* channel_conv_name = &in.channel_conv_name;
  std::vector<std::string>* vchannels_aggr = &in.vchannels_aggr;
  const std::vector<int>* vtype_channels_aggr = &in.vtype_channels_aggr;
  const std::vector<std::string>* tab_aggr_time_from_str = &in.tab_aggr_time_from_str;
  std::vector<double>* tab_aggr_conversions = &in.tab_aggr_conversions;
  std::vector<std::vector<double>>* tab_aggr_touches = &in.tab_aggr_touches;
  const std::vector<std::vector<double>>* tab_ctr_ctr = &in.tab_ctr_ctr;
  int verbose_flag = settings.verbose;
  int* verbose = &verbose_flag;
  UamResult r;
  const uli len_tab_aggr = tab_aggr_time_from_str->size();
  const uli nchannels_aggr = vchannels_aggr->size();
  check_shapes(len_tab_aggr, nchannels_aggr, *tab_aggr_conversions, *tab_aggr_touches,
               *tab_ctr_ctr);
  const bool with_paths = settings.flg_path == 1;
  if (with_paths && vtype_channels_aggr->size() != nchannels_aggr)
    throw std::invalid_argument("vtype_channels_aggr has " +
                                std::to_string(vtype_channels_aggr->size()) + " entries for " +
                                std::to_string(nchannels_aggr) + " channels in vchannels_aggr");

  if (*verbose == 1) {
    printA("**UAM estimation**");
    printA("- Data Preparation");
  }
  EventJourneys ej;
  if (with_paths) ej = journeys_of_events(tab_paths_id_path, tab_paths_channel, channel_conv_name);
  const double icr = impressions_from_clicks(*tab_aggr_conversions, *tab_ctr_ctr,
                                             *vchannels_aggr, tab_aggr_touches);

  std::map<std::string, double> mp_weight_mmm;
  reward_model(tab_aggr_conversions, tab_aggr_touches, verbose, nchannels_aggr, vchannels_aggr,
               icr, len_tab_aggr, &mp_weight_mmm);

  if (with_paths) {
    if (*verbose == 1) printA("- Calculate Markov model on customer journeys");
    const int type = markov_type(ej, *vchannels_aggr, *vtype_channels_aggr);
    std::map<std::string, double> mp_weight_mta = markov_weights(ej, type, settings.markov);
    if (*verbose == 1) printA("- Combine reward model and Markov model");
    combine_weights(ej, type, mp_weight_mta, &mp_weight_mmm);
  }

  if (*verbose == 1) printA("- Perform attribution");
  attribute_periods(*tab_aggr_touches, *tab_aggr_conversions, *vchannels_aggr, icr, mp_weight_mmm,
                    &r.vindex, &r.Mattr);
  r.impressions = std::move(in.tab_aggr_touches);
  return r;
}
