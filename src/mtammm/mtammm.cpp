#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include "mtammm/mtammm.h"

namespace {
void check_same_length(size_t n, size_t m, const std::string& what) {
  if (n != m)
    throw std::invalid_argument(what + ": columns of different lengths (" + std::to_string(n) +
                                " and " + std::to_string(m) + ")");
}

// One value per dictionary channel, in dictionary order; a table entry for
// a channel outside the MTA rows, a repeated entry or a missing channel is
// an error naming it.
std::vector<double> by_channel(const std::vector<std::string>& names, const std::vector<double>& x,
                               const std::unordered_map<std::string, uli>& dict,
                               const std::vector<std::string>& vchannels,
                               const std::string& table) {
  check_same_length(names.size(), x.size(), table);
  std::vector<double> out(vchannels.size(), 0.0);
  std::vector<char> seen(vchannels.size(), 0);
  for (size_t i = 0; i < names.size(); ++i) {
    auto it = dict.find(names[i]);
    if (it == dict.end())
      throw std::invalid_argument(table + ": channel '" + names[i] +
                                  "' does not occur in mta_path_attribution");
    if (seen[it->second])
      throw std::invalid_argument(table + ": channel '" + names[i] + "' is listed twice");
    seen[it->second] = 1;
    out[it->second] = x[i];
  }
  for (size_t c = 0; c < vchannels.size(); ++c)
    if (!seen[c])
      throw std::invalid_argument(table + ": channel '" + vchannels[c] + "' is missing");
  return out;
}

double sum_of(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

// The target shares the current totals: every factor.
std::vector<double> ratio(const std::vector<double>& num, const std::vector<double>& den) {
  std::vector<double> r(num.size());
  for (size_t c = 0; c < num.size(); ++c) r[c] = num[c] / den[c];
  mend_corrfact(&r);
  return r;
}
}  // namespace

std::vector<double> sum_by(const std::vector<double>& x, const std::vector<uli>& by) {
  if (by.empty()) return {};
  std::vector<double> out(*std::max_element(by.begin(), by.end()) + 1, 0.0);
  for (size_t i = 0; i < x.size(); ++i) out[by[i]] += x[i];
  return out;
}

void mend_corrfact(std::vector<double>* vcorrfact) {
  double max_finite = -std::numeric_limits<double>::infinity();
  double min_positive = std::numeric_limits<double>::infinity();
  for (double f : *vcorrfact) {
    if (!std::isfinite(f)) continue;
    max_finite = std::max(max_finite, f);
    if (f > 0) min_positive = std::min(min_positive, f);
  }
  // Half the smallest positive factor: a zero would wipe out every journey
  // made only of that channel, and with a smallest finite factor of 0 the
  // plain "half the smallest" would change nothing.
  const double zero_to = std::isfinite(min_positive) ? 0.5 * min_positive : 1.0;
  const double inf_to = std::isfinite(max_finite) ? 2 * max_finite : 1.0;
  for (double& f : *vcorrfact) {
    if (!std::isfinite(f)) f = inf_to;
    if (f == 0) f = zero_to;
  }
}

namespace {

// The MTA rows with journeys renumbered 0, 1, ... at every change of
// identifier, and channels numbered in order of first appearance.
struct MtaRows {
  std::vector<uli> vpath, vchannel;
  std::vector<std::string> vchannels;
  std::unordered_map<std::string, uli> dict;
};

MtaRows number_rows(const std::vector<uli>& mta_attr_path,
                    const std::vector<std::string>& mta_attr_channel) {
  const size_t n = mta_attr_path.size();
  MtaRows m;
  m.vpath.assign(n, 0);
  for (size_t i = 1; i < n; ++i)
    m.vpath[i] = m.vpath[i - 1] + (mta_attr_path[i] != mta_attr_path[i - 1] ? 1 : 0);
  m.vchannel.resize(n);
  for (size_t i = 0; i < n; ++i) {
    auto ins = m.dict.emplace(mta_attr_channel[i], m.vchannels.size());
    if (ins.second) m.vchannels.push_back(mta_attr_channel[i]);
    m.vchannel[i] = ins.first->second;
  }
  return m;
}

// Per channel, the prior-weighted blend of its MTA and MMM shares, scaled
// to the MTA total.
std::vector<double> blended_target(const std::vector<double>& mta_attr,
                                   const std::vector<double>& mmm_attr,
                                   const std::vector<double>& prior_weights) {
  const double totattr = sum_of(mta_attr), smmm = sum_of(mmm_attr);
  std::vector<double> target(mta_attr.size());
  for (size_t c = 0; c < target.size(); ++c)
    target[c] = prior_weights[c] * (mta_attr[c] / totattr) +
                (1 - prior_weights[c]) * (mmm_attr[c] / smmm);
  const double starget = sum_of(target);
  for (double& t : target) t = t / starget * totattr;
  return target;
}

// One pass: every row scaled by its channel's factor, then every journey
// scaled back to its own total (rows of a journey with nothing left get 0).
void rescale(const MtaRows& m, const std::vector<double>& v_conv_by_path,
             const std::vector<double>& vcorrfact, const std::vector<double>& attr,
             std::vector<double>* next) {
  const size_t n = attr.size();
  size_t start = 0;
  double dsum = 0;
  for (size_t i = 0; i < n; ++i) {
    (*next)[i] = attr[i] * vcorrfact[m.vchannel[i]];
    dsum += (*next)[i];
    if (i + 1 == n || m.vpath[i + 1] != m.vpath[i]) {
      const double dconv = v_conv_by_path[m.vpath[i]];
      for (size_t k = start; k <= i; ++k) (*next)[k] = dsum > 0 ? (*next)[k] / dsum * dconv : 0.0;
      start = i + 1;
      dsum = 0;
    }
  }
}

}  // namespace

void MtaMmmSettings::validate() const {
  if (!(conv_rate >= 0)) throw std::invalid_argument("conv_rate must be a number of at least 0");
}

str_out_attr_combine_mta_mmm mtammm_run(MtaMmmInput input, const MtaMmmSettings& settings) {
  settings.validate();
  const std::vector<uli>& mta_attr_path = input.mta_attr_path;
  std::vector<std::string>& mta_attr_channel = input.mta_attr_channel;
  const std::vector<double>& mta_attr_attr = input.mta_attr_attr;
  const uli max_steps = settings.max_steps;
  const double conv_rate = settings.conv_rate;
  const bool verbose = settings.verbose;
  const size_t n = mta_attr_path.size();
  check_same_length(n, mta_attr_channel.size(), "mta_path_attribution");
  check_same_length(n, mta_attr_attr.size(), "mta_path_attribution");
  const MtaRows m = number_rows(mta_attr_path, mta_attr_channel);
  const size_t nch = m.vchannels.size();
  std::vector<double> mmm_attr =
      by_channel(input.mmm_attr_channel, input.mmm_attr_attr, m.dict, m.vchannels, "mmm_attribution");
  std::vector<double> prior_weights = by_channel(
      input.prior_weights_mta_channel, input.prior_weights_mta_weight, m.dict, m.vchannels, "prior_weights_mta");
  const double smmm = sum_of(mmm_attr);
  if (nch > 0 && !(smmm > 0 && std::isfinite(smmm)))
    throw std::invalid_argument("mmm_attribution: the attributions must have a positive total");

  const std::vector<double>& vattr = mta_attr_attr;
  const std::vector<double> v_conv_by_path = sum_by(vattr, m.vpath);
  const std::vector<double> mta_attr = sum_by(vattr, m.vchannel);
  const std::vector<double> v_attr_by_channel = blended_target(mta_attr, mmm_attr, prior_weights);
  double target_abs = 0;
  for (double t : v_attr_by_channel) target_abs += std::fabs(t);

  std::vector<double> vcorrfact = ratio(v_attr_by_channel, mta_attr);
  std::vector<double> vattr_by_path = vattr, next(n);
  double divergence_old = std::numeric_limits<double>::infinity();
  for (uli nstep = 0;; ++nstep) {
    check_interrupt();
    rescale(m, v_conv_by_path, vcorrfact, vattr_by_path, &next);
    vattr_by_path.swap(next);
    const std::vector<double> v_attr_by_channel_new = sum_by(vattr_by_path, m.vchannel);
    double dev = 0;
    for (size_t c = 0; c < nch; ++c) dev += std::fabs(v_attr_by_channel_new[c] - v_attr_by_channel[c]);
    const double divergence = 100 * dev / target_abs;
    if (verbose)
      printA("Step: " + std::to_string(nstep) + " | " + "Convergence: " +
             f_print_perc(divergence) + "%");
    vcorrfact = ratio(v_attr_by_channel, v_attr_by_channel_new);
    // A divergence that is not a number can never improve: stop as well.
    if (conv_rate > divergence || nstep > max_steps || !(divergence_old - divergence >= 0.001))
      break;
    divergence_old = divergence;
  }

  str_out_attr_combine_mta_mmm out;
  out.mta_attr_path.assign(mta_attr_path.begin(), mta_attr_path.end());
  out.mta_attr_channel = std::move(mta_attr_channel);
  out.mta_attr_attr = std::move(vattr_by_path);
  return out;
}
