// Path attribution: a per-channel weight set applied to every touch point
// of every journey, with one row per touch point.
#ifndef TOUCHLANE_PATHATTR_PATHATTR_H
#define TOUCHLANE_PATHATTR_PATHATTR_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

// The touch-point rows of a run, one entry per row in each vector.
struct TouchpointRows {
  std::vector<double> vpath_id;
  std::vector<std::string> vpath_name, vpath_channel;
  std::vector<double> vpath_chpos, vpath_attr_convs, vpath_attr_value;
  void clear();
  // Moves the rows to the end of the given vectors (the outputs of the
  // fixed-signature model functions) and leaves these empty.
  void append_to(std::vector<double>* id, std::vector<std::string>* name,
                 std::vector<std::string>* channel, std::vector<double>* chpos,
                 std::vector<double>* attr_convs, std::vector<double>* attr_value);
};

// How rows are written: to the vectors, or with a header to file_output
// when it is not empty (fields separated by the source's field_sep).
struct PathSettings {
  std::string cha_sep;
  int flg_write_nulls = 0;
  int flg_write_paths = 0;
  std::string file_output;
};

// Path attribution of every journey of src. A converting journey's
// conversions (and value, when the source has values) are split over its
// touch points in proportion to the weights of its distinct channels
// (vindex by dictionary index, mean_index for a channel absent from
// mp_channels), each channel's share divided equally among its
// occurrences; the shares of known channels add to vattr_convs_loc, which
// the caller sizes to cover every index of mp_channels. A journey without
// conversions gets zero rows only when flg_write_nulls is 1. Rows are
// appended to rows, or, when settings.file_output is not empty, written
// with a header to that file (fields separated by the first character of
// src.field_sep) and rows stays empty. The channel separator is
// settings.cha_sep (the source's own cha_sep and null column are not
// used). Throws std::invalid_argument for a dictionary index outside
// vindex or vattr_convs_loc, an empty separator, a result file that
// cannot be created, and (through JourneyReader) for journey vectors of
// unequal length or an unusable input file; a bad input never truncates
// an existing result file.
void attribute_journeys(const JourneySource& src, const PathSettings& settings,
                        const ChannelMap& mp_channels, const std::vector<double>& vindex,
                        double mean_index, TouchpointRows* rows,
                        std::vector<double>* vattr_convs_loc);

#endif
