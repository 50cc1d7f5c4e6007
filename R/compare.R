#' Compare attribution models by the conversions their advice yields
#'
#' Builds a population from the journeys and, in each of `iterations`
#' rounds, draws a sample, runs every model on it (first, last and linear
#' touch, Shapley, logistic regression, Markov of orders 1 .. `order`), moves
#' `reallocate` of the traffic towards the channels each model values and
#' simulates the population's conversion rate under that traffic. Calls the
#' entry point `compare_models_mta_R`. The native comparison prints a sample
#' line every round (and a warning about small data); that text is shown only
#' with `verbose = TRUE`.
#'
#' @inheritParams markov_model
#' @param data Aggregated journeys: a data frame.
#' @param nulls Name of the column of counts of journeys that did not
#'   convert (required).
#' @param order Highest Markov order compared.
#' @param reallocate Share of the traffic moved by a model's advice.
#' @param sample_share Sample size as a share of the population.
#' @param max_simulations Largest sample size.
#' @param min_traffic_share Share of the traffic spread equally over the
#'   channels.
#' @param iterations Rounds.
#' @param extra_nulls `TRUE` adds non-converting journeys to every distinct
#'   path (floor(1 / conversion rate) each).
#' @return An object of class `touchlane_comparison`: `performance` (matrix,
#'   rounds x models: the simulated conversion rate under each model's
#'   traffic; "original" is the sample's own rate and "no_reallocation" the
#'   rate under unchanged traffic), `allocation` (matrix, channels x traffic:
#'   the average traffic share of each channel, "no_reallocation" being the
#'   sample's own), `summary` (data frame of mean and spread per model, and the
#'   gain over no reallocation) and `lines` (the console text). `plot()` draws
#'   the performance per model.
#' @examples
#' cmp <- compare_models_mta(journeys_sample(), nulls = "nulls", iterations = 2,
#'                           max_simulations = 2e4, seed = 1)
#' cmp
#' png(tempfile(fileext = ".png")); plot(cmp); dev.off()
#' @export
compare_models_mta <- function(data, path = "path", conversions = "conversions", nulls = NULL,
                               channel_sep = ">", order = 1L, reallocate = 0.05,
                               sample_share = 0.1, max_simulations = 1e6,
                               min_traffic_share = 0.03, iterations = 10L, extra_nulls = FALSE,
                               seed = NULL, verbose = FALSE) {
  if (missing(data)) tl_stop("give the journeys as `data` (a data frame)")
  j <- journey_args(data, NULL, path, conversions, NULL, nulls, channel_sep, ";",
                    need_nulls = "the model comparison")
  y <- j$data[[path]]
  seed <- as_seed(seed)
  r <- capture_lines(.Call("compare_models_mta_R", y, j$data[[conversions]], j$data[[nulls]],
                           "path", "total_conversions", "total_null", channel_sep,
                           as_number(reallocate, "reallocate", 0, 1),
                           as_number(sample_share, "sample_share", 0, 1),
                           as_whole(max_simulations, "max_simulations", 1),
                           as_number(min_traffic_share, "min_traffic_share", 0, 1),
                           as_whole(iterations, "iterations", 1, 1e6),
                           as_flag(extra_nulls, "extra_nulls"), as_whole(order, "order", 1, 100),
                           seed, as_flag(verbose, "verbose"), PACKAGE = "Touchlane"),
                     verbose)
  comparison_result(r, path_channels(y, channel_sep), match.call(), seed)
}

# Channels of the paths in order of first appearance, trimmed like the
# native reader (outer blanks dropped, inner runs of blanks made one).
path_channels <- function(paths, channel_sep) {
  ch <- unlist(strsplit(paths, substr(channel_sep, 1, 1), fixed = TRUE), use.names = FALSE)
  ch <- gsub(" +", " ", gsub("^ +| +$", "", ch))
  unique(ch[nzchar(ch)])
}

comparison_result <- function(r, channels, call, seed) {
  res <- r$value
  models <- res$model_names
  perf <- res$performance
  dimnames(perf) <- list(iteration = seq_len(nrow(perf)), model = models)
  alloc <- res$allocation
  if (nrow(alloc) == length(channels))
    dimnames(alloc) <- list(channel = channels, traffic = models[-1])
  else colnames(alloc) <- models[-1]
  base <- perf[, "no_reallocation"]
  summ <- data.frame(model = models, conversion_rate = colMeans(perf),
                     sd = apply(perf, 2, stats::sd),
                     gain = colMeans(perf / base) - 1, stringsAsFactors = FALSE)
  rownames(summ) <- NULL
  structure(list(performance = perf, allocation = alloc, summary = summ, lines = r$lines,
                 call = call, seed = seed),
            class = "touchlane_comparison")
}

#' @export
print.touchlane_comparison <- function(x, ...) {
  cat(sprintf("Model comparison over %d rounds: simulated conversion rate per model\n\n",
              nrow(x$performance)))
  s <- x$summary
  s$conversion_rate <- sprintf("%.4f%%", 100 * s$conversion_rate)
  s$sd <- sprintf("%.4f%%", 100 * s$sd)
  s$gain <- sprintf("%+.2f%%", 100 * s$gain)
  print(s, row.names = FALSE, ...)
  cat("\n(gain: relative to no reallocation; allocation: x$allocation)\n")
  invisible(x)
}

