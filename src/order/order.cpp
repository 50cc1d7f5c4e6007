#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "journeys/journeys.h"
#include "order/order.h"

namespace {
constexpr uli kMaxChooseOrder = 1000;
constexpr uli kMaxFold = 1000;

constexpr uli kProgressEvery = 1000000;
constexpr uli kMaxRocNpt = 10000000;
constexpr uli kNone = ~static_cast<uli>(0);        // journey shorter than the order
constexpr uli kRoot = ~static_cast<uli>(0) - 1;    // parent of every order-1 state

// Draws one uniform per unit and counts those kept for training.
uli draw_train(uli count, double perc_test) {
  uli kept = 0;
  for (uli k = 0; k < count; ++k) {
    if ((k & 0xfffff) == 0xfffff) check_interrupt();
    if (gb::uniform(gb::engine) > perc_test) ++kept;
  }
  return kept;
}

double median_sorted(std::vector<double>& v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

}  // namespace

void choose_order_init(uli max_order, uli nfold, double perc_test, order_tables* t) {
  if (max_order == 0) throw std::invalid_argument("max_order must be at least 1");
  if (nfold == 0) throw std::invalid_argument("nfold must be at least 1");
  *t = order_tables();
  t->max_order = max_order;
  t->nfold = nfold;
  t->perc_test = perc_test;
  t->nchannels_2.assign(max_order, 0);
  t->mp_states.resize(max_order);
  t->all.resize(max_order);
  t->train.resize(max_order);
  t->vtot_convs_train.assign(nfold, 0);
  t->vtot_nulls_train.assign(nfold, 0);
  t->vconvs_train.assign(nfold, 0);
  t->vnulls_train.assign(nfold, 0);
}

void choose_order_line_cpp(const std::string* path, uli convs, uli nulls, char cha_sep,
                           order_tables* t) {
  const uli nfold = t->nfold;
  for (uli f = 0; f < nfold; ++f) {
    t->vconvs_train[f] = draw_train(convs, t->perc_test);
    t->vnulls_train[f] = draw_train(nulls, t->perc_test);
  }

  thread_local std::vector<std::string> names;
  channels_normalised(*path, cha_sep, &names);
  t->path_idx.clear();
  for (std::string& name : names) {
    std::replace(name.begin(), name.end(), ',', '|');
    auto it = t->mp_channels.try_emplace(name, t->vchannels.size()).first;
    if (it->second == t->vchannels.size()) t->vchannels.push_back(name);
    t->path_idx.push_back(it->second);
  }
  const uli len = t->path_idx.size();

  uli parent = kRoot;
  for (uli o = 0; o < t->max_order; ++o) {
    const uli step = o < len ? t->path_idx[len - 1 - o] : kNone;
    auto found = t->mp_states[o].try_emplace(std::make_pair(parent, step), t->nchannels_2[o]);
    const uli row = found.first->second;
    if (found.second) {
      ++t->nchannels_2[o];
      t->all[o].resize(2 * t->nchannels_2[o], 0);
      t->train[o].resize(2 * nfold * t->nchannels_2[o], 0);
    }
    t->all[o][2 * row] += nulls;
    t->all[o][2 * row + 1] += convs;
    uli* tr = &t->train[o][2 * nfold * row];
    for (uli f = 0; f < nfold; ++f) {
      tr[2 * f] += t->vnulls_train[f];
      tr[2 * f + 1] += t->vconvs_train[f];
    }
    parent = row;
  }
  for (uli f = 0; f < nfold; ++f) {
    t->vtot_nulls_train[f] += t->vnulls_train[f];
    t->vtot_convs_train[f] += t->vconvs_train[f];
  }
}

double choose_order_area(const order_tables& t, uli f, uli o, uli roc_npt, int flg_type) {
  if (flg_type != 0 && flg_type != 1)
    throw std::invalid_argument("flg_type must be 0 (auc-roc) or 1 (auc-prerec)");
  const uli nstate = t.nchannels_2[o], nfold = t.nfold;
  const double rate = static_cast<double>(t.vtot_convs_train[f]) /
                      static_cast<double>(t.vtot_convs_train[f] + t.vtot_nulls_train[f]);
  // Bucket every state by the number k of thresholds h / roc_npt its
  // predicted probability exceeds (strictly); the states above threshold h
  // are then the buckets k >= h, so each threshold costs O(1) instead of a
  // pass over the states. k is found from p * roc_npt and corrected with
  // the very comparison the thresholds use, so no state changes side.
  const double npt = static_cast<double>(roc_npt);
  std::vector<uli> bucket_c(roc_npt + 2, 0), bucket_n(roc_npt + 2, 0);
  for (uli i = 0; i < nstate; ++i) {
    const uli* tr = &t.train[o][2 * (nfold * i + f)];
    const uli n = tr[0], c = tr[1];
    const double p = c + n == 0 ? rate : static_cast<double>(c) / static_cast<double>(c + n);
    uli k = 0;
    if (p > 1.0 / npt) {   // false for NaN: no training data anywhere
      const double guess = std::floor(p * npt);
      k = guess >= npt ? roc_npt : static_cast<uli>(guess);
      while (k < roc_npt && p > static_cast<double>(k + 1) / npt) ++k;
      while (k > 0 && !(p > static_cast<double>(k) / npt)) --k;
    }
    bucket_n[k] += t.all[o][2 * i] - n;
    bucket_c[k] += t.all[o][2 * i + 1] - c;
  }
  // suffix sums: bucket[h] = test counts of the states above threshold h
  for (uli k = roc_npt; k-- > 0;) {
    bucket_c[k] += bucket_c[k + 1];
    bucket_n[k] += bucket_n[k + 1];
  }
  const uli total_c = bucket_c[0], total_n = bucket_n[0];

  double area = 0.0;
  double x_old = 1.0, y_old = flg_type == 0 ? 1.0 : 0.0;
  for (uli h = 1; h <= roc_npt; ++h) {
    const double tp = static_cast<double>(bucket_c[h]), fp = static_cast<double>(bucket_n[h]);
    const double fn = static_cast<double>(total_c - bucket_c[h]);
    const double tn = static_cast<double>(total_n - bucket_n[h]);
    const double tpr = tp + fn == 0 ? 1.0 : tp / (tp + fn);
    const double fpr = fp + tn == 0 ? 0.0 : fp / (fp + tn);
    const double ppv = tp + fp == 0 ? 1.0 : tp / (tp + fp);
    if (flg_type == 0) {
      const double x = fpr, y = tpr;
      area += (x_old - x) * y + 0.5 * (x_old - x) * (y_old - y);
      x_old = x;
      y_old = y;
    } else {
      const double x = tpr, y = ppv;
      area += (x_old - x) * y_old + 0.5 * (x_old - x) * (y - y_old);
      x_old = x;
      y_old = y;
    }
  }
  return area;
}

namespace {

void check_choose_order_args(uli max_order, uli nfold, uli roc_npt, int flg_type) {
  if (max_order == 0) throw std::invalid_argument("max_order must be at least 1");
  if (nfold == 0) throw std::invalid_argument("nfold must be at least 1");
  // Tables are allocated per order and per fold before any journey is read.
  if (max_order > kMaxChooseOrder)
    throw std::invalid_argument("max_order must be at most " + std::to_string(kMaxChooseOrder) + ", not " +
                                std::to_string(max_order));
  if (nfold > kMaxFold)
    throw std::invalid_argument("nfold must be at most " + std::to_string(kMaxFold) + ", not " +
                                std::to_string(nfold));
  if (roc_npt == 0) throw std::invalid_argument("roc_npt must be at least 1");
  // A finer grid than this changes no area measurably and would only
  // exhaust memory and time.
  if (roc_npt > kMaxRocNpt)
    throw std::invalid_argument("roc_npt must be at most " + group_thousands(kMaxRocNpt));
  if (flg_type != 0 && flg_type != 1)
    throw std::invalid_argument("flg_type must be 0 (auc-roc) or 1 (auc-prerec)");
}

// Every journey of src into the tables, with progress lines when talk.
void count_journeys(const JourneySource& src, char sep, bool talk, order_tables* t) {
  JourneyReader reader(src);
  uli total_convs = 0, total_nulls = 0, njourneys = 0;
  while (reader.next()) {
    const uli i = reader.index();
    if ((i & 0xfff) == 0) check_interrupt();
    choose_order_line_cpp(&reader.path(), reader.conv(), reader.nulls(), sep, t);
    total_convs = add_count(total_convs, reader.conv(), reader.index());
    total_nulls = add_count(total_nulls, reader.nulls(), reader.index());
    njourneys = i + 1;
    if (talk && i > 0 && i % kProgressEvery == 0)
      printA("Transition matrices, number of paths elaborated: " + group_thousands(i));
  }
  if (!talk) return;
  printA("Transition matrices, number of paths elaborated: " + group_thousands(njourneys));
  // No outcome at all reads as a rate of 0, not as 0/0.
  const uli total = add_count(total_convs, total_nulls, njourneys ? njourneys - 1 : 0);
  const double rate = total == 0 ? 0.0 : static_cast<double>(total_convs) /
                                             static_cast<double>(total);
  printA("Conversion rate: " + f_print_perc(rate) + "%");
}

// The first order whose successor does not raise the median area by more
// than the share perc_tol; -max_order when every successor does.
double best_order(const std::vector<double>& vcurve, double perc_tol) {
  const uli max_order = vcurve.size();
  for (uli h = 1; h < max_order; ++h)
    if (vcurve[h - 1] * (1.0 + perc_tol) > vcurve[h]) return static_cast<double>(h);
  return -static_cast<double>(max_order);
}

}  // namespace

void OrderSettings::validate() const {
  check_choose_order_args(max_order, nfold, roc_npt, flg_type);
  first_char(cha_sep, "cha_sep");
}

OrderResult choose_order_run(const JourneySource& source, const OrderSettings& settings) {
  settings.validate();
  const char sep = settings.cha_sep[0];
  const bool talk = settings.verbose == 1;
  if (talk) printA("**choose order**");

  order_tables t;
  choose_order_init(settings.max_order, settings.nfold, settings.perc_test, &t);
  gb::reseed(settings.seed);
  JourneySource src = source;
  src.var_value.clear();
  src.cha_sep = sep;
  count_journeys(src, sep, talk, &t);

  OrderResult r;
  std::vector<double> fold_area(settings.nfold);
  for (uli o = 0; o < settings.max_order; ++o) {
    for (uli f = 0; f < settings.nfold; ++f)
      fold_area[f] = choose_order_area(t, f, o, settings.roc_npt, settings.flg_type);
    r.vorder.push_back(static_cast<double>(o + 1));
    r.vcurve.push_back(median_sorted(fold_area));
  }
  r.v_best_order.assign(1, best_order(r.vcurve, settings.perc_tol));
  return r;
}
