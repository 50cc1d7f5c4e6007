// Synthetic journeys and the comparison of attribution models on them.
#ifndef TOUCHLANE_COMPARE_COMPARE_H
#define TOUCHLANE_COMPARE_COMPARE_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"

// ---- first-order encoding ------------------------------------------------
// Rewrites every journey of vy as its channel indices joined by one blank
// ("(start)" = 0, channels 1, 2, ... by first appearance, then
// "(conversion)" and "(null)"). Channel names are cut at the first
// character of sep and trimmed of blanks; empty pieces are skipped. The
// dictionary and max_touches (most touch points of one journey) are reset
// first. Throws std::invalid_argument when sep is empty.
void encoding_channels_cpp(std::vector<std::string>* vy, std::string sep,
                           std::map<std::string, uli>* mp_channels,
                           std::vector<std::string>* vchannels, uli* nchannels,
                           uli* max_touches);

// ---- synthetic journeys --------------------------------------------------
// Draws journeys from the candidates (index paths vpath, converting or not
// by visconv) with cumulative probabilities vfreq, one uniform draw of
// gb::engine per attempt, and appends every distinct generated path to
// vidy1 (candidate position), vy1, vc1 and vn1 (converting and
// non-converting draws). Count mode (vtraffic empty) stops after nsim
// journeys; nsim 0 draws nothing. Traffic mode spends the per-channel
// budget vtraffic (channel t written as token t, at entry t - 1), drops a
// candidate for the rest of the call once it costs more than is left, and
// stops when every candidate has been dropped. vnpath is not used.
// Throws std::invalid_argument for vectors of different lengths, a
// decreasing or non-finite vfreq, nothing to draw from in count mode, and
// in traffic mode a budget of the wrong length or not finite, a candidate
// touching no channel or a token outside 1 .. nchannels ("stoul" for a
// token that is not a number).
void path_generator(const std::vector<std::string>* vpath, const std::vector<bool>* visconv,
                    std::vector<uli> vnpath, std::vector<double> vfreq, uli nchannels,
                    std::vector<double> vtraffic, uli nsim,
                    std::vector<uli>* vidy1, std::vector<std::string>* vy1,
                    std::vector<uli>* vc1, std::vector<uli>* vn1);

// Rounds non-negative entries to whole numbers whose total is the input
// total rounded to the nearest whole number: every entry is taken down to
// its whole part and the ones with the largest fractional parts (the first
// on ties) get one more. Throws std::invalid_argument for an entry that is
// not finite.
void int_attr_trf(std::vector<double>* y);

// Seconds since 1970-01-01 00:00:00 of a time stamp read with the date
// library's format ts_parse (for instance "%Y-%m-%d %T"). Throws
// std::invalid_argument naming the text when it does not parse or lies
// before 1970. parse_time_stamp gives false instead of throwing. Other
// formats than "%Y-%m-%d %T" with %T or %S are not guarded against the
// date library's read of unset seconds on malformed text.
uli  date_conv_time_int(const std::string& datetime, const std::string& ts_parse);
bool parse_time_stamp(const std::string& datetime, const std::string& ts_parse, uli* seconds);

// ---- time-stamped journeys ----------------------------------------------
// An event table (rows of journeys with time stamps) read once, so that its
// journeys can be replayed over a window of days.
struct EventTable {
  std::vector<uli> seconds;                  // per row: seconds since 1970
  std::vector<uli> day;                      // per row: position of its day in days
  std::vector<uli> channel;                  // per row: channel index, gb::limsup for a conversion
  std::vector<std::string> days;             // distinct days (first 10 characters), by first appearance
  std::vector<uli> tab_info_paths_id_path;   // per journey: identifier, first and last row
  std::vector<uli> tab_info_paths_id_from;
  std::vector<uli> tab_info_paths_id_to;
  std::vector<std::vector<double>> ctr;      // per day of days: click-through rate per channel
};

// Reads the event table (a journey starts at row 0 and wherever the
// identifier rises) and the click-through table (day = first 10 characters
// of tab_ctr_day_str; a later row for a day replaces an earlier one).
// Every channel of tab_paths_channel other than channel_conv_name must be
// in mp_channels. Throws std::invalid_argument for columns of different
// lengths, naming the row of a time stamp that is not "%Y-%m-%d %T", the
// day of the event table missing from the click-through table, or the row
// of a click-through table with fewer columns than channels.
void read_event_table(const std::vector<uli>* tab_paths_id_path,
                      const std::vector<std::string>* tab_paths_time_str,
                      const std::vector<std::string>* tab_paths_channel,
                      const std::string& channel_conv_name,
                      const std::map<std::string, uli>& mp_channels,
                      const std::vector<std::string>* tab_ctr_day_str,
                      const std::vector<std::vector<double>>* tab_ctr_ctr, EventTable* events);