#' @export
plot.touchlane_comparison <- function(x, ...) {
  p <- x$performance[, colnames(x$performance) != "original", drop = FALSE] * 100
  op <- graphics::par(mar = c(max(6, 0.55 * max(nchar(colnames(p)))), 5, 3, 1))
  on.exit(graphics::par(op))
  graphics::boxplot(p, las = 2, col = model_colours(colnames(p)),
                    ylab = "simulated conversion rate (%)",
                    main = "Conversion rate under each model's advice", ...)
  graphics::abline(h = stats::median(p[, "no_reallocation"]), lty = 2, col = "grey40")
  invisible(x)
}

#' Compare attribution models on time-stamped journeys with media-mix data
#'
#' The comparison of [compare_models_mta()] for journeys given as events, with
#' click-through rates per day and channel; the reward model of the unified
#' attribution joins the compared models. Calls the entry point
#' `compare_models_mta_mmm_R`.
#'
#' @param events Event table: a data frame with one row per touch point or
#'   conversion, rows of a journey consecutive, journey identifiers rising.
#' @param ctr Click-through rates: a data frame with a column of days
#'   ("YYYY-MM-DD") and one column per channel, named by the channel.
#' @param id,time,channel Column names of `events`: journey identifier (whole
#'   numbers), time stamp ("YYYY-MM-DD HH:MM:SS") and channel.
#' @param day Column name of the days in `ctr`.
#' @param conversion The channel name that marks conversion rows.
#' @param order Highest Markov order compared.
#' @inheritParams compare_models_mta
#' @param sample_share Sample size as a share of the population; also the
#'   length of the simulated day window as a share of the days.
#' @return An object of class `touchlane_comparison` (see
#'   [compare_models_mta()]).
#' @examples
#' set.seed(1)
#' ev <- do.call(rbind, lapply(1:150, function(i) {
#'   k <- sample(1:3, 1)
#'   t0 <- as.POSIXct("2024-01-01", tz = "UTC") + runif(1, 0, 8 * 86400)
#'   ch <- c(sample(c("search", "social", "email"), k, TRUE), if (runif(1) < 0.3) "conversion")
#'   data.frame(id = i, time = format(t0 + 60 * seq_along(ch), "%Y-%m-%d %H:%M:%S"), channel = ch)
#' }))
#' ctr <- data.frame(day = format(as.Date("2024-01-01") + 0:9), search = 0.04, social = 0.02,
#'                   email = 0.03)
#' compare_models_mta_mmm(ev, ctr, iterations = 2, sample_share = 0.5, seed = 1)
#' @export
compare_models_mta_mmm <- function(events, ctr, id = "id", time = "time", channel = "channel",
                                   day = "day", conversion = "conversion", order = 1L,
                                   reallocate = 0.05, sample_share = 0.5, max_simulations = 1e6,
                                   min_traffic_share = 0.03, iterations = 10L,
                                   extra_nulls = FALSE, seed = NULL, verbose = FALSE) {
  ev <- event_columns(events, id, time, channel)
  check_string(day, "day")
  check_string(conversion, "conversion")
  if (!is.data.frame(ctr)) tl_stop("`ctr` must be a data frame of days and channels")
  if (!(day %in% names(ctr))) tl_stop("column '", day, "' (day) not found in `ctr`")
  channels <- unique(ev$channel[ev$channel != conversion])
  miss <- setdiff(channels, names(ctr))
  if (length(miss))
    tl_stop("`ctr` has no column for channel ", paste0("'", miss, "'", collapse = ", "))
  m <- as.matrix(ctr[, channels, drop = FALSE])
  if (!is.numeric(m)) tl_stop("`ctr`: the channel columns must be numeric")
  storage.mode(m) <- "double"
  seed <- as_seed(seed)
  r <- capture_lines(.Call("compare_models_mta_mmm_R", ev$id, ev$time, ev$channel,
                           as.character(ctr[[day]]), m, conversion,
                           as_number(reallocate, "reallocate", 0, 1),
                           as_number(sample_share, "sample_share", 0, 1),
                           as_whole(max_simulations, "max_simulations", 1),
                           as_number(min_traffic_share, "min_traffic_share", 0, 1),
                           as_whole(iterations, "iterations", 1, 1e6),
                           as_flag(extra_nulls, "extra_nulls"), as_whole(order, "order", 1, 100),
                           seed, as_flag(verbose, "verbose"), PACKAGE = "Touchlane"),
                     verbose)
  comparison_result(r, channels, match.call(), seed)
}

# The id, time and channel columns of an event table, checked.
event_columns <- function(events, id, time, channel) {
  if (!is.data.frame(events)) tl_stop("`events` must be a data frame")
  for (a in c("id", "time", "channel")) {
    col <- get(a)
    if (is.null(col)) next
    check_string(col, a)
    if (!(col %in% names(events))) tl_stop("column '", col, "' (", a, ") not found in `events`")
  }
  ids <- events[[id]]
  if (!is.numeric(ids)) tl_stop("column '", id, "' (id) must hold whole numbers")
  bad <- which(is.na(ids) | ids < 0 | ids != floor(ids))
  if (length(bad)) tl_stop("column '", id, "' (id): ", bad_rows(bad), " not a whole number")
  tm <- if (!is.null(time)) events[[time]]
  if (inherits(tm, "POSIXt")) tm <- format(tm, "%Y-%m-%d %H:%M:%S")
  ch <- as.character(events[[channel]])
  if (anyNA(ch)) tl_stop("column '", channel, "' (channel): ", bad_rows(which(is.na(ch))), " NA")
  list(id = as.numeric(ids), time = as.character(tm), channel = ch)
}
