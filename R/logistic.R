#' Logistic-regression attribution
#'
#' Fits the conversion odds of a journey on its per-channel touch counts
#' (Adam gradient descent on the mean negative log-likelihood) and gives each
#' channel the index exp(b0 + b_channel); every journey's conversions and
#' value are then split over its touch points in proportion to those indices.
#' Needs the `nulls` column. The entry point takes journeys as vectors, so a
#' `file` is read into R first. Calls the entry point `logistic_regression_R`.
#'
#' @inheritParams markov_model
#' @param nulls Name of the column of counts of journeys that did not
#'   convert (required; a column `"nulls"` is used when not given, and a
#'   column `"value"` likewise, with a one-line message).
#' @param seed Not used: the fit is deterministic. Accepted for a uniform
#'   interface.
#' @inheritParams shapley
#' @return A `touchlane_logistic` model object (see [touchlane_model]);
#'   `weights` are the channel indices. `details$fit` holds the regression
#'   behind them: `coefficients` (b0 as "(constant)", then one per channel),
#'   `vcov`, `loglik`, `nobs` (journeys in the fit), `gradient_norm` (of the
#'   mean log-likelihood where the optimiser stopped) and `iterations`; see
#'   [vcov.touchlane_logistic].
#' @examples
#' lr <- logistic_regression(journeys_sample(), value = "value", nulls = "nulls")
#' lr
#' coef(lr)
#' confint(lr, type = "index")
#' @export
logistic_regression <- function(data = NULL, file = NULL, path = "path",
                                conversions = "conversions", value = NULL, nulls = NULL,
                                channel_sep = ">", field_sep = ";", seed = NULL,
                                file_output = NULL, write_nulls = FALSE, write_paths = FALSE,
                                verbose = FALSE, remove_loops = FALSE) {
  cols <- found_columns(data, file, field_sep, value, nulls, missing(value), missing(nulls))
  value <- cols$value
  nulls <- cols$nulls
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                    need_nulls = "logistic regression", remove_loops = remove_loops)
  j <- journeys_in_r(j)
  r <- logistic_native(j, file_output, write_nulls, write_paths, verbose, fit = TRUE)
  has_value <- nzchar(j$value)
  tp <- touchpoint_table(r, has_value = has_value)
  tab <- channel_table(r$vchannels, r$vattr_convs_loc,
                       if (has_value && !is.null(tp))
                           per_channel(tp$channel, tp$value, r$vchannels))
  w <- weights_from_native(r$vchannels, r$vindex)
  fit <- regression_fit(r)
  new_touchlane_model("logistic", channels = tab, touchpoints = tp, weights = w,
                      details = list(label = "index exp(b0 + b_channel)",
                                     file_output = file_output, fit = fit,
                                     summary = regression_summary(fit)),
                      native = r, call = match.call(), j = j)
}

logistic_native <- function(j, file_output = NULL, write_nulls = FALSE, write_paths = FALSE,
                            verbose = FALSE, fit = FALSE) {
  out <- as_output(file_output)
  wp <- as_flag(write_paths, "write_paths")
  wn <- as_flag(write_nulls, "write_nulls")
  vb <- as_flag(verbose, "verbose")
  # literal names: R CMD check verifies each .Call against the registration
  quietly(if (fit)
            .Call("logistic_regression_fit_R", j$data, j$path, j$conversions, j$value, j$nulls,
                  j$field_sep, j$channel_sep, wn, wp, out, vb, PACKAGE = "Touchlane")
          else
            .Call("logistic_regression_R", j$data, j$path, j$conversions, j$value, j$nulls,
                  j$field_sep, j$channel_sep, wn, wp, out, vb, PACKAGE = "Touchlane"),
          verbose)
}

attr_model_logistic <- function(j, ..., seed = NULL, verbose = FALSE) {
  if (!nzchar(j$nulls))
    tl_stop("`nulls` must name the column of non-converting journeys: ",
            'model "logistic" needs null counts')
  j <- journeys_in_r(j)
  r <- logistic_native(j, verbose = verbose)
  data.frame(channel = r$vchannels, conversions = r$vattr_convs_loc,
             value = if (nzchar(j$value)) per_channel(r$vpath_channel, r$vpath_attr_value,
                                                      r$vchannels) else rep(NA_real_, length(r$vchannels)),
             stringsAsFactors = FALSE)
}

# The regression behind the indices, from the fit entry point's result.
regression_fit <- function(r) {
  nm <- r$coefficient_names
  v <- r$vcov
  dimnames(v) <- list(nm, nm)
  list(coefficients = setNames(r$coefficients, nm), vcov = v, loglik = r$loglik,
       nobs = r$nobs, gradient_norm = r$gradient_norm, iterations = r$iterations)
}

