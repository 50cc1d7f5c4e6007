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

// MT: one row per period, one column per channel. cr = 0 estimates the
// conversion rate in every simulation; otherwise vcr[k] is the probability
// that a touch of channel k converts and every period gets vc[t] / cr
// journeys in all. Fills Mattr_out (periods x channels, mean over the nsim
// simulations), Mattr_value_out when vv is not empty, and the ROC curve
// (median over simulations) and its area when flg_roc is 1 (auc is NaN
// otherwise). Throws std::invalid_argument naming the argument for shape
// mismatches, nsim = 0, mean_cj_length <= 0, probabilities outside [0, 1]
// and unknown flag values.
void hta_model_cpp(const std::vector<uli>* vc, const std::vector<double>* vv,
                   const arma::Mat<uli>* MT, const double* cr, const std::vector<double>* vcr,
                   const std::vector<double>* vctr, const double* mean_cj_length,
                   const std::vector<double>* vadstock, const uli* nsim, const uli* seed,
                   const int* type_worth, const int* verbose, const int* flg_roc,
                   const int* flg_type_roc, const double* perc_test, const uli* roc_npt,
                   arma::mat* Mattr_out, arma::mat* Mattr_value_out, std::vector<double>* vy,
                   std::vector<double>* vx, double* auc);

// " 2 5 9" for "5 2 5 9": indices sorted, without repeats, each after a blank.
std::string unique_and_sort_path(const std::string& path);

// What gb::uniform draws from g, for loops that run on a copy of gb::engine.
double hta_canonical(std::mt19937& g);

// Spearman correlation whose ranks tie values with the same integer part
// (floor); NaN when a series is constant or shorter than 2.
double corr_sprm(const arma::vec& vy, const arma::vec& vx);

#endif
