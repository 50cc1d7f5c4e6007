// Choice of the Markov order by repeated random hold-out: per order, the
// training conversion rate of each final state predicts the test journeys
// ending in it, scored by the area under the ROC or precision-recall curve.
#ifndef TOUCHLANE_ORDER_ORDER_H
#define TOUCHLANE_ORDER_ORDER_H

#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

// Train/test counts per fold and order, growing with the states seen. A
// state of order o+1 is found from its order-o state and the channel
// index at distance o from the end of the journey (or none, when the
// journey is shorter), which is the same as comparing the state texts.
struct order_state_hash {
  size_t operator()(const std::pair<uli, uli>& k) const {
    return std::hash<uli>()(k.first * 0x9E3779B97F4A7C15ULL ^ k.second);
  }
};

struct order_tables {
  uli max_order = 0, nfold = 0;
  double perc_test = 0;
  std::map<std::string, uli> mp_channels;       // channel name -> index
  std::vector<std::string> vchannels;
  std::vector<uli> nchannels_2;                 // states per order
  // Per order: (parent state row, channel or none) -> state row.
  std::vector<std::unordered_map<std::pair<uli, uli>, uli, order_state_hash>> mp_states;
  // Per order, state-major: all[2 s + {0 nulls, 1 conversions}] over every
  // journey; train[(s nfold + f) 2 + {0, 1}] drawn into fold f's training
  // sample. Test counts are all - train.
  std::vector<std::vector<uli>> all, train;
  std::vector<uli> vtot_convs_train, vtot_nulls_train;   // per fold, counted once
  std::vector<uli> vconvs_train, vnulls_train;           // current journey, per fold
  std::vector<uli> path_idx;                             // current journey's channels
};

// Sizes the tables; throws std::invalid_argument for max_order or nfold 0.
void choose_order_init(uli max_order, uli nfold, double perc_test, order_tables* t);

// One journey: the per-fold draws on gb::engine (conversions first), its
// channel indices (names normalised, "," read as "|"), its final state at
// every order and the count updates.
void choose_order_line_cpp(const std::string* path, uli convs, uli nulls, char cha_sep,
                           order_tables* t);

// Area under the curve of fold f at order index o (order o+1) with roc_npt
// thresholds; flg_type 0 ROC, 1 precision-recall.
double choose_order_area(const order_tables& t, uli f, uli o, uli roc_npt, int flg_type);

// ---- interface -------------------------------------------------------------
// Settings of one choice; the defaults are the R function's.
struct OrderSettings {
  std::string cha_sep = ">";
  uli max_order = 10;
  uli roc_npt = 100;              // thresholds of the curve
  uli nfold = 10;
  double perc_test = 0.3;         // share of each fold held out
  uli seed = gb::limsup;          // limsup: a fresh seed
  double perc_tol = 0.05;         // smallest gain in area worth one order more
  int flg_type = 0;               // 0 ROC, 1 precision-recall
  int verbose = 0;
  // Throws std::invalid_argument for max_order, nfold or roc_npt 0 or
  // above their bounds, a flg_type other than 0/1, an empty cha_sep.
  void validate() const;
};

struct OrderResult {
  std::vector<double> vorder;        // 1..max_order
  std::vector<double> vcurve;        // median area over folds per order
  std::vector<double> v_best_order;  // the chosen order, or -max_order when none is
};

// Every journey of src (nulls from its null column, no values); reseeds
// gb::engine with settings.seed. Throws what validate() and JourneyReader
// throw.
OrderResult choose_order_run(const JourneySource& src, const OrderSettings& settings);

// ---- fixed-signature entry (forwarder of choose_order_run) -----------------
// Journeys from vy/vc/vn (flg_file 0; vn may be empty) or from file.
void choose_order_cpp(int* flg_file, std::string* file, std::string* var_path,
                      std::string* var_conv, std::string* var_null, std::string* row_sep,
                      std::vector<std::string>* vy, std::vector<uli>* vc, std::vector<uli>* vn,
                      uli* max_order, std::string* cha_sep, uli* roc_npt, uli* nfold,
                      double* perc_test, uli* seed, double* perc_tol, int* flg_type,
                      int* verbose, std::vector<double>* vorder, std::vector<double>* vcurve,
                      std::vector<double>* v_best_order);

#endif
