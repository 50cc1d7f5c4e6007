#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>

#include "hta/hta.h"
#include "shapley/shapley.h"

namespace {

std::string progress(const char* what, uli s, uli nsim, uli t, uli ntime) {
  return std::string(what) + " | Simulation: " + fmt_lu(s + 1) + "/" + fmt_lu(nsim) +
         "; Time: " + fmt_lu(t + 1) + "/" + fmt_lu(ntime);
}

std::string channel_progress(const char* what, uli s, uli nsim, uli t, uli ntime, uli k,
                             uli nchannels) {
  return progress(what, s, nsim, t, ntime) + "; Channel: " + fmt_lu(k + 1) + "/" +
         fmt_lu(nchannels);
}

void check_probabilities(const std::vector<double>& v, const char* name) {
  for (size_t k = 0; k < v.size(); ++k)
    if (!(v[k] >= 0 && v[k] <= 1))
      throw std::invalid_argument(std::string(name) + "[" + std::to_string(k + 1) +
                                  "] must be a probability in [0, 1], not " + std::to_string(v[k]));
}

void check_size(size_t got, size_t want, const char* name, const char* of) {
  if (got != want)
    throw std::invalid_argument(std::string(name) + " has " + std::to_string(got) +
                                " entries but MT has " + std::to_string(want) + " " + of);
}

// The tables must fit MT and each other; the settings are checked between
// the shapes and the probabilities.
void check_input(const HtaInput& in, const HtaSettings& st) {
  const size_t ntime = in.MT.n_rows, nchannels = in.MT.n_cols;
  check_size(in.vc.size(), ntime, "vc", "rows (periods)");
  if (!in.vv.empty()) check_size(in.vv.size(), ntime, "vv", "rows (periods)");
  check_size(in.vctr.size(), nchannels, "vctr", "columns (channels)");
  check_size(in.vadstock.size(), nchannels, "vadstock", "columns (channels)");
  st.validate();
  if (st.cr != 0 || !in.vcr.empty()) check_size(in.vcr.size(), nchannels, "vcr", "columns (channels)");
  check_probabilities(in.vcr, "vcr");
  check_probabilities(in.vctr, "vctr");
  check_probabilities(in.vadstock, "vadstock");
  // Every simulation keeps its attribution of every period (and its curve)
  // until the means and medians are taken.
  const double per_sim = static_cast<double>(ntime) * static_cast<double>(nchannels) +
                         (st.flg_roc == 1 ? 2.0 * static_cast<double>(st.roc_npt) : 0.0);
  if (static_cast<double>(st.nsim) * per_sim > static_cast<double>(kHtaMaxKeptValues))
    throw std::invalid_argument("nsim = " + fmt_lu(st.nsim) + " simulations would keep more than " +
                                fmt_lu(kHtaMaxKeptValues) +
                                " results in memory: lower nsim (or roc_npt)");
}

double draw_uniform() { return gb::uniform(gb::engine); }

// Every simulated journey of a period is held in memory at once.
void check_journey_count(uli nconvs, uli nnulls, uli t) {
  if (nconvs > kHtaMaxJourneys || nnulls > kHtaMaxJourneys - nconvs)
    throw std::invalid_argument(
        "period " + fmt_lu(t + 1) + " would need " + fmt_lu(nconvs) + " converting and " +
        fmt_lu(nnulls) + " non-converting journeys, more than " + fmt_lu(kHtaMaxJourneys) +
        " in all: vc is too large or cr too small for the traffic in MT");
}

// A cell may hold any number of traffic units; the per-unit loops look for
// a user interrupt this often so that a huge cell can still be stopped.
constexpr uli kUnitsPerInterruptCheck = uli{1} << 20;

}  // namespace

