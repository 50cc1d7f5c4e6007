// Logistic-regression attribution: conversion odds explained by the touch
// counts of every channel, fitted by Adam on the mean negative
// log-likelihood, then applied to every journey as channel indices.
#ifndef TOUCHLANE_LOGISTIC_LOGISTIC_H
#define TOUCHLANE_LOGISTIC_LOGISTIC_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/arma.h"
#include "common/common.h"
#include "journeys/journeys.h"

// ---- objective ------------------------------------------------------------
// Unique encoded paths ("0 " then the channel indices, blank separated) with
// their summed conversions and nulls. vstart/vidx hold the same paths parsed
// into numbers (path u is vidx[vstart[u] .. vstart[u+1])); the objective
// parses vy once, on its first evaluation, when they are not filled yet.
struct ll_data_t_cj {
  std::vector<std::string> vy;
  std::vector<uli> vc;
  std::vector<uli> vn;
  uli npaths = 0;              // journeys in the fit: sum of vc + vn
  uli nchannels = 0;           // coefficients: the constant plus one per channel
  std::vector<uli> vstart;
  std::vector<uli> vidx;
};

// Fills vstart/vidx from vy; throws std::invalid_argument when a path holds
// an index outside [0, nchannels) or when npaths is 0.
void ll_data_parse(ll_data_t_cj* data);

// Mean negative log-likelihood per journey at vals_inp; fills grad_out
// (resized to nchannels) and hess_out (nchannels x nchannels) when they are
// not null. opt_data points to an ll_data_t_cj.
double ll_fn_whess_cj(const arma::vec& vals_inp, arma::vec* grad_out, arma::mat* hess_out,
                      void* opt_data);
double ll_fn_cj(const arma::vec& vals_inp, arma::vec* grad_out, void* opt_data);

// ---- model ----------------------------------------------------------------
// Encodes the journeys (channel dictionary with "(constant)" at 0, unique
// paths, touch counts), fits the coefficients and computes the indices:
// vindex[k] = exp(b0 + b_{k+1}) for channel k of the re-numbered dictionary
// (mp_channels / vchannels without the constant) and the journey-weighted
// mean_index. vn (and vv) may be empty. A journey without touch points is
// left out of the fit, of npaths and of the touch counts. Throws
// std::invalid_argument for vectors of different lengths and when no
// journey with touch points has a conversion or a null.
void logistic_fit_cpp(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                      const std::vector<uli>* vn, const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                      std::vector<std::string>* vchannels, std::vector<double>* vindex,
                      double* mean_index, std::vector<double>* vcoeff);

// What the fit knows beyond the indices, for inference on the coefficients
// (b0 for "(constant)" first, then one per channel in dictionary order).
// The likelihood is the Bernoulli one of single journeys, so it does not
// depend on how journeys are aggregated into rows.
struct LogisticFitInfo {
  std::vector<double> vcoeff;
  arma::mat information;        // Hessian of the summed negative log-likelihood
  arma::mat vcov;               // its inverse; all NaN when it is singular
  double loglik = 0.0;          // summed log-likelihood at vcoeff
  uli nobs = 0;                 // journeys in the fit
  double gradient_norm = 0.0;   // Euclidean norm of the mean gradient at vcoeff
  uli iterations = 0;           // optimiser updates performed
  bool converged = false;       // the optimiser reached its gradient tolerance
};

// logistic_fit_cpp, also filling info (which may be null).
void logistic_fit_info(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                       const std::vector<uli>* vn, const std::string* cha_sep,
                       std::map<std::string, uli>* mp_channels, std::vector<std::string>* vchannels,
                       std::vector<double>* vindex, double* mean_index, LogisticFitInfo* info);

// Inverse of a symmetric positive-definite matrix by Cholesky; false (out
// untouched) when a pivot is not clearly positive, as for collinear columns.
bool spd_inverse(const arma::mat& a, arma::mat* out);

