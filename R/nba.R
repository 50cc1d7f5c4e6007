#' Train a next-best-action table
#'
#' For every order k from 2 to `max_order` and every window of k consecutive
#' channels seen in the journeys, the conversion rate of simulated journeys
#' (from the Markov chain of order k) passing through the window, shrunk
#' towards the overall rate. Calls the entry point `next_best_action_train_R`.
#'
#' @inheritParams markov_model
#' @param nulls Name of the column of counts of journeys that did not
#'   convert, or `NULL` for none.
#' @param max_order Longest window (history plus next channel).
#' @param min_sample Weight (pseudo-count) of the overall conversion rate in
#'   each window's rate.
#' @return An object of class `touchlane_nba`: a list with `table` (data
#'   frame of `history` (channel names joined by `channel_sep`), `next`
#'   channel, `conversion_rate` and `order`), `channels`, `channel_sep` and
#'   the `native` table. `predict()` suggests the next channel of many
#'   journeys (see [next_best_action()]); `plot()` draws the best
#'   continuations.
#' @examples
#' nba <- next_best_action_train(journeys_sample(), nulls = "nulls", max_order = 2,
#'                               simulations = 1e4, seed = 1)
#' nba
#' predict(nba, c("social > email", "paid search"))
#' @export
next_best_action_train <- function(data = NULL, file = NULL, path = "path",
                                   conversions = "conversions", nulls = NULL, channel_sep = ">",
                                   field_sep = ";", max_order = 3L, simulations = 1e5,
                                   max_steps = 0, threads = 1L, folds = 10L, tolerance = 0.05,
                                   growth = 1.5, min_sample = 1, seed = NULL, verbose = FALSE,
                                   remove_loops = FALSE) {
  j <- journey_args(data, file, path, conversions, NULL, nulls, channel_sep, field_sep,
                    remove_loops = remove_loops)
  seed <- as_seed(seed)
  r <- quietly(.Call("next_best_action_train_R", j$flg_file, j$file, j$data, j$path,
                     j$conversions, j$nulls, j$field_sep, j$channel_sep,
                     as_whole(max_order, "max_order", 2, 1000),
                     as_whole(simulations, "simulations", 1), as_whole(max_steps, "max_steps", 0),
                     as_whole(threads, "threads", 1, 1024), as_whole(folds, "folds", 1, 1e6),
                     seed, as_number(tolerance, "tolerance", 0),
                     as_number(growth, "growth", 1), as_number(min_sample, "min_sample", 0),
                     as_flag(verbose, "verbose"), PACKAGE = "Touchlane"), verbose)
  sep <- paste0(" ", trimws(channel_sep), " ")
  hist <- strsplit(r$path_from, " ", fixed = TRUE)
  tab <- data.frame(history = vapply(hist, function(i) paste(r$channels[as.integer(i) + 1L],
                                                             collapse = sep), ""),
                    `next` = r$channels[r$channel_to + 1],
                    conversion_rate = r$conversion_rate, order = lengths(hist) + 1L,
                    stringsAsFactors = FALSE, check.names = FALSE)
  structure(list(table = tab, channels = r$channels, channel_sep = channel_sep, native = r,
                 call = match.call(), seed = seed),
            class = "touchlane_nba")
}

#' Suggest the next channel of journeys
#'
#' For each journey, the channel whose table entry for the journey's most
#' recent history has the highest conversion rate; histories are matched
#' from the whole journey down to its last touch point. Calls the entry
#' point `next_best_action_R` once per journey.
#'
#' @param paths Journeys so far: a character vector of paths.
#' @param table A table from [next_best_action_train()].
#' @param channel_sep Separator between the channels of a path.
#' @return A data frame with one row per journey: `path`, `next` (the
#'   suggested channel) and `conversion_rate`; its attribute `"rates"` is the
#'   matrix of the best rate of every channel (journeys x channels).
#' @examples
#' nba <- next_best_action_train(journeys_sample(), nulls = "nulls", max_order = 2,
#'                               simulations = 1e4, seed = 1)
#' next_best_action(c("social > email", "display > display", "affiliate"), nba)
#' @export
next_best_action <- function(paths, table, channel_sep = ">") {
  if (!inherits(table, "touchlane_nba"))
    tl_stop("`table` must be a next-best-action table from next_best_action_train()")
  if (!is.character(paths) && !is.factor(paths)) tl_stop("`paths` must be a character vector")
  paths <- as.character(paths)
  if (anyNA(paths)) tl_stop("`paths`: ", bad_rows(which(is.na(paths))), " NA")
  check_sep(channel_sep, "channel_sep")
  t <- table$native
  res <- lapply(paths, function(p)
    .Call("next_best_action_R", p, channel_sep, t$path_from, t$channel_to, t$conversion_rate,
          t$channels, PACKAGE = "Touchlane"))
  rates <- matrix(unlist(lapply(res, `[[`, "conversion_rate")), nrow = length(paths),
                  byrow = TRUE, dimnames = list(paths, t$channels))
  out <- data.frame(path = paths,
                    `next` = vapply(res, function(x) x$suggested_action, ""),
                    conversion_rate = vapply(res, function(x)
                      x$suggested_action_conversion_rate, 1),
                    stringsAsFactors = FALSE, check.names = FALSE)
  attr(out, "rates") <- rates
  out
}

#' @export
predict.touchlane_nba <- function(object, newdata, ...) {
  if (is.data.frame(newdata)) newdata <- newdata[[if ("path" %in% names(newdata)) "path" else 1]]
  next_best_action(newdata, object, object$channel_sep)
}

#' @export
print.touchlane_nba <- function(x, n = 10, ...) {
  cat(sprintf("Next-best-action table: %d rows, orders %s, %d channels\n\n", nrow(x$table),
              paste(unique(range(x$table$order)), collapse = " to "), length(x$channels)))
  top <- x$table[order(-x$table$conversion_rate), ]
  cat("Best continuations:\n")
  print(utils::head(top, n), row.names = FALSE, digits = 4)
  invisible(x)
}

#' @export
plot.touchlane_nba <- function(x, n = 15, ...) {
  top <- utils::head(x$table[order(-x$table$conversion_rate), ], n)
  y <- setNames(rev(top$conversion_rate), rev(paste(top$history, "->", top[["next"]])))
  op <- graphics::par(mar = c(4, max(6, 0.5 * max(nchar(names(y)))), 3, 1))
  on.exit(graphics::par(op))
  graphics::barplot(y, horiz = TRUE, las = 1, col = "darkseagreen", border = NA,
                    xlim = c(0, max(y, 0) * 1.05),
                    xlab = "conversion rate", main = "Best next actions", ...)
  invisible(x)
}