// The value gb::uniform draws from a 32-bit Mersenne Twister (two words,
// low word first, scaled by 2^-64, kept below 1), spelt out so that the
// per-unit loops inline it; they run on a local copy of gb::engine, copied
// back afterwards, so the sequence of draws is unchanged.
double hta_canonical(std::mt19937& g) {
  const double lo = static_cast<double>(g());
  const double hi = static_cast<double>(g());
  const double r = (lo + hi * 4294967296.0) * (1.0 / kTwo64);
  return r < 1.0 ? r : std::nextafter(1.0, 0.0);
}

namespace {

// Lags of the units of one cell; true: the unit lands inside the series.
void spread_cell(std::mt19937& g, uli units, uli t, double rate,
                                          double room, std::vector<uli>& vk) {
  for (uli unit = units; unit > 0; --unit) {
    if (unit % kUnitsPerInterruptCheck == 0) check_interrupt();
    const double u = hta_canonical(g);
    const double e = -std::log(1.0 - hta_canonical(g)) / rate;
    const double lag = std::floor(std::floor(e) + u);
    if (lag < room) ++vk[t + static_cast<uli>(lag)];
  }
}

// Carry-over: part of each period's traffic moves to the next period,
// where it can carry over again.
void carry_over(arma::Mat<uli>& MT1, const std::vector<double>& vadstock,
                std::binomial_distribution<uli>& binom, uli s, uli nsim, int verbose) {
  const uli ntime = MT1.n_rows, nchannels = MT1.n_cols;
  using param = std::binomial_distribution<uli>::param_type;
  for (uli t = 0; t < ntime; ++t) {
    for (uli k = 0; k < nchannels; ++k) {
      if (verbose == 1)
        printA(channel_progress("Move Traffic part 1:", s, nsim, t, ntime, k, nchannels));
      binom.param(param(MT1(t, k), vadstock[k]));
      const uli x = binom(gb::engine);
      if (t + 1 < ntime) MT1(t + 1, k) += x;
    }
    check_interrupt();
  }
}

// Spread in time: every unit of traffic lands an exponential lag later;
// units that land after the last period are dropped.
void spread(arma::Mat<uli>& MT1, double mean_cj_length, uli s, uli nsim, int verbose) {
  const uli ntime = MT1.n_rows, nchannels = MT1.n_cols;
  const double rate = 2.0 / mean_cj_length;
  std::vector<uli> vk(ntime);
  for (uli k = 0; k < nchannels; ++k) {
    std::fill(vk.begin(), vk.end(), 0);
    for (uli t = 0; t < ntime; ++t) {
      if (verbose == 1)
        printA(channel_progress("Move Traffic part 2:", s, nsim, t, ntime, k, nchannels));
      std::mt19937 g = gb::engine;
      spread_cell(g, MT1(t, k), t, rate, static_cast<double>(ntime - t), vk);
      gb::engine = g;
      check_interrupt();
    }
    for (uli t = 0; t < ntime; ++t) MT1(t, k) = vk[t];
  }
}

// Simulated journeys of one period: channel indices in increasing order.
struct Journeys {
  std::vector<std::string> path;
  std::vector<uli> last;   // last channel + 1 recorded in each journey; 0: none

