#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "journeys/journeys.h"
#include "pathattr/pathattr.h"
#include "shapley/shapley.h"

namespace {

// Shapley value of the game v(S) = sum of w over the coalitions inside S.
// v is built for every S at once by summing over subsets (one pass per
// channel bit), then every S pays (s-1)!(N-s)!/N! v(S) to its members and
// charges s!(N-s-1)!/N! v(S) to the others.
void shapley_exact(const std::vector<uint32_t>& masks, const std::vector<double>& worth, uli N,
                   std::vector<double>* phi) {
  const uint64_t nsub = uint64_t{1} << N;
  std::vector<double> v(nsub, 0.0);
  for (size_t k = 0; k < masks.size(); ++k) v[masks[k]] += worth[k];
  for (uli b = 0; b < N; ++b) {
    const uint64_t bit = uint64_t{1} << b;
    for (uint64_t m = 0; m < nsub; ++m)
      if (m & bit) v[m] += v[m ^ bit];
    check_interrupt();
  }
  std::vector<double> coeff_plus(N + 1, 0.0), coeff_minus(N + 1, 0.0);
  const double lfN = log_factorial(N);
  for (uli s = 1; s <= N; ++s) {
    coeff_plus[s] = std::exp(log_factorial(N + 1 - s) - std::log(static_cast<double>(N + 1 - s)) +
                             log_factorial(s - 1) - lfN);
    if (s < N)
      coeff_minus[s] = std::exp(log_factorial(N - s) - std::log(static_cast<double>(N - s)) +
                                log_factorial(s) - lfN);
  }
  std::vector<double>& out = *phi;
  for (uint64_t S = 1; S < nsub; ++S) {
    const double vs = v[S];
    if (vs == 0) continue;
    const uli s = count_bits(S);
    const double plus = coeff_plus[s] * vs, minus = coeff_minus[s] * vs;
    for (uli j = 0; j < N; ++j) out[j] += ((S >> j) & 1) ? plus : -minus;
    if ((S & 0xFFFFF) == 0) check_interrupt();
  }
}

void shapley_simplified(const std::vector<std::vector<uli>>& coalitions,
                        const std::vector<double>& worth, std::vector<double>* phi) {
  for (size_t k = 0; k < coalitions.size(); ++k) {
    const auto& members = coalitions[k];
    if (members.empty()) continue;
    const double share = worth[k] / static_cast<double>(members.size());
    for (uli j : members) (*phi)[j] += share;
  }
}

void check_exact_size(uli N) {
  if (N > kShapleyExactMaxChannels)
    throw std::invalid_argument(
        "shapley: " + std::to_string(N) + " channels are too many for the exact method (" +
        "at most " + std::to_string(kShapleyExactMaxChannels) +
        "; it needs 2^N subsets); use the simplified method (flg_simplified = 1)");
}

void write_global_file(const std::string& file_output, const std::string& input,
                       const std::string& row_sep, bool with_value,
                       const std::vector<std::string>& vchannels,
                       const std::vector<double>& convs, const std::vector<double>& value) {
  std::string text = "channel" + row_sep + "total_conversions";
  if (with_value) text += row_sep + "total_conversion_value";
  text.push_back('\n');
  for (size_t k = 0; k < vchannels.size(); ++k) {
    text += vchannels[k];
    text += row_sep;
    append_f(text, convs[k]);
    if (with_value) {
      text += row_sep;
      append_f(text, value[k]);
    }
    text.push_back('\n');
  }
  ResultFile out(file_output, input);
  out.write(text);
  out.commit();
}

double worth_of_totals(int type_worth, double c, double n) {
  switch (type_worth) {
    case 1: return c / (c + n);
    case 2: return c / n;
    case 3: return (c - n + 1) * 0.5;
    default: return 1 - std::exp(-c / n);
  }
}

}  // namespace

