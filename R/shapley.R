#' Shapley-value attribution
#'
#' Treats the channels as players of a game whose coalitions are the channel
#' sets of the journeys. With `kind = "totals"` (the default) a coalition is
#' worth its conversions (and value) and every channel gets its Shapley value
#' of the totals. The other kinds score each coalition by a conversion rate
#' of its conversions c and non-conversions n (`"conversion_rate"`
#' c / (c + n), `"odds"` c / n, `"difference"` (c - n + 1) / 2,
#' `"saturation"` 1 - exp(-c / n); they need the `nulls` column) and use the
#' channels' Shapley values as weights for every touch point. Calls the entry
#' point `shapley_R`.
#'
#' With conversion totals the game is a sum of one small game per journey,
#' in which the journey's distinct channels are interchangeable; so the
#' Shapley value splits each journey's conversions equally among its
#' distinct channels, exactly as linear touch does per channel.
#'
#' @inheritParams markov_model
#' @param nulls Name of the column of counts of journeys that did not
#'   convert, or `NULL` (needed by every `kind` but `"totals"`). When `value`
#'   or `nulls` is not given and the journeys have a column `"value"` or
#'   `"nulls"`, it is used, with a one-line message.
#' @param kind `"totals"`, `"conversion_rate"`, `"odds"`, `"difference"` or
#'   `"saturation"` (see Details).
#' @param simplified `TRUE` splits each coalition's worth equally among its
#'   channels, which scales to many channels; the exact method is limited to
#'   25 channels.
#' @param file_output `NULL`, or a file to which the per-channel totals
#'   (kind `"totals"`) or the per-touch-point rows (other kinds) are written.
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one before the model ("a > a > b" becomes "a > b";
#'   rows re-aggregated as by [transform_paths()]).
#' @return A `touchlane_shapley` model object (see [touchlane_model]);
#'   `weights` (the Shapley rates) for the rate kinds.
#' @examples
#' s <- shapley(journeys_sample(), value = "value")
#' s
#' sr <- shapley(journeys_sample(), nulls = "nulls", kind = "conversion_rate")
#' coef(sr)
#' @export
shapley <- function(data = NULL, file = NULL, path = "path", conversions = "conversions",
                    value = NULL, nulls = NULL, channel_sep = ">", field_sep = ";",
                    kind = c("totals", "conversion_rate", "odds", "difference", "saturation"),
                    simplified = FALSE, file_output = NULL, write_nulls = FALSE,
                    write_paths = FALSE, verbose = FALSE, remove_loops = FALSE) {
  kind <- as_kind(kind, c("totals", names(index_kinds)[-1]), "kind")
  cols <- found_columns(data, file, field_sep, value, nulls, missing(value), missing(nulls))
  value <- cols$value
  nulls <- cols$nulls
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                    need_nulls = if (kind != "totals") paste0('kind = "', kind, '"') else FALSE,
                    remove_loops = remove_loops)
  r <- shapley_native(j, kind, simplified, file_output, write_nulls, write_paths, verbose)
  has_value <- nzchar(j$value)
  if (kind == "totals") {
    tab <- channel_table(r$vchannels, r$vattr_convs_glob, if (has_value) r$vattr_value_glob)
    tp <- NULL
    w <- NULL
  } else {
    tp <- touchpoint_table(r, has_value = has_value)
    tab <- channel_table(r$vchannels, r$vattr_convs_loc,
                         if (has_value && !is.null(tp))
                           per_channel(tp$channel, tp$value, r$vchannels))
    w <- weights_from_native(r$vchannels, r$vindex)
  }
  new_touchlane_model("shapley", channels = tab, touchpoints = tp, weights = w,
                      details = list(label = paste0(kind, if (isTRUE(simplified)) ", simplified"),
                                     kind = kind, simplified = simplified,
                                     file_output = file_output,
                                     summary = list(Method = if (isTRUE(simplified)) "simplified"
                                                    else "exact", Kind = kind)),
                      native = r, call = match.call(), j = j)
}

shapley_native <- function(j, kind, simplified = FALSE, file_output = NULL, write_nulls = FALSE,
                           write_paths = FALSE, verbose = FALSE, remove_loops = FALSE) {
  out <- as_output(file_output)
  wp <- as_flag(write_paths, "write_paths")
  code <- if (kind == "totals") 0 else index_kinds[[kind]]
  tryCatch(
    quietly(.Call("shapley_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$value, j$nulls,
                  j$field_sep, j$channel_sep, as_flag(simplified, "simplified"), code,
                  as_flag(write_nulls, "write_nulls"), wp, out,
                  as_flag(verbose, "verbose"), PACKAGE = "Touchlane"), verbose),
    error = function(e) {
      msg <- conditionMessage(e)
      # the exact method's channel limit, in the words of this function
      if (!grepl("(flg_simplified = 1)", msg, fixed = TRUE)) stop(e)
      tl_stop(sub("(flg_simplified = 1)", "(simplified = TRUE)", msg, fixed = TRUE))
    })
}

attr_model_shapley <- function(j, ..., simplified = FALSE, seed = NULL, verbose = FALSE) {
  r <- shapley_native(j, "totals", simplified, verbose = verbose)
  data.frame(channel = r$vchannels, conversions = r$vattr_convs_glob,
             value = if (length(r$vattr_value_glob)) r$vattr_value_glob else rep(NA_real_, length(r$vchannels)),
             stringsAsFactors = FALSE)
}
