// First-touch, last-touch and linear attribution, one row per touch point.
#ifndef TOUCHLANE_HEURISTIC_HEURISTIC_H
#define TOUCHLANE_HEURISTIC_HEURISTIC_H

#include <fstream>
#include <string>
#include <vector>

#include "common/common.h"

// Reads journeys from vy/vc/vv (flg_file 0; vv may be empty) or from file,
// and appends one row per emitted touch point to the ten output vectors,
// or writes the rows to file_output when it is not empty (the vectors then
// stay empty). Throws std::invalid_argument naming the file or column that
// cannot be used; rows already written stay in file_output.
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

// ---- position-based and last non-direct rules ------------------------------
// Share of each of n touches under the position-based rule: first_share to
// the first, last_share to the last, the rest split evenly over the middle
// touches; one touch gets everything; two touches split first_share and
// last_share renormalised to 1 (evenly when both are 0).
void position_weights(uli n, double first_share, double last_share, std::vector<double>* w);

// Per-channel totals of conversions and value, from the same journeys as
// heuristic_models_cpp (channels by the normalised rule, in order of first
// appearance over every journey): the position-based rule, and the last
// touch whose channel is not in direct_channels (names normalised alike),
// which takes the journey's conversions and value; a journey of direct
// touches only credits its last touch. Journeys without conversions or touch points add
// nothing. Throws std::invalid_argument for shares below 0 or summing to
// more than 1, and for an unusable input (see JourneyReader).
void rule_models_cpp(int* flg_file, std::string* file, std::string* var_path,
                     std::string* var_conv, std::string* var_value, std::vector<std::string>* vy,
                     std::vector<uli>* vc, std::vector<double>* vv, std::string* row_sep,
                     std::string* cha_sep, double* first_share, double* last_share,
                     std::vector<std::string>* direct_channels, int* verbose,
                     std::vector<std::string>* vchannels, std::vector<double>* vposition_convs,
                     std::vector<double>* vposition_value, std::vector<double>* vlnd_convs,
                     std::vector<double>* vlnd_value);

#endif
