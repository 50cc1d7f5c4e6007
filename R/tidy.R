# broom-style summaries: tidy() one row per channel (and model), glance()
# one row per object. The generics come from the small package generics.

#' @importFrom generics tidy glance
#' @export
generics::tidy

#' @export
generics::glance

#' Tidy and glance at attribution results
#'
#' `tidy()` gives one row per channel (and model) with plain columns;
#' `glance()` one row describing the whole result. For the attribution table
#' `tidy()` renames the bootstrap interval `lower`/`upper` to
#' `conf.low`/`conf.high` (the broom convention) and keeps `spend`,
#' `cost_per_conversion` and `roas` when given; `glance()` gives the
#' numbers of models and channels and the conversions and value each model
#' shares out (the same for every model) and the seed used. For a model
#' object `tidy()` is its channel table with its weights as `weight`
#' (`NULL`-weight models have none), and `glance()` the model name, the
#' numbers of channels and touch points, the totals attributed, the seed
#' (models that draw random numbers) and the single-number entries of its
#' summary.
#'
#' @param x A result of [attribution()] or a model object.
#' @param ... Not used.
#' @return A data frame.
#' @examples
#' a <- attribution(journeys_sample(), models = c("first", "linear"))
#' tidy(a)
#' glance(a)
#' m <- heuristic_models(journeys_sample())
#' tidy(m)
#' glance(m)
#' @name tidy.touchlane
NULL

#' @rdname tidy.touchlane
#' @export
tidy.touchlane_attribution <- function(x, ...) {
  d <- as.data.frame(x)
  out <- data.frame(model = d$model, channel = d$channel, conversions = as.numeric(d$conversions),
                    value = as.numeric(d$value), share = as.numeric(d$share),
                    stringsAsFactors = FALSE)
  if (all(c("lower", "upper") %in% names(d))) {
    out$conf.low <- as.numeric(d$lower)
    out$conf.high <- as.numeric(d$upper)
  }
  for (col in intersect(c("spend", "cost_per_conversion", "roas"), names(d)))
    out[[col]] <- as.numeric(d[[col]])
  out
}

#' @rdname tidy.touchlane
#' @export
glance.touchlane_attribution <- function(x, ...) {
  d <- as.data.frame(x)
  tot <- tapply(as.numeric(d$conversions), factor(d$model, unique(d$model)), sum)
  val <- tapply(as.numeric(d$value), factor(d$model, unique(d$model)), sum)
  out <- data.frame(models = length(tot), channels = length(unique(d$channel)),
                    conversions = max(unname(tot)),
                    value = if (all(is.na(val))) NA_real_ else max(unname(val), na.rm = TRUE),
                    bootstrap = all(c("lower", "upper") %in% names(d)))
  if (!is.null(attr(x, "seed"))) out$seed <- attr(x, "seed")
  out
}

#' @rdname tidy.touchlane
#' @export
tidy.touchlane_model <- function(x, ...) {
  tab <- x$channels
  out <- data.frame(channel = tab$channel, conversions = as.numeric(tab$conversions),
                    value = as.numeric(tab$value), share = as.numeric(tab$share),
                    stringsAsFactors = FALSE)
  if (!is.null(x$weights)) out$weight <- unname(as.numeric(x$weights[tab$channel]))
  out
}

#' @rdname tidy.touchlane
#' @export
glance.touchlane_model <- function(x, ...) {
  tab <- x$channels
  out <- data.frame(model = x$model, channels = nrow(tab),
                    touchpoints = if (is.null(x$touchpoints)) NA_integer_ else nrow(x$touchpoints),
                    conversions = sum(tab$conversions),
                    value = if (all(is.na(tab$value))) NA_real_ else sum(tab$value),
                    stringsAsFactors = FALSE)
  if (!is.null(x$seed)) out$seed <- x$seed
  s <- x$details$summary
  for (nm in names(s)) {
    v <- s[[nm]]
    if (is.atomic(v) && length(v) == 1L && !is.null(v))
      out[[gsub("[^a-z0-9]+", "_", tolower(nm))]] <- v
  }
  out
}
