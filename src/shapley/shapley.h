// Shapley attribution over the coalitions of channels found in journeys.
#ifndef TOUCHLANE_SHAPLEY_SHAPLEY_H
#define TOUCHLANE_SHAPLEY_SHAPLEY_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"
#include "pathattr/pathattr.h"

// ---- coalitions ------------------------------------------------------------
double log_factorial(uli n);                             // ln n!, 0 for n = 0
// All 2^m subsets in base-two counting order over positions, empty first.
std::vector<std::vector<uli>> all_subsets(std::vector<uli> set);

// Largest channel count of the exact method (its tables hold 2^N values).
constexpr uli kShapleyExactMaxChannels = 25;

// The coalitions of a journey set. The key of a coalition is the
// dictionary indices of its distinct channels (normalised names), listed
// in byte order of the names and joined by blanks; new channels are
// numbered in that order.
struct CoalitionTable {
  ChannelMap mp_channels;
  std::vector<std::string> vchannels;                  // by dictionary index
  std::vector<std::string> vcoalition;                 // keys, in order of first appearance
  std::map<std::string, double> convs, value, nulls;   // per key
  double svc = 0, svn = 0;                             // conversions and nulls of every journey
};

// Counts every journey of src into *table (which starts empty), channels
// split at the first character of cha_sep. Nulls, svc and svn are counted
// only when type_worth is not 0; values only when the source has them (a
// value column for a file, a non-empty vv for vectors). Throws what
// JourneyReader throws. With row_coalition, also the place in
// table->vcoalition of every journey's coalition, journey by journey.
void count_coalitions(const JourneySource& src, const std::string& cha_sep, int type_worth,
                      CoalitionTable* table, std::vector<uli>* row_coalition = nullptr);

// ---- model -----------------------------------------------------------------
// Global mode (type_worth 0): Shapley totals of conversions (and value) in
// vattr_convs_glob / vattr_value_glob, written to file_output when given;
// vindex holds nchannels zeros. Rate mode (type_worth 1-4 with var_null):
// Shapley values of the rate worth become path-attribution weights.
// Fallback mode (1-4 without var_null): two passes of path attribution
// from the conversion totals. Rate and fallback modes return vindex with
// the fallback weight appended, masked. Throws std::invalid_argument for a
// type_worth outside 0-4, more than kShapleyExactMaxChannels channels with
// the exact method, or an unusable input or result file.
void shapley_cpp(const int* flg_file, const std::string* file, const std::string* var_path,
                 const std::string* var_conv, const std::string* var_value,
                 const std::string* var_null, const std::vector<std::string>* vy,
                 const std::vector<uli>* vc, const std::vector<double>* vv,
                 const std::vector<uli>* vn, const std::string* row_sep,
                 const std::string* cha_sep, const int* flg_simplified, const int* type_worth,
                 const int* flg_write_nulls, const int* flg_write_paths,
                 const std::string* file_output,
                 std::vector<std::string>* vchannels, std::vector<double>* vindex,
                 std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                 std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                 std::vector<double>* vpath_attr_convs, std::vector<double>* vpath_attr_value,
                 std::vector<double>* vattr_convs_loc, std::vector<double>* vattr_convs_glob,
                 std::vector<double>* vattr_value_glob);

// ---- the model for internal callers ----------------------------------------
// Settings of one run, named as in shapley_cpp.
struct ShapleySettings {
  std::string cha_sep = ">";
  int flg_simplified = 0;
  int type_worth = 0;
  int flg_write_nulls = 0;
  int flg_write_paths = 0;
  std::string file_output;        // "" none
  // "type_worth must be 0, 1, 2, 3 or 4, ...", "cha_sep must not be empty".
  void validate() const;
};

// Everything one run gives back, named as in shapley_cpp.
struct ShapleyResult {
  std::vector<std::string> vchannels;
  std::vector<double> vindex;
  TouchpointRows rows;
  std::vector<double> vattr_convs_loc, vattr_convs_glob, vattr_value_glob;
};

// shapley_cpp over one journey source. The modes follow the source's
// column names: var_value names a value column and var_null a null column
// for vectors as for a file (vector_source names them when the vectors are
// not empty). The source's field_sep separates the fields of a result file.
ShapleyResult shapley_run(const JourneySource& src, const ShapleySettings& settings);

// Shapley values of the game v(S) = sum of the worths of the coalitions
// (index lists) contained in S, over channels 0..nchannels-1: exact
// (nchannels at most kShapleyExactMaxChannels) or split equally within
// each coalition. Adds into phi, which must have nchannels entries.
void shapley_values(const std::vector<std::vector<uli>>& coalitions,
                    const std::vector<double>& worth, uli nchannels, bool simplified,
                    std::vector<double>* phi);

#endif
