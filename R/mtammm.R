#' Adjust touch-point attribution towards media-mix channel totals
#'
#' Moves the per-touch-point attribution of a model towards the channel
#' totals of a media-mix model, keeping every journey's total; a channel's
#' `mta_weight` says how far its touch-point attribution is trusted (1: fully,
#' it is then returned unchanged). Calls the entry point `combine_mta_mmm_R`.
#'
#' @param touchpoints The touch-point attribution: a model object with
#'   per-touch-point rows (its `journey`, `channel` and `conversions`), or a
#'   data frame with columns `journey`, `channel` and `attribution` (rows of
#'   one journey consecutive).
#' @param mmm Media-mix attribution per channel: a named numeric vector or a
#'   data frame with columns `channel` and `attribution`.
#' @param mta_weight Trust in the touch-point attribution: one number for
#'   every channel, a named numeric vector or a data frame with columns
#'   `channel` and `mta_weight`.
#' @param max_steps Iterations of the adjustment.
#' @param tolerance Convergence tolerance.
#' @inheritParams markov_model
#' @return A data frame with columns `journey`, `channel` and `attribution`.
#' @examples
#' lr <- logistic_regression(journeys_sample()[1:300, ], nulls = "nulls")
#' mmm <- c(social = 80, affiliate = 40, organic = 60, display = 50, direct = 40,
#'          `paid search` = 120, email = 60)
#' out <- combine_mta_mmm(lr, mmm, mta_weight = 0.5)
#' tapply(out$attribution, out$channel, sum)
#' @export
combine_mta_mmm <- function(touchpoints, mmm, mta_weight = 0.5, max_steps = 100L,
                            tolerance = 0.001, verbose = FALSE) {
  if (inherits(touchpoints, "touchlane_model")) {
    tp <- as.data.frame(touchpoints, level = "touchpoint")
    tp <- data.frame(journey = tp$journey, channel = tp$channel, attribution = tp$conversions,
                     stringsAsFactors = FALSE)
  } else {
    tp <- touchpoints
    if (!is.data.frame(tp) || !all(c("journey", "channel", "attribution") %in% names(tp)))
      tl_stop("`touchpoints` must be a model or a data frame with columns journey, channel and ",
              "attribution")
  }
  as_table <- function(x, col, arg) {
    if (is.data.frame(x)) {
      if (!all(c("channel", col) %in% names(x)))
        tl_stop("`", arg, "` needs columns channel and ", col)
      return(x)
    }
    if (!is.numeric(x)) tl_stop("`", arg, "` must be named numbers or a data frame")
    if (is.null(names(x))) {
      if (length(x) != 1L) tl_stop("`", arg, "` must be named by channel")
      x <- setNames(rep(x, length(unique(tp$channel))), unique(tp$channel))
    }
    out <- data.frame(channel = names(x), stringsAsFactors = FALSE)
    out[[col]] <- as.numeric(x)
    out
  }
  mm <- as_table(mmm, "attribution", "mmm")
  pw <- as_table(mta_weight, "mta_weight", "mta_weight")
  r <- quietly(.Call("combine_mta_mmm_R",
                     data.frame(path = as.numeric(tp$journey), channel = as.character(tp$channel),
                                attribution = as.numeric(tp$attribution),
                                stringsAsFactors = FALSE),
                     mm, pw, as_whole(max_steps, "max_steps", 1),
                     as_number(tolerance, "tolerance", 0), as_flag(verbose, "verbose"),
                     PACKAGE = "Touchlane"), verbose)
  data.frame(journey = r$path, channel = r$channel, attribution = r$attribution,
             stringsAsFactors = FALSE)
}
