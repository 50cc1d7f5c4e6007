# Several models on the same journeys, side by side.
#
# A model joins attribution() by defining, in its own file, an unexported
# function attr_model_<name>(j, ..., seed, verbose) that takes the checked
# journey arguments `j` (see journey_args()) and returns
# data.frame(channel, conversions, value) with one row per channel. It ignores
# the settings in `...` that it does not use.

#' Sample journeys bundled with the package
#'
#' 6,759 aggregated journeys over 9 channels (file
#' `inst/extdata/journeys.csv`), with the columns renamed to the package's
#' defaults.
#'
#' @return A data frame with columns `path` (channels separated by ">"),
#'   `conversions`, `value` and `nulls` (journeys that did not convert).
#' @examples
#' head(journeys_sample())
#' # the same journeys, streamed from the file
#' f <- system.file("extdata", "journeys.csv", package = "Touchlane")
#' heuristic_models(file = f, conversions = "total_conversions")
#' @export
journeys_sample <- function() {
  f <- system.file("extdata", "journeys.csv", package = "Touchlane")
  d <- utils::read.table(f, header = TRUE, sep = ";", quote = "", comment.char = "",
                         stringsAsFactors = FALSE)
  data.frame(path = d$path, conversions = d$total_conversions, value = d$total_conversion_value,
             nulls = d$total_null, stringsAsFactors = FALSE)
}

# The attr_model_* functions of the package, by model name.
attribution_models <- function() {
  ns <- asNamespace("Touchlane")
  fns <- ls(ns, pattern = "^attr_model_", all.names = TRUE)
  sub("^attr_model_", "", fns)
}

#' Credit per channel under several models, side by side
#'
#' Runs every model of `models` on the same journeys and returns one tidy
#' table: for each model and channel the attributed conversions, value and
#' share of the model's conversions. Every model lists the same channels in
#' the same order (a channel a model gives no credit has 0).
#'
#' Models: `"first"`, `"last"`, `"linear"` (heuristic rules, entry point
#' `heuristic_models_R`), `"markov"` (removal effects, `markov_model_R`;
#' settings `order`, `simulations`, `threads`), `"shapley"` (Shapley
#' totals, `shapley_R`; setting `simplified`), `"logistic"` (logistic
#' regression indices, `logistic_regression_R`; needs `nulls`, setting
#' `iterations` is not used), `"time_decay"` (each touch weighs
#' 2^(-days before conversion / `half_life`), `time_decay_R`; needs the
#' `days` column of [journeys_from_events()] with `times = TRUE`; setting
#' `half_life` in days, default 7). Other models of the package join under
#' their own names.
#'
#' @inheritParams heuristic_models
#' @param models Names of the models to run.
#' @param ... Model settings passed to every model (for example
#'   `order = 2L` or `threads = 2L` for `"markov"`); a model ignores the
#'   settings it does not use.
#' @param nulls Name of the column holding the counts of journeys that did
#'   not convert (needed by `"logistic"`), or `NULL`.
#' @param wide `TRUE` for one row per channel and one column per model
#'   (conversions, then value columns "value_<model>" when a value column
#'   is given).
#' @param seed Seed of the simulating models; `NULL` draws a fresh one.
#' @return A data frame of class `touchlane_attribution` with columns
#'   `channel`, `model`, `conversions`, `value` (`NA` without a value
#'   column) and `share`; or the wide form. `plot()` draws grouped bars.
#' @examples
#' a <- attribution(journeys_sample(), value = "value", nulls = "nulls", seed = 1,
#'                  simulations = 1e4)
#' a
#' attribution(journeys_sample(), models = c("first", "last", "linear"), wide = TRUE)
#' png(tempfile(fileext = ".png")); plot(a); dev.off()
#' @export
attribution <- function(data = NULL, models = c("first", "last", "linear", "markov", "shapley",
                                                "logistic"), ...,
                        file = NULL, path = "path", conversions = "conversions", value = NULL,
                        nulls = NULL, channel_sep = ">", field_sep = ";", wide = FALSE,
                        seed = NULL, verbose = FALSE) {
  as_flag(wide, "wide")
  as_flag(verbose, "verbose")
  if (!is.character(models) || !length(models) || anyNA(models))
    tl_stop("`models` must name at least one model")
  known <- attribution_models()
  unknown <- setdiff(models, known)
  if (length(unknown))
    tl_stop("`models`: unknown model ", paste0('"', unknown, '"', collapse = ", "),
            "; known models: ", paste0('"', known, '"', collapse = ", "))
  models <- unique(models)
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep)
  if (is.null(seed)) seed <- sample.int(.Machine$integer.max, 1L)
  ns <- asNamespace("Touchlane")
  res <- lapply(models, function(m) {
    f <- get(paste0("attr_model_", m), envir = ns, mode = "function")
    r <- f(j, ..., seed = seed, verbose = verbose)
    data.frame(channel = as.character(r$channel), model = m,
               conversions = as.numeric(r$conversions),
               value = if (nzchar(j$value)) as.numeric(r$value) else NA_real_,
               stringsAsFactors = FALSE)
  })
  long <- do.call(rbind, res)
  long <- long[long$channel != "(unknown)" | long$conversions != 0, , drop = FALSE]
  # one channel order for all models: most credited (on average) first
  avg <- tapply(long$conversions, long$channel, sum)
  chans <- names(avg)[order(-avg, names(avg))]
  grid <- expand.grid(channel = chans, model = models, stringsAsFactors = FALSE)
  key <- paste(long$model, long$channel, sep = "\r")
  conv <- tapply(long$conversions, key, sum)
  val <- tapply(long$value, key, sum)
  gk <- paste(grid$model, grid$channel, sep = "\r")
  grid$conversions <- unname(ifelse(is.na(conv[gk]), 0, conv[gk]))
  grid$value <- if (nzchar(j$value)) unname(ifelse(is.na(val[gk]), 0, val[gk])) else NA_real_
  tot <- tapply(grid$conversions, grid$model, sum)[grid$model]
  grid$share <- unname(ifelse(tot > 0, grid$conversions / tot, 0))
  out <- grid[, c("channel", "model", "conversions", "value", "share")]
  rownames(out) <- NULL
  if (wide) return(attribution_wide(out))
  structure(out, class = c("touchlane_attribution", "data.frame"))
}