// ---- refits on redrawn counts -----------------------------------------------
// A fixed list of paths encoded once for refits that change only their
// conversion and null counts (the bootstrap). The dictionary, the unique
// encoded paths and each path's touch points are the ones logistic_run
// builds from the same paths whatever their counts, so a refit gives its
// channel totals bit for bit, at the cost of the optimiser alone.
struct LogisticPaths {
  std::vector<std::string> vchannels;   // dictionary order, without "(constant)"
  ll_data_t_cj codes;                   // unique encoded paths; vc/vn unused
  std::vector<uli> path_code;           // per path: its unique path, kNoCode without touch points
  std::vector<uint32_t> idx32;          // codes.vidx, narrowed for the optimiser's loop
  // Per path: its touch points (tp_channel 0-based, tp_slot its distinct
  // channel) and its distinct channels in order of first occurrence
  // (slot_channel, slot_count touch points each).
  std::vector<uli> tp_start, tp_channel, tp_slot;
  std::vector<uli> slot_start, slot_channel, slot_count;
  static constexpr uli kNoCode = static_cast<uli>(-1);
};

// What a refit reuses between calls on one thread.
struct LogisticRefitScratch {
  struct Row {
    uint32_t first, last;   // in idx32
    uli c, n;
  };
  std::vector<uli> vc, vn;
  std::vector<Row> active;
  std::vector<double> vindex;
};

// Encodes the paths as logistic_run would (throws what it throws for a bad
// path or separator).
LogisticPaths logistic_paths(const std::vector<std::string>& vy, const std::string& cha_sep);

// The channel totals (vattr_convs_loc, in e.vchannels order) logistic_run
// gives for the encoded paths with these counts (vn may be empty). Throws
// as the fit does when no path with touch points has a count.
// With start (the constant, then one coefficient per e.vchannels, from a fit
// that reached the optimiser's gradient tolerance on counts close to
// these), Newton's method with the exact Hessian runs from there to the
// same tolerance instead of the optimiser from zero: the same optimum to
// within that tolerance, at the cost of a few passes. Where Newton cannot
// get there (a singular Hessian, a step that leaves the finite numbers, too
// many steps) the refit runs from zero exactly as without start.
void logistic_refit(const LogisticPaths& e, const std::vector<uli>& vc,
                    const std::vector<uli>& vn, LogisticRefitScratch* w,
                    std::vector<double>* convs, const std::vector<double>* start = nullptr);

// ---- interface -------------------------------------------------------------
// Settings of one run; the fit itself has none.
struct LogisticSettings {
  std::string cha_sep = ">";
  int flg_write_nulls = 0;
  int flg_write_paths = 0;
  std::string file_output;        // touch-point rows to this file, "" none
};

struct LogisticResult {
  std::vector<std::string> vchannels;
  std::vector<double> vindex;     // mean_index appended, masked by hide_index
  std::vector<double> vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value;
  std::vector<std::string> vpath_name, vpath_channel;
  std::vector<double> vattr_convs_loc;   // one total per channel
  LogisticFitInfo fit;                   // coefficients with their covariance
};

// The fit above on every journey of src (read into memory first when it
// is a file; nulls when the source names a null column), then path
// attribution of every journey with the indices (rows to the result, or to
// file_output, fields separated by src.field_sep). Throws what the fit,
// JourneyReader and the path attribution throw.
LogisticResult logistic_run(const JourneySource& src, const LogisticSettings& settings);

// ---- fixed-signature entry (forwarder of the above) ------------------------
// logistic_run over journeys in vectors (vn and vv may be empty).
void logistic_regression_cpp(std::vector<std::string>* vy, std::vector<uli>* vc,
                             std::vector<uli>* vn, std::vector<double>* vv, std::string* cha_sep,
                             std::string* row_sep, int* flg_write_nulls, int* flg_write_paths,
                             std::string* file_output,
                             std::vector<double>* vindex, std::vector<std::string>* vchannels,
                             std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                             std::vector<std::string>* vpath_channel,
                             std::vector<double>* vpath_chpos,
                             std::vector<double>* vpath_attr_convs,
                             std::vector<double>* vpath_attr_value,
                             std::vector<double>* vattr_convs_loc);

#endif
