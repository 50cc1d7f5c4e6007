// Path attribution: a per-channel weight set applied to every touch point
// of every journey, with one row per touch point.
#ifndef TOUCHLANE_PATHATTR_PATHATTR_H
#define TOUCHLANE_PATHATTR_PATHATTR_H

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

// ---- one journey -----------------------------------------------------------
// Splits a converting journey's conversions (and value when flg_value is 1)
// over its touch points in proportion to the weights of its distinct
// channels (vindex by dictionary index, mean_index for a channel absent
// from mp_channels), each channel's share divided equally among its
// occurrences. Appends the rows to the vectors, or writes them to
// ofile_output when flg_file_output is 1; adds the shares of known channels
// to vattr_convs_loc. A journey without conversions emits zero rows only
// when flg_write_nulls is 1. Throws std::invalid_argument when a dictionary
// index has no entry in vindex or vattr_convs_loc.
void attribution_line(const uli* i, const std::string* vyi, const uli* vci, const double* vvi,
                      const std::map<std::string, uli>* mp_channels, const int* flg_value,
                      const std::string* cha_sep, const int* flg_write_nulls,
                      const int* flg_write_paths, const std::vector<double>* vindex,
                      const double* mean_index,
                      std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                      std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                      std::vector<double>* vpath_attr_convs, std::vector<double>* vpath_attr_value,
                      std::ostream* ofile_output, const int* flg_file_output,
                      const std::string* row_sep, std::vector<double>* vattr_convs_loc);

// ---- drivers ---------------------------------------------------------------
// Both run attribution_line over a journey set. When file_output is not
// empty the rows go to that file (header first) and the row vectors stay
// empty; vattr_convs_loc, sized by the caller to cover every index of
// mp_channels, accumulates in both cases. They throw std::invalid_argument
// for a dictionary index outside vindex or vattr_convs_loc, an empty
// separator, a result file that cannot be created, and (through
// JourneyReader) for journey vectors of unequal length or an unusable
// input file; a bad input never truncates an existing result file.

// Journeys in vectors; vv empty when there are no values.
void attribution_from_vec(const std::vector<std::string>* vy, const std::vector<uli>* vc,
                          const std::vector<double>* vv,
                          const std::map<std::string, uli>* mp_channels,
                          const std::string* cha_sep, const int* flg_write_nulls,
                          const int* flg_write_paths, const std::string* file_output,
                          const std::string* row_sep, const std::vector<double>* vindex,
                          const double* mean_index,
                          std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                          std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                          std::vector<double>* vpath_attr_convs,
                          std::vector<double>* vpath_attr_value,
                          std::vector<double>* vattr_convs_loc);

// Journeys in a delimited file with a header line; var_value empty when
// there are no values.
void attribution_from_file(const std::string* file, const std::string* var_path,
                           const std::string* var_conv, const std::string* var_value,
                           const std::string* row_sep, const std::string* cha_sep,
                           const int* flg_write_nulls, const int* flg_write_paths,
                           const std::string* file_output,
                           const std::map<std::string, uli>* mp_channels,
                           const std::vector<double>* vindex, const double* mean_index,
                           std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                           std::vector<std::string>* vpath_channel,
                           std::vector<double>* vpath_chpos,
                           std::vector<double>* vpath_attr_convs,
                           std::vector<double>* vpath_attr_value,
                           std::vector<double>* vattr_convs_loc);

// ---- over one journey source -------------------------------------------------
// The touch-point rows of a run, one entry per row in each vector.
struct TouchpointRows {
  std::vector<double> vpath_id;
  std::vector<std::string> vpath_name, vpath_channel;
  std::vector<double> vpath_chpos, vpath_attr_convs, vpath_attr_value;
  void clear();
};

// How rows are written: to the vectors, or with a header to file_output
// when it is not empty (fields separated by the source's row_sep).
struct PathSettings {
  std::string cha_sep;
  int flg_write_nulls = 0;
  int flg_write_paths = 0;
  std::string file_output;
};

// Path attribution of every journey of src (the source's cha_sep is not
// used: the channel separator is settings.cha_sep), as the drivers above.
void attribute_journeys(const JourneySource& src, const PathSettings& settings,
                        const ChannelMap& mp_channels, const std::vector<double>& vindex,
                        double mean_index, TouchpointRows* rows,
                        std::vector<double>* vattr_convs_loc);

#endif
