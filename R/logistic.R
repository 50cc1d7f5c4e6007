#' Logistic-regression attribution
#'
#' Fits the conversion odds of a journey on its per-channel touch counts
#' (Adam gradient descent on the mean negative log-likelihood) and gives each
#' channel the index exp(b0 + b_channel); every journey's conversions and
#' value are then split over its touch points in proportion to those indices.
#' Needs the `nulls` column. The entry point takes journeys as vectors, so a
#' `file` is read into R first. Calls the entry point `logistic_regression_R`.
#'
#' @inheritParams markov_model
#' @param nulls Name of the column of counts of journeys that did not
#'   convert (required; a column `"nulls"` is used when not given, and a
#'   column `"value"` likewise, with a one-line message).
#' @param seed Not used: the fit is deterministic. Accepted for a uniform
#'   interface.
#' @inheritParams shapley
#' @return A `touchlane_logistic` model object (see [touchlane_model]);
#'   `weights` are the channel indices.
#' @examples
#' lr <- logistic_regression(journeys_sample(), value = "value", nulls = "nulls")
#' lr
#' coef(lr)
#' @export
logistic_regression <- function(data = NULL, file = NULL, path = "path",
                                conversions = "conversions", value = NULL, nulls = NULL,
                                channel_sep = ">", field_sep = ";", seed = NULL,
                                file_output = NULL, write_nulls = FALSE, write_paths = FALSE,
                                verbose = FALSE, remove_loops = FALSE) {
  cols <- found_columns(data, file, field_sep, value, nulls, missing(value), missing(nulls))
  value <- cols$value
  nulls <- cols$nulls
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                    need_nulls = "logistic regression", remove_loops = remove_loops)
  j <- journeys_in_r(j)
  r <- logistic_native(j, file_output, write_nulls, write_paths, verbose)
  has_value <- nzchar(j$value)
  tp <- touchpoint_table(r, has_value = has_value)
  tab <- channel_table(r$vchannels, r$vattr_convs_loc,
                       if (has_value && !is.null(tp))
                           per_channel(tp$channel, tp$value, r$vchannels))
  w <- weights_from_native(r$vchannels, r$vindex)
  new_touchlane_model("logistic", channels = tab, touchpoints = tp, weights = w,
                      details = list(label = "index exp(b0 + b_channel)",
                                     file_output = file_output),
                      native = r, call = match.call(), j = j)
}

logistic_native <- function(j, file_output = NULL, write_nulls = FALSE, write_paths = FALSE,
                            verbose = FALSE) {
  out <- as_output(file_output)
  wp <- as_flag(write_paths, "write_paths")
  quietly(.Call("logistic_regression_R", j$data, j$path, j$conversions, j$value, j$nulls,
                j$field_sep, j$channel_sep, as_flag(write_nulls, "write_nulls"),
                wp, out, as_flag(verbose, "verbose"),
                PACKAGE = "Touchlane"), verbose)
}

attr_model_logistic <- function(j, ..., seed = NULL, verbose = FALSE) {
  if (!nzchar(j$nulls))
    tl_stop("`nulls` must name the column of non-converting journeys: ",
            'model "logistic" needs null counts')
  j <- journeys_in_r(j)
  r <- logistic_native(j, verbose = verbose)
  data.frame(channel = r$vchannels, conversions = r$vattr_convs_loc,
             value = if (nzchar(j$value)) per_channel(r$vpath_channel, r$vpath_attr_value,
                                                      r$vchannels) else rep(NA_real_, length(r$vchannels)),
             stringsAsFactors = FALSE)
}
