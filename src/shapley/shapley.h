// Shapley attribution over the coalitions of channels found in journeys.
#ifndef TOUCHLANE_SHAPLEY_SHAPLEY_H
#define TOUCHLANE_SHAPLEY_SHAPLEY_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"

// ---- coalitions ------------------------------------------------------------
double log_factorial(uli n);                             // ln n!, 0 for n = 0
// All 2^m subsets in base-two counting order over positions, empty first.
std::vector<std::vector<uli>> getAllSubsets(std::vector<uli> set);

// Largest channel count of the exact method (its tables hold 2^N values).
constexpr uli kShapleyExactMaxChannels = 25;

// Adds one journey to the coalition records. The key of a coalition is the
// dictionary indices of its distinct channels (normalised names), listed
// in byte order of the names and joined by blanks; new channels are
// numbered in that order. Nulls, svc and svn are counted only when
// type_worth is not 0, values only when flg_value is 1.
void coalition_line(const std::string* vyi, const uli* vci, const uli* vni, const double* vvi,
                    const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                    std::map<std::string, double>* mp_coa_convs,
                    std::map<std::string, double>* mp_coa_value,
                    std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                    std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                    const int* flg_value, const int* type_worth, double* svc, double* svn);

// Whole journey sets; svc and svn start from 0. vn / vv may be empty
// (var_null / var_value empty for the file). The file reader throws
// std::invalid_argument for an unusable file (see JourneyReader).
void coalition_from_vec(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                        const std::vector<uli>* vn, const std::vector<double>* vv,
                        const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                        std::map<std::string, double>* mp_coa_convs,
                        std::map<std::string, double>* mp_coa_value,
                        std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                        std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                        const int* type_worth, double* svc, double* svn);
void coalition_from_file(const std::string* file, const std::string* var_path,
                         const std::string* var_conv, const std::string* var_value,
                         const std::string* var_null, const std::string* row_sep,
                         const std::string* cha_sep, std::map<std::string, uli>* mp_channels,
                         std::map<std::string, double>* mp_coa_convs,
                         std::map<std::string, double>* mp_coa_value,
                         std::map<std::string, double>* mp_coa_nulls, uli* nchannels,
                         std::vector<std::string>* vchannels, std::vector<std::string>* vcoalition,
                         const int* type_worth, double* svc, double* svn);

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

// Shapley values of the game v(S) = sum of the worths of the coalitions
// (index lists) contained in S, over channels 0..nchannels-1: exact
// (nchannels at most kShapleyExactMaxChannels) or split equally within
// each coalition. Adds into phi, which must have nchannels entries.
void shapley_values(const std::vector<std::vector<uli>>& coalitions,
                    const std::vector<double>& worth, uli nchannels, bool simplified,
                    std::vector<double>* phi);

#endif
