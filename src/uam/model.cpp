#include <cmath>
#include <limits>
#include <stdexcept>

#include "markov/markov.h"
#include "pathattr/pathattr.h"
#include "uam/uam.h"

namespace {
constexpr double kTwo64 = 18446744073709551616.0;

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

// Markov weights: each channel's share of the journey conversions (type 2)
// or its Markov index (type 1).
void markov_weights(int type, std::vector<std::string>* vpaths, std::vector<uli>* vconv,
                    const std::vector<std::string>& vchannels_mta,
                    const std::vector<std::string>& vchannels, std::vector<double> vindex,
                    const std::vector<double>& vindex_raw, double s_nconv, double s_nnull,
                    std::map<std::string, double>* mp_weight_mta) {
  if (type == 1) {
    unhide_index(&vindex);
    for (uli k = 0; k < vchannels.size(); ++k)
      (*mp_weight_mta)[token_channel(vchannels[k], vchannels_mta)] = vindex.at(k);
    return;
  }
  std::map<std::string, uli> mp_tokens;
  for (uli k = 0; k < vchannels.size(); ++k) mp_tokens[vchannels[k]] = k;
  // A channel with conversions and no nulls has no finite raw index; it
  // takes the largest finite one, as in the Markov model's own index, so
  // that its journeys are not turned into not-a-number.
  std::vector<double> weights(vindex_raw);
  double wmax = -std::numeric_limits<double>::infinity();
  for (double w : weights)
    if (std::isfinite(w)) wmax = std::max(wmax, w);
  for (double& w : weights)
    if (!std::isfinite(w)) w = std::isfinite(wmax) ? wmax : 1.0;
  double mean_index = s_nconv / s_nnull;
  std::vector<double> vv, vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value;
  std::vector<std::string> vpath_name, vpath_channel;
  std::vector<double> vattr_convs_loc(vchannels_mta.size(), 0.0);
  std::string cha_sep = " ", row_sep = " ", file_output;
  int flg_write_nulls = 0, flg_write_paths = 0;
  JourneySource src = vector_source(vpaths, vconv, &vv, nullptr);
  src.row_sep = row_sep;
  const PathSettings settings{cha_sep, flg_write_nulls, flg_write_paths, file_output};
  TouchpointRows rows;
  attribute_journeys(src, settings, mp_tokens, weights, mean_index, &rows, &vattr_convs_loc);
  rows.append_to(&vpath_id, &vpath_name, &vpath_channel, &vpath_chpos, &vpath_attr_convs,
                 &vpath_attr_value);
  double sconversions_mta = 0;
  for (uli r = 0; r < vpath_channel.size(); ++r) {
    (*mp_weight_mta)[token_channel(vpath_channel[r], vchannels_mta)] += vpath_attr_convs[r];
    sconversions_mta += vpath_attr_convs[r];
  }
  for (const std::string& token : vchannels)
    (*mp_weight_mta)[token_channel(token, vchannels_mta)] /= sconversions_mta;
}
}  // namespace

