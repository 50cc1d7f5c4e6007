#' Attribute new journeys with a model's weights
#'
#' Splits every journey's conversions (and value) over its touch points in
#' proportion to the weights of their channels; a channel the weights do not
#' list gets the weight of unknown channels. This is what `predict()` does
#' for a model. Calls the entry point `new_paths_attribution_R`; the weights
#' are masked for it here.
#'
#' @inheritParams heuristic_models
#' @param weights The weights: a model object with weights (Markov, Shapley
#'   rates, logistic regression), a named numeric vector of plain weights as
#'   `coef()` returns it (the element "(unknown)" is the weight of channels
#'   not listed), or a data frame with columns `channel` and `weight`
#'   (a row "(unknown)" likewise).
#'   Weights must be at least 0 and include exactly one "(unknown)";
#'   anything else is refused.
#' @param masked `TRUE` when `weights` are masked as the native entry points
#'   return them (`vindex`, the last element then being the weight of unknown
#'   channels). Weights that were already unmasked are refused.
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one before the model ("a > a > b" becomes "a > b";
#'   rows re-aggregated as by [transform_paths()]).
#' @return A `touchlane_new_paths` model object (see [touchlane_model]).
#' @examples
#' lr <- logistic_regression(journeys_sample(), nulls = "nulls")
#' next_month <- journeys_sample()[1:500, ]
#' new_paths_attribution(next_month, weights = lr)
#' new_paths_attribution(next_month, weights = c(coef(lr)[1:3], "(unknown)" = 0.5))
#' @export
new_paths_attribution <- function(data = NULL, weights, file = NULL, path = "path",
                                  conversions = "conversions", value = NULL, channel_sep = ">",
                                  field_sep = ";", masked = FALSE, file_output = NULL,
                                  write_nulls = FALSE, write_paths = FALSE, verbose = FALSE,
                                  remove_loops = FALSE) {
  value <- found_columns(data, file, field_sep, value, NULL, missing(value), FALSE)$value
  if (missing(weights)) tl_stop("`weights` must be given: a model, coef() of a model or a table")
  w <- check_weight_set(plain_weights(weights, as_flag(masked, "masked") == 1))
  j <- journey_args(data, file, path, conversions, value, NULL, channel_sep, field_sep,
                    remove_loops = remove_loops)
  out <- as_output(file_output)
  wp <- as_flag(write_paths, "write_paths")
  params <- data.frame(channel = names(w), index = mask_weights(w), stringsAsFactors = FALSE)
  r <- quietly(.Call("new_paths_attribution_R", j$flg_file, j$file, j$data, j$path,
                     j$conversions, j$value, params, "channel", "index", j$field_sep,
                     j$channel_sep, as_flag(write_nulls, "write_nulls"),
                     wp, out, as_flag(verbose, "verbose"),
                     PACKAGE = "Touchlane"), verbose)
  has_value <- nzchar(j$value)
  chans <- head(names(w), -1)
  tp <- touchpoint_table(r, has_value = has_value)
  lost <- if (is.null(tp)) is.nan(r$vattr_convs_loc) else is.nan(tp$conversions)
  if (any(lost)) {
    where <- if (is.null(tp)) "some journeys" else
      paste0("the journeys in ", bad_rows(unique(tp$journey[lost])))
    tl_stop("`weights`: every channel of ", where, " has weight 0, so its conversions ",
            "cannot be split; give the channels (or \"(unknown)\") a positive weight")
  }
  tab <- if (is.null(tp)) channel_table(chans, r$vattr_convs_loc)
         else {
           all_ch <- unique(c(chans, tp$channel))
           channel_table(all_ch, per_channel(tp$channel, tp$conversions, all_ch),
                         if (has_value) per_channel(tp$channel, tp$value, all_ch))
         }
  new_touchlane_model("new_paths", channels = tab, touchpoints = tp, weights = w,
                      details = list(label = "weights applied to new journeys",
                                     file_output = file_output),
                      native = r, call = match.call(), j = j)
}

# A weight set splits conversions in proportion to the weights, so a weight
# is a number >= 0, and exactly one, the last, is "(unknown)" (the weight
# of channels the set does not list), whatever form it came in.
check_weight_set <- function(w) {
  neg <- which(w < 0)
  if (length(neg))
    tl_stop("`weights`: ", bad_rows(neg), " negative (channel '", names(w)[neg[1]], "': ",
            format(w[[neg[1]]]), "); weights must be at least 0")
  unk <- which(names(w) == "(unknown)")
  if (length(unk) != 1L || unk != length(w))
    tl_stop("`weights` needs exactly one weight named \"(unknown)\" for channels it does not list")
  w
}

# Plain named weights with "(unknown)" last, from any of the accepted forms.
plain_weights <- function(weights, masked) {
  if (inherits(weights, "touchlane_model")) {
    if (is.null(weights$weights))
      tl_stop("`weights`: model '", weights$model, "' has no weights to apply")
    return(weights$weights)
  }
  if (is.data.frame(weights)) {
    for (col in c("channel", "weight"))
      if (!(col %in% names(weights)))
        tl_stop("`weights`: column '", col, "' not found; the table needs columns channel ",
                "and weight")
    weights <- setNames(as.numeric(weights$weight), as.character(weights$channel))
  }
  if (!is.numeric(weights) || is.null(names(weights)) || anyNA(names(weights)))
    tl_stop("`weights` must be a model, a named numeric vector or a table of channel and weight")
  if (!length(weights)) tl_stop("`weights` is empty")
  if (anyNA(weights))
    tl_stop("`weights`: ", bad_rows(which(is.na(weights))), " NA")
  if (masked) {
    w <- unmask_checked(weights, "weights")
    names(w)[length(w)] <- "(unknown)"
    return(w)
  }
  check_plain(weights, "weights")
  unk <- which(names(weights) == "(unknown)")
  if (length(unk) != 1L)
    tl_stop("`weights` needs exactly one weight named \"(unknown)\" for channels it does not list")
  c(weights[-unk], weights[unk])
}
