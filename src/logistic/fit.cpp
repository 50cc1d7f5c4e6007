#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "journeys/journeys.h"
#include "logistic/logistic.h"
#include "optim/optim.h"

namespace {

void check_lengths(const std::vector<std::string>& vy, const std::vector<uli>& vc,
                   const std::vector<uli>& vn) {
  if (vc.size() != vy.size())
    throw std::invalid_argument("vc: " + std::to_string(vc.size()) + " conversion counts for " +
                                std::to_string(vy.size()) + " paths");
  if (!vn.empty() && vn.size() != vy.size())
    throw std::invalid_argument("vn: " + std::to_string(vn.size()) + " null counts for " +
                                std::to_string(vy.size()) + " paths");
}

}  // namespace

void ll_data_parse(ll_data_t_cj* data) {
  if (data->npaths == 0)
    throw std::invalid_argument("logistic regression: npaths is 0 (no journey with touch points "
                                "has a conversion or a null), nothing to fit");
  if (data->vc.size() != data->vy.size() || data->vn.size() != data->vy.size())
    throw std::invalid_argument("logistic regression: vy, vc and vn differ in length");
  data->vstart.assign(1, 0);
  data->vidx.clear();
  std::vector<std::string_view> pieces;
  for (const std::string& p : data->vy) {
    split_views(p, ' ', &pieces);
    for (std::string_view piece : pieces) {
      const uli t = parse_stoul(piece);
      if (t >= data->nchannels)
        throw std::invalid_argument("logistic regression: encoded path \"" + p +
                                    "\" holds index " + std::to_string(t) + " of " +
                                    std::to_string(data->nchannels) + " coefficients");
      data->vidx.push_back(t);
    }
    data->vstart.push_back(data->vidx.size());
  }
}

double ll_fn_whess_cj(const arma::vec& vals_inp, arma::vec* grad_out, arma::mat* hess_out,
                      void* opt_data) {
  ll_data_t_cj* d = static_cast<ll_data_t_cj*>(opt_data);
  if (d->vstart.size() != d->vy.size() + 1) ll_data_parse(d);
  if (vals_inp.n_elem != d->nchannels)
    throw std::invalid_argument("logistic regression: " + std::to_string(vals_inp.n_elem) +
                                " coefficients for " + std::to_string(d->nchannels) + " channels");
  const double np = static_cast<double>(d->npaths);
  if (grad_out != nullptr) grad_out->zeros(d->nchannels);
  if (hess_out != nullptr) hess_out->zeros(d->nchannels, d->nchannels);
  const double* beta = vals_inp.memptr();
  double obj = 0.0;
  for (size_t u = 0; u < d->vy.size(); ++u) {
    const uli* first = d->vidx.data() + d->vstart[u];
    const uli* last = d->vidx.data() + d->vstart[u + 1];
    double s = 0.0;
    for (const uli* t = first; t != last; ++t) s += beta[*t];
    const double c = static_cast<double>(d->vc[u]), n = static_cast<double>(d->vn[u]);
    // One exponential per path: with e = exp(-|s|),
    // -ln(sigma) = max(-s, 0) + log1p(e), -ln(1 - sigma) = max(s, 0) + log1p(e).
    const double e = std::exp(-std::fabs(s));
    const double l1pe = std::log1p(e);
    double term = 0.0;
    if (d->vc[u] > 0) term += c * ((s < 0 ? -s : 0.0) + l1pe) / np;
    if (d->vn[u] > 0) term += n * ((s > 0 ? s : 0.0) + l1pe) / np;
    obj += term;
    if (grad_out != nullptr || hess_out != nullptr) {
      const double sig = s >= 0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
      if (grad_out != nullptr) {
        double g = 0.0;
        if (d->vc[u] > 0) g += c * (sig - 1.0) / np;
        if (d->vn[u] > 0) g += n * sig / np;
        double* gp = grad_out->memptr();
        for (const uli* t = first; t != last; ++t) gp[*t] += g;
      }
      if (hess_out != nullptr) {
        const double w = (c + n) * sig * (1.0 - sig) / np;
        for (const uli* a = first; a != last; ++a)
          for (const uli* b = first; b != last; ++b) (*hess_out)(*a, *b) += w;
      }
    }
  }
  return obj;
}

double ll_fn_cj(const arma::vec& vals_inp, arma::vec* grad_out, void* opt_data) {
  return ll_fn_whess_cj(vals_inp, grad_out, nullptr, opt_data);
}

