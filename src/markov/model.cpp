// The Markov model over one journey source: build the chain, estimate what
// each channel contributes (by simulation or exactly), turn that into
// removal effects or a conversion index, and optionally attribute every
// journey by path attribution with those weights.
#include <cmath>
#include <limits>
#include <stdexcept>

#include "common/worth.h"
#include "markov/markov.h"
#include "pathattr/pathattr.h"

namespace {

// Per channel: walks that converted (Tc) or ended in "(null)" (Nc) after
// passing through the channel.
struct ChannelCounts {
  std::vector<double> Tc, Nc;
};

// Settings are checked before any journey is read.
void check_model_settings(const JourneySource& src, const MarkovSettings& set, bool only_matrix) {
  if (set.order == 0) throw std::invalid_argument("order must be at least 1");
  if (set.type < 0 || set.type > 4)
    throw std::invalid_argument("type must be 0 (removal effects) or 1 to 4 (index kinds), not " +
                                std::to_string(set.type));
  if (src.flg_file == 1) ResultFile::check_not_input(set.file_output, src.file);
  if (only_matrix) return;
  if (set.method.exact == 0)
    check_simulation_args(set.nsim_start, set.ncore, set.nfold, set.conv_par, set.rate_step_sim);
  else if (set.ncore == 0)
    throw std::invalid_argument("ncore must be at least 1");
}

// The simulation's counts, computed exactly as expected counts out of
// nsim_start walks (0 meaning kDefaultSimulations).
void exact_counts(const SimulationMatrix& m, const std::vector<sli>& table,
                  const MarkovSettings& set, bool flg_null, ChannelCounts* c, MarkovResult* r) {
  if (!(m.svc > 0))
    throw std::invalid_argument("the journeys have no conversions: nothing to attribute");
  const bool unlimited = set.method.unlimited != 0;
  const uli limit = set.max_step > 0 ? set.max_step : m.max_npassi + 1;
  const double walks = static_cast<double>(set.nsim_start == 0 ? kDefaultSimulations : set.nsim_start);
  double pc = 0, pn = 0;
  markov_exact(&m.S, &table, set.order, m.nchannels, limit + 1, unlimited, set.ncore, &c->Tc,
               &c->Nc, &pc, &pn);
  if (set.verbose == 1)
    printA("Exact solve (" + std::string(unlimited ? "unlimited horizon" : "step limit " +
                                         std::to_string(limit)) +
           "): walks that end: " + f_print_perc(pc + pn) + "%");
  if (!(pc > 0))
    throw std::invalid_argument(unlimited ? std::string("no walk from \"(start)\" converts")
                                          : "no walk converts within " + std::to_string(limit) +
                                                " steps: raise max_step");
  for (double& t : c->Tc) t *= walks;
  for (double& t : c->Nc) t = flg_null ? t * walks : 0.0;
  r->s_nconv = pc * walks;
  r->s_nnull = flg_null ? pn * walks : 0.0;
}

ChannelCounts channel_counts(const SimulationMatrix& m, const MarkovSettings& set, bool flg_null,
                             MarkovResult* r) {
  const std::vector<sli> table =
      state_channel_table(&m.mp_channels_sim_inv, m.nchannels_sim, set.order);
  ChannelCounts c;
  if (set.method.exact != 0) {
    exact_counts(m, table, set, flg_null, &c, r);
    return c;
  }
  SimulationOutcome o = markov_simulate(
      m.S, table, set.order, m.nchannels, m.max_npassi, flg_null, m.svc,
      {set.nsim_start, set.max_step, set.ncore, set.nfold, set.seed, set.conv_par,
       set.rate_step_sim, set.verbose});
  c.Tc = std::move(o.Tc);
  c.Nc = std::move(o.Nc);
  r->s_nconv = o.s_nconv;
  r->s_nnull = o.s_nnull;
  r->nsim_start = o.nsim_start;
  r->sim_batches = o.batches;
  r->sim_walks = o.walks;
  r->sim_residual = o.residual;
  r->sim_ended_share = o.ended_share;
  return c;
}

// Conversion index of kind `type` per channel into r->vindex (and, for
// kind 2, r->vindex_raw); returns the index of the journeys as a whole.
double conversion_index(int type, const ChannelCounts& c, MarkovResult* r) {
  const size_t n = c.Tc.size();
  if (type != 2) {
    for (size_t j = 0; j < n; ++j) r->vindex[j] = worth_of_totals(type, c.Tc[j], c.Nc[j]);
    return worth_of_totals(type, r->s_nconv, r->s_nnull);
  }
  for (size_t j = 0; j < n; ++j) r->vindex_raw[j] = odds_or_unbounded(c.Tc[j], c.Nc[j]);
  r->vindex = r->vindex_raw;
  // An odds ratio that overflowed to +inf outranks every finite one, so
  // the unbounded channels share it rather than the largest finite ratio.
  const double inf = std::numeric_limits<double>::infinity();
  bool overflowed = false;
  for (double v : r->vindex) overflowed = overflowed || v == inf;
  if (overflowed) {
    for (double& v : r->vindex)
      if (v == -inf) v = inf;
  } else {
    unbounded_take_largest(&r->vindex, -inf);
  }
  return worth_of_totals(2, r->s_nconv, r->s_nnull);
}

// The total value times 2^-64: finite whatever finite values the journeys
// hold, for when their plain sum overflows.
constexpr int kValueScale = 64;
double scaled_total_value(const JourneySource& src) {
  double total = 0;
  if (src.flg_file != 1) {
    if (src.vv)
      for (double v : *src.vv) total += std::ldexp(v, -kValueScale);
    return total;
  }
  const JourneySource values =
      file_source(src.file, src.var_path, src.var_conv, src.var_value, "", src.field_sep);
  JourneyReader reader(values);
  while (reader.next()) total += std::ldexp(reader.value(), -kValueScale);
  return total;
}

// Removal effects: each channel's share of the simulated conversions
// applied to the journeys' conversions (and value); vindex is the share of
// the converting walks.
void removal_effects(const JourneySource& src, const SimulationMatrix& m, bool flg_value,
                     const ChannelCounts& c, MarkovResult* r) {
  double sTc = 0;
  for (double t : c.Tc) sTc += t;
  r->vattr_convs_glob.assign(m.nchannels, 0.0);
  if (flg_value) r->vattr_value_glob.assign(m.nchannels, 0.0);
  // Shares first: a channel's share of a finite total stays finite. When
  // the total itself overflows, it is summed again scaled down.
  double svv = m.svv;
  int value_scale = 0;
  if (flg_value && !std::isfinite(svv)) {
    svv = scaled_total_value(src);
    value_scale = kValueScale;
  }
  for (uli j = 0; j < m.nchannels; ++j) {
    r->vattr_convs_glob[j] = c.Tc[j] * m.svc / sTc;
    if (flg_value) r->vattr_value_glob[j] = std::ldexp(c.Tc[j] / sTc * svv, value_scale);
    r->vindex[j] = c.Tc[j] / r->s_nconv;
  }
}

// One pass of path attribution with the weights in r->vindex.
void attribute_pass(const JourneySource& src, const std::string& cha_sep,
                    const MarkovSettings& set, const SimulationMatrix& m, double mean_index,
                    MarkovResult* r) {
  PathSettings ps;
  ps.cha_sep = cha_sep;
  ps.flg_write_nulls = set.flg_write_nulls;
  ps.flg_write_paths = set.flg_write_paths;
  ps.file_output = set.file_output;
  TouchpointRows rows;
  r->vattr_convs_loc.assign(m.nchannels, 0.0);
  attribute_journeys(src, ps, m.mp_channels, r->vindex, mean_index, &rows, &r->vattr_convs_loc);
  r->vpath_id = std::move(rows.vpath_id);
  r->vpath_name = std::move(rows.vpath_name);
  r->vpath_channel = std::move(rows.vpath_channel);
  r->vpath_chpos = std::move(rows.vpath_chpos);
  r->vpath_attr_convs = std::move(rows.vpath_attr_convs);
  r->vpath_attr_value = std::move(rows.vpath_attr_value);
}

// Path attribution by the index; without nulls by the removal effects,
// calibrated in a second pass so that path attribution gives each channel
// about its removal-effect total. Returns the weight of unknown channels.
double attribute_paths(const JourneySource& src, const std::string& cha_sep,
                       const MarkovSettings& set, const SimulationMatrix& m, bool flg_null,
                       double mean_index, MarkovResult* r) {
  if (flg_null) {
    attribute_pass(src, cha_sep, set, m, mean_index, r);
    return mean_index;
  }
  r->vindex = r->vattr_convs_glob;
  attribute_pass(src, cha_sep, set, m, mean_index, r);
  for (uli j = 0; j < m.nchannels; ++j)
    r->vindex[j] = calibrated_weight(r->vattr_convs_glob[j], r->vattr_convs_loc[j]);
  attribute_pass(src, cha_sep, set, m, 1.0, r);
  return 1.0;
}

void write_channel_file(const std::string& file_output, const std::string& input,
                        const std::string& field_sep, const std::vector<std::string>& vchannels,
                        const std::vector<double>& convs, const std::vector<double>* values) {
  ResultFile out(file_output, input);
  std::string text = "channel" + field_sep + "total_conversions";
  if (values) text += field_sep + "total_conversion_value";
  text += "\n";
  for (size_t j = 0; j < vchannels.size(); ++j) {
    text += vchannels[j] + field_sep;
    append_f(text, convs[j]);
    if (values) {
      text += field_sep;
      append_f(text, (*values)[j]);
    }
    text += "\n";
  }
  out.write(text);
  out.commit();
}

}  // namespace

