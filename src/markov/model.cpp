#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "markov/markov.h"
#include "pathattr/pathattr.h"

namespace {

// Everything path attribution needs besides the weights and its outputs.
struct PathInput {
  int flg_file;
  std::string *file, *var_path, *var_conv, *var_value, *row_sep, *cha_sep, *file_output;
  std::vector<std::string>* vy;
  std::vector<uli>* vc;
  std::vector<double>* vv;
  int *flg_write_nulls, *flg_write_paths;
  ChannelMap* mp_channels;
};

struct PathOutput {
  std::vector<double>* vpath_id;
  std::vector<std::string>* vpath_name;
  std::vector<std::string>* vpath_channel;
  std::vector<double>* vpath_chpos;
  std::vector<double>* vpath_attr_convs;
  std::vector<double>* vpath_attr_value;
  std::vector<double>* vattr_convs_loc;
  void clear(uli nchannels) const {
    vpath_id->clear();
    vpath_name->clear();
    vpath_channel->clear();
    vpath_chpos->clear();
    vpath_attr_convs->clear();
    vpath_attr_value->clear();
    vattr_convs_loc->assign(nchannels, 0.0);
  }
};

void attribute_paths(const PathInput& in, std::vector<double>* vindex, double* mean_index,
                     const PathOutput& out) {
  JourneySource src =
      in.flg_file == 1
          ? file_source(*in.file, *in.var_path, *in.var_conv, *in.var_value, "", *in.row_sep)
          : vector_source(in.vy, in.vc, in.vv, nullptr);
  src.row_sep = *in.row_sep;
  const PathSettings settings{*in.cha_sep, *in.flg_write_nulls, *in.flg_write_paths,
                              *in.file_output};
  TouchpointRows rows;
  attribute_journeys(src, settings, *in.mp_channels, *vindex, *mean_index, &rows,
                     out.vattr_convs_loc);
  rows.append_to(out.vpath_id, out.vpath_name, out.vpath_channel, out.vpath_chpos,
                 out.vpath_attr_convs, out.vpath_attr_value);
}

// The total value times 2^-64: finite whatever finite values the journeys
// hold, for when their plain sum overflows.
constexpr int kValueScale = 64;
double scaled_total_value(const PathInput& in) {
  double total = 0;
  if (in.flg_file != 1) {
    for (double v : *in.vv) total += std::ldexp(v, -kValueScale);
    return total;
  }
  JourneyReader reader(file_source(*in.file, *in.var_path, *in.var_conv, *in.var_value, "",
                                   *in.row_sep));
  while (reader.next()) total += std::ldexp(reader.value(), -kValueScale);
  return total;
}

// Conversion index of kind `type` per channel from the simulated counts.
void index_kinds(int type, const std::vector<double>& Tc, const std::vector<double>& Nc,
                 double s_nconv, double s_nnull, std::vector<double>* vindex,
                 std::vector<double>* vindex_raw, double* mean_index) {
  const size_t n = Tc.size();
  const double minus_inf = -std::numeric_limits<double>::infinity();
  switch (type) {
    case 1:
      for (size_t j = 0; j < n; ++j) (*vindex)[j] = Tc[j] / (Nc[j] + Tc[j]);
      *mean_index = s_nconv / (s_nconv + s_nnull);
      break;
    case 2: {
      // A channel with conversions and no nulls gets the largest ratio found.
      double largest = minus_inf;
      for (size_t j = 0; j < n; ++j) {
        double v = 0;
        if (Nc[j] > 0) v = Tc[j] / Nc[j];
        else if (Tc[j] > 0) v = minus_inf;
        (*vindex_raw)[j] = v;
        (*vindex)[j] = v;
        if (v > largest) largest = v;
      }
      for (size_t j = 0; j < n; ++j)
        if ((*vindex)[j] == minus_inf) (*vindex)[j] = largest;
      *mean_index = s_nconv / s_nnull;
      break;
    }
    case 3:
      for (size_t j = 0; j < n; ++j) (*vindex)[j] = (Tc[j] - Nc[j] + 1) * 0.5;
      *mean_index = (s_nconv - s_nnull + 1) * 0.5;
      break;
    case 4:
      for (size_t j = 0; j < n; ++j) (*vindex)[j] = 1 - std::exp(-Tc[j] / Nc[j]);
      *mean_index = 1 - std::exp(-s_nconv / s_nnull);
      break;
    default:
      *mean_index = 0;
  }
}

void write_channel_file(const std::string& file_output, const std::string& input,
                        const std::string& row_sep, const std::vector<std::string>& vchannels,
                        const std::vector<double>& convs, const std::vector<double>* values) {
  ResultFile out(file_output, input);
  std::string text = "channel" + row_sep + "total_conversions";
  if (values) text += row_sep + "total_conversion_value";
  text += "\n";
  for (size_t j = 0; j < vchannels.size(); ++j) {
    text += vchannels[j] + row_sep;
    append_f(text, convs[j]);
    if (values) {
      text += row_sep;
      append_f(text, (*values)[j]);
    }
    text += "\n";
  }
  out.write(text);
  out.commit();
}

// The simulation's counts, computed exactly as expected counts out of
// nsim_start walks (0 meaning 100000).
void exact_counts(const Fx& S, const std::vector<sli>& table, uli order, uli nchannels,
                  uli max_npassi, uli max_step, uli nsim_start, uli ncore, bool unlimited,
                  bool flg_null, double svc, int verbose, std::vector<double>* Tc,
                  std::vector<double>* Nc, double* s_nconv, double* s_nnull) {
  if (!(svc > 0))
    throw std::invalid_argument("the journeys have no conversions: nothing to attribute");
  const uli limit = max_step > 0 ? max_step : max_npassi + 1;
  const double walks = static_cast<double>(nsim_start == 0 ? 100000 : nsim_start);
  double pc = 0, pn = 0;
  markov_exact(&S, &table, order, nchannels, limit + 1, unlimited, ncore, Tc, Nc, &pc, &pn);
  if (verbose == 1)
    printA("Exact solve (" + std::string(unlimited ? "unlimited horizon" : "step limit " +
                                         std::to_string(limit)) +
           "): walks that end: " + f_print_perc(pc + pn) + "%");
  if (!(pc > 0))
    throw std::invalid_argument(unlimited ? std::string("no walk from \"(start)\" converts")
                                          : "no walk converts within " + std::to_string(limit) +
                                                " steps: raise max_step");
  for (double& t : *Tc) t *= walks;
  for (double& t : *Nc) t = flg_null ? t * walks : 0.0;
  *s_nconv = pc * walks;
  *s_nnull = flg_null ? pn * walks : 0.0;
}

}  // namespace