namespace {

// Unique encoded paths of the journeys with their summed conversions and
// nulls, registering channels after "(constant)" in order of first
// appearance; fills data.nchannels.
void encode_paths(const std::vector<std::string>& vy, const std::vector<uli>& vc,
                  const std::vector<uli>& vn, char sep, std::map<std::string, uli>* mp_channels,
                  std::vector<std::string>* vchannels, ll_data_t_cj* data,
                  std::vector<uli>* path_code = nullptr) {
  mp_channels->clear();
  vchannels->clear();
  (*mp_channels)["(constant)"] = 0;
  vchannels->push_back("(constant)");
  uli nchannels = 1;
  std::unordered_map<std::string, uli> mp_paths;
  std::vector<std::string> names;
  std::string code;
  for (size_t i = 0; i < vy.size(); ++i) {
    if ((i & 0xffff) == 0) check_interrupt();
    check_path(vy[i], sep, i);
    channels_normalised(vy[i], sep, &names);
    // No touch point: nothing for the constant-only score to explain, so
    // the journey stays out of the fit and of the touch counts.
    if (names.empty()) {
      if (path_code != nullptr) path_code->push_back(LogisticPaths::kNoCode);
      continue;
    }
    code = "0";
    for (const std::string& name : names) {
      auto it = mp_channels->try_emplace(name, nchannels).first;
      if (it->second == nchannels) {
        vchannels->push_back(name);
        ++nchannels;
      }
      code.push_back(' ');
      append_lu(code, it->second);
    }
    const uli c = vc[i], n = vn.empty() ? 0 : vn[i];
    auto found = mp_paths.try_emplace(code, data->vy.size());
    if (path_code != nullptr) path_code->push_back(found.first->second);
    if (found.second) {
      data->vy.push_back(code);
      data->vc.push_back(c);
      data->vn.push_back(n);
    } else {
      data->vc[found.first->second] = add_count(data->vc[found.first->second], c, i);
      data->vn[found.first->second] = add_count(data->vn[found.first->second], n, i);
    }
    data->npaths = add_count(data->npaths, add_count(c, n, i), i);
  }
  data->nchannels = nchannels;
}

// Journeys touching each channel (at least once), by channel without the
// constant.
std::vector<uli> touch_counts(const ll_data_t_cj& data) {
  std::vector<uli> vtouch(data.nchannels, 0);
  std::vector<uli> seen;
  for (size_t u = 0; u < data.vy.size(); ++u) {
    seen.assign(data.vidx.begin() + data.vstart[u] + 1, data.vidx.begin() + data.vstart[u + 1]);
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    for (uli j : seen) vtouch[j - 1] += data.vc[u] + data.vn[u];
  }
  return vtouch;
}

}  // namespace

bool spd_inverse(const arma::mat& a, arma::mat* out) {
  const arma::uword n = a.n_rows;
  if (a.n_cols != n) return false;
  double scale = 0.0;
  for (arma::uword i = 0; i < n; ++i) scale = std::max(scale, std::fabs(a(i, i)));
  // Pivots this far below the largest diagonal entry are rounding noise of
  // an exactly singular matrix.
  const double floor = 1e-11 * scale;
  arma::mat L(n, n, arma::fill::zeros);
  for (arma::uword j = 0; j < n; ++j) {
    double d = a(j, j);
    for (arma::uword k = 0; k < j; ++k) d -= L(j, k) * L(j, k);
    if (!(d > floor) || !std::isfinite(d)) return false;
    L(j, j) = std::sqrt(d);
    for (arma::uword i = j + 1; i < n; ++i) {
      double v = a(i, j);
      for (arma::uword k = 0; k < j; ++k) v -= L(i, k) * L(j, k);
      L(i, j) = v / L(j, j);
    }
  }
  // M = L^-1 (lower triangular) column by column, then a^-1 = M' M; plain
  // loops keep the core free of BLAS/LAPACK.
  arma::mat M(n, n, arma::fill::zeros);
  for (arma::uword c = 0; c < n; ++c)
    for (arma::uword i = c; i < n; ++i) {
      double v = i == c ? 1.0 : 0.0;
      for (arma::uword k = c; k < i; ++k) v -= L(i, k) * M(k, c);
      M(i, c) = v / L(i, i);
    }
  arma::mat inv(n, n);
  for (arma::uword i = 0; i < n; ++i)
    for (arma::uword j = 0; j <= i; ++j) {
      double v = 0.0;
      for (arma::uword k = i; k < n; ++k) v += M(k, i) * M(k, j);
      inv(i, j) = inv(j, i) = v;
    }
  *out = std::move(inv);
  return true;
}

