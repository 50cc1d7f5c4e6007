// HTA model: conversions known only per period are attributed to channels
// by simulating individual journeys from the per-period traffic and
// attributing them with the simplified Shapley model.
#ifndef TOUCHLANE_HTA_HTA_H
#define TOUCHLANE_HTA_HTA_H

#include <random>
#include <string>
#include <vector>

#include "common/arma.h"
#include "common/common.h"

// Largest roc_npt: every simulation keeps its curve until the medians.
constexpr uli kHtaMaxRocPoints = 1000000;
// Largest number of journeys simulated in one period (all held at once).
constexpr uli kHtaMaxJourneys = uli{1} << 28;
// Largest number of per-simulation results kept at once (periods x channels,
// plus two curves of roc_npt points with ROC, for each simulation).
constexpr uli kHtaMaxKeptValues = uli{1} << 30;

// ---- interface -------------------------------------------------------------
// MT: one row per period, one column per channel; vc the conversions and vv
// (empty or one per period) their value; per channel the probability that a
// touch converts (vcr, with cr > 0), the click-through rate and the adstock.
struct HtaInput {
  std::vector<uli> vc;
  std::vector<double> vv;
  arma::Mat<uli> MT;
  std::vector<double> vcr, vctr, vadstock;
};

// Settings of the model; the defaults are the R function's.
struct HtaSettings {
  double cr = 0;               // 0: estimated in every simulation, else a probability
  double mean_cj_length = 2;   // positive
  uli nsim = 10;               // 1 or more
  uli seed = gb::limsup;       // limsup: a fresh seed
  int type_worth = 0;          // 0..4
  int verbose = 0;
  int flg_roc = 0;             // 1: the ROC curve and its area
  int flg_type_roc = 0;        // 0 ROC, 1 precision-recall
  double perc_test = 0.2;      // probability
  uli roc_npt = 100;           // 1 to kHtaMaxRocPoints
  void validate() const;       // "<name> must be ..." naming the setting
};

// Mean attribution over the simulations (periods x channels) of the
// conversions and (with vv) of their value; the median ROC curve and its
// area (NaN without flg_roc).
struct HtaResult {
  arma::mat conversions, value;
  std::vector<double> roc_y, roc_x;
  double auc = 0;
};

// cr = 0 estimates the conversion rate in every simulation; otherwise every
// period gets vc[t] / cr journeys in all. Throws std::invalid_argument
// naming the argument for shape mismatches and settings out of bounds; a
// period that would need more than kHtaMaxJourneys journeys throws naming vc
// and cr, more than kHtaMaxKeptValues kept results naming nsim.
HtaResult hta_run(const HtaInput& input, const HtaSettings& settings);

// ---- fixed-signature entry ---------------------------------------------------
// hta_run by pointer.
void hta_model_cpp(const std::vector<uli>* vc, const std::vector<double>* vv,
                   const arma::Mat<uli>* MT, const double* cr, const std::vector<double>* vcr,
                   const std::vector<double>* vctr, const double* mean_cj_length,
                   const std::vector<double>* vadstock, const uli* nsim, const uli* seed,
                   const int* type_worth, const int* verbose, const int* flg_roc,
                   const int* flg_type_roc, const double* perc_test, const uli* roc_npt,
                   arma::mat* Mattr_out, arma::mat* Mattr_value_out, std::vector<double>* vy,
                   std::vector<double>* vx, double* auc);

// ---- internals ---------------------------------------------------------------
// " 2 5 9" for "5 2 5 9": indices sorted, without repeats, each after a blank.
std::string unique_and_sort_path(const std::string& path);

// What gb::uniform draws from g, for loops that run on a copy of gb::engine.
double hta_canonical(std::mt19937& g);

// Spearman correlation whose ranks tie values with the same integer part
// (floor); NaN when a series is constant or shorter than 2.
double corr_sprm(const arma::vec& vy, const arma::vec& vx);

#endif
