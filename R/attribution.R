# Several models on the same journeys, side by side.
#
# A model joins attribution() by defining, in its own file, an unexported
# function attr_model_<name>(j, ..., seed, verbose) that takes the checked
# journey arguments `j` (see journey_args()) and returns
# data.frame(channel, conversions, value) with one row per channel. Its
# named arguments after `...` are its settings: attribution() refuses a
# setting that no chosen model names.

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
#' `heuristic_models_R`), `"position"` (position-based: shares set by
#' `position_shares = c(first = 0.4, last = 0.4)`, the rest split evenly
#' over the middle touches; shares above 1 in total by rounding, at most
#' 1e-12, leave the middle touches nothing; entry point `rule_models_R`),
#' `"last_non_direct"` (conversions and value to the last touch not in
#' `direct_channels`, default `"direct"`, names read with the same blanks
#' rule as channels; a journey of direct touches only credits its last
#' touch), `"markov"` (removal effects, `markov_model_R`;
#' settings `order`, `simulations`, `threads`, `max_steps`, and `method =
#' "exact"` with `horizon` as in [markov_model()]), `"shapley"` (Shapley
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
#'   settings it does not use, but a setting no chosen model uses (a
#'   misspelt name, say) is an error that lists the known settings.
#' @param nulls Name of the column holding the counts of journeys that did
#'   not convert (needed by `"logistic"`), or `NULL`.
#' @param wide `TRUE` for one row per channel and one column per model
#'   (conversions, then value columns "value_<model>" when a value column
#'   is given).
#' @param seed Seed of the simulating models and of the bootstrap; `NULL`
#'   draws a fresh one.
#' @param bootstrap Number of bootstrap replicates (0: none). Each
#'   replicate redraws every row's conversions and nulls as Poisson counts
#'   around the observed ones and refits the model; the columns `lower`
#'   and `upper` then give the central `level` interval of each channel's
#'   attributed conversions, and `plot()` draws them as error bars.
#'   Available for "first", "last", "linear", "position",
#'   "last_non_direct", "shapley", "logistic" and "markov" (either
#'   method); replicates run on `threads` threads (a setting in `...`) and
#'   do not depend on their number.
#' @param level Coverage of the bootstrap intervals.
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
                        seed = NULL, verbose = FALSE, bootstrap = 0, level = 0.9) {
  as_flag(wide, "wide")
  as_whole(bootstrap, "bootstrap", 0, 1e6)
  as_flag(verbose, "verbose")
  if (!is.character(models) || !length(models) || anyNA(models))
    tl_stop("`models` must name at least one model")
  known <- attribution_models()
  unknown <- setdiff(models, known)
  if (length(unknown))
    tl_stop("`models`: unknown model ", paste0('"', unknown, '"', collapse = ", "),
            "; known models: ", paste0('"', known, '"', collapse = ", "))
  models <- unique(models)
  check_settings(list(...), models, bootstrap > 0)
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep)
  if (is.null(seed)) seed <- sample.int(.Machine$integer.max, 1L)
  ns <- asNamespace("Touchlane")
  res <- lapply(models, function(m) {
    f <- get(paste0("attr_model_", m), envir = ns, mode = "function")
    r <- f(j, ..., seed = seed, verbose = verbose)
    n <- length(r$channel)
    data.frame(channel = as.character(r$channel), model = rep(m, n),
               conversions = as.numeric(r$conversions),
               value = if (nzchar(j$value)) as.numeric(r$value) else rep(NA_real_, n),
               stringsAsFactors = FALSE)
  })
  long <- do.call(rbind, res)
  if (!nrow(long))
    tl_stop("the journeys have no conversions (column '", j$conversions, "' is 0 throughout): ",
            "nothing to attribute")
  long <- long[long$channel != "(unknown)" | long$conversions != 0, , drop = FALSE]
  # one channel order for all models: most credited (on average) first
  avg <- tapply(long$conversions, long$channel, sum)
  chans <- names(avg)[order(-avg, names(avg))]
  grid <- expand.grid(channel = chans, model = models, stringsAsFactors = FALSE)
  key <- paste(long$model, long$channel, sep = "\r")
  conv <- tapply(long$conversions, key, sum)
  val <- tapply(long$value, key, sum)
  gk <- paste(grid$model, grid$channel, sep = "\r")
  # as.vector: plain numeric columns, not the one-dimensional arrays tapply gives
  grid$conversions <- as.vector(ifelse(is.na(conv[gk]), 0, conv[gk]))
  grid$value <- if (nzchar(j$value)) as.vector(ifelse(is.na(val[gk]), 0, val[gk])) else NA_real_
  tot <- tapply(grid$conversions, grid$model, sum)[grid$model]
  grid$share <- as.vector(ifelse(tot > 0, grid$conversions / tot, 0))
  out <- grid[, c("channel", "model", "conversions", "value", "share")]
  rownames(out) <- NULL
  if (bootstrap > 0) out <- attribution_intervals(out, j, models, list(...), bootstrap, level, seed)
  if (wide) return(attribution_wide(out))
  structure(out, class = c("touchlane_attribution", "data.frame"))
}

# Settings no chosen model reads are refused: a misspelt `oder = 2` would
# otherwise leave the default in force without a word.
check_settings <- function(settings, models, bootstrap) {
  if (!length(settings)) return(invisible(NULL))
  nm <- names(settings)
  if (is.null(nm) || !all(nzchar(nm)))
    tl_stop("model settings in `...` must be named, as in order = 2")
  ns <- asNamespace("Touchlane")
  known <- unique(unlist(lapply(models, function(m) {
    setdiff(names(formals(get(paste0("attr_model_", m), envir = ns))), c("j", "...", "seed", "verbose"))
  })))
  if (bootstrap) known <- union(known, "threads")
  unused <- setdiff(nm, known)
  if (length(unused))
    tl_stop(if (length(unused) == 1) "setting " else "settings ", paste0("`", unused, "`", collapse = ", "),
            " not used by model", if (length(models) > 1) "s", " ", paste0('"', models, '"', collapse = ", "),
            if (length(known)) paste0("; their settings: ", paste(sort(known), collapse = ", "))
            else "; they take no settings")
  invisible(NULL)
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
  if (is.null(col)) col <- model_colours(models)
  op <- graphics::par(mar = c(7, 5, 3, 1))
  on.exit(graphics::par(op))
  mids <- graphics::barplot(m, beside = TRUE, col = col, border = NA, las = 2,
                    ylim = c(min(0, m, na.rm = TRUE), 1.15 * max(0, m, na.rm = TRUE)),
                    ylab = what, main = paste("Attributed", what, "per channel and model"),
                    legend.text = models, args.legend = list(x = "topright", bty = "n"), ...)
  attribution_error_bars(x, as.vector(t(mids)), what)
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
             else rep(NA_real_, length(chans)),
             stringsAsFactors = FALSE)
}

attr_model_first <- function(j, ..., seed = NULL, verbose = FALSE) heuristic_channels(j, "first")
attr_model_last <- function(j, ..., seed = NULL, verbose = FALSE) heuristic_channels(j, "last")
attr_model_linear <- function(j, ..., seed = NULL, verbose = FALSE) heuristic_channels(j, "linear")