  void reset(uli n) {
    path.assign(n, std::string());
    last.assign(n, 0);
  }
  void record(uli j, uli k) {
    if (last[j] == k + 1) return;   // channels come in increasing order
    if (last[j] != 0) path[j].push_back(' ');
    append_lu(path[j], k);
    last[j] = k + 1;
  }
};

uli pick(double u, uli n) {
  uli j = static_cast<uli>(u * static_cast<double>(n));
  return j < n ? j : n - 1;
}

// The units of one channel in one period: a unit is a touch with
// probability ctr; a touch converts with probability p and joins a random
// converting journey, otherwise (when non-converting journeys are kept) a
// random non-converting one. Without non-converting journeys such a touch
// has nowhere to go and is dropped.
void touch_cell(std::mt19937& g, uli units, uli k, double ctr, double p,
                                         bool record_nulls, Journeys& conv_j, Journeys& null_j) {
  const uli nconvs = conv_j.path.size(), nnulls = null_j.path.size();
  for (uli unit = units; unit > 0; --unit) {
    if (unit % kUnitsPerInterruptCheck == 0) check_interrupt();
    if (hta_canonical(g) > ctr) continue;
    if (hta_canonical(g) <= p) {
      conv_j.record(pick(hta_canonical(g), nconvs), k);
    } else if (record_nulls) {
      const double u3 = hta_canonical(g);
      if (nnulls > 0) null_j.record(pick(u3, nnulls), k);
    }
  }
}

// Counts of converting and non-converting journeys per path key.
struct RocCounts {
  std::map<std::string, std::pair<double, double>> train, test;   // (convs, nulls)
  double convs = 0, nulls = 0;
};

double median(std::vector<double> v) {
  if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The curve of one simulation: each test key is scored with the training
// conversion rate of its key (the overall training rate for keys seen
// only in the test share); thresholds h / roc_npt, trapezoid rule.
double roc_curve(const RocCounts& rc, int flg_type_roc, uli roc_npt, std::vector<double>* y,
                 std::vector<double>* x) {
  double tc_all = 0, tn_all = 0;
  for (const auto& kv : rc.train) {
    tc_all += kv.second.first;
    tn_all += kv.second.second;
  }
  const double base = tc_all / (tc_all + tn_all);
  std::vector<std::pair<double, std::pair<double, double>>> scored;
  for (const auto& kv : rc.test) {
    auto it = rc.train.find(kv.first);
    double p = base;
    if (it != rc.train.end() && it->second.first + it->second.second > 0)
      p = it->second.first / (it->second.first + it->second.second);
    scored.push_back({p, kv.second});
  }
  double x_old = 1, y_old = flg_type_roc == 0 ? 1 : 0, area = 0;
  y->clear();
  x->clear();
  for (uli h = 1; h <= roc_npt; ++h) {
    if (h % 1024 == 0) check_interrupt();
    const double th = static_cast<double>(h) / static_cast<double>(roc_npt);
    double tp = 0, fp = 0, tn = 0, fn = 0;
    for (const auto& sc : scored) {
      if (sc.first > th) {
        tp += sc.second.first;
        fp += sc.second.second;
      } else {
        fn += sc.second.first;
        tn += sc.second.second;
      }
    }
    const double tpr = tp + fn == 0 ? 1 : tp / (tp + fn);
    const double fpr = fp + tn == 0 ? 0 : fp / (fp + tn);
    const double ppv = tp + fp == 0 ? 1 : tp / (tp + fp);
    const double xn = flg_type_roc == 0 ? fpr : tpr, yn = flg_type_roc == 0 ? tpr : ppv;
    area += (x_old - xn) * (y_old + yn) / 2;
    x_old = xn;
    y_old = yn;
    y->push_back(yn);
    x->push_back(xn);
  }
  return area;
}

}  // namespace

std::string unique_and_sort_path(const std::string& path) {
  std::vector<uli> idx = split2(path, ' ');
  std::sort(idx.begin(), idx.end());
  idx.erase(std::unique(idx.begin(), idx.end()), idx.end());
  std::string out;
  for (uli k : idx) {
    out.push_back(' ');
    append_lu(out, k);
  }
  return out;
}

double corr_sprm(const arma::vec& vy, const arma::vec& vx) {
  auto ranks = [](const arma::vec& v) {
    arma::uvec order = arma::stable_sort_index(v, "ascend");
    std::map<sli, std::pair<double, double>> by_key;   // floor(value) -> (rank sum, count)
    for (arma::uword k = 0; k < order.n_elem; ++k) {
      auto& e = by_key[static_cast<sli>(std::floor(v(order(k))))];
      e.first += static_cast<double>(k + 1);
      e.second += 1;
    }
    arma::vec r(v.n_elem);
    for (arma::uword i = 0; i < v.n_elem; ++i) {
      const auto& e = by_key[static_cast<sli>(std::floor(v(i)))];
      r(i) = e.first / e.second;
    }
    return r;
  };
  if (vy.n_elem != vx.n_elem)
    throw std::invalid_argument("corr_sprm: series of lengths " + std::to_string(vy.n_elem) +
                                " and " + std::to_string(vx.n_elem));
  if (vy.n_elem < 2) return std::numeric_limits<double>::quiet_NaN();
  const arma::vec ry = ranks(vy), rx = ranks(vx);
  const double my = arma::mean(ry), mx = arma::mean(rx);
  double sxy = 0, sxx = 0, syy = 0;
  for (arma::uword i = 0; i < ry.n_elem; ++i) {
    sxy += (ry(i) - my) * (rx(i) - mx);
    syy += (ry(i) - my) * (ry(i) - my);
    sxx += (rx(i) - mx) * (rx(i) - mx);
  }
  return sxy / std::sqrt(sxx * syy);
}

namespace {

// The arguments of one run, checked.
struct HtaArgs {
  const std::vector<uli>& vc;
  const std::vector<double>& vv;
  const arma::Mat<uli>& MT;
  double cr;
  const std::vector<double>& vcr;
  const std::vector<double>& vctr;
  double mean_cj_length;
  const std::vector<double>& vadstock;
  uli nsim;
  int type_worth;
  bool verbose;
  bool with_roc;
  int flg_type_roc;
  double perc_test;
  uli roc_npt;
  uli ntime, nchannels;
  bool estimate_cr;
  bool record_nulls;
};

// What a simulation knows of each period and channel before it builds
// journeys: journeys per period, conversion rate per period, and the
// factor by which a channel's touches convert more or less than the rate.
struct PeriodRates {
  std::vector<uli> vnpaths;
  std::vector<double> cr1, vfatt;
};

// The ROC curve of every simulation, kept until the medians are taken.
struct RocRuns {
  std::vector<std::vector<double>> Mvy, Mvx;
  std::vector<double> vauc, vcr_glob;
};

// Buffers of one period, reused across periods.
struct PeriodScratch {
  Journeys conv_j, null_j;
  std::vector<std::string> svy;
  std::vector<uli> svc;
};

// With a given rate, vc[t] converting journeys among vc[t] / cr in all.
std::vector<uli> journeys_at_rate(const HtaArgs& h) {
  std::vector<uli> vnpaths(h.ntime, 0);
  if (h.estimate_cr) return vnpaths;
  for (uli t = 0; t < h.ntime; ++t) {
    const double n = static_cast<double>(h.vc[t]) / h.cr;
    if (!(n < kTwo64))
      throw std::invalid_argument("cr = " + std::to_string(h.cr) + " is too small for " +
                                  std::to_string(h.vc[t]) + " conversions in period " +
                                  std::to_string(t + 1));
    vnpaths[t] = static_cast<uli>(n);
  }
  return vnpaths;
}

std::vector<double> traffic_per_period(const arma::Mat<uli>& MT1) {
  std::vector<double> total(MT1.n_rows, 0.0);
  for (uli t = 0; t < MT1.n_rows; ++t)
    for (uli k = 0; k < MT1.n_cols; ++k) total[t] += static_cast<double>(MT1(t, k));
  return total;
}

// Journeys per period as half the expected touches, and the conversion
// rate they give over the whole series.
double estimate_rate(const HtaArgs& h, const arma::Mat<uli>& MT1, PeriodRates* pr) {
  double sum_c = 0, sum_paths = 0;
  for (uli t = 0; t < h.ntime; ++t) {
    double touches = 0;
    for (uli k = 0; k < h.nchannels; ++k) touches += static_cast<double>(MT1(t, k)) * h.vctr[k];
    pr->vnpaths[t] = static_cast<uli>(0.5 * touches);
    sum_c += static_cast<double>(h.vc[t]);
    sum_paths += static_cast<double>(pr->vnpaths[t]);
  }
  double rate = sum_c / sum_paths;
  if (h.verbose) printA("Estimated global conversion rate = " + f_print_perc(rate) + "%");
  // The rate is capped on purpose, although the conversions stay as they
  // are. Above one half the traffic is too thin for the conversions (fewer
  // than two journeys per conversion), and the rate becomes the chance that
  // a touch converts once a channel's factor multiplies it: the factor is
  // at most 2 whenever the total traffic does not move against the
  // conversions, so a rate of one half keeps every such touch a
  // probability and leaves, on average, at least half the journeys
  // non-converting for the channels to be told apart on.
  if (rate > 0.5) {
    rate = 0.5;
    if (h.verbose) printA("Conversion rate has been reduced to = " + f_print_perc(rate) + "%");
  }
  return rate;
}

// Channel factors from rank correlations of period-to-period changes:
// element t - 1 of each difference series is x[t] - x[t - 1]. A factor
// that is not a number keeps its previous value.
void channel_factors(const HtaArgs& h, const arma::Mat<uli>& MT1,
                     const std::vector<double>& traffic, std::vector<double>* vfatt) {
  if (h.ntime < 2) return;
  arma::vec dconv(h.ntime - 1), dtot(h.ntime - 1), dk(h.ntime - 1);
  for (uli t = 1; t < h.ntime; ++t) {
    dconv(t - 1) = static_cast<double>(h.vc[t]) - static_cast<double>(h.vc[t - 1]);
    dtot(t - 1) = traffic[t] - traffic[t - 1];
  }
  const double corr_glob = (corr_sprm(dconv, dtot) + 1) * 0.5;
  for (uli k = 0; k < h.nchannels; ++k) {
    for (uli t = 1; t < h.ntime; ++t)
      dk(t - 1) = static_cast<double>(MT1(t, k)) - static_cast<double>(MT1(t - 1, k));
    const double f = ((corr_sprm(dconv, dk) + 1) * 0.5) / corr_glob;
    if (std::isfinite(f)) (*vfatt)[k] = f;
  }
}

// The journeys of period t in sc->conv_j / sc->null_j.
void build_journeys(const HtaArgs& h, const arma::Mat<uli>& MT1, const PeriodRates& pr, uli t,
                    std::binomial_distribution<uli>& binom, PeriodScratch* sc) {
  using bparam = std::binomial_distribution<uli>::param_type;
  const uli nconvs = h.vc[t];
  binom.param(bparam(pr.vnpaths[t], 1 - pr.cr1[t]));
  const uli nnulls = binom(gb::engine);
  check_journey_count(nconvs, nnulls, t);
  sc->conv_j.reset(nconvs);
  sc->null_j.reset(nnulls);
  for (uli k = 0; k < h.nchannels; ++k) {
    const double p = h.estimate_cr ? pr.cr1[t] * pr.vfatt[k] : h.vcr[k];
    std::mt19937 g = gb::engine;
    touch_cell(g, MT1(t, k), k, h.vctr[k], p, h.record_nulls, sc->conv_j, sc->null_j);
    gb::engine = g;
    check_interrupt();
  }
}

// The journeys that got a touch, converting ones first; returns how many
// convert.
size_t touched_journeys(PeriodScratch* sc) {
  sc->svy.clear();
  sc->svc.clear();
  auto add = [sc](const Journeys& js, uli conv) {
    for (const std::string& path : js.path)
      if (!path.empty()) {
        sc->svy.push_back(path);
        sc->svc.push_back(conv);
      }
  };
  add(sc->conv_j, 1);
  const size_t n_converting = sc->svy.size();
  add(sc->null_j, 0);
  return n_converting;
}

// Every journey goes to the test share with probability perc_test.
void count_for_roc(double perc_test, const PeriodScratch& sc, RocCounts* rc) {
  for (size_t j = 0; j < sc.svy.size(); ++j) {
    const bool test = draw_uniform() <= perc_test;
    auto& counts = (test ? rc->test : rc->train)[unique_and_sort_path(sc.svy[j])];
    (sc.svc[j] ? counts.first : counts.second) += 1;
    (sc.svc[j] ? rc->convs : rc->nulls) += 1;
  }
}

// The simplified Shapley attribution of the period's journeys into row s
// of Vattr_t. Global mode hands back Shapley totals; the other modes the
// totals of their final path attribution.
void attribute_period(const HtaArgs& h, const PeriodScratch& sc, uli s, arma::mat* Vattr_t) {
  JourneySource src = vector_source(&sc.svy, &sc.svc, nullptr, nullptr);
  src.field_sep = ";";
  ShapleySettings settings;
  settings.cha_sep = " ";
  settings.flg_simplified = 1;
  settings.type_worth = h.type_worth;
  const ShapleyResult r = shapley_run(src, settings);
  const std::vector<double>& attr = h.type_worth == 0 ? r.vattr_convs_glob : r.vattr_convs_loc;
  for (size_t q = 0; q < r.vchannels.size(); ++q) (*Vattr_t)(s, std::stoul(r.vchannels[q])) = attr[q];
}

// One simulation: traffic carried over and spread in time, then every
// period's journeys, attributed into row s of Vattr.
void simulate(const HtaArgs& h, uli s, std::binomial_distribution<uli>& binom, PeriodRates* pr,
              PeriodScratch* sc, std::vector<arma::mat>* Vattr, RocRuns* roc) {
  arma::Mat<uli> MT1 = h.MT;
  carry_over(MT1, h.vadstock, binom, s, h.nsim, h.verbose ? 1 : 0);
  spread(MT1, h.mean_cj_length, s, h.nsim, h.verbose ? 1 : 0);
  const std::vector<double> traffic = traffic_per_period(MT1);
  if (h.estimate_cr) {
    const double rate = estimate_rate(h, MT1, pr);
    std::fill(pr->cr1.begin(), pr->cr1.end(), rate);
    channel_factors(h, MT1, traffic, &pr->vfatt);
  }
  RocCounts rc;
  for (uli t = 0; t < h.ntime; ++t) {
    if (!(traffic[t] > 0) || h.vc[t] == 0) continue;
    if (h.verbose) printA(progress("Generate Paths", s, h.nsim, t, h.ntime));
    build_journeys(h, MT1, *pr, t, binom, sc);
    const size_t n_converting = touched_journeys(sc);
    if (h.with_roc) count_for_roc(h.perc_test, *sc, &rc);
    if (n_converting > 0) attribute_period(h, *sc, s, &(*Vattr)[t]);
  }
  if (!h.with_roc) return;
  if (h.verbose) printA("Generate ROC");
  std::vector<double> y, x;
  roc->vauc.push_back(roc_curve(rc, h.flg_type_roc, h.roc_npt, &y, &x));
  roc->Mvy.push_back(y);
  roc->Mvx.push_back(x);
  roc->vcr_glob.push_back(rc.convs / (rc.convs + rc.nulls));
}

// Means over simulations, and the value of a period shared like its
// conversions.
void mean_attribution(const HtaArgs& h, const std::vector<arma::mat>& Vattr, arma::mat* Mattr_out,
                      arma::mat* Mattr_value_out) {
  Mattr_out->zeros(h.ntime, h.nchannels);
  for (uli t = 0; t < h.ntime; ++t) Mattr_out->row(t) = arma::mean(Vattr[t], 0);
  Mattr_value_out->reset();
  if (h.vv.empty()) return;
  Mattr_value_out->zeros(h.ntime, h.nchannels);
  // A period without conversions has no value per conversion: its row stays 0.
  for (uli t = 0; t < h.ntime; ++t)
    if (h.vc[t] > 0)
      Mattr_value_out->row(t) = Mattr_out->row(t) / static_cast<double>(h.vc[t]) * h.vv[t];
}

// The curve as the pointwise median over simulations, and the median area.
void median_curve(const HtaArgs& h, const RocRuns& roc, std::vector<double>* vy,
                  std::vector<double>* vx, double* auc) {
  for (uli p = 0; p < h.roc_npt; ++p) {
    std::vector<double> cy, cx;
    for (uli s = 0; s < h.nsim; ++s) {
      cy.push_back(roc.Mvy[s][p]);
      cx.push_back(roc.Mvx[s][p]);
    }
    vy->push_back(median(cy));
    vx->push_back(median(cx));
  }
  *auc = median(roc.vauc);
  if (h.verbose) printA("ROC Global conversion rate = " + f_print_perc(median(roc.vcr_glob)) + "%");
}

}  // namespace

void HtaSettings::validate() const {
  if (!(cr >= 0 && cr <= 1))
    throw std::invalid_argument("cr must be 0 (estimate it) or a probability in (0, 1], not " +
                                std::to_string(cr));
  if (nsim == 0) throw std::invalid_argument("nsim must be at least 1");
  if (!(mean_cj_length > 0) || !std::isfinite(mean_cj_length))
    throw std::invalid_argument("mean_cj_length must be positive, not " +
                                std::to_string(mean_cj_length));
  if (type_worth < 0 || type_worth > 4)
    throw std::invalid_argument("type_worth must be 0, 1, 2, 3 or 4, not " +
                                std::to_string(type_worth));
  if (flg_roc != 0 && flg_roc != 1)
    throw std::invalid_argument("flg_roc must be 0 or 1, not " + std::to_string(flg_roc));
  if (flg_roc == 1) {
    if (flg_type_roc != 0 && flg_type_roc != 1)
      throw std::invalid_argument("flg_type_roc must be 0 (ROC) or 1 (precision-recall), not " +
                                  std::to_string(flg_type_roc));
    if (!(perc_test >= 0 && perc_test <= 1))
      throw std::invalid_argument("perc_test must be a probability in [0, 1], not " +
                                  std::to_string(perc_test));
    if (roc_npt == 0) throw std::invalid_argument("roc_npt must be at least 1");
    // Every simulation keeps its whole curve until the medians are taken.
    if (roc_npt > kHtaMaxRocPoints)
      throw std::invalid_argument("roc_npt must be at most " + fmt_lu(kHtaMaxRocPoints) +
                                  ", not " + fmt_lu(roc_npt));
  }
}

HtaResult hta_run(const HtaInput& in, const HtaSettings& st) {
  check_input(in, st);
  const bool with_roc = st.flg_roc == 1;
  const HtaArgs h{in.vc, in.vv, in.MT, st.cr, in.vcr, in.vctr, st.mean_cj_length, in.vadstock,
                  st.nsim, st.type_worth, st.verbose == 1, with_roc, st.flg_type_roc,
                  st.perc_test, st.roc_npt, in.MT.n_rows, in.MT.n_cols, st.cr == 0,
                  st.type_worth == 1 || with_roc};
  gb::reseed(st.seed);
  std::binomial_distribution<uli> binom(1, 0.5);
  std::vector<arma::mat> Vattr(h.ntime, arma::mat(h.nsim, h.nchannels, arma::fill::zeros));
  PeriodRates pr{journeys_at_rate(h), std::vector<double>(h.ntime, h.cr),
                 std::vector<double>(h.nchannels, 1.0)};
  PeriodScratch sc;
  RocRuns roc;
  for (uli s = 0; s < h.nsim; ++s) simulate(h, s, binom, &pr, &sc, &Vattr, &roc);
  HtaResult r;
  mean_attribution(h, Vattr, &r.conversions, &r.value);
  r.auc = std::numeric_limits<double>::quiet_NaN();
  if (with_roc) median_curve(h, roc, &r.roc_y, &r.roc_x, &r.auc);
  return r;
}
