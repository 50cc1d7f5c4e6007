// From touch events to the journey table the models read.
//
// An event is a touch (a channel, no conversion) or a conversion (count
// > 0, with its value); a conversion row that also names a channel is that
// touch followed by the conversion. Per user, events run in time order,
// ties broken by the optional tie key and then by input order. Each
// conversion closes a journey made of the touches since the previous one;
// touches after a user's last conversion form a non-converting journey
// (nulls = 1). Lookback drops touches more than lookback_days before the
// journey's end (the conversion, or the last touch of a non-converting
// journey) and all but the last lookback_touches; then the transform
// applies. A conversion left without touches forms no journey: it is
// counted in `untouched`.
#ifndef TOUCHLANE_EVENTS_EVENTS_H
#define TOUCHLANE_EVENTS_EVENTS_H

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/common.h"

// ---- settings and result --------------------------------------------------
enum class PathTransform { none, collapse, first, frequency };

// "none", "collapse", "first", "frequency"; throws naming `transform`.
PathTransform path_transform(const std::string& name);

struct JourneyRules {
  double lookback_days = -1;        // < 0: no limit
  uli lookback_touches = 0;         // 0: no limit
  PathTransform transform = PathTransform::none;
  int flg_times = 0;                // 1: also write each touch's whole days before the end
  char channel_sep = '>';
};

// One row per distinct path (and days, with flg_times), sorted by path then
// days. Paths join channels with channel_sep; "frequency" writes each
// channel once, in order of first touch, as "name(count)". days joins the
// floored whole days between each kept touch and the journey's end (the
// last touch of a run for "collapse", the first touch for "first").
struct JourneyTable {
  std::vector<std::string> vpath, vdays;        // vdays empty without flg_times
  std::vector<uli> vconv, vnulls;
  std::vector<double> vvalue;
  uli untouched = 0;                            // conversions that formed no journey
  uli nuntouched_rows = 0;                      // rows holding them
  double untouched_value = 0;
};

// ---- events in memory -----------------------------------------------------
// Columns of n events, borrowed. user: ids in [0, nusers); channel: ids in
// [0, vchannels.size()) or -1 for no touch; conv: counts (> 0: a
// conversion); value and tie may be null (no value column, no tie key).
struct EventColumns {
  uli n = 0, nusers = 0;
  const int* user = nullptr;
  const double* time = nullptr;                 // seconds
  const int* channel = nullptr;
  const double* conv = nullptr;
  const double* value = nullptr;
  const double* tie = nullptr;
  std::vector<std::string> vchannels;
};

// Throws std::invalid_argument naming the column and 1-based row for an
// out-of-range id, a non-finite time, a negative/fractional/NA count.
void journeys_from_events_cpp(const EventColumns* ev, const JourneyRules* rules, JourneyTable* out);

// ---- events in a delimited file ------------------------------------------
// Header line of column names, fields split at field_sep, no quoting. time
// holds seconds (a number) or ISO text "YYYY-MM-DD", "YYYY-MM-DD hh:mm:ss"
// or with 'T' between, optional fraction and 'Z'; an empty channel field
// is no touch; an empty conversion field is 0. Empty var_value / var_tie:
// no such column. flg_grouped = 1 promises each user's events are
// contiguous (in any time order): journeys are then built user by user and
// memory grows with users and paths, not events; a user met again after
// another is an error naming the line. Otherwise every event is held in a
// compact record: about 25 bytes per event at the peak with the table of
// user ids (8 more with a tie key).
struct EventFile {
  std::string file;
  std::string var_user, var_time, var_channel, var_conv, var_value, var_tie;
  char field_sep = ',';
  int flg_grouped = 0;
};

void journeys_from_event_file_cpp(const EventFile* src, const JourneyRules* rules, JourneyTable* out);

// Seconds since 1970-01-01 of a number or ISO text (see above); throws
// std::invalid_argument quoting the text when it is neither.
double parse_event_time(std::string_view text);

#endif