void logistic_fit_cpp(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                      const std::vector<uli>* vn, const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                      std::vector<std::string>* vchannels, std::vector<double>* vindex,
                      double* mean_index, std::vector<double>* vcoeff) {
  LogisticFitInfo info;
  logistic_fit_info(vy, vc, vn, cha_sep, mp_channels, vchannels, vindex, mean_index,
                    vcoeff != nullptr ? &info : nullptr);
  if (vcoeff != nullptr) *vcoeff = std::move(info.vcoeff);
}

void logistic_fit_info(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                       const std::vector<uli>* vn, const std::string* cha_sep,
                       std::map<std::string, uli>* mp_channels, std::vector<std::string>* vchannels,
                       std::vector<double>* vindex, double* mean_index, LogisticFitInfo* info) {
  check_lengths(*vy, *vc, *vn);
  const char sep = first_char(*cha_sep, "cha_sep");
  ll_data_t_cj data;
  encode_paths(*vy, *vc, *vn, sep, mp_channels, vchannels, &data);
  const uli nchannels = data.nchannels;
  ll_data_parse(&data);   // throws when npaths is 0
  const std::vector<uli> vtouch = touch_counts(data);

  arma::vec coeff(nchannels, arma::fill::zeros);
  optim::algo_settings_t settings;
  settings.gd_settings.method = optim::kMethodAdam;
  // The last iterate is used either way.
  const bool converged = optim::gd(coeff, ll_fn_cj, &data, &settings);

  const uli K = nchannels - 1;
  vindex->assign(K, 0.0);
  for (uli j = 1; j <= K; ++j) (*vindex)[j - 1] = std::exp(coeff[0] + coeff[j]);

  vchannels->erase(vchannels->begin());
  mp_channels->clear();
  for (uli k = 0; k < K; ++k) (*mp_channels)[(*vchannels)[k]] = k;

  const double np = static_cast<double>(data.npaths);
  double mean = 0.0;
  for (uli k = 0; k < K; ++k) mean += static_cast<double>(vtouch[k]) * (*vindex)[k] / np;
  *mean_index = mean;
  if (info == nullptr) return;
  info->vcoeff.assign(coeff.begin(), coeff.end());
  info->iterations = settings.opt_iter;
  info->converged = converged;
  // The objective is the mean over journeys: scale back to sums.
  arma::vec grad;
  arma::mat hess;
  const double obj = ll_fn_whess_cj(coeff, &grad, &hess, &data);
  info->nobs = data.npaths;
  info->loglik = -obj * np;
  info->gradient_norm = std::sqrt(arma::accu(arma::square(grad)));
  info->information = hess * np;
  if (!spd_inverse(info->information, &info->vcov))
    info->vcov.set_size(nchannels, nchannels), info->vcov.fill(arma::datum::nan);
}

