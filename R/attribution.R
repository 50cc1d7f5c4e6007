# Several models on the same journeys, side by side.
#
# A model joins attribution() by one entry in `attribution_registry` below:
# the name of its function fit(j, ..., seed, verbose), which takes the
# checked journey arguments `j` (see journey_args()) and returns
# data.frame(channel, conversions, value) with one row per channel (its
# named arguments after `...` are its settings: attribution() refuses a
# setting that no chosen model names), how its settings become those of
# the native bootstrap (NULL: no intervals), and how it credits the
# touches of one journey (NULL: no journey-level credit).

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

# The models of attribution(), by name. `fit` names the model's function;
# `bootstrap` turns the settings given to attribution() into those of the
# native bootstrap (entry point bootstrap_R, model `native`); `touches`
# names the credit rule of one journey's touches (see touch_shares()).
attribution_registry <- list(
  first = list(fit = "attr_model_first", native = "first", bootstrap = function(s) list(),
               touches = "first"),
  last = list(fit = "attr_model_last", native = "last", bootstrap = function(s) list(),
              touches = "last"),
  linear = list(fit = "attr_model_linear", native = "linear", bootstrap = function(s) list(),
                touches = "linear"),
  position = list(fit = "attr_model_position", native = "position", touches = "position",
                  bootstrap = function(s) {
                    sh <- check_position_shares(if (is.null(s$position_shares))
                      c(first = 0.4, last = 0.4) else s$position_shares)
                    list(first_share = sh[["first"]], last_share = sh[["last"]])
                  }),
  last_non_direct = list(fit = "attr_model_last_non_direct", native = "last_non_direct",
                         touches = "last_non_direct", bootstrap = function(s) {
                           if (is.null(s$direct_channels)) return(list())
                           check_direct_channels(s$direct_channels)
                           list(direct_channels = s$direct_channels)
                         }),
  markov = list(fit = "attr_model_markov", native = "markov", touches = "weights",
                bootstrap = function(s) {
                  out <- list(exact = as.numeric(markov_method(
                    if (is.null(s$method)) "exact" else s$method) == "exact"))
                  if (!is.null(s$horizon))
                    out$unlimited <- as.numeric(markov_horizon(s$horizon) == "unlimited")
                  if (!is.null(s$order)) out$order <- as_order(s$order)
                  if (!is.null(s$simulations))
                    out$nsim_start <- as_whole(s$simulations, "simulations", 1)
                  if (!is.null(s$max_steps)) out$max_step <- as_whole(s$max_steps, "max_steps", 0)
                  out
                }),
  shapley = list(fit = "attr_model_shapley", native = "shapley", touches = "weights",
                 bootstrap = function(s) {
                   if (is.null(s$simplified)) list()
                   else list(flg_simplified = as_flag(s$simplified, "simplified"))
                 }),
  logistic = list(fit = "attr_model_logistic", native = "logistic", touches = NULL,
                  bootstrap = function(s) list()),
  time_decay = list(fit = "attr_model_time_decay", bootstrap = NULL, touches = "time_decay"),
  probabilistic = list(fit = "attr_model_probabilistic", bootstrap = NULL, touches = NULL),
  additive_hazard = list(fit = "attr_model_additive_hazard", bootstrap = NULL, touches = NULL)
)

attribution_fit <- function(m) get(attribution_registry[[m]]$fit, envir = asNamespace("Touchlane"),
                                   mode = "function")