# What summary() and glance() show of the fit: Wald tests of the
# coefficients, the log-likelihood, the journeys fitted.
regression_summary <- function(fit) {
  b <- fit$coefficients
  se <- sqrt(diag(fit$vcov))
  list(Coefficients = data.frame(term = names(b), estimate = unname(b), std.error = unname(se),
                                 p.value = unname(2 * stats::pnorm(-abs(b / se))),
                                 stringsAsFactors = FALSE),
       `Log-likelihood` = fit$loglik, `Journeys fitted` = fit$nobs,
       `Gradient norm at stop` = fit$gradient_norm)
}

logistic_fit_of <- function(object) {
  f <- object$details$fit
  if (is.null(f)) tl_stop("this logistic model carries no regression fit")
  f
}

#' Inference for logistic-regression attribution
#'
#' The regression behind [logistic_regression()]'s indices: conversion of a
#' journey (a Bernoulli trial per journey) on its per-channel touch counts,
#' with the constant b0 as "(constant)". The covariance is the inverse of the
#' observed information (the Hessian of the negative log-likelihood) at the
#' fitted coefficients, as `glm()` reports for the same design. It is all
#' `NaN` when the design is collinear: for example when every journey has a
#' single touch point, the touch counts add up to the constant.
#'
#' The fit is gradient descent stopped after a fixed number of steps;
#' `object$details$fit$gradient_norm` says how close it came (the
#' coefficients are about `norm(vcov) * nobs * gradient_norm` from the
#' maximum likelihood).
#'
#' @param object A `touchlane_logistic` model from [logistic_regression()].
#' @param parm Coefficients (names or positions) to give intervals for; all
#'   when missing.
#' @param level Confidence level.
#' @param type `"coefficient"` for Wald intervals of the coefficients,
#'   `"index"` for the channel indices exp(b0 + b_channel) (Wald on the log
#'   scale, then exponentiated).
#' @param ... Not used.
#' @return `vcov()`: the covariance matrix of the coefficients. `confint()`:
#'   a matrix with one row per coefficient (or channel) and the lower and
#'   upper bounds as columns named by their percentages. `logLik()`: a
#'   `"logLik"` object with `df` (coefficients) and `nobs`. `nobs()`: the
#'   number of journeys in the fit (journeys without touch points are left
#'   out).
#' @examples
#' lr <- logistic_regression(journeys_sample(), nulls = "nulls")
#' vcov(lr)
#' confint(lr)
#' confint(lr, type = "index", level = 0.9)
#' logLik(lr)
#' AIC(lr)
#' nobs(lr)
#' @name vcov.touchlane_logistic
#' @importFrom stats vcov confint logLik nobs
#' @export
vcov.touchlane_logistic <- function(object, ...) logistic_fit_of(object)$vcov

#' @rdname vcov.touchlane_logistic
#' @export
confint.touchlane_logistic <- function(object, parm, level = 0.95,
                                       type = c("coefficient", "index"), ...) {
  type <- as_kind(type, c("coefficient", "index"), "type")
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || level <= 0 || level >= 1)
    tl_stop("`level` must be one number strictly between 0 and 1")
  f <- logistic_fit_of(object)
  b <- f$coefficients
  v <- f$vcov
  if (type == "coefficient") {
    est <- b
    se <- sqrt(diag(v))
  } else {
    # log index = b0 + b_k: variance V00 + Vkk + 2 V0k
    k <- seq_along(b)[-1]
    est <- b[1] + b[k]
    se <- sqrt(v[1, 1] + diag(v)[k] + 2 * v[1, k])
    names(est) <- names(se) <- names(b)[k]
  }
  if (!missing(parm)) {
    if (is.numeric(parm)) parm <- names(est)[parm]
    bad <- setdiff(parm, names(est))
    if (length(bad) || anyNA(parm))
      tl_stop("`parm`: no ", type, " named ", paste0('"', bad, '"', collapse = ", "))
    est <- est[parm]
    se <- se[parm]
  }
  a <- (1 - level) / 2
  z <- stats::qnorm(1 - a)
  ci <- cbind(est - z * se, est + z * se)
  if (type == "index") ci <- exp(ci)
  dimnames(ci) <- list(names(est), paste(format(100 * c(a, 1 - a), trim = TRUE,
                                                scientific = FALSE, digits = 3), "%"))
  ci
}

#' @rdname vcov.touchlane_logistic
#' @export
logLik.touchlane_logistic <- function(object, ...) {
  f <- logistic_fit_of(object)
  structure(f$loglik, df = length(f$coefficients), nobs = f$nobs, class = "logLik")
}

#' @rdname vcov.touchlane_logistic
#' @export
nobs.touchlane_logistic <- function(object, ...) logistic_fit_of(object)$nobs
