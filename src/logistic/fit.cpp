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
                  std::vector<std::string>* vchannels, ll_data_t_cj* data) {
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
    if (names.empty()) continue;
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
  optim::gd(coeff, ll_fn_cj, &data, &settings);   // the last iterate is used either way

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
