# Model objects: one S3 class per model, all inheriting "touchlane_model".

#' Per-channel table: channel, conversions, value, share
#' @noRd
channel_table <- function(channel, conversions, value = NULL) {
  conversions <- as.numeric(conversions)
  if (is.null(value) || !length(value)) value <- rep(NA_real_, length(conversions))
  tot <- sum(conversions)
  data.frame(channel = as.character(channel), conversions = conversions,
             value = as.numeric(value), share = if (tot > 0) conversions / tot else 0 * conversions,
             stringsAsFactors = FALSE)
}

# Sums of `x` by group index `g` (1..n).
group_sums <- function(g, x, n) {
  out <- numeric(n)
  if (!length(g)) return(out)
  s <- rowsum(as.numeric(x), g)
  out[as.integer(rownames(s))] <- s[, 1]
  out
}

# Sums per channel of per-touch-point numbers, for the channels `channels`.
per_channel <- function(channel, x, channels = unique(channel)) {
  g <- match(channel, channels)
  keep <- !is.na(g)
  if (!all(keep)) { g <- g[keep]; x <- x[keep] }
  setNames(group_sums(g, x, length(channels)), channels)
}

# The per-touch-point rows of a native result, or NULL when there are none.
touchpoint_table <- function(r, convs = r$vpath_attr_convs, value = r$vpath_attr_value,
                             has_value = TRUE) {
  if (!length(r$vpath_id)) return(NULL)
  out <- data.frame(journey = r$vpath_id + 1, channel = r$vpath_channel,
                    position = r$vpath_chpos + 1, conversions = convs,
                    value = if (has_value) value else NA_real_, stringsAsFactors = FALSE)
  if (length(r$vpath_name)) out$path <- r$vpath_name
  out
}

# ---- masking of weight vectors ----------------------------------------------
# The native models hand weights back masked (an offset drawn from a fixed
# sequence added to every entry) and the entry points that take weights
# unmask them. The offsets are those the native unmasking subtracts.
mask_offsets <- function(n) -.Call("uidx_R", numeric(n), PACKAGE = "Touchlane")

mask_weights <- function(w) as.numeric(w) + mask_offsets(length(w))

#' The plain numbers of a masked weight vector
#'
#' The native entry points return weight vectors (`vindex`) masked; this
#' removes the mask. The analyst functions never need it: [coef()] of a
#' model gives the plain weights. Calls the entry point `uidx_R`.
#'
#' @param vindex A weight vector exactly as a native entry point returned it.
#' @return The plain weights (same length; the last one is the weight of
#'   unknown channels).
#' @examples
#' m <- markov_model(journeys_sample(), nulls = "nulls", kind = "conversion_rate",
#'                   simulations = 1e4, seed = 1)
#' v <- m$native$vindex           # masked, as the entry point returned it
#' all.equal(unmask_index(v), unname(coef(m)))
#' @export
unmask_index <- function(vindex) {
  if (!is.numeric(vindex)) tl_stop("`vindex` must be numeric")
  unmask_checked(vindex, "vindex")
}

# Unmasks `w`, refusing a vector that is plainly not masked: the mask adds
# offsets in the hundreds of thousands, so plain weights fall far below them.
unmask_checked <- function(w, arg) {
  off <- mask_offsets(length(w))
  low <- which(is.finite(w) & w < off / 2)
  if (length(low))
    tl_stop("`", arg, "` was already unmasked (", bad_rows(low), " below the mask): ",
            "pass plain weights with `masked = FALSE`")
  setNames(as.numeric(w) - off, names(w))
}

# Plain weights passed where masked ones would be expected the other way round.
check_plain <- function(w, arg) {
  off <- mask_offsets(length(w))
  if (length(w) > 1 && all(is.finite(w) & w >= off / 2))
    tl_stop("`", arg, "` looks masked (as the native entry points return weights): ",
            "pass it with `masked = TRUE`, or use coef() of the model")
  invisible(w)
}