namespace {

// The unique paths of one refit: the structure of the encoded paths with
// this refit's summed counts, and the unique paths that have any.
struct RefitData {
  const uint32_t* idx;
  const std::vector<LogisticRefitScratch::Row>* active;
  uli nchannels;
  uli npaths;
};

// ll_fn_cj over the active unique paths only; with grad_out it fills the
// gradient alone and returns 0, as Adam steps on the gradient and reads the
// objective only at the end. A path without conversions and nulls adds
// exactly +0.0 to the objective and to every gradient entry there (neither
// is ever -0.0), so leaving it out keeps every sum, in the same order, bit
// for bit.
double ll_fn_refit(const arma::vec& vals_inp, arma::vec* grad_out, void* opt_data) {
  const RefitData* d = static_cast<const RefitData*>(opt_data);
  const uli nchannels = d->nchannels;
  if (vals_inp.n_elem != nchannels)
    throw std::invalid_argument("logistic regression: " + std::to_string(vals_inp.n_elem) +
                                " coefficients for " + std::to_string(nchannels) + " channels");
  const double np = static_cast<double>(d->npaths);
  if (grad_out != nullptr) grad_out->zeros(nchannels);
  const double* beta = vals_inp.memptr();
  const uint32_t* idx = d->idx;
  double obj = 0.0;
  for (const LogisticRefitScratch::Row& row : *d->active) {
    const uint32_t* first = idx + row.first;
    const uint32_t* last = idx + row.last;
    double s = 0.0;
    for (const uint32_t* t = first; t != last; ++t) s += beta[*t];
    const double c = static_cast<double>(row.c), n = static_cast<double>(row.n);
    const double e = std::exp(-std::fabs(s));
    if (grad_out == nullptr) {
      const double l1pe = std::log1p(e);
      double term = 0.0;
      if (row.c > 0) term += c * ((s < 0 ? -s : 0.0) + l1pe) / np;
      if (row.n > 0) term += n * ((s > 0 ? s : 0.0) + l1pe) / np;
      obj += term;
    } else {
      const double sig = s >= 0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
      double g = 0.0;
      if (row.c > 0) g += c * (sig - 1.0) / np;
      if (row.n > 0) g += n * sig / np;
      double* gp = grad_out->memptr();
      for (const uint32_t* t = first; t != last; ++t) gp[*t] += g;
    }
  }
  return obj;
}

// The mean gradient and Hessian of ll_fn_refit at beta (hess n x n,
// column-major), the same per-path terms.
void ll_refit_whess(const RefitData& d, const arma::vec& beta, arma::vec* grad,
                    arma::mat* hess) {
  const uli n = d.nchannels;
  const double np = static_cast<double>(d.npaths);
  grad->zeros(n);
  hess->zeros(n, n);
  double* gp = grad->memptr();
  double* hp = hess->memptr();
  const double* b = beta.memptr();
  for (const LogisticRefitScratch::Row& row : *d.active) {
    const uint32_t* first = d.idx + row.first;
    const uint32_t* last = d.idx + row.last;
    double s = 0.0;
    for (const uint32_t* t = first; t != last; ++t) s += b[*t];
    const double c = static_cast<double>(row.c), m = static_cast<double>(row.n);
    const double e = std::exp(-std::fabs(s));
    const double sig = s >= 0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
    double g = 0.0;   // as ll_fn_refit, so the tolerance means the same
    if (row.c > 0) g += c * (sig - 1.0) / np;
    if (row.n > 0) g += m * sig / np;
    const double w = (c + m) * sig * (1.0 - sig) / np;
    for (const uint32_t* t = first; t != last; ++t) {
      gp[*t] += g;
      for (const uint32_t* u = first; u != last; ++u) hp[*t * n + *u] += w;
    }
  }
}

// Newton's method on the refit's likelihood from *coeff to the gradient
// tolerance tol; false when it does not get there. Coefficients no path
// with counts touches have no curvature: they keep the optimiser's
// starting value 0, and the solve runs on the others.
bool newton_refit(const RefitData& d, double tol, arma::vec* coeff) {
  constexpr int kMaxSteps = 25;   // from a nearby optimum a handful suffice
  const uli n = d.nchannels;
  std::vector<char> touched(n, 0);
  for (const LogisticRefitScratch::Row& row : *d.active)
    for (uint32_t k = row.first; k < row.last; ++k) touched[d.idx[k]] = 1;
  for (uli j = 0; j < n; ++j)
    if (!touched[j]) (*coeff)[j] = 0.0;
  arma::vec grad;
  arma::mat h, inv;
  for (int step = 0;; ++step) {
    ll_refit_whess(d, *coeff, &grad, &h);
    const double err = optim::norm2(grad);
    if (!std::isfinite(err)) return false;
    if (err <= tol) return true;
    if (step == kMaxSteps) return false;
    // An untouched coefficient's row and column are 0 and so is its
    // gradient: a 1 on the diagonal keeps the matrix invertible, no step.
    for (uli j = 0; j < n; ++j)
      if (!touched[j]) h(j, j) = 1.0;
    if (!spd_inverse(h, &inv)) return false;
    for (uli a = 0; a < n; ++a) {
      double v = 0.0;
      for (uli b = 0; b < n; ++b) v += inv(a, b) * grad[b];
      (*coeff)[a] -= v;
    }
    if (!coeff->is_finite()) return false;
  }
}

}  // namespace

LogisticPaths logistic_paths(const std::vector<std::string>& vy, const std::string& cha_sep) {
  const char sep = first_char(cha_sep, "cha_sep");
  LogisticPaths e;
  std::map<std::string, uli> mp_channels;
  const std::vector<uli> zeros(vy.size(), 0);
  encode_paths(vy, zeros, zeros, sep, &mp_channels, &e.vchannels, &e.codes, &e.path_code);
  // Structure only: npaths stays 0 here, so the parse would refuse it.
  e.codes.npaths = 1;
  e.codes.vc.assign(e.codes.vy.size(), 0);
  e.codes.vn.assign(e.codes.vy.size(), 0);
  ll_data_parse(&e.codes);
  e.codes.npaths = 0;
  if (e.codes.vidx.size() > UINT32_MAX)
    throw std::invalid_argument("logistic regression: " + std::to_string(e.codes.vidx.size()) +
                                " touch points in distinct paths, more than a refit indexes");
  e.idx32.assign(e.codes.vidx.begin(), e.codes.vidx.end());
  e.vchannels.erase(e.vchannels.begin());

  // The touch points as the path attribution groups them: by dictionary
  // index, distinct channels in order of first occurrence.
  e.tp_start.assign(1, 0);
  e.slot_start.assign(1, 0);
  for (size_t i = 0; i < vy.size(); ++i) {
    const uli u = e.path_code[i];
    if (u != LogisticPaths::kNoCode) {
      const size_t first_slot = e.slot_channel.size();
      for (uli k = e.codes.vstart[u] + 1; k < e.codes.vstart[u + 1]; ++k) {
        const uli ch = e.codes.vidx[k] - 1;
        size_t id = first_slot;
        while (id < e.slot_channel.size() && e.slot_channel[id] != ch) ++id;
        if (id == e.slot_channel.size()) {
          e.slot_channel.push_back(ch);
          e.slot_count.push_back(0);
        }
        ++e.slot_count[id];
        e.tp_channel.push_back(ch);
        e.tp_slot.push_back(id - first_slot);
      }
    }
    e.tp_start.push_back(e.tp_channel.size());
    e.slot_start.push_back(e.slot_channel.size());
  }
  return e;
}

