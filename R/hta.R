#' HTA model: attributes conversions known per period to channels.
#'
#' `MT` holds the traffic of every channel (columns) in every period (rows);
#' `vc` the conversions and, optionally, `vv` their value per period. Each of
#' `nsim` simulations carries traffic over to later periods (`vadstock`),
#' spreads it in time (exponential lags of mean `mean_cj_length` / 2
#' periods), turns each unit into a touch with probability `vctr`, builds
#' journeys in which a channel appears at most once, and attributes each
#' period's converting journeys with the simplified Shapley model
#' (`type_worth` 0: Shapley totals; 1 to 4: the Shapley model's two-pass
#' path attribution). Returns per period the mean attributed conversions
#' (and value: conversions times the period's value per conversion, 0 for
#' a period without conversions), and with `flg_roc` = 1 a ROC curve.
#'
#' Choices made by this implementation:
#' * Journey counts. With `cr` = 0 the conversion rate is estimated in every
#'   simulation (capped at 50%) and a period has half its expected touches
#'   as journeys. With `cr` > 0 a period has `vc / cr` journeys in all, of
#'   which the non-converting ones are drawn as a binomial number with
#'   probability 1 - `cr`, so that converting journeys keep the share `cr`;
#'   `vcr` gives each channel's probability that a touch converts. A touch
#'   drawn to the non-converting side when a period has no non-converting
#'   journey is dropped.
#' * Attributed conversions of a period add up to the number of its
#'   converting journeys that received at least one touch (all of `vc` when
#'   the traffic is ample).
#' * Channel factors (only with `cr` = 0) use Spearman correlations of
#'   period-to-period changes x[t] - x[t-1], t = 2..T, of conversions and
#'   traffic; values with the same integer part tie. Factors start at 1 and
#'   keep their last finite value.
#' * ROC (`flg_roc` = 1): every simulated non-empty journey goes to the test
#'   share with probability `perc_test`; a journey is scored with the
#'   training conversion rate of its channel set (the overall training rate
#'   for sets seen only in the test share). `flg_type_roc` 0 gives the ROC
#'   curve (false-positive rate, true-positive rate), 1 the precision-recall
#'   curve (recall, precision); thresholds h / `roc_npt`, h = 1..`roc_npt`,
#'   trapezoid rule from (1, 1) (ROC) or (1, 0) (precision-recall). Curves and
#'   areas are medians over the simulations; "auc" is NaN without ROC.
#' @export
hta_model <- function(vc, MT, vv = numeric(0), cr = 0, vcr = numeric(0), vctr,
                      mean_cj_length = 2, vadstock = rep(0, ncol(MT)), nsim = 10,
                      seed = NA, flg_roc = 0, flg_type_roc = 0, perc_test = 0.2,
                      roc_npt = 100, type_worth = 0, verbose = 0) {
  if (!is.matrix(MT)) stop("MT must be a matrix: one row per period, one column per channel")
  storage.mode(MT) <- "double"
  .Call("hta_model_R", as.numeric(vc), as.numeric(vv), MT, cr, as.numeric(vcr),
        as.numeric(vctr), mean_cj_length, as.numeric(vadstock), nsim, seed, flg_roc,
        flg_type_roc, perc_test, roc_npt, type_worth, verbose, PACKAGE = "Touchlane")
}