#' Model objects
#'
#' Every model function returns an object of class
#' `c("touchlane_<model>", "touchlane_model")`: a list with the per-channel
#' table `channels` (channel, conversions, value, share), the per-touch-point
#' rows `touchpoints` (or `NULL`), the plain `weights` (named, the last one
#' "(unknown)" for channels the model never saw; `NULL` for models without
#' weights), model-specific `details` (with `columns`, the journey columns
#' and separators the model was fitted on), the `native` result list, the
#' `call` and the `seed` used (`NULL` for models that draw no random numbers).
#'
#' @param model Model name.
#' @param channels Per-channel data frame (channel, conversions, value, share).
#' @param touchpoints Per-touch-point data frame or `NULL`.
#' @param weights Named plain weights ending with "(unknown)", or `NULL`.
#' @param details Named list of model-specific results.
#' @param native The native result list.
#' @param call The call that made the model.
#' @param seed The seed used, or `NULL`.
#' @param j The journey arguments the model was fitted on, or `NULL`.
#' @return The model object.
#' @keywords internal
#' @noRd
new_touchlane_model <- function(model, channels, touchpoints = NULL, weights = NULL,
                                details = list(), native = NULL, call = NULL, seed = NULL,
                                j = NULL) {
  if (!is.null(j))
    details$columns <- c(path = j$path, conversions = j$conversions, value = j$value,
                         nulls = j$nulls, channel_sep = j$channel_sep, field_sep = j$field_sep)
  structure(list(model = model, channels = channels, touchpoints = touchpoints,
                 weights = weights, details = details, native = native, call = call,
                 seed = seed),
            class = c(paste0("touchlane_", model), "touchlane_model"))
}

# Named plain weights from a native masked `vindex` (last entry: unknown).
weights_from_native <- function(channels, vindex) {
  if (!length(vindex)) return(NULL)
  w <- .Call("uidx_R", as.numeric(vindex), PACKAGE = "Touchlane")
  setNames(w, c(channels, "(unknown)"))
}

# A model object whose parts were changed by hand is refused by the methods
# with a message saying so, rather than with whatever breaks first.
check_model <- function(x, arg) {
  tab <- if (is.list(x)) x$channels
  w <- if (is.list(x)) x$weights
  ok <- is.data.frame(tab) && all(c("channel", "conversions") %in% names(tab)) &&
    is.numeric(tab$conversions) && (is.null(tab$value) || is.numeric(tab$value) || all(is.na(tab$value))) &&
    (is.null(w) || (is.numeric(w) && !is.null(names(w))))
  if (!ok)
    tl_stop("`", arg, "` is not an intact Touchlane model: its channel table or weights were ",
            "changed (they need numeric conversions and named numeric weights); fit the model again")
  invisible(x)
}

model_title <- function(x) {
  lab <- x$details$label
  paste0("Touchlane model: ", x$model, if (!is.null(lab)) paste0(" (", lab, ")"))
}

format_channels <- function(tab, digits = 2) {
  out <- tab
  num <- vapply(out, is.numeric, TRUE)
  out[num] <- lapply(out[num], round, digits)
  if ("share" %in% names(out)) out$share <- sprintf("%.1f%%", 100 * tab$share)
  if ("value" %in% names(out) && all(is.na(tab$value))) out$value <- NULL
  out
}

#' Methods for Touchlane model objects
#'
#' `print` shows the per-channel table, `summary` what matters for the model
#' (totals, removal effects, simulations, fit iterations, ...), `coef` the
#' plain channel weights with the weight of unknown channels last,
#' `as.data.frame` the per-channel or per-touch-point table, `predict`
#' applies the model's weights to new journeys (see
#' [new_paths_attribution()]) and `plot` draws the per-channel credit.
#'
#' @param x,object A model object returned by a Touchlane model function.
#' @param level `"channel"` (one row per channel) or `"touchpoint"` (one row
#'   per touch point of every journey).
#' @param newdata Journeys to attribute, as for `data` in the model
#'   functions; `NULL` with `file` given.
#' @param what What to plot: `"conversions"`, `"value"`, `"share"` or
#'   `"weights"`.
#' @param row.names,optional Ignored (for the generic).
#' @param ... For `predict`: the journey arguments `file`, `path`,
#'   `conversions`, `value`, `channel_sep`, `field_sep` of
#'   [new_paths_attribution()], by default those the model was fitted with
#'   (its value column where `newdata` has it); otherwise passed on to the
#'   graphics or print functions.
#' @return `print` and `plot` return `x` invisibly; `coef` a named numeric
#'   (or `NULL`); `as.data.frame` and `predict` a data frame.
#' @examples
#' m <- markov_model(journeys_sample(), value = "value", seed = 1, simulations = 1e4)
#' m
#' summary(m)
#' coef(m)
#' head(as.data.frame(m))
#' lr <- logistic_regression(journeys_sample(), nulls = "nulls", seed = 1)
#' predict(lr, journeys_sample()[1:50, ])
#' png(tempfile(fileext = ".png")); plot(m); dev.off()
#' @name touchlane_model
NULL