void markov_model_method_cpp(const MarkovMethod* method, int* flg_file, std::string* file,
                             std::string* var_path, std::string* var_conv, std::string* var_value,
                             std::string* var_null, std::vector<std::string>* vy,
                             std::vector<uli>* vc, std::vector<double>* vv, std::vector<uli>* vn,
                             std::string* row_sep, std::string* cha_sep, int* type, uli* order,
                             uli* nsim_start, uli* max_step, uli* ncore, uli* nfold, uli* seed,
                             double* conv_par, double* rate_step_sim, int* verbose,
                             int* flg_out_tran_mtx, std::string* file_output,
                             int* flg_write_nulls, int* flg_write_paths,
                             std::vector<std::string>* vchannels, std::vector<double>* vindex,
                             int* flg_out_attr, std::vector<double>* vpath_id,
                             std::vector<std::string>* vpath_name,
                             std::vector<std::string>* vpath_channel,
                             std::vector<double>* vpath_chpos,
                             std::vector<double>* vpath_attr_convs,
                             std::vector<double>* vpath_attr_value,
                             std::vector<double>* vattr_convs_loc,
                             std::vector<double>* vattr_convs_glob,
                             std::vector<double>* vattr_value_glob,
                             std::vector<std::string>* vchannel_from_mtx,
                             std::vector<std::string>* vchannel_to_mtx,
                             std::vector<double>* vtran_prob_mtx, double* s_nconv,
                             double* s_nnull, std::vector<double>* vindex_raw) {
  if (*verbose == 1) printA("**markov model estimation**");
  const bool flg_value = !var_value->empty();
  const bool flg_null = !var_null->empty();
  const bool only_matrix = *flg_out_tran_mtx > 1;

  // Settings are checked before any journey is read.
  if (*order == 0) throw std::invalid_argument("order must be at least 1");
  if (*type < 0 || *type > 4)
    throw std::invalid_argument("type must be 0 (removal effects) or 1 to 4 (index kinds), not " +
                                std::to_string(*type));
  if (*flg_file == 1) ResultFile::check_not_input(*file_output, *file);
  const bool exact = method->exact != 0;
  if (!only_matrix && !exact)
    check_simulation_args(*nsim_start, *ncore, *nfold, *conv_par, *rate_step_sim);
  if (!only_matrix && exact && *ncore == 0) throw std::invalid_argument("ncore must be at least 1");

  Fx S(0);
  uli nchannels = 0, max_npassi = 0, nchannels_sim = 0;
  ChannelMap mp_channels, mp_channels_sim;
  StateInverse mp_channels_sim_inv;
  std::vector<std::string> vchannels_sim;
  double svc = 0, svv = 0;
  if (*flg_file == 1)
    build_simulation_matrix_from_file_cpp(file, var_path, var_conv, var_null, var_value, row_sep,
                                          cha_sep, order, &S, &nchannels, &mp_channels, vchannels,
                                          &max_npassi, &mp_channels_sim, &mp_channels_sim_inv,
                                          &vchannels_sim, &nchannels_sim, &svc, &svv, verbose);
  else
    build_simulation_matrix_from_vec_cpp(vy, vc, vn, vv, cha_sep, order, &S, &nchannels,
                                         &mp_channels, vchannels, &max_npassi, &mp_channels_sim,
                                         &mp_channels_sim_inv, &vchannels_sim, &nchannels_sim,
                                         &svc, &svv, verbose);
  if (only_matrix) {
    S.tran_matx(&vchannels_sim, vchannel_from_mtx, vchannel_to_mtx, vtran_prob_mtx);
    return;
  }

  const std::vector<sli> table = state_channel_table(&mp_channels_sim_inv, nchannels_sim, *order);
  int flg_null_i = flg_null ? 1 : 0;
  std::vector<double> Tc, Nc;
  if (exact)
    exact_counts(S, table, *order, nchannels, max_npassi, *max_step, *nsim_start, *ncore,
                 method->unlimited != 0, flg_null, svc, *verbose, &Tc, &Nc, s_nconv, s_nnull);
  else
    markov_simulation(&S, &table, order, &nchannels, &max_npassi, max_step, nsim_start, ncore,
                      nfold, seed, conv_par, rate_step_sim, verbose, &flg_null_i, &svc, &Tc, &Nc,
                      s_nconv, s_nnull);

  vindex->assign(nchannels, 0.0);
  vindex_raw->assign(nchannels, 0.0);
  double mean_index = 0;
  const bool index_kind = *type != 0 && flg_null;
  if (index_kind) {
    index_kinds(*type, Tc, Nc, *s_nconv, *s_nnull, vindex, vindex_raw, &mean_index);
  } else {
    double sTc = 0;
    for (double t : Tc) sTc += t;
    vattr_convs_glob->assign(nchannels, 0.0);
    if (flg_value) vattr_value_glob->assign(nchannels, 0.0);
    // Shares first: a channel's share of a finite total stays finite. When
    // the total itself overflows, it is summed again scaled down.
    int value_scale = 0;
    if (flg_value && !std::isfinite(svv)) {
      const PathInput in{*flg_file, file, var_path, var_conv, var_value, row_sep, cha_sep,
                         file_output, vy, vc, vv, flg_write_nulls, flg_write_paths, &mp_channels};
      svv = scaled_total_value(in);
      value_scale = kValueScale;
    }
    for (uli j = 0; j < nchannels; ++j) {
      (*vattr_convs_glob)[j] = Tc[j] * svc / sTc;
      if (flg_value) (*vattr_value_glob)[j] = std::ldexp(Tc[j] / sTc * svv, value_scale);
      (*vindex)[j] = Tc[j] / *s_nconv;
    }
    mean_index = *type == 0 ? 0.0 : 1.0;
  }

  if (*type != 0 && (*flg_out_attr == 1 || !flg_null)) {
    const PathInput in{*flg_file, file, var_path, var_conv, var_value, row_sep, cha_sep,
                       file_output, vy, vc, vv, flg_write_nulls, flg_write_paths, &mp_channels};
    const PathOutput out{vpath_id, vpath_name, vpath_channel, vpath_chpos,
                         vpath_attr_convs, vpath_attr_value, vattr_convs_loc};
    out.clear(nchannels);
    if (!flg_null) *vindex = *vattr_convs_glob;
    attribute_paths(in, vindex, &mean_index, out);
    if (!flg_null) {
      // Second pass: calibrate the weights so that path attribution gives
      // each channel about its removal-effect total.
      for (uli j = 0; j < nchannels; ++j)
        (*vindex)[j] = ((*vattr_convs_glob)[j] + 10) / ((*vattr_convs_loc)[j] + 10);
      mean_index = 1.0;
      out.clear(nchannels);
      attribute_paths(in, vindex, &mean_index, out);
    }
  }

  if (*type == 0 && !file_output->empty())
    write_channel_file(*file_output, *flg_file ? *file : std::string(), *row_sep, *vchannels,
                       *vattr_convs_glob,
                       flg_value ? vattr_value_glob : nullptr);

  vindex->push_back(mean_index);
  hide_index(vindex);
  if (*flg_out_tran_mtx == 1)
    S.tran_matx(&vchannels_sim, vchannel_from_mtx, vchannel_to_mtx, vtran_prob_mtx);
}