#' Credit per channel under several models, side by side
#'
#' Runs every model of `models` on the same journeys and returns one tidy
#' table: for each model and channel the attributed conversions, value and
#' share of the model's conversions. Every model lists the same channels in
#' the same order (a channel a model gives no credit has 0).
#'
#' Models: `"first"`, `"last"`, `"linear"` (heuristic rules, entry point
#' `heuristic_models_R`, read once for the three), `"position"`
#' (position-based: shares set by `position_shares = c(first = 0.4, last =
#' 0.4)`, the rest split evenly over the middle touches; shares above 1 in
#' total by rounding, at most 1e-12, leave the middle touches nothing;
#' entry point `rule_models_R`), `"last_non_direct"` (the last touch not in
#' `direct_channels`, default `"direct"`, names read with the same blanks
#' rule as channels; a journey of direct touches only credits its last
#' touch), `"markov"` (removal effects,
#' `markov_model_R`; settings `order`, `simulations`, `threads`,
#' `max_steps`, `method` (default `"exact"`) and `horizon` as in
#' [markov_model()]), `"shapley"` (Shapley totals, `shapley_R`; setting
#' `simplified`), `"logistic"` (logistic regression indices,
#' `logistic_regression_R`; needs `nulls`), `"time_decay"` (each touch
#' weighs 2^(-days before conversion / `half_life`), `time_decay_R`; needs
#' the `days` column of [journeys_from_events()] with `times = TRUE`;
#' setting `half_life` in days, default 7), `"probabilistic"` (see
#' [probabilistic_model()]) and `"additive_hazard"` (see
#' [additive_hazard()]).
#'
#' **Shapley and linear.** With conversion totals as the worth of a set of
#' channels (the `"shapley"` model here) the game is a sum of one small
#' game per journey, so the Shapley value splits each journey's conversions
#' equally among its distinct channels: the `"shapley"` column equals the
#' `"linear"` one (linear touch too splits a journey's conversions
#' equally among its distinct channels). A Shapley value that differs scores the channel sets by their conversion rate:
#' `shapley(data, nulls = "nulls", kind = "conversion_rate")`.
#'
#' **Columns used.** When `value` or `nulls` is not given and the journeys
#' have a column of that name (`"value"`, `"nulls"`), it is used, and a
#' one-line message says so; give `value = NULL` or `nulls = NULL` to leave
#' it out.
#'
#' **Seeds.** `seed = NULL` draws the seed from R's random number generator,
#' so `set.seed()` makes the call repeat; the seed used is the attribute
#' `"seed"` of the result. The simulated Markov result (`method =
#' "simulation"`) depends on `threads` as well (thread w simulates with
#' seed + w); the exact Markov method and the bootstrap intervals do not.
#'
#' **Return on ad spend.** With `spend = data.frame(channel, spend)` the
#' table gains `cost_per_conversion` (spend / conversions) and `roas`
#' (value / spend) for every model and channel (`NA` where the channel has
#' no spend, no conversions or, for `roas`, without a value column);
#' `plot(x, what = "roas")` draws them.
#'
#' **Journey-level credit.** `level = "journey"` (or `as.data.frame(x,
#' level = "journey")` of the table) gives one row per model and journey
#' and one column per channel: the journey's conversions as each model
#' splits them over its touches. First, last, linear, position,
#' last-non-direct and time decay use their own rules; Markov and Shapley split every journey's
#' conversions over its touches in proportion to the channels' credit in
#' the table (their removal effects and Shapley values), each distinct
#' channel of the journey counted once. The other models have no
#' journey-level rule. For the rules the journey columns add up to the
#' channel table.
#'
#' @inheritParams heuristic_models
#' @param models Names of the models to run.
#' @param ... Model settings passed to every model (for example
#'   `order = 2L` or `threads = 2L` for `"markov"`); a model ignores the
#'   settings it does not use, but a setting no chosen model uses (a
#'   misspelt name, say) is an error that lists the known settings.
#' @param value Name of the column holding the conversion value, or `NULL`
#'   for none; when not given, a column `"value"` is used if there is one.
#' @param nulls Name of the column holding the counts of journeys that did
#'   not convert (needed by `"logistic"` and `"probabilistic"`), or `NULL`;
#'   when not given, a column `"nulls"` is used if there is one.
#' @param wide `TRUE` for one row per channel and one column per model
#'   (conversions; then `lower_<model>` and `upper_<model>` with
#'   `bootstrap`, "value_<model>" with a value column, and
#'   `cost_per_conversion_<model>` and `roas_<model>` with `spend`).
#' @param seed Seed of the simulating models and of the bootstrap; `NULL`
#'   draws one from R's random number generator (see Details).
#' @param verbose `TRUE` shows a progress bar over the models and the
#'   bootstrap (in interactive sessions) and the models' progress text as
#'   messages.
#' @param bootstrap Number of bootstrap replicates (0: none). Each
#'   replicate redraws every row's conversions and nulls as Poisson counts
#'   around the observed ones and refits the model; the columns `lower`
#'   and `upper` then give the central `level` interval of each channel's
#'   attributed conversions, `print()` shows them, `confint()` gives them
#'   at any level and `plot()` draws them as error bars. Available for
#'   "first", "last", "linear", "position", "last_non_direct", "shapley",
#'   "logistic" and "markov" (either method); replicates run on `threads`
#'   threads (a setting in `...`) and do not depend on their number.
#' @param level Coverage of the bootstrap intervals (a number), or
#'   `"journey"` for journey-level credit (see Details).
#' @param spend A data frame with columns `channel` and `spend` (one row
#'   per channel, spend at least 0), or `NULL`.
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one before the models run ("a > a > b" becomes
#'   "a > b", rows re-aggregated as by [transform_paths()]). Not with the
#'   models that read the `days` column.
#' @return A data frame of class `touchlane_attribution` with columns
#'   `channel`, `model`, `conversions`, `value` (`NA` without a value
#'   column) and `share` (and `lower`, `upper`, `cost_per_conversion`,
#'   `roas` as above), all plain numeric vectors; or the wide form; or with
#'   `level = "journey"` the journey-level table. `plot()` draws grouped
#'   bars.
#' @examples
#' a <- attribution(journeys_sample(), seed = 1)
#' a
#' attr(a, "seed")
#' # the Shapley value of conversion rates differs from linear touch
#' coef(shapley(journeys_sample(), nulls = "nulls", kind = "conversion_rate"))
#' b <- attribution(journeys_sample(), models = c("first", "last", "linear"), bootstrap = 50,
#'                  seed = 1, spend = data.frame(channel = c("paid search", "display"),
#'                                               spend = c(40000, 25000)))
#' b
#' confint(b)
#' attribution(journeys_sample(), models = c("first", "last", "linear"), wide = TRUE)
#' head(attribution(journeys_sample(), models = "linear", level = "journey"))
#' png(tempfile(fileext = ".png")); plot(b); plot(b, what = "roas"); dev.off()
#' @export
attribution <- function(data = NULL, models = c("first", "last", "linear", "markov", "shapley",
                                                "logistic"), ...,
                        file = NULL, path = "path", conversions = "conversions", value = NULL,
                        nulls = NULL, channel_sep = ">", field_sep = ";", wide = FALSE,
                        seed = NULL, verbose = FALSE, bootstrap = 0, level = 0.9,
                        spend = NULL, remove_loops = FALSE) {
  as_flag(wide, "wide")
  as_whole(bootstrap, "bootstrap", 0, 1e6)
  as_flag(verbose, "verbose")
  journey_level <- is.character(level)
  if (journey_level) as_kind(level, c("channel", "journey"), "level")
  journey_level <- journey_level && level[1] == "journey"
  if (!is.character(models) || !length(models) || anyNA(models))
    tl_stop("`models` must name at least one model")
  known <- names(attribution_registry)
  unknown <- setdiff(models, known)
  if (length(unknown))
    tl_stop("`models`: unknown model ", paste0('"', unknown, '"', collapse = ", "),
            "; known models: ", paste0('"', known, '"', collapse = ", "))
  models <- unique(models)
  if (journey_level) check_journey_models(models)
  settings <- list(...)
  check_settings(settings, models, bootstrap > 0)
  cols <- found_columns(data, file, field_sep, value, nulls, missing(value), missing(nulls))
  j <- journey_args(data, file, path, conversions, cols$value, cols$nulls, channel_sep, field_sep,
                    remove_loops = remove_loops)
  spend <- check_spend(spend)
  seed <- as_seed(seed)
  j$cache <- new.env(parent = emptyenv())   # native results shared by models (first, last, linear)
  bar <- progress_bar(verbose, length(models), "models")
  res <- lapply(models, function(m) {
    r <- attribution_fit(m)(j, ..., seed = seed, verbose = verbose)
    progress_step(bar)
    n <- length(r$channel)
    data.frame(channel = as.character(r$channel), model = rep(m, n),
               conversions = as.numeric(r$conversions),
               value = if (nzchar(j$value)) as.numeric(r$value) else rep(NA_real_, n),
               stringsAsFactors = FALSE)
  })
  progress_done(bar)
  j$cache <- NULL
  long <- do.call(rbind, res)
  if (!nrow(long))
    tl_stop("the journeys have no conversions (column '", j$conversions, "' is 0 throughout): ",
            "nothing to attribute")
  long <- long[long$channel != "(unknown)" | long$conversions != 0, , drop = FALSE]
  # one channel order for all models: most credited (on average) first
  avg <- rowsum(long$conversions, long$channel)
  chans <- rownames(avg)[order(-avg[, 1], rownames(avg))]
  grid <- expand.grid(channel = chans, model = models, stringsAsFactors = FALSE)
  key <- paste(long$model, long$channel, sep = "\r")
  at <- match(paste(grid$model, grid$channel, sep = "\r"), unique(key))
  sums <- function(x) {
    s <- rowsum(x, factor(key, unique(key)))[, 1]
    ifelse(is.na(at), 0, as.vector(s[at]))
  }
  grid$conversions <- sums(long$conversions)
  grid$value <- if (nzchar(j$value)) sums(long$value) else NA_real_
  tot <- stats::ave(grid$conversions, grid$model, FUN = sum)
  grid$share <- ifelse(tot > 0, grid$conversions / tot, 0)
  out <- grid[, c("channel", "model", "conversions", "value", "share")]
  rownames(out) <- NULL
  if (bootstrap > 0)
    out <- attribution_intervals(out, j, models, settings, bootstrap, level_number(level), seed,
                                 verbose)
  if (!is.null(spend)) out <- add_spend(out, spend)
  out <- structure(out, class = c("touchlane_attribution", "data.frame"), seed = seed,
                   journeys = j, settings = settings)
  if (journey_level) return(journey_credit(out))
  if (wide) return(structure(attribution_wide(out), seed = seed))
  out
}

level_number <- function(level) if (is.character(level)) 0.9 else level

# Columns "value" and "nulls" of the journeys are used when the caller
# did not name these arguments: the sample (and most journey tables built
# by the package) carries them, and leaving them out changes the results
# without a word.
found_columns <- function(data, file, field_sep, value, nulls, value_missing, nulls_missing) {
  if (!value_missing && !nulls_missing) return(list(value = value, nulls = nulls))
  have <- if (!is.null(file) && is.null(data) && is.character(file) && length(file) == 1L &&
              !is.na(file) && file.exists(file) && !dir.exists(file)) {
    h <- readLines(file, n = 1L, warn = FALSE)
    if (length(h) && is.character(field_sep) && length(field_sep) == 1L && !is.na(field_sep) &&
        nzchar(field_sep))
      trimws(strsplit(sub("\r$", "", h), substr(field_sep, 1, 1), fixed = TRUE)[[1]])
  } else if (is.list(data)) names(data)
  used <- character()
  if (value_missing && "value" %in% have) { value <- "value"; used <- "value" }
  if (nulls_missing && "nulls" %in% have) { nulls <- "nulls"; used <- c(used, "nulls") }
  if (length(used))
    message("Using the column", if (length(used) > 1) "s", " ", paste0("'", used, "'",
            collapse = " and "), " of the journeys (",
            paste0(used, " = NULL", collapse = ", "), " leaves ",
            if (length(used) > 1) "them" else "it", " out)")
  list(value = value, nulls = nulls)
}

# spend = data.frame(channel, spend): one row per channel, spend >= 0.
check_spend <- function(spend) {
  if (is.null(spend)) return(NULL)
  if (!is.data.frame(spend) || !all(c("channel", "spend") %in% names(spend)))
    tl_stop("`spend` must be a data frame with columns channel and spend")
  ch <- as.character(spend$channel)
  s <- spend$spend
  if (!is.numeric(s)) tl_stop("`spend`: column 'spend' must be numeric, not ", class(s)[1])
  bad <- which(is.na(ch) | is.na(s) | s < 0 | !is.finite(s))
  if (length(bad)) tl_stop("`spend`: ", bad_rows(bad), " NA, negative or infinite")
  dup <- which(duplicated(ch))
  if (length(dup)) tl_stop("`spend`: channel '", ch[dup[1]], "' appears more than once")
  setNames(as.numeric(s), ch)
}

# cost_per_conversion and roas of every model and channel.
add_spend <- function(out, spend) {
  unknown <- setdiff(names(spend), out$channel)
  if (length(unknown))
    tl_stop("`spend`: channel", if (length(unknown) > 1) "s", " ",
            paste0("'", unknown, "'", collapse = ", "), " not among the channels of the ",
            "journeys: ", paste0("'", unique(out$channel), "'", collapse = ", "))
  s <- unname(spend[out$channel])
  out$spend <- s
  out$cost_per_conversion <- ifelse(!is.na(s) & out$conversions > 0, s / out$conversions, NA_real_)
  out$roas <- ifelse(!is.na(s) & s > 0, out$value / s, NA_real_)
  out
}

# Settings no chosen model reads are refused: a misspelt `oder = 2` would
# otherwise leave the default in force without a word.
check_settings <- function(settings, models, bootstrap) {
  if (!length(settings)) return(invisible(NULL))
  nm <- names(settings)
  if (is.null(nm) || !all(nzchar(nm)))
    tl_stop("model settings in `...` must be named, as in order = 2")
  known <- unique(unlist(lapply(models, function(m) {
    setdiff(names(formals(attribution_fit(m))), c("j", "...", "seed", "verbose"))
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
  for (b in intersect(c("lower", "upper"), names(long)))
    for (m in models) out[[paste0(b, "_", m)]] <- long[[b]][long$model == m]
  if (!all(is.na(long$value)))
    for (m in models) out[[paste0("value_", m)]] <- long$value[long$model == m]
  for (b in intersect(c("cost_per_conversion", "roas"), names(long)))
    for (m in models) out[[paste0(b, "_", m)]] <- long[[b]][long$model == m]
  out
}

#' @rdname attribution
#' @param x,object A result of `attribution()`.
#' @param row.names,optional Ignored (for the generic).
#' @export
as.data.frame.touchlane_attribution <- function(x, row.names = NULL, optional = FALSE, ...,
                                                level = c("channel", "journey")) {
  level <- as_kind(level, c("channel", "journey"), "level")
  if (level == "journey") return(journey_credit(x))
  attributes(x) <- attributes(x)[c("names", "row.names")]
  class(x) <- "data.frame"
  x
}

#' @rdname attribution
#' @param parm Rows of the table (as `"model: channel"`) or models to give
#'   intervals for; all when missing.
#' @export
confint.touchlane_attribution <- function(object, parm, level = attr(object, "level"), ...) {
  reps <- attr(object, "replicates")
  if (is.null(reps) && all(c("lower", "upper") %in% names(object)) && missing(level)) {
    # a subset of the table keeps its columns but not the replicates
    q <- cbind(object$lower, object$upper)
    dimnames(q) <- list(paste0(object$model, ": ", object$channel), c("lower", "upper"))
    return(if (missing(parm)) q else q[rownames(q) %in% parm | object$model %in% parm, , drop = FALSE])
  }
  if (is.null(reps))
    tl_stop("the attribution has no intervals: run attribution() with bootstrap = R replicates")
  level <- as_number(level, "level", 0, 1)
  probs <- c((1 - level) / 2, (1 + level) / 2)
  q <- t(apply(reps, 1L, function(r) if (anyNA(r)) c(NA_real_, NA_real_)
                 else stats::quantile(r, probs, names = FALSE, type = 7)))
  rn <- paste0(object$model, ": ", object$channel)
  dimnames(q) <- list(rn, paste(format(100 * probs, trim = TRUE, scientific = FALSE, digits = 3),
                                "%"))
  if (!missing(parm)) q <- q[rn %in% parm | object$model %in% parm, , drop = FALSE]
  q
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
  d <- as.data.frame(x)
  models <- names(chans)
  tab <- data.frame(channel = chans[[1]], stringsAsFactors = FALSE)
  has_ci <- all(c("lower", "upper") %in% names(d))
  for (m in models) {
    r <- d[d$model == m, , drop = FALSE]
    tab[[m]] <- if (has_ci && !all(is.na(r$lower)))
      sprintf("%.2f [%.2f, %.2f]", r$conversions, r$lower, r$upper)
    else round(r$conversions, 2)
  }
  cat("Conversions per channel and model",
      if (has_ci) sprintf(" (%g%% bootstrap intervals of %d replicates in brackets)",
                          100 * attr(x, "level"), ncol(attr(x, "replicates"))), "\n", sep = "")
  print(tab, row.names = FALSE, right = TRUE, ...)
  if ("roas" %in% names(d)) {
    r <- data.frame(channel = chans[[1]], stringsAsFactors = FALSE)
    for (m in models) r[[m]] <- round(d$roas[d$model == m], 2)
    cat("\nReturn on ad spend (value / spend) per channel and model\n")
    print(r, row.names = FALSE, ...)
  }
  if ("shapley" %in% models)
    cat("\nshapley equals linear: with conversion totals as worth, both split each journey's",
        "conversions\nequally among its distinct channels; shapley(kind = \"conversion_rate\")",
        "scores the channel\nsets by their conversion rate instead.\n")
  invisible(x)
}

#' Grouped bars of an attribution table
#'
#' @param x A result of [attribution()].
#' @param what `"conversions"`, `"value"`, `"share"`, `"cost_per_conversion"`
#'   or `"roas"` (the last two need `spend` in [attribution()]).
#' @param col Colours of the models' bars.
#' @param ... Passed to [graphics::barplot()].
#' @return `x`, invisibly.
#' @examples
#' a <- attribution(journeys_sample(), models = c("first", "last", "linear"),
#'                  spend = data.frame(channel = "paid search", spend = 40000))
#' png(tempfile(fileext = ".png")); plot(a, what = "share"); plot(a, what = "roas"); dev.off()
#' @export
plot.touchlane_attribution <- function(x, what = c("conversions", "value", "share",
                                                   "cost_per_conversion", "roas"),
                                       col = NULL, ...) {
  what <- as_kind(what, c("conversions", "value", "share", "cost_per_conversion", "roas"), "what")
  if (what == "value" && all(is.na(x$value))) tl_stop("the attribution has no value column")
  if (what %in% c("cost_per_conversion", "roas") && !(what %in% names(x)))
    tl_stop("the attribution has no ", what, ": give `spend` to attribution()")
  if (what == "roas" && all(is.na(x$value))) tl_stop("the attribution has no value column")
  models <- unique(x$model)
  chans <- unique(x$channel)
  m <- matrix(x[[what]], nrow = length(models), byrow = TRUE, dimnames = list(models, chans))
  if (what %in% c("cost_per_conversion", "roas"))
    m <- m[, colSums(!is.na(m)) > 0, drop = FALSE]
  if (is.null(col)) col <- model_colours(models)
  op <- graphics::par(mar = c(7, 5, 3, 1))
  on.exit(graphics::par(op))
  label <- c(conversions = "conversions", value = "value", share = "share",
             cost_per_conversion = "cost per conversion", roas = "return on ad spend")[[what]]
  mids <- graphics::barplot(m, beside = TRUE, col = col, border = NA, las = 2,
                    ylim = c(min(0, m, na.rm = TRUE), 1.15 * max(0, m, na.rm = TRUE)),
                    ylab = label, main = paste("Attributed", label, "per channel and model"),
                    legend.text = models, args.legend = list(x = "topright", bty = "n"), ...)
  attribution_error_bars(x, as.vector(t(mids)), what)
  invisible(x)
}

# ---- the models of the first group -------------------------------------------

heuristic_channels <- function(j, rule) {
  # first, last and linear come from one native pass over the journeys
  r <- if (is.environment(j$cache) && !is.null(j$cache$heuristic)) j$cache$heuristic
       else heuristic_native(j)
  if (is.environment(j$cache)) j$cache$heuristic <- r
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

# ---- journey-level credit ------------------------------------------------------

check_journey_models <- function(models) {
  none <- models[vapply(models, function(m) is.null(attribution_registry[[m]]$touches), TRUE)]
  if (length(none))
    tl_stop('level = "journey": no journey-level credit for model',
            if (length(none) > 1) "s", " ", paste0('"', none, '"', collapse = ", "),
            '; it is available for "first", "last", "linear", "position", "last_non_direct", ',
            '"time_decay", "markov" and "shapley"')
}

# The touches of every path: journey index, channel (trimmed as the native
# reader trims it), position from 1 and number of touches of the journey.
journey_touches <- function(paths, channel_sep) {
  pieces <- strsplit(paths, substr(channel_sep, 1, 1), fixed = TRUE)
  id <- rep.int(seq_along(paths), lengths(pieces))
  ch <- gsub(" +", " ", gsub("^[ \t]+|[ \t]+$", "", unlist(pieces, use.names = FALSE)))
  keep <- nzchar(ch)
  id <- id[keep]
  ch <- ch[keep]
  key <- match(paste(id, ch, sep = "\r"), unique(paste(id, ch, sep = "\r")))
  m <- tabulate(key)[key]                      # touches of the same channel in the journey
  list(id = id, channel = ch, pos = seq_along(id) - match(id, id) + 1L,
       n = tabulate(id, length(paths))[id], m = m,
       distinct = rowsum(1 / m, id, reorder = FALSE)[as.character(id), 1], keep = keep)
}

# Each touch's share of its journey's conversions under the rule `rule`.
touch_shares <- function(rule, t, j, settings, credit) {
  norm <- function(w) {
    tot <- rowsum(w, t$id)[as.character(t$id), 1]
    ifelse(tot > 0, w / tot, 1 / t$n)   # all weights 0: evenly
  }
  switch(rule,
    first = as.numeric(t$pos == 1L),
    last = as.numeric(t$pos == t$n),
    linear = 1 / (t$distinct * t$m),   # equal per distinct channel, as the native rule
    position = {
      sh <- check_position_shares(if (is.null(settings$position_shares))
        c(first = 0.4, last = 0.4) else settings$position_shares)
      f <- sh[["first"]]; l <- sh[["last"]]
      two <- if (f + l > 0) ifelse(t$pos == 1L, f / (f + l), l / (f + l)) else 0.5
      mid <- (1 - f - l) / pmax(t$n - 2, 1)
      ifelse(t$n == 1L, 1, ifelse(t$n == 2L, two,
             ifelse(t$pos == 1L, f, ifelse(t$pos == t$n, l, mid))))
    },
    last_non_direct = {
      direct <- if (is.null(settings$direct_channels)) "direct" else settings$direct_channels
      at <- stats::ave(ifelse(t$channel %in% gsub(" +", " ", trimws(direct)), 0L, t$pos), t$id,
                       FUN = max)
      as.numeric(t$pos == ifelse(at == 0, t$n, at))   # all direct: the last touch
    },
    time_decay = {
      h <- check_half_life(if (is.null(settings$half_life)) 7 else settings$half_life)
      d <- journey_days(j, if (is.null(settings$days)) "days" else settings$days, "time_decay")
      days <- as.numeric(unlist(strsplit(d$days, substr(j$channel_sep, 1, 1), fixed = TRUE)))
      if (length(days) != length(t$keep) && length(days) == length(t$id)) t$keep <- rep(TRUE, length(days))
      if (length(days) != length(t$keep) || anyNA(days[t$keep]))
        tl_stop("column \"", if (is.null(settings$days)) "days" else settings$days,
                "\" (days): its days do not match the touches of the paths")
      days <- days[t$keep]
      nearest <- stats::ave(days, t$id, FUN = min)
      norm(2^(-(days - nearest) / h))
    },
    weights = norm(pmax(0, unname(credit[t$channel])) / t$m))   # each distinct channel once
}

# One row per model and journey, one column per channel: the journey's
# conversions as each model splits them over its touches.
journey_credit <- function(x) {
  j <- attr(x, "journeys")
  if (is.null(j)) tl_stop("the attribution table has lost its journeys: run attribution() again")
  models <- unique(x$model)
  check_journey_models(models)
  jr <- if (j$flg_file == 1) journeys_in_r(j) else j
  paths <- jr$data[[j$path]]
  conv <- jr$data[[j$conversions]]
  t <- journey_touches(paths, j$channel_sep)
  chans <- unique(c(x$channel[x$channel != "(unknown)"], t$channel))
  settings <- attr(x, "settings")
  rows <- lapply(models, function(m) {
    credit <- setNames(x$conversions[x$model == m], x$channel[x$model == m])
    share <- touch_shares(attribution_registry[[m]]$touches, t, j, settings, credit)
    mat <- matrix(0, length(paths), length(chans))
    cell <- cbind(t$id, match(t$channel, chans))
    s <- rowsum(share * conv[t$id], paste(cell[, 1], cell[, 2]))
    ij <- do.call(rbind, lapply(strsplit(rownames(s), " ", fixed = TRUE), as.integer))
    mat[ij] <- s[, 1]
    colnames(mat) <- chans
    cbind(data.frame(model = rep(m, length(paths)), path = paths, conversions = conv,
                     stringsAsFactors = FALSE),
          as.data.frame(mat, optional = TRUE))
  })
  out <- do.call(rbind, rows)
  rownames(out) <- NULL
  out
}
