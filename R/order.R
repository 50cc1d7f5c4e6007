#' Choose the order of the Markov model
#'
#' Repeatedly holds out a random share of the journeys (every conversion and
#' non-conversion goes to the test share with probability `test_share`) and,
#' for each order 1 .. `max_order`, predicts the test outcomes by the training
#' conversion rate of a journey's last `order` touch points. The median area
#' under the ROC (`curve = "roc"`) or precision-recall (`"precision_recall"`)
#' curve over the folds measures each order; the suggested order is the
#' smallest after which a higher order gains less than `tolerance`. Calls the
#' entry point `choose_order_R`.
#'
#' @inheritParams markov_model
#' @param nulls Name of the column of counts of journeys that did not
#'   convert (required).
#' @param max_order Highest order tried.
#' @param curve `"roc"` or `"precision_recall"`.
#' @param points Thresholds of each curve.
#' @param folds Random hold-outs.
#' @param test_share Probability that a journey goes to the test share.
#' @param tolerance Smallest relative gain of the area that justifies a
#'   higher order.
#' @return An object of class `touchlane_order`: a list with `areas` (data
#'   frame of `order` and `area`), `suggested_order` (`NA` when every order
#'   still gains: try a higher `max_order`), `curve` and the `native`
#'   result. `plot()` draws the area by order.
#' @examples
#' co <- choose_order(journeys_sample(), nulls = "nulls", max_order = 4, seed = 1)
#' co
#' png(tempfile(fileext = ".png")); plot(co); dev.off()
#' @export
choose_order <- function(data = NULL, file = NULL, path = "path", conversions = "conversions",
                         nulls = NULL, channel_sep = ">", field_sep = ";", max_order = 10L,
                         curve = c("roc", "precision_recall"), points = 100L, folds = 10L,
                         test_share = 0.3, tolerance = 0.05, seed = NULL, verbose = FALSE,
                         remove_loops = FALSE) {
  curve <- as_kind(curve, c("roc", "precision_recall"), "curve")
  j <- journey_args(data, file, path, conversions, NULL, nulls, channel_sep, field_sep,
                    need_nulls = "choosing the order", remove_loops = remove_loops)
  seed <- as_seed(seed)
  r <- quietly(.Call("choose_order_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$nulls,
                     j$field_sep, as_whole(max_order, "max_order", 1, 1000), j$channel_sep,
                     as_whole(points, "points", 1, 1e6), as_whole(folds, "folds", 1, 1e6),
                     as_number(test_share, "test_share", 0, 1), seed,
                     as_number(tolerance, "tolerance", 0),
                     if (curve == "roc") "auc-roc" else "auc-prerec",
                     as_flag(verbose, "verbose"), PACKAGE = "Touchlane"), verbose)
  best <- r$best_order[1]
  structure(list(areas = data.frame(order = r$order, area = r$auc),
                 suggested_order = if (best > 0) best else NA_real_, curve = curve, native = r,
                 call = match.call(), seed = seed),
            class = "touchlane_order")
}

#' @export
print.touchlane_order <- function(x, ...) {
  cat("Markov order by hold-out", if (x$curve == "roc") "ROC" else "precision-recall",
      "area\n\n")
  print(x$areas, row.names = FALSE, digits = 4)
  if (is.na(x$suggested_order))
    cat("\nEvery order up to", max(x$areas$order), "still gains: try a higher max_order\n")
  else cat("\nSuggested order:", x$suggested_order, "\n")
  invisible(x)
}

#' @export
plot.touchlane_order <- function(x, ...) {
  a <- x$areas
  graphics::plot(a$order, a$area, type = "b", pch = 19, col = "steelblue", xaxt = "n",
                 xlab = "Markov order", ylab = "area under the curve",
                 main = paste("Hold-out", if (x$curve == "roc") "ROC" else "precision-recall",
                              "area by order"), ...)
  graphics::axis(1, at = a$order)
  if (!is.na(x$suggested_order))
    graphics::points(x$suggested_order, a$area[a$order == x$suggested_order], pch = 1, cex = 2.5,
                     col = "firebrick", lwd = 2)
  invisible(x)
}
