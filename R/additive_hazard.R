#' Additive hazard attribution
#'
#' Every touch adds to a journey's hazard of converting a term that decays
#' exponentially with the time since the touch, at a rate of its channel:
#' a touch of channel c made t days before the conversion contributes
#' r(c) exp(-r(c) t). A conversion (and its value) is credited to the
#' journey's touches in proportion to what each contributed at the moment of
#' conversion. The rate r(c) is the maximum-likelihood rate of an
#' exponential delay: the inverse of the channel's mean delay before a
#' conversion, over the touches of converting journeys (weighed by their
#' conversions). The `days` column holds whole days (floored), so a touch
#' recorded d days before the conversion is taken to be d + 0.5 days before
#' it. Journeys that did not convert get no credit and do not enter the
#' rates. Calls the entry point `additive_hazard_R`; in [attribution()] it
#' is the model `"additive_hazard"` (setting `days`).
#'
#' @inheritParams heuristic_models
#' @param days Name of the column of days before conversion per touch,
#'   written like the path (as [journeys_from_events()] with `times = TRUE`
#'   gives it).
#' @return A `touchlane_additive_hazard` model object (see
#'   [touchlane_model]): `channels` with the attributed conversions and
#'   value, and in `details` the table `decay` (channel, rate per day,
#'   mean_days). It has no weights for `predict()`: the credit depends on
#'   the days of each touch.
#' @references Zhang, Y., Wei, Y. and Ren, J. (2014). Multi-touch
#'   attribution in online advertising with survival theory. IEEE
#'   International Conference on Data Mining, 687-696.
#' @examples
#' d <- data.frame(path = c("search > email", "display > search", "email"),
#'                 days = c("3 > 0", "10 > 1", "0"), conversions = c(2, 1, 1))
#' additive_hazard(d)
#' @export
additive_hazard <- function(data = NULL, file = NULL, path = "path", conversions = "conversions",
                            value = NULL, days = "days", channel_sep = ">", field_sep = ";") {
  value <- found_columns(data, file, field_sep, value, NULL, missing(value), FALSE)$value
  j <- journey_args(data, file, path, conversions, value, NULL, channel_sep, field_sep)
  r <- additive_hazard_native(j, days)
  decay <- data.frame(channel = r$channel, rate = r$rate, mean_days = r$mean_days,
                      stringsAsFactors = FALSE)
  new_touchlane_model("additive_hazard",
                      channels = channel_table(r$channel, r$conversions,
                                               if (nzchar(j$value)) r$value),
                      details = list(decay = decay,
                                     summary = list(`Days column` = days)),
                      native = r, call = match.call(), j = j)
}

additive_hazard_native <- function(j, days) {
  d <- journey_days(j, days, "additive_hazard")
  .Call("additive_hazard_R", d$path, d$days, d$conversions, d$value, j$channel_sep,
        PACKAGE = "Touchlane")
}

attr_model_additive_hazard <- function(j, ..., days = "days", seed = NULL, verbose = FALSE) {
  r <- additive_hazard_native(j, days)
  data.frame(channel = r$channel, conversions = r$conversions,
             value = if (nzchar(j$value)) r$value else NA_real_, stringsAsFactors = FALSE)
}
