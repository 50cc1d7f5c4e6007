#include <cmath>
#include <stdexcept>

#include "common/worth.h"
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

namespace {


// Per coalition, in table order: its members, and the worth the game is
// played on. Rate mode plays on the rate worth of its conversions and
// nulls; the other modes on its conversions (and value).
struct CoalitionWorths {
  std::vector<std::vector<uli>> members;
  std::vector<double> rate, convs, value;
};

CoalitionWorths coalition_worths(const CoalitionTable& table, int type_worth, bool rate_mode,
                                 bool flg_value) {
  const size_t ncoa = table.vcoalition.size();
  CoalitionWorths w;
  w.members.resize(ncoa);
  w.rate.assign(ncoa, 0.0);
  w.convs.assign(ncoa, 0.0);
  w.value.assign(ncoa, 0.0);
  auto lookup = [](const std::map<std::string, double>& mp, const std::string& key) {
    auto it = mp.find(key);
    return it == mp.end() ? 0.0 : it->second;
  };
  for (size_t k = 0; k < ncoa; ++k) {
    const std::string& key = table.vcoalition[k];
    w.members[k] = split2(key, ' ');
    const double c = lookup(table.convs, key);
    const double n = lookup(table.nulls, key);
    if (c + n <= 0) continue;
    if (rate_mode) {
      w.rate[k] = type_worth == 2 ? odds_or_unbounded(c, n) : worth_of_totals(type_worth, c, n);
    } else {
      w.convs[k] = c;
      if (flg_value) w.value[k] = lookup(table.value, key);
    }
  }
  if (rate_mode && type_worth == 2) unbounded_take_largest(&w.rate, 0.0);
  return w;
}

// The source path attribution reads: the journeys without their nulls,
// which it does not use. Vectors have values for it only when vv holds
// some, whatever the column is called.
JourneySource without_nulls(const JourneySource& src, const std::string& cha_sep) {
  JourneySource out = src;
  out.var_null.clear();
  out.vn = nullptr;
  if (!src.flg_file && (src.vv == nullptr || src.vv->empty())) out.var_value.clear();
  out.cha_sep = cha_sep.empty() ? 0 : cha_sep[0];
  return out;
}

// Path attribution of every journey with the weights in r->vindex, the
// per-channel totals into r->vattr_convs_loc.
void attribute(const JourneySource& src, const ShapleySettings& settings,
               const ChannelMap& mp_channels, double mean_index, ShapleyResult* r) {
  PathSettings path;
  path.cha_sep = settings.cha_sep;
  path.flg_write_nulls = settings.flg_write_nulls;
  path.flg_write_paths = settings.flg_write_paths;
  path.file_output = settings.file_output;
  r->rows.clear();
  r->vattr_convs_loc.assign(r->vchannels.size(), 0.0);
  attribute_journeys(src, path, mp_channels, r->vindex, mean_index, &r->rows,
                     &r->vattr_convs_loc);
}

}  // namespace

void ShapleySettings::validate() const {
  if (type_worth < 0 || type_worth > 4)
    throw std::invalid_argument("type_worth must be 0, 1, 2, 3 or 4, not " +
                                std::to_string(type_worth));
  first_char(cha_sep, "cha_sep");
}

ShapleyResult shapley_run(const JourneySource& src, const ShapleySettings& settings) {
  settings.validate();
  const bool from_file = src.flg_file != 0;
  if (from_file) ResultFile::check_not_input(settings.file_output, src.file);
  const int type_worth = settings.type_worth;
  const bool flg_value = !src.var_value.empty();
  const bool simplified = settings.flg_simplified != 0;
  const bool global_mode = type_worth == 0;
  const bool rate_mode = !global_mode && !src.var_null.empty();

  CoalitionTable table;
  count_coalitions(src, settings.cha_sep, type_worth, &table);
  const uli nchannels = table.vchannels.size();
  if (!simplified) check_exact_size(nchannels);
  const CoalitionWorths worths = coalition_worths(table, type_worth, rate_mode, flg_value);

  ShapleyResult r;
  r.vchannels = table.vchannels;
  r.vindex.assign(nchannels, 0.0);
  if (rate_mode) {
    shapley_values(worths.members, worths.rate, nchannels, simplified, &r.vindex);
  } else {
    r.vattr_convs_glob.assign(nchannels, 0.0);
    shapley_values(worths.members, worths.convs, nchannels, simplified, &r.vattr_convs_glob);
    if (global_mode && flg_value) {
      r.vattr_value_glob.assign(nchannels, 0.0);
      shapley_values(worths.members, worths.value, nchannels, simplified, &r.vattr_value_glob);
    }
  }
  if (global_mode) {
    if (!settings.file_output.empty())
      write_global_file(settings.file_output, from_file ? src.file : std::string(), src.field_sep,
                        flg_value, r.vchannels, r.vattr_convs_glob, r.vattr_value_glob);
    return r;
  }

  const JourneySource journeys = without_nulls(src, settings.cha_sep);
  double mean_index = 1.0;
  if (rate_mode) {
    mean_index = worth_of_totals(type_worth, table.svc, table.svn);
    attribute(journeys, settings, table.mp_channels, mean_index, &r);
  } else {
    // Without nulls there is no rate: a first pass with the Shapley totals
    // as weights, then weights calibrated on what that pass attributed.
    r.vindex = r.vattr_convs_glob;
    attribute(journeys, settings, table.mp_channels, mean_index, &r);
    for (uli k = 0; k < nchannels; ++k)
      r.vindex[k] = calibrated_weight(r.vattr_convs_glob[k], r.vattr_convs_loc[k]);
    attribute(journeys, settings, table.mp_channels, mean_index, &r);
  }
  r.vindex.push_back(mean_index);
  hide_index(&r.vindex);
  return r;
}
