#' Attribute conversions known per period to channels (HTA model)
#'
#' `traffic` holds the touches of every channel (columns) in every period
#' (rows), `conversions` the conversions and, optionally, `value` their value
#' per period. Each of `simulations` runs carries traffic over to later
#' periods (`adstock`), spreads it in time (exponential lags of mean
#' `mean_length` / 2 periods), turns each unit into a touch with probability
#' `ctr`, builds journeys in which a channel appears at most once, and
#' attributes each period's converting journeys with the simplified Shapley
#' model (`kind` as in [shapley()]). Returns per period and channel the mean
#' attributed conversions (and value: conversions times the period's value
#' per conversion, 0 for a period without conversions), and optionally a ROC
#' or precision-recall curve. Calls the entry point `hta_model_R`.
#'
#' Choices made by this implementation:
#' * Journey counts. With `conversion_rate` = 0 the conversion rate is
#'   estimated in every simulation (capped at 50%) and a period has half its
#'   expected touches as journeys. With `conversion_rate` > 0 a period has
#'   `conversions / conversion_rate` journeys in all, of which the
#'   non-converting ones are drawn as a binomial number with probability
#'   1 - `conversion_rate`, so that converting journeys keep the share
#'   `conversion_rate`; `channel_conversion_rate` gives each channel's
#'   probability that a touch converts. A touch drawn to the non-converting
#'   side when a period has no non-converting journey is dropped.
#' * Attributed conversions of a period add up to the number of its
#'   converting journeys that received at least one touch (all of `conversions` when
#'   the traffic is ample).
#' * Channel factors (only with `conversion_rate` = 0) use Spearman correlations of
#'   period-to-period changes `x[t] - x[t-1]`, t = 2..T, of conversions and
#'   traffic; values with the same integer part tie. Factors start at 1 and
#'   keep their last finite value.
#' * ROC (`roc` other than "none"): every simulated non-empty journey goes to the test
#'   share with probability `test_share`; a journey is scored with the
#'   training conversion rate of its channel set (the overall training rate
#'   for sets seen only in the test share). `roc = "roc"` gives the ROC
#'   curve (false-positive rate, true-positive rate), `"precision_recall"` the precision-recall
#'   curve (recall, precision); thresholds h / `points`, h = 1..`points`,
#'   trapezoid rule from (1, 1) (ROC) or (1, 0) (precision-recall). Curves and
#'   areas are medians over the simulations; "auc" is NaN without ROC.
#'
#' @param conversions Conversions per period (whole numbers).
#' @param traffic Touches per period (rows) and channel (columns): a matrix or
#'   data frame of whole numbers with column names.
#' @param value Conversion value per period, or `NULL`.
#' @param ctr Probability that a unit of traffic becomes a touch, per channel
#'   (a single number for all, or one per column of `traffic`).
#' @param conversion_rate 0, or the conversion rate of journeys (see above).
#' @param channel_conversion_rate With `conversion_rate` > 0, each channel's
#'   probability that a touch converts.
#' @param mean_length Mean journey length in periods.
#' @param adstock Share of each channel's traffic carried over to the next
#'   period (one number or one per channel).
#' @param simulations Simulation runs.
#' @param kind `"totals"`, `"conversion_rate"`, `"odds"`, `"difference"` or
#'   `"saturation"` (as in [shapley()]).
#' @param roc `"none"`, `"roc"` or `"precision_recall"`.
#' @param test_share Share of the simulated journeys held out for the curve.
#' @param points Thresholds of the curve.
#' @inheritParams markov_model
#' @return A `touchlane_hta` model object (see [touchlane_model]) whose
#'   `details` hold `periods` (conversions per period and channel), `value`
#'   (likewise, when `value` is given), `curve` (data frame x, y) and `auc`.
#' @examples
#' traffic <- cbind(search = c(0, 300, 150, 400), social = c(0, 120, 0, 200),
#'                  email = c(0, 80, 90, 100))
#' h <- hta_model(c(0, 12, 7, 20), traffic, ctr = c(0.6, 0.4, 0.5), simulations = 2, seed = 3)
#' h
#' h$details$periods
#' @export
hta_model <- function(conversions, traffic, value = NULL, ctr, conversion_rate = 0,
                      channel_conversion_rate = NULL, mean_length = 2, adstock = 0,
                      simulations = 10L, kind = c("totals", "conversion_rate", "odds",
                                                  "difference", "saturation"),
                      roc = c("none", "roc", "precision_recall"), test_share = 0.2,
                      points = 100L, seed = NULL, verbose = FALSE) {
  if (is.data.frame(traffic)) traffic <- as.matrix(traffic)
  if (!is.matrix(traffic) || !is.numeric(traffic))
    tl_stop("`traffic` must be a numeric matrix: one row per period, one column per channel")
  nch <- ncol(traffic)
  channels <- colnames(traffic)
  if (is.null(channels)) channels <- paste0("channel", seq_len(nch))
  storage.mode(traffic) <- "double"
  if (!is.numeric(conversions) || length(conversions) != nrow(traffic))
    tl_stop("`conversions` must hold one number per row of `traffic`")
  if (!is.null(value) && (!is.numeric(value) || length(value) != nrow(traffic)))
    tl_stop("`value` must hold one number per row of `traffic`")
  per_channel_arg <- function(x, arg) {
    if (!is.numeric(x) || !(length(x) %in% c(1, nch)) || anyNA(x))
      tl_stop("`", arg, "` must be one number or one per channel (", nch, ")")
    if (!is.null(names(x)) && length(x) == nch && all(channels %in% names(x))) x <- x[channels]
    as.numeric(rep_len(x, nch))
  }
  kind <- as_kind(kind, c("totals", names(index_kinds)[-1]), "kind")
  roc <- as_kind(roc, c("none", "roc", "precision_recall"), "roc")
  seed <- as_seed(seed)
  r <- quietly(.Call("hta_model_R", as.numeric(conversions), as.numeric(value), traffic,
                     as_number(conversion_rate, "conversion_rate", 0, 1),
                     if (is.null(channel_conversion_rate)) numeric(0)
                     else per_channel_arg(channel_conversion_rate, "channel_conversion_rate"),
                     per_channel_arg(ctr, "ctr"), as_number(mean_length, "mean_length", 0),
                     per_channel_arg(adstock, "adstock"),
                     as_whole(simulations, "simulations", 1), seed,
                     if (roc == "none") 0 else 1, if (roc == "precision_recall") 1 else 0,
                     as_number(test_share, "test_share", 0, 1), as_whole(points, "points", 1),
                     if (kind == "totals") 0 else index_kinds[[kind]],
                     as_flag(verbose, "verbose"), PACKAGE = "Touchlane"), verbose)
  periods <- matrix(unlist(r$conversions), ncol = nch, byrow = TRUE,
                    dimnames = list(period = seq_along(r$conversions), channel = channels))
  vals <- if (!is.null(r$conversion_value))
    matrix(unlist(r$conversion_value), ncol = nch, byrow = TRUE, dimnames = dimnames(periods))
  new_touchlane_model("hta", channels = channel_table(channels, colSums(periods),
                                                      if (!is.null(vals)) colSums(vals)),
                      details = list(label = paste(simulations, "simulations,", kind),
                                     periods = periods, value = vals,
                                     curve = data.frame(x = r$roc_x, y = r$roc_y), auc = r$auc,
                                     summary = if (roc != "none")
                                       list(`Area under the curve` = r$auc)),
                      native = r, call = match.call(), seed = seed)
}