void markov_model_cpp(int* flg_file, std::string* file, std::string* var_path,
                      std::string* var_conv, std::string* var_value, std::string* var_null,
                      std::vector<std::string>* vy, std::vector<uli>* vc,
                      std::vector<double>* vv, std::vector<uli>* vn, std::string* row_sep,
                      std::string* cha_sep, int* type, uli* order, uli* nsim_start,
                      uli* max_step, uli* ncore, uli* nfold, uli* seed, double* conv_par,
                      double* rate_step_sim, int* verbose, int* flg_out_tran_mtx,
                      std::string* file_output, int* flg_write_nulls, int* flg_write_paths,
                      std::vector<std::string>* vchannels, std::vector<double>* vindex,
                      int* flg_out_attr,
                      std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                      std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                      std::vector<double>* vpath_attr_convs,
                      std::vector<double>* vpath_attr_value,
                      std::vector<double>* vattr_convs_loc,
                      std::vector<double>* vattr_convs_glob,
                      std::vector<double>* vattr_value_glob,
                      std::vector<std::string>* vchannel_from_mtx,
                      std::vector<std::string>* vchannel_to_mtx,
                      std::vector<double>* vtran_prob_mtx, double* s_nconv, double* s_nnull,
                      std::vector<double>* vindex_raw) {
  const MarkovMethod simulation;
  markov_model_method_cpp(&simulation, flg_file, file, var_path, var_conv, var_value, var_null,
                          vy, vc, vv, vn, row_sep, cha_sep, type, order, nsim_start, max_step,
                          ncore, nfold, seed, conv_par, rate_step_sim, verbose, flg_out_tran_mtx,
                          file_output, flg_write_nulls, flg_write_paths, vchannels, vindex,
                          flg_out_attr, vpath_id, vpath_name, vpath_channel, vpath_chpos,
                          vpath_attr_convs, vpath_attr_value, vattr_convs_loc, vattr_convs_glob,
                          vattr_value_glob, vchannel_from_mtx, vchannel_to_mtx, vtran_prob_mtx,
                          s_nconv, s_nnull, vindex_raw);
}