void logistic_refit(const LogisticPaths& e, const std::vector<uli>& vc,
                    const std::vector<uli>& vn, LogisticRefitScratch* w,
                    std::vector<double>* convs, const std::vector<double>* start) {
  const size_t npath = e.path_code.size();
  if (vc.size() != npath || (!vn.empty() && vn.size() != npath))
    throw std::invalid_argument("logistic regression: counts for " + std::to_string(vc.size()) +
                                " paths, " + std::to_string(npath) + " encoded");
  const size_t ncode = e.codes.vy.size();
  w->vc.assign(ncode, 0);
  w->vn.assign(ncode, 0);
  uli npaths = 0;
  for (size_t i = 0; i < npath; ++i) {
    const uli u = e.path_code[i];
    if (u == LogisticPaths::kNoCode) continue;
    const uli c = vc[i], n = vn.empty() ? 0 : vn[i];
    w->vc[u] = add_count(w->vc[u], c, i);
    w->vn[u] = add_count(w->vn[u], n, i);
    npaths = add_count(npaths, add_count(c, n, i), i);
  }
  if (npaths == 0)
    throw std::invalid_argument("logistic regression: npaths is 0 (no journey with touch points "
                                "has a conversion or a null), nothing to fit");
  w->active.clear();
  for (size_t u = 0; u < ncode; ++u)
    if (w->vc[u] > 0 || w->vn[u] > 0)
      w->active.push_back({static_cast<uint32_t>(e.codes.vstart[u]),
                           static_cast<uint32_t>(e.codes.vstart[u + 1]), w->vc[u], w->vn[u]});

  const uli nchannels = e.codes.nchannels;
  RefitData data{e.idx32.data(), &w->active, nchannels, npaths};
  optim::algo_settings_t settings;
  settings.gd_settings.method = optim::kMethodAdam;
  if (start != nullptr && start->size() != nchannels)
    throw std::invalid_argument("logistic regression: " + std::to_string(start->size()) +
                                " starting coefficients for " + std::to_string(nchannels));
  arma::vec coeff;
  if (start != nullptr) coeff = arma::vec(*start);
  if (start == nullptr || !newton_refit(data, settings.grad_err_tol, &coeff)) {
    coeff.zeros(nchannels);
    optim::gd(coeff, ll_fn_refit, &data, &settings);
  }

  const uli K = nchannels - 1;
  w->vindex.assign(K, 0.0);
  for (uli j = 1; j <= K; ++j) w->vindex[j - 1] = std::exp(coeff[0] + coeff[j]);
  // Every channel of these paths is in the dictionary, so the mean index
  // (the weight of unknown channels) does not enter the totals.

  // Path attribution, path by path and touch point by touch point.
  convs->assign(K, 0.0);
  double* loc = convs->data();
  const double* vindex = w->vindex.data();
  for (size_t i = 0; i < npath; ++i) {
    if (vc[i] == 0) continue;
    const uli s0 = e.slot_start[i], s1 = e.slot_start[i + 1];
    if (s0 == s1) continue;
    double tot_index = 0;
    for (uli id = s0; id < s1; ++id) tot_index += vindex[e.slot_channel[id]];
    const double cv = static_cast<double>(vc[i]);
    for (uli k = e.tp_start[i]; k < e.tp_start[i + 1]; ++k) {
      const uli id = s0 + e.tp_slot[k];
      const double wk = vindex[e.slot_channel[id]];
      const double m = static_cast<double>(e.slot_count[id]);
      loc[e.tp_channel[k]] += cv * wk / tot_index / m;
    }
  }
}
