#' First-touch, last-touch and linear-touch attribution
#'
#' Each journey's conversions (and value) go to its first touch point, its
#' last touch point, or are split equally over all its touch points. Calls
#' the entry point `heuristic_models_R`.
#'
#' @param data Aggregated journeys: a data frame (a data.table or tibble also
#'   works) with one row per distinct path.
#' @param file Instead of `data`, the name of a delimited file with a header
#'   line; it is streamed by the native library, not read into R.
#' @param path Name of the column of paths (channels separated by
#'   `channel_sep`).
#' @param conversions Name of the column of conversion counts (whole
#'   numbers, not negative).
#' @param value Name of the column of conversion value, or `NULL` for none;
#'   when not given, a column `"value"` is used if there is one (with a
#'   one-line message).
#' @param channel_sep Separator between the channels of a path; blanks
#'   around channel names are dropped.
#' @param field_sep Separator between the fields of a line of `file`.
#' @param file_output `NULL`, or a file to which the per-touch-point rows are
#'   written instead of being returned.
#' @param write_nulls `TRUE` to give journeys without conversions rows too
#'   (all zero).
#' @param write_paths `TRUE` to give every per-touch-point row its path (in
#'   the returned rows, column `path`, or in `file_output`).
#' @param verbose `TRUE` to show the progress text (as messages).
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one before the model ("a > a > b" becomes "a > b";
#'   rows re-aggregated as by [transform_paths()]).
#' @return A `touchlane_heuristic` model object (see [touchlane_model]):
#'   `channels` holds linear touch, `details$rules` the three rules side by
#'   side, `touchpoints` one row per touch point with the columns
#'   `conversions_first`, `conversions_last`, `conversions` (linear) and the
#'   same for value.
#' @seealso [attribution()] for the rules next to the other models.
#' @examples
#' h <- heuristic_models(journeys_sample(), value = "value")
#' h
#' head(as.data.frame(h, level = "touchpoint"))
#' @export
heuristic_models <- function(data = NULL, file = NULL, path = "path", conversions = "conversions",
                             value = NULL, channel_sep = ">", field_sep = ";", file_output = NULL,
                             write_nulls = FALSE, write_paths = FALSE, verbose = FALSE,
                             remove_loops = FALSE) {
  value <- found_columns(data, file, field_sep, value, NULL, missing(value), FALSE)$value
  j <- journey_args(data, file, path, conversions, value, NULL, channel_sep, field_sep,
                    remove_loops = remove_loops)
  r <- heuristic_native(j, file_output, write_nulls, write_paths, verbose)
  # With a result file the rows go there, not to R; the channel totals come
  # from a second pass that keeps only the converting rows in memory.
  totals <- if (is.null(file_output)) r else heuristic_native(j, NULL, FALSE, FALSE, FALSE)
  tp <- if (is.null(file_output))
    touchpoint_table(r, r$vpath_attr_convs_linear, r$vpath_attr_value_linear, nzchar(j$value))
  r <- totals
  chans <- unique(r$vpath_channel)
  has_value <- nzchar(j$value)
  g <- match(r$vpath_channel, chans)
  rule <- function(what, kind) {
    if (what == "value" && !has_value) return(NULL)
    group_sums(g, r[[paste0("vpath_attr_", what, "_", kind)]], length(chans))
  }
  rules <- do.call(rbind, lapply(c("first", "last", "linear"), function(k) {
    tab <- channel_table(chans, rule("convs", k), rule("value", k))
    cbind(tab[, 1, drop = FALSE], rule = k, tab[, -1])
  }))
  if (!is.null(tp)) {
    tp$conversions_first <- r$vpath_attr_convs_first
    tp$conversions_last <- r$vpath_attr_convs_last
    if (has_value) {
      tp$value_first <- r$vpath_attr_value_first
      tp$value_last <- r$vpath_attr_value_last
    }
  }
  new_touchlane_model("heuristic", channels = channel_table(chans, rule("convs", "linear"),
                                                            rule("value", "linear")),
                      touchpoints = tp,
                      details = list(label = "linear touch; first and last touch in summary()",
                                     rules = rules, file_output = file_output,
                                     summary = list(`Conversions per rule` = rules_wide(rules))),
                      native = r, call = match.call(), j = j)
}

rules_wide <- function(rules) {
  chans <- unique(rules$channel)
  out <- data.frame(channel = chans, stringsAsFactors = FALSE)
  for (k in unique(rules$rule)) out[[k]] <- rules$conversions[rules$rule == k]
  out
}

heuristic_native <- function(j, file_output = NULL, write_nulls = FALSE, write_paths = FALSE,
                             verbose = FALSE) {
  out <- as_output(file_output)
  wp <- as_flag(write_paths, "write_paths")
  quietly(.Call("heuristic_models_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$value,
                j$field_sep, j$channel_sep, as_flag(verbose, "verbose"), out,
                as_flag(write_nulls, "write_nulls"), wp,
                PACKAGE = "Touchlane"), verbose)
}