void uam_cpp(int* flg_path, std::vector<uli>* tab_paths_id_path,
             std::vector<std::string>* tab_paths_time_str,
             std::vector<std::string>* tab_paths_channel, std::vector<double>* vcosts,
             std::string* channel_conv_name, uli* order, uli* nsim_start, uli* max_step,
             uli* ncore, uli* nfold, uli* seed, double* conv_par, double* rate_step_sim,
             int* verbose, std::vector<std::string>* vchannels_aggr,
             std::vector<int>* vtype_channels_aggr,
             std::vector<std::string>* tab_aggr_time_from_str,
             std::vector<std::string>* tab_aggr_time_to_str,
             std::vector<double>* tab_aggr_conversions,
             std::vector<std::vector<double>>* tab_aggr_touches,
             std::vector<std::string>* tab_ctr_time_from_str,
             std::vector<std::string>* tab_ctr_time_to_str,
             std::vector<std::vector<double>>* tab_ctr_ctr, std::vector<double>* vindex,
             std::vector<std::vector<double>>* Mattr) {
  (void)tab_paths_time_str;
  (void)vcosts;
  (void)tab_aggr_time_to_str;
  (void)tab_ctr_time_from_str;
  (void)tab_ctr_time_to_str;
  const uli len_tab_aggr = tab_aggr_time_from_str->size();
  const uli nchannels_aggr = vchannels_aggr->size();
  check_shapes(len_tab_aggr, nchannels_aggr, *tab_aggr_conversions, *tab_aggr_touches,
               *tab_ctr_ctr);
  const bool with_paths = *flg_path == 1;
  if (with_paths && vtype_channels_aggr->size() != nchannels_aggr)
    throw std::invalid_argument("vtype_channels_aggr has " +
                                std::to_string(vtype_channels_aggr->size()) + " entries for " +
                                std::to_string(nchannels_aggr) + " channels in vchannels_aggr");

  if (*verbose == 1) {
    printA("**UAM estimation**");
    printA("- Data Preparation");
  }

  std::vector<std::string> vchannels_mta, vpaths;
  uli nchannels_mta = 0;
  std::vector<uli> vconv, vnull;
  if (with_paths) {
    std::map<std::string, uli> mp_channels;
    std::vector<std::vector<uli>> Mpaths_ids;
    uli len_tab_paths = tab_paths_id_path->size();
    std::string cha_sep = " ";
    transpose_paths(&len_tab_paths, tab_paths_channel, tab_paths_id_path, channel_conv_name,
                    &cha_sep, &vchannels_mta, &nchannels_mta, &vpaths, &vconv, &vnull,
                    &mp_channels, &Mpaths_ids);
  }

  // Clicks become impressions; the impression counts are accumulated into
  // whole numbers below, so they must be finite and not negative.
  std::vector<std::vector<double>>& imp = *tab_aggr_touches;
  double sconversions = 0, simpressions = 0;
  for (double c : *tab_aggr_conversions) sconversions += c;
  for (uli j = 0; j < len_tab_aggr; ++j)
    for (uli i = 0; i < nchannels_aggr; ++i) {
      const double ctr = (*tab_ctr_ctr)[j][i];
      imp[j][i] = ctr > 0 ? imp[j][i] / ctr : 0.0;
      if (!(imp[j][i] >= 0 && imp[j][i] < kTwo64))
        throw std::invalid_argument("tab_aggr_touches: period " + std::to_string(j + 1) +
                                    ", channel '" + (*vchannels_aggr)[i] +
                                    "' gives impressions that are negative, NA or too large");
      simpressions += imp[j][i];
    }
  const double icr = sconversions / (simpressions / static_cast<double>(nchannels_aggr));

  std::map<std::string, double> mp_weight_mmm;
  reward_model(tab_aggr_conversions, tab_aggr_touches, verbose, nchannels_aggr, vchannels_aggr,
               icr, len_tab_aggr, &mp_weight_mmm);

  if (with_paths) {
    if (*verbose == 1) printA("- Calculate Markov model on customer journeys");
    uli n_channel_click = 0;
    for (const std::string& c : vchannels_mta)
      for (uli i = 0; i < nchannels_aggr; ++i)
        if ((*vchannels_aggr)[i] == c) {
          if ((*vtype_channels_aggr)[i] != 0) ++n_channel_click;
          break;
        }
    int type = (n_channel_click == 0 || n_channel_click == nchannels_mta) ? 2 : 1;

    int flg_file = 0, verbose_markov = 0, flg_out_tran_mtx = 0, flg_write_nulls = 0,
        flg_write_paths = 0, flg_out_attr = 0;
    std::string file, var_path = "path", var_conv = "total_conversions", var_value,
        var_null = "total_nulls", row_sep = " ", cha_sep = " ", file_output;
    std::vector<double> vv, mindex, vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value,
        vattr_convs_loc, vattr_convs_glob, vattr_value_glob, vtran_prob_mtx, vindex_raw;
    std::vector<std::string> vchannels, vpath_name, vpath_channel, vchannel_from_mtx,
        vchannel_to_mtx;
    double s_nconv = 0, s_nnull = 0;
    markov_model_cpp(&flg_file, &file, &var_path, &var_conv, &var_value, &var_null, &vpaths,
                     &vconv, &vv, &vnull, &row_sep, &cha_sep, &type, order, nsim_start, max_step,
                     ncore, nfold, seed, conv_par, rate_step_sim, &verbose_markov,
                     &flg_out_tran_mtx, &file_output, &flg_write_nulls, &flg_write_paths,
                     &vchannels, &mindex, &flg_out_attr, &vpath_id, &vpath_name, &vpath_channel,
                     &vpath_chpos, &vpath_attr_convs, &vpath_attr_value, &vattr_convs_loc,
                     &vattr_convs_glob, &vattr_value_glob, &vchannel_from_mtx, &vchannel_to_mtx,
                     &vtran_prob_mtx, &s_nconv, &s_nnull, &vindex_raw);

    std::map<std::string, double> mp_weight_mta;
    markov_weights(type, &vpaths, &vconv, vchannels_mta, vchannels, mindex, vindex_raw, s_nconv,
                   s_nnull, &mp_weight_mta);

    // The journey channels keep, together, the reward weight they had,
    // shared among them by the journey evidence.
    if (*verbose == 1) printA("- Combine reward model and Markov model");
    double sweight_mta_in_mmm = 0, sweight_mta_in_mta = 0;
    for (const std::string& c : vchannels_mta) sweight_mta_in_mmm += mp_weight_mmm[c];
    for (const std::string& c : vchannels_mta) {
      mp_weight_mmm[c] = type == 2 ? mp_weight_mta[c] : mp_weight_mmm[c] * mp_weight_mta[c];
      sweight_mta_in_mta += mp_weight_mmm[c];
    }
    for (const std::string& c : vchannels_mta)
      mp_weight_mmm[c] =
          sweight_mta_in_mmm == 0 ? 0.0 : sweight_mta_in_mmm * mp_weight_mmm[c] / sweight_mta_in_mta;
  }

  if (*verbose == 1) printA("- Perform attribution");
  // Impressions are totalled as whole numbers, the fraction of every
  // running total dropped.
  std::vector<uli> vtouches(nchannels_aggr, 0);
  for (uli j = 0; j < len_tab_aggr; ++j)
    for (uli i = 0; i < nchannels_aggr; ++i) {
      const double t = static_cast<double>(vtouches[i]) + imp[j][i];
      vtouches[i] = t < kTwo64 ? static_cast<uli>(t) : ~0ul;
    }
  vindex->assign(nchannels_aggr, 0.0);
  for (uli i = 0; i < nchannels_aggr; ++i)
    (*vindex)[i] = mp_weight_mmm[(*vchannels_aggr)[i]] / static_cast<double>(vtouches[i]);

  Mattr->assign(len_tab_aggr, std::vector<double>(nchannels_aggr, 0.0));
  std::vector<double> vattr_j(nchannels_aggr);
  for (uli j = 0; j < len_tab_aggr; ++j) {
    const double convs = (*tab_aggr_conversions)[j];
    double sum_vattr_j = 0;
    for (uli i = 0; i < nchannels_aggr; ++i) {
      const double convs0 = std::min(imp[j][i] * icr, convs);
      vattr_j[i] = convs0 > 0 ? std::max(convs0, 1.0) / icr * (*vindex)[i] : 0.0;
      sum_vattr_j += vattr_j[i];
    }
    for (uli i = 0; i < nchannels_aggr; ++i) (*Mattr)[j][i] = vattr_j[i] / sum_vattr_j * convs;
  }
}
