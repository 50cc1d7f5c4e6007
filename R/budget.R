#' Suggest a budget per channel
#'
#' Distributes `total_budget`: a share 1 - `min_share` - `reallocate` follows
#' the current spending (`costs`, or the attributed conversions when no costs
#' are given), `min_share` is split equally among the channels and
#' `reallocate` follows the channels' return: value over cost when the model
#' has a value column and costs are given, otherwise the model's weights.
#' Calls the entry point `markov_budget_allocation_R` (the weights are masked
#' for it here).
#'
#' @param model A model object (for example from [markov_model()]) or a data
#'   frame with columns `channel`, `conversions` and optionally `value`.
#' @param total_budget The budget to distribute.
#' @param costs Current spending per channel: a named numeric vector or a data
#'   frame with columns `channel` and `cost`; every channel of the model needs
#'   one. `NULL` for none.
#' @param weights Channel weights measuring return when there are no values
#'   and costs: `NULL` takes `coef(model)`; or a named numeric vector of plain
#'   weights.
#' @param reallocate Share of the budget moved towards the best channels.
#' @param min_share Share of the budget split equally among the channels.
#' @return A data frame of class `touchlane_budget` with columns `channel`,
#'   `current` (the current split of `total_budget`) and `budget` (the
#'   suggestion). `plot()` draws both.
#' @examples
#' m <- markov_model(journeys_sample(), seed = 1, simulations = 1e4)
#' b <- budget_allocation(m, total_budget = 1e5)
#' b
#' png(tempfile(fileext = ".png")); plot(b); dev.off()
#' @export
budget_allocation <- function(model, total_budget, costs = NULL, weights = NULL,
                              reallocate = 0.1, min_share = 0.05) {
  tab <- if (inherits(model, "touchlane_model")) model$channels else model
  if (!is.data.frame(tab) || !all(c("channel", "conversions") %in% names(tab)))
    tl_stop("`model` must be a model object or a data frame with columns channel and conversions")
  tab <- tab[tab$channel != "(unknown)", , drop = FALSE]
  total_budget <- as_number(total_budget, "total_budget", 0)
  reallocate <- as_number(reallocate, "reallocate", 0, 1)
  min_share <- as_number(min_share, "min_share", 0, 1 - reallocate)
  value <- if ("value" %in% names(tab) && !all(is.na(tab$value))) tab$value else numeric(0)
  cost <- numeric(0)
  if (!is.null(costs)) {
    if (is.data.frame(costs)) {
      if (!all(c("channel", "cost") %in% names(costs)))
        tl_stop("`costs` needs columns channel and cost")
      costs <- tapply(as.numeric(costs$cost), as.character(costs$channel), sum)
    }
    if (!is.numeric(costs) || is.null(names(costs))) tl_stop("`costs` must be named numbers")
    missing_cost <- setdiff(tab$channel, names(costs))
    if (length(missing_cost))
      tl_stop("`costs`: no cost for channel ", paste0("'", missing_cost, "'", collapse = ", "))
    cost <- as.numeric(costs[tab$channel])
    if (anyNA(cost) || any(cost < 0)) tl_stop("`costs` must be numbers, not negative")
  }
  by_value <- length(value) && length(cost)
  w <- numeric(0)
  wch <- character(0)
  if (!by_value) {
    if (is.null(weights)) {
      if (!inherits(model, "touchlane_model") || is.null(model$weights))
        tl_stop("`weights` are needed: the model has none, and return by value needs a value ",
                "column and `costs`")
      weights <- model$weights
    }
    weights <- plain_weights(weights, FALSE)
    w <- mask_weights(weights)
    wch <- head(names(weights), -1)
  } else if (any(tab$conversions <= 0)) {
    tl_stop("channel '", tab$channel[tab$conversions <= 0][1], "' has no attributed conversions: ",
            "its value per conversion is undefined")
  }
  r <- .Call("markov_budget_allocation_R", as.character(tab$channel), as.numeric(tab$conversions),
             if (by_value) as.numeric(value) else numeric(0), if (length(cost)) tab$channel
             else character(0), cost, wch, w, total_budget, reallocate, min_share,
             PACKAGE = "Touchlane")
  base <- if (length(cost)) cost else tab$conversions
  out <- data.frame(channel = r$channel, current = base / sum(base) * total_budget,
                    budget = r$suggested_budget, stringsAsFactors = FALSE)
  structure(out, class = c("touchlane_budget", "data.frame"))
}

#' @export
plot.touchlane_budget <- function(x, ...) {
  m <- rbind(current = x$current, suggested = x$budget)
  colnames(m) <- x$channel
  top <- 1.15 * max(0, m, na.rm = TRUE)
  ticks <- pretty(c(0, top))
  labels <- format(ticks, big.mark = ",", scientific = FALSE, trim = TRUE)
  # Room for the widest tick label and, beyond it, the axis title: budgets
  # in the hundreds of thousands would otherwise run into it.
  width <- 0.55 * max(nchar(labels))                 # lines; a digit is about half a line
  bottom <- max(nchar(colnames(m)), 1) * 0.5 + 1.5
  op <- graphics::par(mar = c(max(4, bottom), width + 3, 3, 1))
  on.exit(graphics::par(op))
  graphics::barplot(m, beside = TRUE, las = 2, col = c("grey70", "steelblue"), border = NA,
                    ylim = c(0, max(ticks)), axes = FALSE,
                    main = "Current and suggested budget per channel",
                    legend.text = c("current", "suggested"),
                    args.legend = list(x = "topright", bty = "n"), ...)
  graphics::axis(2, at = ticks, labels = labels, las = 1)
  graphics::title(ylab = "budget", line = width + 1.5)
  invisible(x)
}