#' @rdname touchlane_model
#' @export
print.touchlane_model <- function(x, ...) {
  check_model(x, "x")
  cat(model_title(x), "\n\n", sep = "")
  print(format_channels(x$channels), row.names = FALSE, ...)
  tot <- sum(x$channels$conversions)
  cat(sprintf("\n%d channels, %s conversions attributed\n", nrow(x$channels),
              format(round(tot, 2), big.mark = ",")))
  invisible(x)
}

#' @rdname touchlane_model
#' @export
summary.touchlane_model <- function(object, ...) {
  check_model(object, "object")
  structure(list(title = model_title(object), channels = object$channels,
                 weights = object$weights, summary = object$details$summary,
                 weight_name = object$details$weight_name),
            class = "summary.touchlane_model")
}

#' @export
print.summary.touchlane_model <- function(x, ...) {
  cat(x$title, "\n\n", sep = "")
  tab <- x$channels
  if (!is.null(x$weights))
    tab[[if (is.null(x$weight_name)) "weight" else x$weight_name]] <- unname(x$weights[tab$channel])
  print(format_channels(tab, 4), row.names = FALSE)
  cat(sprintf("\nTotal conversions attributed: %s", format(round(sum(x$channels$conversions), 2),
                                                          big.mark = ",")))
  if (!all(is.na(x$channels$value)))
    cat(sprintf("; value: %s", format(round(sum(x$channels$value), 2), big.mark = ",")))
  cat("\n")
  if (!is.null(x$weights))
    cat(sprintf("Weight of channels the model did not see: %s\n",
                format(x$weights[["(unknown)"]], digits = 4)))
  for (nm in names(x$summary)) {
    v <- x$summary[[nm]]
    if (is.data.frame(v)) {
      cat("\n", nm, ":\n", sep = "")
      print(v, row.names = FALSE, digits = 4)
    } else {
      cat(nm, ": ", paste(format(v, digits = 4, big.mark = ","), collapse = ", "), "\n", sep = "")
    }
  }
  invisible(x)
}

#' @rdname touchlane_model
#' @export
coef.touchlane_model <- function(object, ...) object$weights

#' @rdname touchlane_model
#' @export
as.data.frame.touchlane_model <- function(x, row.names = NULL, optional = FALSE,
                                          level = c("channel", "touchpoint"), ...) {
  level <- as_kind(level, c("channel", "touchpoint"), "level")
  if (level == "channel") return(x$channels)
  if (is.null(x$touchpoints))
    tl_stop("model '", x$model, "' has no per-touch-point rows",
            if (!is.null(x$details$file_output))
              paste0(": they were written to '", x$details$file_output, "'"))
  x$touchpoints
}

#' @rdname touchlane_model
#' @export
predict.touchlane_model <- function(object, newdata = NULL, level = c("channel", "touchpoint"),
                                    ...) {
  level <- as_kind(level, c("channel", "touchpoint"), "level")
  if (is.null(object$weights))
    tl_stop("model '", object$model, "' has no weights to apply to new journeys")
  args <- list(...)
  cols <- object$details$columns
  # the fit's column names and separators, unless given here; its value
  # column only where the new journeys have it
  for (a in c("path", "conversions", "channel_sep", "field_sep"))
    if (is.null(args[[a]]) && !is.null(cols[[a]])) args[[a]] <- cols[[a]]
  if (!("value" %in% names(args)) && !is.null(cols[["value"]]) && nzchar(cols[["value"]]) &&
      (is.null(newdata) || cols[["value"]] %in% names(newdata)))
    args$value <- cols[["value"]]
  res <- do.call(new_paths_attribution, c(list(newdata, weights = object), args))
  as.data.frame(res, level = level)
}

#' @rdname touchlane_model
#' @export
plot.touchlane_model <- function(x, what = c("conversions", "value", "share", "weights"), ...) {
  what <- as_kind(what, c("conversions", "value", "share", "weights"), "what")
  if (what == "weights") {
    if (is.null(x$weights)) tl_stop("model '", x$model, "' has no weights")
    y <- x$weights
  } else {
    if (what == "value" && all(is.na(x$channels$value)))
      tl_stop("model '", x$model, "' was fitted without a value column")
    y <- setNames(x$channels[[what]], x$channels$channel)
  }
  y <- sort(y)
  op <- graphics::par(mar = c(4, max(4, 0.6 * max(nchar(names(y)), 1)), 3, 1))
  on.exit(graphics::par(op))
  graphics::barplot(y, horiz = TRUE, las = 1, col = model_colours(x$model), border = NA,
                    xlim = c(min(0, y), max(0, y) * 1.05), main = model_title(x), xlab = what,
                    ...)
  invisible(x)
}
