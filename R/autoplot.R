# ggplot2 charts of the package's results, and the one palette every chart
# (base graphics too) takes its model colours from. ggplot2 is only
# suggested: NAMESPACE registers the autoplot() methods for when it loads.

#' Colours of the models
#'
#' One fixed colour per model name, the same whichever other models are
#' drawn beside it, used by the `plot()` and `autoplot()` methods. The
#' names the model comparisons use ("first_touch", "logistic_regression",
#' "markov_model_order_2", ...) take the colour of their model (Markov
#' orders from dark to light); other names get a colour derived from the
#' name itself.
#'
#' @param models Model names.
#' @return A named character vector of colours, one per model.
#' @examples
#' model_colours(c("first", "markov", "shapley"))
#' model_colours(c("markov", "shapley"))   # the same two colours
#' @export
model_colours <- function(models) {
  models <- as.character(models)
  pal <- c(first = "#1B9E77", last = "#D95F02", linear = "#7570B3", position = "#E7298A",
           last_non_direct = "#66A61E", markov = "#1F78B4", shapley = "#E6AB02",
           logistic = "#A6761D", time_decay = "#B2182B", probabilistic = "#6A3D9A",
           additive_hazard = "#01665E", reward = "#C51B7D", original = "#4D4D4D",
           no_reallocation = "#999999")
  alias <- c(first_touch = "first", last_touch = "last", linear_touch = "linear",
             logistic_regression = "logistic")
  key <- ifelse(models %in% names(alias), alias[models], models)
  out <- unname(pal[key])
  order_k <- suppressWarnings(as.integer(sub("^markov_model_order_", "", models)))
  mk <- grepl("^markov_model_order_[0-9]+$", models)
  if (any(mk)) {
    # orders 1, 2, 3, ... from the Markov colour towards white
    f <- pmin(0.75, (order_k[mk] - 1) * 0.2)
    base <- grDevices::col2rgb(pal[["markov"]])[, 1]
    out[mk] <- vapply(f, function(s) {
      v <- round(base + (255 - base) * s)
      grDevices::rgb(v[1], v[2], v[3], maxColorValue = 255)
    }, "")
  }
  other <- is.na(out)
  if (any(other)) {
    # a hue from the characters of the name, stable across sessions
    hue <- vapply(models[other], function(m) sum(utf8ToInt(m) * seq_along(utf8ToInt(m))) %% 360,
                  1)
    out[other] <- grDevices::hcl(hue, 60, 50)
  }
  setNames(out, models)
}

utils::globalVariables(".data")

need_ggplot2 <- function() {
  if (!requireNamespace("ggplot2", quietly = TRUE))
    tl_stop("autoplot() needs the package ggplot2")
}

#' ggplot2 charts of attribution results
#'
#' `autoplot()` methods (the generic is ggplot2's, which must be installed)
#' for the attribution table of [attribution()] (grouped bars with error
#' bars when the table has `lower` and `upper`), the model objects (bars per
#' channel; `what = "weights"` draws the model's weights, for the Markov
#' model its removal effects or indices), the Markov order choice of [choose_order()] and the
#' model comparisons of [compare_models_mta()], and the budget allocation of
#' [budget_allocation()] (current and suggested budget side by side per
#' channel, the same colours as its `plot()`). Every model keeps its colour
#' of [model_colours()]. The result is a ggplot object, to be printed or
#' changed with `+`.
#'
#' @param object A result of [attribution()], a model function,
#'   [choose_order()], [compare_models_mta()] / [compare_models_mta_mmm()] or
#'   [budget_allocation()].
#' @param what For the attribution table: `"conversions"`, `"value"`,
#'   `"share"`, or with `spend` `"cost_per_conversion"` and `"roas"`; for a
#'   model also `"weights"`.
#' @param ... Not used.
#' @return A ggplot object.
#' @examples
#' if (requireNamespace("ggplot2", quietly = TRUE)) {
#'   a <- attribution(journeys_sample(), models = c("first", "last", "linear"),
#'                    bootstrap = 20, seed = 1)
#'   ggplot2::autoplot(a)
#'   ggplot2::autoplot(heuristic_models(journeys_sample()))
#' }
#' @name autoplot.touchlane
NULL

#' @rdname autoplot.touchlane
#' @exportS3Method ggplot2::autoplot
autoplot.touchlane_attribution <- function(object, what = c("conversions", "value", "share",
                                                            "cost_per_conversion", "roas"),
                                           ...) {
  need_ggplot2()
  what <- as_kind(what, c("conversions", "value", "share", "cost_per_conversion", "roas"), "what")
  x <- as.data.frame(object)
  if (what %in% c("value", "roas") && all(is.na(x$value))) tl_stop("the attribution has no value column")
  if (what %in% c("cost_per_conversion", "roas")) {
    if (!(what %in% names(x))) tl_stop("the attribution has no ", what, ": give `spend` to attribution()")
    x <- x[x$channel %in% x$channel[!is.na(x[[what]])], , drop = FALSE]
  }
  models <- unique(x$model)
  x$model <- factor(x$model, models)
  x$channel <- factor(x$channel, unique(x$channel))
  x$y <- x[[what]]
  dodge <- ggplot2::position_dodge(width = 0.9)
  p <- ggplot2::ggplot(x, ggplot2::aes(x = .data$channel, y = .data$y, fill = .data$model)) +
    ggplot2::geom_col(position = dodge, width = 0.85) +
    ggplot2::scale_fill_manual(values = model_colours(models), name = "model") +
    ggplot2::labs(x = NULL, y = what, title = paste("Attributed", what, "per channel and model")) +
    ggplot2::theme_minimal() +
    ggplot2::theme(axis.text.x = ggplot2::element_text(angle = 45, hjust = 1))
  if (what == "conversions" && all(c("lower", "upper") %in% names(x)) &&
      any(!is.na(x$lower))) {
    ok <- x[!is.na(x$lower) & !is.na(x$upper), , drop = FALSE]
    p <- p + ggplot2::geom_errorbar(data = ok, ggplot2::aes(ymin = .data$lower, ymax = .data$upper),
                                    position = dodge, width = 0.3, colour = "grey20")
  }
  p
}