// path_generator, and for every accepted candidate i one real journey with
// its path (drawn among Mpaths_ids[vpaths_ids_1[i]]) replayed from a random
// second of a window of floor(days x perc_sample) days: per window day the
// conversions (vconvs1), and per day and channel the touches (Mtouches1)
// and their mean click-through rate (Mctr1, 0 without touches). Rows that
// fall outside the window are left out of the daily tables only. The
// tables are reset first. Throws as path_generator, and
// std::invalid_argument for a candidate whose path has no journey.
void path_generator_new(const std::vector<std::string>* vpath, const std::vector<bool>* visconv,
                        std::vector<uli> vnpath, std::vector<double> vfreq, uli nchannels,
                        std::vector<double> vtraffic, uli nsim, std::vector<uli>* vidy1,
                        const std::vector<std::vector<uli>>* Mpaths_ids,
                        const std::vector<uli>* vpaths_ids_1, const EventTable* events,
                        double perc_sample, std::vector<std::string>* vy1,
                        std::vector<uli>* vc1, std::vector<uli>* vn1,
                        std::vector<std::vector<double>>* Mtouches1,
                        std::vector<double>* vconvs1, std::vector<std::vector<double>>* Mctr1);

// ---- model comparison ----------------------------------------------------
// Settings of both comparisons; the defaults are the R function's.
struct CompareSettings {
  double perc_reall = 0.05;         // share of traffic moved, 0 to 1
  double perc_sample = 0.1;         // sample share of the population, 0 or more
  double min_perc_traffic = 0.03;   // least share per channel, 0 to 1 - perc_reall
  uli max_nsim = 1000000;           // largest sample
  uli niter = 10;                   // at most 1,000,000
  uli flg_extra_path = 0;           // 1: add journeys without conversions
  uli max_markov_order = 1;         // Markov models of order 1..this, at most 1,000
  uli seed = 0;
  int flg_print = 0;                // 1: print the performance table
  int verbose = 0;
  // "perc_reall ...", "min_perc_traffic ...", "perc_sample ...", "niter ...",
  // "markov_order ..." for a value out of its bounds.
  void validate() const;
};

// Journeys with their conversion and null counts; the column names are the
// ones the models are handed.
struct CompareJourneys {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::string cha_sep = ">";
  std::string var_path = "path", var_conv = "total_conversions", var_null = "total_null";
};

// niter rows of performance per model (a column per model name), the average
// traffic share per channel (a column per model after "original") and the
// model names ("original", "no_reallocation", the models); from
// compare_mta_run also the journeys as index paths.
struct CompareResult {
  std::vector<std::vector<double>> performance, allocation;
  std::vector<std::string> model_names;
  std::vector<std::string> encoded;
};

// Compares the traffic advice of the attribution models on synthetic
// journeys drawn from the journeys. Prints its progress lines; with
// flg_print 1 also the performance table. Throws std::invalid_argument for
// journey vectors of different lengths, a journey without channels, no
// conversions, a setting out of bounds, a sample size of 0, and a model
// whose weights cannot be turned into traffic shares.
CompareResult compare_mta_run(CompareJourneys journeys, const CompareSettings& settings);

// An event table whose rows of one journey are consecutive (channel_conv_name
// marking conversions) and the click-through rates (a row per day of
// ctr_day_str, a column per channel).
struct CompareEvents {
  std::vector<uli> id_path;
  std::vector<std::string> time_str, channel;
  std::vector<std::string> ctr_day_str;
  std::vector<std::vector<double>> ctr;
  std::string channel_conv_name;
};

// The same comparison for time-stamped journeys replayed over a window of
// days, with the reward model of the daily conversions and impressions
// among the models. Throws as compare_mta_run and read_event_table, and
// std::invalid_argument for a journey made only of conversions, and a
// window too short for the reward model.
CompareResult compare_mta_mmm_run(CompareEvents events, const CompareSettings& settings);

// ---- fixed-signature entries ------------------------------------------------
// compare_mta_run by pointer; vy is rewritten as index paths.
void compare_models_mta_cpp(std::vector<std::string>* vy, std::vector<uli>* vc,
                            std::vector<uli>* vn, std::string var_path, std::string var_conv,
                            std::string var_null, std::string cha_sep, double perc_reall,
                            double perc_sample, uli max_nsim, double min_perc_traffic,
                            uli niter, uli flg_extra_path, uli max_markov_order, uli seed,
                            int flg_print, int verbose,
                            std::vector<std::vector<double>>* results_performance,
                            std::vector<std::vector<double>>* results_allocation,
                            std::vector<std::string>* vmodel_names);

// compare_mta_mmm_run by pointer.
void compare_models_mta_mmm_cpp(std::vector<uli>* tab_paths_id_path,
                                std::vector<std::string>* tab_paths_time_str,
                                std::vector<std::string>* tab_paths_channel,
                                std::vector<std::string>* tab_ctr_day_str,
                                std::vector<std::vector<double>>* tab_ctr_ctr,
                                std::string channel_conv_name, double perc_reall,
                                double perc_sample, uli max_nsim, double min_perc_traffic,
                                uli niter, uli flg_extra_path, uli max_markov_order, uli seed,
                                int flg_print, int verbose,
                                std::vector<std::vector<double>>* results_performance,
                                std::vector<std::vector<double>>* results_allocation,
                                std::vector<std::string>* vmodel_names);

#endif