void shapley_values(const std::vector<std::vector<uli>>& coalitions,
                    const std::vector<double>& worth, uli nchannels, bool simplified,
                    std::vector<double>* phi) {
  if (phi->size() != nchannels)
    throw std::invalid_argument("shapley: phi has " + std::to_string(phi->size()) +
                                " entries, channels " + std::to_string(nchannels));
  for (const auto& members : coalitions)
    for (uli j : members)
      if (j >= nchannels)
        throw std::invalid_argument("shapley: coalition member " + std::to_string(j) +
                                    " is not a channel index below " + std::to_string(nchannels));
  if (simplified) {
    shapley_simplified(coalitions, worth, phi);
    return;
  }
  check_exact_size(nchannels);
  std::vector<uint32_t> masks(coalitions.size(), 0);
  for (size_t k = 0; k < coalitions.size(); ++k)
    for (uli j : coalitions[k]) masks[k] |= uint32_t{1} << j;
  shapley_exact(masks, worth, nchannels, phi);
}

void shapley_cpp(const int* flg_file, const std::string* file, const std::string* var_path,
                 const std::string* var_conv, const std::string* var_value,
                 const std::string* var_null, const std::vector<std::string>* vy,
                 const std::vector<uli>* vc, const std::vector<double>* vv,
                 const std::vector<uli>* vn, const std::string* row_sep,
                 const std::string* cha_sep, const int* flg_simplified, const int* type_worth,
                 const int* flg_write_nulls, const int* flg_write_paths,
                 const std::string* file_output,
                 std::vector<std::string>* vchannels, std::vector<double>* vindex,
                 std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                 std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                 std::vector<double>* vpath_attr_convs, std::vector<double>* vpath_attr_value,
                 std::vector<double>* vattr_convs_loc, std::vector<double>* vattr_convs_glob,
                 std::vector<double>* vattr_value_glob) {
  if (*type_worth < 0 || *type_worth > 4)
    throw std::invalid_argument("type_worth must be 0, 1, 2, 3 or 4, not " +
                                std::to_string(*type_worth));
  first_char(*cha_sep, "cha_sep");
  const int flg_value = var_value->empty() ? 0 : 1;
  const int flg_null = var_null->empty() ? 0 : 1;
  const bool from_file = *flg_file != 0;
  if (from_file) ResultFile::check_not_input(*file_output, *file);
  const std::vector<double> no_values;
  const std::vector<uli> no_nulls;
  if (!from_file) {
    if (flg_value && vv->size() != vy->size())
      throw std::invalid_argument("var_value is given but the journeys have " +
                                  std::to_string(vv->size()) + " values for " +
                                  std::to_string(vy->size()) + " paths");
    if (flg_null && vn->size() != vy->size())
      throw std::invalid_argument("var_null is given but the journeys have " +
                                  std::to_string(vn->size()) + " null counts for " +
                                  std::to_string(vy->size()) + " paths");
  }
  const std::vector<double>* vv_used = flg_value ? vv : &no_values;
  const std::vector<uli>* vn_used = flg_null ? vn : &no_nulls;

  std::map<std::string, uli> mp_channels;
  std::map<std::string, double> mp_coa_convs, mp_coa_value, mp_coa_nulls;
  std::vector<std::string> vcoalition;
  uli nchannels = 0;
  double svc = 0, svn = 0;
  vchannels->clear();
  if (from_file)
    coalition_from_file(file, var_path, var_conv, var_value, var_null, row_sep, cha_sep,
                        &mp_channels, &mp_coa_convs, &mp_coa_value, &mp_coa_nulls, &nchannels,
                        vchannels, &vcoalition, type_worth, &svc, &svn);
  else
    coalition_from_vec(vy, vc, vn_used, vv_used, cha_sep, &mp_channels, &mp_coa_convs,
                       &mp_coa_value, &mp_coa_nulls, &nchannels, vchannels, &vcoalition,
                       type_worth, &svc, &svn);

  const bool rate_mode = *type_worth != 0 && flg_null;
  const bool global_mode = *type_worth == 0;
  const bool simplified = *flg_simplified != 0;
  if (!simplified) check_exact_size(nchannels);

  // Worths in coalition order.
  const size_t ncoa = vcoalition.size();
  std::vector<double> vratio_convs(ncoa, 0.0), vratio_convs_glob(ncoa, 0.0),
      vratio_value_glob(ncoa, 0.0);
  std::vector<std::vector<uli>> members(ncoa);
  auto lookup = [](const std::map<std::string, double>& mp, const std::string& key) {
    auto it = mp.find(key);
    return it == mp.end() ? 0.0 : it->second;
  };
  const double marker = -std::numeric_limits<double>::infinity();
  double max_ratio = 0;   // replaces the type-2 markers; 0 when every coalition has no nulls
  for (size_t k = 0; k < ncoa; ++k) {
    const std::string& key = vcoalition[k];
    members[k] = split2(key, ' ');
    const double c = lookup(mp_coa_convs, key);
    const double n = lookup(mp_coa_nulls, key);
    if (c + n <= 0) continue;
    if (rate_mode) {
      double w = 0;
      switch (*type_worth) {
        case 1: w = c / (c + n); break;
        case 2: w = n == 0 ? marker : c / n; break;
        case 3: w = (c - n + 1) * 0.5; break;
        case 4: w = 1 - std::exp(-c / n); break;
      }
      vratio_convs[k] = w;
      if (*type_worth == 2 && w > max_ratio) max_ratio = w;
    } else {
      vratio_convs_glob[k] = c;
      if (flg_value) vratio_value_glob[k] = lookup(mp_coa_value, key);
    }
  }
  if (rate_mode && *type_worth == 2)
    for (double& w : vratio_convs)
      if (w == marker) w = max_ratio;

  vindex->assign(nchannels, 0.0);
  vattr_convs_loc->clear();
  vattr_convs_glob->clear();
  vattr_value_glob->clear();
  if (rate_mode) {
    shapley_values(members, vratio_convs, nchannels, simplified, vindex);
  } else {
    vattr_convs_glob->assign(nchannels, 0.0);
    shapley_values(members, vratio_convs_glob, nchannels, simplified, vattr_convs_glob);
    if (global_mode && flg_value) {
      vattr_value_glob->assign(nchannels, 0.0);
      shapley_values(members, vratio_value_glob, nchannels, simplified, vattr_value_glob);
    }
  }

  if (global_mode) {
    if (!file_output->empty())
      write_global_file(*file_output, from_file ? *file : std::string(), *row_sep, flg_value, *vchannels, *vattr_convs_glob,
                        *vattr_value_glob);
    return;
  }

  auto attribute = [&](double mean_index) {
    vpath_id->clear();
    vpath_name->clear();
    vpath_channel->clear();
    vpath_chpos->clear();
    vpath_attr_convs->clear();
    vpath_attr_value->clear();
    vattr_convs_loc->assign(nchannels, 0.0);
    JourneySource src =
        from_file ? file_source(*file, *var_path, *var_conv, *var_value, "", *row_sep)
                  : vector_source(vy, vc, vv_used, nullptr);
    src.row_sep = *row_sep;
    const PathSettings settings{*cha_sep, *flg_write_nulls, *flg_write_paths, *file_output};
    TouchpointRows rows;
    attribute_journeys(src, settings, mp_channels, *vindex, mean_index, &rows, vattr_convs_loc);
    rows.append_to(vpath_id, vpath_name, vpath_channel, vpath_chpos, vpath_attr_convs,
                   vpath_attr_value);
  };

  double mean_index = 1.0;
  if (rate_mode) {
    mean_index = worth_of_totals(*type_worth, svc, svn);
    attribute(mean_index);
  } else {   // fallback
    *vindex = *vattr_convs_glob;
    attribute(mean_index);
    for (uli k = 0; k < nchannels; ++k)
      (*vindex)[k] = ((*vattr_convs_glob)[k] + 10) / ((*vattr_convs_loc)[k] + 10);
    attribute(mean_index);
  }
  vindex->push_back(mean_index);
  hide_index(vindex);
}
