#include <climits>
#include <cmath>

#include "events/events.h"
#include "frame/frame.h"
#include "heuristic/heuristic.h"

namespace {

JourneyRules journey_rules(SEXP lookback_days_p, SEXP lookback_touches_p, SEXP transform_p,
                           SEXP flg_times_p, SEXP channel_sep_p) {
  JourneyRules r;
  const double days = as_real(lookback_days_p);
  if (std::isnan(days) || days < 0) throw std::invalid_argument("lookback_days must be a number >= 0 or Inf");
  r.lookback_days = std::isinf(days) ? -1 : days;
  const double touches = as_real(lookback_touches_p);
  if (std::isnan(touches) || touches < 1 || (std::isfinite(touches) && touches != std::floor(touches)))
    throw std::invalid_argument("lookback_touches must be a whole number >= 1 or Inf");
  r.lookback_touches = std::isinf(touches) || touches >= 1.8e19 ? 0 : static_cast<uli>(touches);
  r.transform = path_transform(as_str(transform_p));
  r.flg_times = as_int(flg_times_p);
  if (r.flg_times == 1 && r.transform == PathTransform::frequency)
    throw std::invalid_argument("times = TRUE needs a transform that keeps touches, not \"frequency\"");
  const std::string sep = as_str(channel_sep_p);
  if (sep.empty()) throw std::invalid_argument("channel_sep must not be empty");
  r.channel_sep = sep[0];
  return r;
}

const double* reals_or_null(SEXP x, R_xlen_t n, const char* what) {
  if (Rf_isNull(x)) return nullptr;
  if (TYPEOF(x) != REALSXP || XLENGTH(x) != n)
    throw std::invalid_argument(std::string(what) + " must be a double vector of one value per event");
  return REAL(x);
}

}  // namespace

// Events from R columns (user and channel as 0-based ids, -1 for no
// channel; times in seconds) or from a delimited file; the journey table
// and the count of conversions that formed no journey.
extern "C" SEXP journeys_from_events_R(SEXP flg_file_p, SEXP file_p, SEXP user_p, SEXP nusers_p,
                                       SEXP time_p, SEXP channel_p, SEXP channels_p, SEXP conv_p,
                                       SEXP value_p, SEXP tie_p, SEXP vars_p, SEXP field_sep_p,
                                       SEXP channel_sep_p, SEXP lookback_days_p, SEXP lookback_touches_p,
                                       SEXP transform_p, SEXP flg_times_p, SEXP flg_grouped_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const int flg_file = as_int(flg_file_p);
  const JourneyRules rules =
      journey_rules(lookback_days_p, lookback_touches_p, transform_p, flg_times_p, channel_sep_p);
  JourneyTable out;
  if (flg_file == 1) {
    const std::vector<std::string> vars = as_strings(vars_p);   // user, time, channel, conv, value, tie
    if (vars.size() != 6) throw std::invalid_argument("six column names expected");
    const std::string fsep = as_str(field_sep_p);
    if (fsep.empty()) throw std::invalid_argument("field_sep must not be empty");
    EventFile src{as_str(file_p), vars[0], vars[1], vars[2], vars[3], vars[4], vars[5], fsep[0],
                  as_int(flg_grouped_p)};
    journeys_from_event_file_cpp(&src, &rules, &out);
  } else {
    const R_xlen_t n = XLENGTH(user_p);
    if (TYPEOF(user_p) != INTSXP || TYPEOF(channel_p) != INTSXP || XLENGTH(channel_p) != n)
      throw std::invalid_argument("user and channel must be integer ids of one value per event");
    EventColumns ev;
    ev.n = static_cast<uli>(n);
    ev.nusers = as_count(nusers_p, "nusers");
    // User ids are R integers, so no more users can be named than that.
    if (ev.nusers > static_cast<uli>(INT_MAX))
      throw std::invalid_argument("nusers must be at most " + std::to_string(INT_MAX));
    ev.user = INTEGER(user_p);
    ev.channel = INTEGER(channel_p);
    // ISO text is read here with the file route's parser.
    std::vector<double> parsed;
    if (TYPEOF(time_p) == STRSXP && XLENGTH(time_p) == n) {
      parsed.resize(n);
      for (R_xlen_t i = 0; i < n; ++i) {
        if (STRING_ELT(time_p, i) == NA_STRING)
          throw std::invalid_argument("column time: row " + std::to_string(i + 1) + " is missing");
        parsed[i] = parse_event_time(CHAR(STRING_ELT(time_p, i)));
      }
      ev.time = parsed.data();
    } else {
      ev.time = reals_or_null(time_p, n, "time");
    }
    ev.conv = reals_or_null(conv_p, n, "conversion");
    ev.value = reals_or_null(value_p, n, "value");
    ev.tie = reals_or_null(tie_p, n, "order_by");
    if (!ev.time || !ev.conv) throw std::invalid_argument("time and conversion are required");
    ev.vchannels = as_strings(channels_p);
    journeys_from_events_cpp(&ev, &rules, &out);
  }
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(
      Rcpp::Named("path") = to_character(out.vpath),
      Rcpp::Named("days") = to_character(out.vdays),
      Rcpp::Named("conversions") = std::vector<double>(out.vconv.begin(), out.vconv.end()),
      Rcpp::Named("nulls") = std::vector<double>(out.vnulls.begin(), out.vnulls.end()),
      Rcpp::Named("value") = out.vvalue,
      Rcpp::Named("untouched") = static_cast<double>(out.untouched),
      Rcpp::Named("untouched_rows") = static_cast<double>(out.nuntouched_rows),
      Rcpp::Named("untouched_value") = out.untouched_value);
  });
  END_RCPP
}

extern "C" SEXP time_decay_R(SEXP path_p, SEXP days_p, SEXP conv_p, SEXP value_p, SEXP channel_sep_p,
                             SEXP half_life_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  TimeDecayInput in{as_strings(path_p), as_strings(days_p), as_counts(conv_p, "conversions"),
                    Rf_isNull(value_p) ? std::vector<double>() : as_reals(value_p)};
  const TimeDecayResult r = time_decay_run(std::move(in), {as_str(channel_sep_p), as_real(half_life_p)});
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("channel") = r.vchannels,
                              Rcpp::Named("conversions") = r.vattr_conv,
                              Rcpp::Named("value") = r.vattr_value);
  });
  END_RCPP
}
