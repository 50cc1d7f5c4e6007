// First-touch, last-touch and linear attribution, one row per touch point;
// the position-based, last non-direct and time-decay rules per channel.
#ifndef TOUCHLANE_HEURISTIC_HEURISTIC_H
#define TOUCHLANE_HEURISTIC_HEURISTIC_H

#include <fstream>
#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

// ---- interface -------------------------------------------------------------
// Settings of a first/last/linear run; the defaults are the R function's.
struct HeuristicSettings {
  std::string cha_sep = ">";      // first character separates channels
  int flg_write_nulls = 0;        // 1: zero rows for journeys without conversions
  int flg_write_paths = 0;        // 1: the path text in every row
  std::string file_output;        // rows to this file instead of the result, "" none
  int verbose = 0;
  void validate() const;          // "cha_sep must not be empty"
};

// One row per emitted touch point.
struct HeuristicResult {
  std::vector<double> vpath_id, vpath_chpos;
  std::vector<std::string> vpath_name, vpath_channel;
  std::vector<double> vpath_attr_convs_first, vpath_attr_value_first;
  std::vector<double> vpath_attr_convs_last, vpath_attr_value_last;
  std::vector<double> vpath_attr_convs_linear, vpath_attr_value_linear;
};

// Every journey of src: rows to the result, or to file_output with a header
// (fields separated by the first character of src.field_sep), the result then
// empty. Values count when the source names a value column. Throws
// std::invalid_argument naming the file or column that cannot be used;
// rows already written stay in file_output.
HeuristicResult heuristic_run(const JourneySource& src, const HeuristicSettings& settings);

// Settings of the position-based and last non-direct rules.
struct RuleSettings {
  std::string cha_sep = ">";
  double first_share = 0.4, last_share = 0.4;          // position-based
  std::vector<std::string> direct_channels{"direct"};  // last non-direct
  int verbose = 0;
  // "position_shares: ..." for shares below 0 or summing to more than 1,
  // "cha_sep must not be empty".
  void validate() const;
};

// Per-channel totals, channels in order of first appearance.
struct RuleResult {
  std::vector<std::string> vchannels;
  std::vector<double> vposition_convs, vposition_value, vlnd_convs, vlnd_value;
};

// Per-channel totals of conversions and value (channels by the normalised
// rule): the position-based rule, and the last touch whose channel is not
// direct (the last touch when every touch is direct). Journeys without
// conversions or touch points add nothing. Throws what validate() and
// JourneyReader throw.
RuleResult rule_run(const JourneySource& src, const RuleSettings& settings);

// Journeys that carry each touch's days before conversion: days[i] lists
// one number per channel of paths[i] (same separator); value may be empty.
struct TimeDecayInput {
  std::vector<std::string> paths, days;
  std::vector<uli> conversions;
  std::vector<double> value;
};

// Settings of the time-decay rule; the defaults are the R function's.
struct TimeDecaySettings {
  std::string channel_sep = ">";  // first character separates channels
  double half_life = 7;           // days, > 0 and finite
  // "channel_sep must not be empty",
  // "half_life must be a positive number of days".
  void validate() const;
};

// Per-channel totals, channels in order of first appearance.
struct TimeDecayResult {
  std::vector<std::string> vchannels;
  std::vector<double> vattr_conv, vattr_value;
};

// Each touch of a converting journey weighs 2^(-days / half_life), weights
// normalised per journey; conversions and value are shared by weight (a
// row with value but no conversions shares its value all the same).
// Channels by the normalised rule. Throws what validate() throws, then
// naming the row when days and channels do not pair up or a day is
// negative or not a number.
TimeDecayResult time_decay_run(TimeDecayInput input, const TimeDecaySettings& settings);

// ---- fixed-signature entries (forwarders of the above) ---------------------
// heuristic_run over the journey arguments (vectors when flg_file is 0,
// vv may be empty), its rows appended to the ten output vectors.
void heuristic_models_cpp(int* flg_file, std::string* file, std::string* var_path,
                          std::string* var_conv, std::string* var_value,
                          std::vector<std::string>* vy, std::vector<uli>* vc,
                          std::vector<double>* vv, std::string* row_sep, std::string* cha_sep,
                          int* flg_write_nulls, int* flg_write_paths, std::string* file_output,
                          int* verbose,
                          std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                          std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                          std::vector<double>* vpath_attr_convs_first,
                          std::vector<double>* vpath_attr_value_first,
                          std::vector<double>* vpath_attr_convs_last,
                          std::vector<double>* vpath_attr_value_last,
                          std::vector<double>* vpath_attr_convs_linear,
                          std::vector<double>* vpath_attr_value_linear);

// rule_run over the journey arguments.
void rule_models_cpp(int* flg_file, std::string* file, std::string* var_path,
                     std::string* var_conv, std::string* var_value, std::vector<std::string>* vy,
                     std::vector<uli>* vc, std::vector<double>* vv, std::string* row_sep,
                     std::string* cha_sep, double* first_share, double* last_share,
                     std::vector<std::string>* direct_channels, int* verbose,
                     std::vector<std::string>* vchannels, std::vector<double>* vposition_convs,
                     std::vector<double>* vposition_value, std::vector<double>* vlnd_convs,
                     std::vector<double>* vlnd_value);

// time_decay_run over the columns, its totals in the three output vectors.
void time_decay_cpp(const std::vector<std::string>* vpath, const std::vector<std::string>* vdays,
                    const std::vector<uli>* vconv, const std::vector<double>* vvalue,
                    char channel_sep, double half_life, std::vector<std::string>* vchannels,
                    std::vector<double>* vattr_conv, std::vector<double>* vattr_value);

// ---- internals -------------------------------------------------------------
// One journey: emits its rows to the vectors or, when flg_file_output is 1,
// to ofile_output.
void heuristic_models_line_cpp(uli* i, const std::string* vyi, uli* vci, double* vvi,
                               std::string* cha_sep, int* flg_value, int* flg_write_nulls,
                               int* flg_write_paths,
                               std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                               std::vector<std::string>* vpath_channel,
                               std::vector<double>* vpath_chpos,
                               std::vector<double>* vpath_attr_convs_first,
                               std::vector<double>* vpath_attr_value_first,
                               std::vector<double>* vpath_attr_convs_last,
                               std::vector<double>* vpath_attr_value_last,
                               std::vector<double>* vpath_attr_convs_linear,
                               std::vector<double>* vpath_attr_value_linear,
                               std::ostream* ofile_output, int* flg_file_output,
                               std::string* row_sep);

// Share of each of n touches under the position-based rule: first_share to
// the first, last_share to the last, the rest split evenly over the middle
// touches; one touch gets everything; two touches split first_share and
// last_share renormalised to 1 (evenly when both are 0).
void position_weights(uli n, double first_share, double last_share, std::vector<double>* w);

#endif