#' @rdname autoplot.touchlane
#' @exportS3Method ggplot2::autoplot
autoplot.touchlane_model <- function(object, what = c("conversions", "value", "share", "weights"),
                                     ...) {
  need_ggplot2()
  what <- as_kind(what, c("conversions", "value", "share", "weights"), "what")
  x <- object$channels
  if (what == "weights") {
    if (is.null(object$weights)) tl_stop("model '", object$model, "' has no weights")
    y <- object$weights[names(object$weights) != "(unknown)"]
    d <- data.frame(channel = names(y), y = unname(y), stringsAsFactors = FALSE)
    if (!is.null(object$details$weight_name)) what <- gsub("_", " ", object$details$weight_name)
  } else {
    if (what == "value" && all(is.na(x$value)))
      tl_stop("model '", object$model, "' was fitted without a value column")
    d <- data.frame(channel = x$channel, y = x[[what]], stringsAsFactors = FALSE)
  }
  d$channel <- factor(d$channel, d$channel[order(d$y)])
  ggplot2::ggplot(d, ggplot2::aes(x = .data$y, y = .data$channel)) +
    ggplot2::geom_col(fill = model_colours(object$model)[[1]], width = 0.75) +
    ggplot2::labs(x = what, y = NULL, title = model_title(object)) +
    ggplot2::theme_minimal()
}

#' @rdname autoplot.touchlane
#' @exportS3Method ggplot2::autoplot
autoplot.touchlane_order <- function(object, ...) {
  need_ggplot2()
  a <- object$areas
  p <- ggplot2::ggplot(a, ggplot2::aes(x = .data$order, y = .data$area)) +
    ggplot2::geom_line(colour = model_colours("markov")[[1]]) +
    ggplot2::geom_point(colour = model_colours("markov")[[1]], size = 2.5) +
    ggplot2::scale_x_continuous(breaks = a$order) +
    ggplot2::labs(x = "Markov order", y = "area under the curve",
                  title = paste("Hold-out", if (object$curve == "roc") "ROC" else "precision-recall",
                                "area by order")) +
    ggplot2::theme_minimal()
  if (!is.na(object$suggested_order))
    p <- p + ggplot2::geom_point(data = a[a$order == object$suggested_order, , drop = FALSE],
                                 shape = 1, size = 6, stroke = 1.2, colour = "firebrick")
  p
}

#' @rdname autoplot.touchlane
#' @exportS3Method ggplot2::autoplot
autoplot.touchlane_comparison <- function(object, ...) {
  need_ggplot2()
  p <- object$performance[, colnames(object$performance) != "original", drop = FALSE] * 100
  models <- colnames(p)
  d <- data.frame(model = factor(rep(models, each = nrow(p)), models), rate = as.vector(p))
  ggplot2::ggplot(d, ggplot2::aes(x = .data$model, y = .data$rate, fill = .data$model)) +
    ggplot2::geom_boxplot(show.legend = FALSE) +
    ggplot2::geom_hline(yintercept = stats::median(p[, "no_reallocation"]), linetype = 2,
                        colour = "grey40") +
    ggplot2::scale_fill_manual(values = model_colours(models)) +
    ggplot2::labs(x = NULL, y = "simulated conversion rate (%)",
                  title = "Conversion rate under each model's advice") +
    ggplot2::theme_minimal() +
    ggplot2::theme(axis.text.x = ggplot2::element_text(angle = 45, hjust = 1))
}

#' @rdname autoplot.touchlane
#' @exportS3Method ggplot2::autoplot
autoplot.touchlane_budget <- function(object, ...) {
  need_ggplot2()
  x <- as.data.frame(unclass(object), stringsAsFactors = FALSE)
  kinds <- c("current", "suggested")
  d <- data.frame(channel = factor(rep(x$channel, 2), unique(x$channel)),
                  budget = factor(rep(kinds, each = nrow(x)), kinds),
                  amount = c(x$current, x$budget))
  ggplot2::ggplot(d, ggplot2::aes(x = .data$channel, y = .data$amount, fill = .data$budget)) +
    ggplot2::geom_col(position = ggplot2::position_dodge(width = 0.85), width = 0.8) +
    ggplot2::scale_fill_manual(values = c(current = "grey70", suggested = "steelblue"), name = NULL) +
    ggplot2::scale_y_continuous(labels = function(v) format(v, big.mark = ",", scientific = FALSE,
                                                            trim = TRUE)) +
    ggplot2::labs(x = NULL, y = "budget", title = "Current and suggested budget per channel") +
    ggplot2::theme_minimal() +
    ggplot2::theme(axis.text.x = ggplot2::element_text(angle = 45, hjust = 1))
}
