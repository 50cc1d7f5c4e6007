# Uncertainty intervals for attribution(): a bootstrap over the aggregated
# journeys (entry point bootstrap_R). Each replicate redraws every row's
# conversions and nulls as Poisson counts around the observed ones (each
# customer counted a Poisson(1) number of times), refits the model and
# keeps its per-channel conversions; replicate r is seeded from the seed
# and r alone, so the intervals do not depend on `threads`.

bootstrap_models <- c("first", "last", "linear", "position", "last_non_direct", "shapley",
                      "logistic", "markov")

# The native settings of one model from the settings given to attribution().
bootstrap_settings <- function(settings) {
  s <- list()
  if (!is.null(settings$position_shares)) {
    sh <- check_position_shares(settings$position_shares)
    s$first_share <- sh[["first"]]
    s$last_share <- sh[["last"]]
  }
  if (!is.null(settings$direct_channels)) {
    check_direct_channels(settings$direct_channels)
    s$direct_channels <- settings$direct_channels
  }
  if (!is.null(settings$simplified)) s$flg_simplified <- as_flag(settings$simplified, "simplified")
  if (!is.null(settings$method))
    s$exact <- as.numeric(markov_method(settings$method) == "exact")
  if (!is.null(settings$horizon))
    s$unlimited <- as.numeric(markov_horizon(settings$horizon) == "unlimited")
  if (!is.null(settings$order)) s$order <- as_order(settings$order)
  if (!is.null(settings$simulations))
    s$nsim_start <- as_whole(settings$simulations, "simulations", 1)
  if (!is.null(settings$max_steps)) s$max_step <- as_whole(settings$max_steps, "max_steps", 0)
  s
}

# lower / upper columns for the long attribution table `out`.
attribution_intervals <- function(out, j, models, settings, bootstrap, level, seed) {
  nrep <- as_whole(bootstrap, "bootstrap", 0, 1e6)
  level <- as_number(level, "level", 0, 1)
  if (level <= 0 || level >= 1) tl_stop("`level` must be a number between 0 and 1")
  threads <- if (is.null(settings$threads)) 1 else as_whole(settings$threads, "threads", 1, 1024)
  native <- bootstrap_settings(settings)
  out$lower <- NA_real_
  out$upper <- NA_real_
  probs <- c((1 - level) / 2, (1 + level) / 2)
  for (m in models) {
    if (!m %in% bootstrap_models) {
      warning("no bootstrap for model \"", m, "\": its lower and upper are NA", call. = FALSE)
      next
    }
    if (m == "logistic" && !nzchar(j$nulls))
      tl_stop('`nulls` must name the column of non-converting journeys: model "logistic" needs null counts')
    r <- .Call("bootstrap_R", m, j$flg_file, j$file, j$data, j$path, j$conversions, j$value,
               j$nulls, j$field_sep, j$channel_sep, native, nrep, as_seed(seed), threads,
               PACKAGE = "Touchlane")
    q <- t(apply(r$vreps, 1L, stats::quantile, probs = probs, names = FALSE, type = 7))
    rows <- which(out$model == m)
    at <- match(out$channel[rows], r$vchannels)
    out$lower[rows] <- ifelse(is.na(at), 0, q[at, 1])
    out$upper[rows] <- ifelse(is.na(at), 0, q[at, 2])
  }
  out
}

# Error bars over the bars of plot.touchlane_attribution(): `mids` are the
# bar centres (models x channels), `x` the long table in the same order.
attribution_error_bars <- function(x, mids, what) {
  if (what != "conversions" || !all(c("lower", "upper") %in% names(x))) return(invisible())
  ok <- !is.na(x$lower) & !is.na(x$upper)
  graphics::arrows(mids[ok], x$lower[ok], mids[ok], x$upper[ok], angle = 90, code = 3,
                   length = 0.03, col = "grey20")
  invisible()
}