attribution_wide <- function(long) {
  models <- unique(long$model)
  chans <- unique(long$channel)
  out <- data.frame(channel = chans, stringsAsFactors = FALSE)
  for (m in models) out[[m]] <- long$conversions[long$model == m]
  if (!all(is.na(long$value)))
    for (m in models) out[[paste0("value_", m)]] <- long$value[long$model == m]
  out
}

#' @export
as.data.frame.touchlane_attribution <- function(x, ...) {
  class(x) <- "data.frame"
  x
}

#' @export
print.touchlane_attribution <- function(x, ...) {
  chans <- if (all(c("channel", "model", "conversions", "value") %in% names(x)))
    split(x$channel, factor(x$model, unique(x$model)))
  if (is.null(chans) || !length(chans) ||
      !all(vapply(chans, identical, TRUE, chans[[1]]))) {
    print(as.data.frame(x), ...)
    return(invisible(x))
  }
  w <- attribution_wide(x)
  num <- vapply(w, is.numeric, TRUE)
  w[num] <- lapply(w[num], round, 2)
  cat("Conversions per channel and model\n")
  print(w, row.names = FALSE, ...)
  invisible(x)
}

#' Grouped bars of an attribution table
#'
#' @param x A result of [attribution()].
#' @param what `"conversions"`, `"value"` or `"share"`.
#' @param col Colours of the models' bars.
#' @param ... Passed to [graphics::barplot()].
#' @return `x`, invisibly.
#' @examples
#' a <- attribution(journeys_sample(), models = c("first", "last", "linear"))
#' png(tempfile(fileext = ".png")); plot(a, what = "share"); dev.off()
#' @export
plot.touchlane_attribution <- function(x, what = c("conversions", "value", "share"),
                                       col = NULL, ...) {
  what <- as_kind(what, c("conversions", "value", "share"), "what")
  if (what == "value" && all(is.na(x$value))) tl_stop("the attribution has no value column")
  models <- unique(x$model)
  chans <- unique(x$channel)
  m <- matrix(x[[what]], nrow = length(models), byrow = TRUE, dimnames = list(models, chans))
  if (is.null(col)) col <- grDevices::hcl.colors(length(models), "Dark 3")
  op <- graphics::par(mar = c(7, 5, 3, 1))
  on.exit(graphics::par(op))
  graphics::barplot(m, beside = TRUE, col = col, border = NA, las = 2,
                    ylim = c(min(0, m, na.rm = TRUE), 1.15 * max(0, m, na.rm = TRUE)),
                    ylab = what, main = paste("Attributed", what, "per channel and model"),
                    legend.text = models, args.legend = list(x = "topright", bty = "n"), ...)
  invisible(x)
}

# ---- the models of the first group -------------------------------------------

heuristic_channels <- function(j, rule) {
  r <- heuristic_native(j)
  chans <- unique(r$vpath_channel)
  data.frame(channel = chans,
             conversions = per_channel(r$vpath_channel, r[[paste0("vpath_attr_convs_", rule)]],
                                       chans),
             value = if (nzchar(j$value))
               per_channel(r$vpath_channel, r[[paste0("vpath_attr_value_", rule)]], chans)
             else NA_real_,
             stringsAsFactors = FALSE)
}

attr_model_first <- function(j, ..., seed = NULL, verbose = FALSE) heuristic_channels(j, "first")
attr_model_last <- function(j, ..., seed = NULL, verbose = FALSE) heuristic_channels(j, "last")
attr_model_linear <- function(j, ..., seed = NULL, verbose = FALSE) heuristic_channels(j, "linear")