void MarkovSettings::validate() const {
  check_model_settings(JourneySource(), *this, flg_out_tran_mtx > 1);
}

MarkovResult markov_run(const JourneySource& src, const std::string& cha_sep,
                        const MarkovSettings& set) {
  if (set.verbose == 1) printA("**markov model estimation**");
  const bool flg_value = !src.var_value.empty();
  const bool flg_null = !src.var_null.empty();
  const bool only_matrix = set.flg_out_tran_mtx > 1;
  check_model_settings(src, set, only_matrix);

  MarkovResult r;
  r.nsim_start = set.nsim_start;
  SimulationMatrix m;
  build_simulation_matrix(src, cha_sep, set.order, set.verbose, &m);
  r.vchannels = m.vchannels;
  if (only_matrix) {
    m.S.tran_matx(&m.vchannels_sim, &r.vchannel_from_mtx, &r.vchannel_to_mtx, &r.vtran_prob_mtx);
    return r;
  }

  const ChannelCounts counts = channel_counts(m, set, flg_null, &r);
  r.vindex.assign(m.nchannels, 0.0);
  r.vindex_raw.assign(m.nchannels, 0.0);
  double mean_index = 0;
  if (set.type != 0 && flg_null) {
    mean_index = conversion_index(set.type, counts, &r);
  } else {
    removal_effects(src, m, flg_value, counts, &r);
    mean_index = set.type == 0 ? 0.0 : 1.0;
  }
  if (set.type != 0 && (set.flg_out_attr == 1 || !flg_null))
    mean_index = attribute_paths(src, cha_sep, set, m, flg_null, mean_index, &r);
  if (set.type == 0 && !set.file_output.empty())
    write_channel_file(set.file_output, src.flg_file ? src.file : std::string(), src.field_sep,
                       r.vchannels, r.vattr_convs_glob, flg_value ? &r.vattr_value_glob : nullptr);

  r.vindex.push_back(mean_index);
  hide_index(&r.vindex);
  if (set.flg_out_tran_mtx == 1)
    m.S.tran_matx(&m.vchannels_sim, &r.vchannel_from_mtx, &r.vchannel_to_mtx, &r.vtran_prob_mtx);
  return r;
}
