# Uncertainty intervals for attribution(): a bootstrap over the aggregated
# journeys (entry point bootstrap_R). Each replicate redraws every row's
# conversions and nulls as Poisson counts around the observed ones (each
# customer counted a Poisson(1) number of times), refits the model and
# keeps its per-channel conversions; replicate r is seeded from the seed
# and r alone, so the intervals do not depend on `threads`.

# lower / upper columns for the long attribution table `out`; the
# replicates stay as the attribute "replicates" (one row per row of `out`)
# so that confint() gives intervals at any level.
attribution_intervals <- function(out, j, models, settings, bootstrap, level, seed,
                                  verbose = FALSE) {
  nrep <- as_whole(bootstrap, "bootstrap", 0, 1e6)
  level <- as_number(level, "level", 0, 1)
  if (level <= 0 || level >= 1) tl_stop("`level` must be a number between 0 and 1")
  threads <- if (is.null(settings$threads)) 1 else as_whole(settings$threads, "threads", 1, 1024)
  out$lower <- NA_real_
  out$upper <- NA_real_
  reps <- matrix(NA_real_, nrow(out), nrep)
  probs <- c((1 - level) / 2, (1 + level) / 2)
  bar <- progress_bar(verbose, length(models), "bootstrap")
  for (m in models) {
    entry <- attribution_registry[[m]]
    if (is.null(entry$bootstrap)) {
      warning("no bootstrap for model \"", m, "\": its lower and upper are NA", call. = FALSE)
      progress_step(bar)
      next
    }
    if (m == "logistic" && !nzchar(j$nulls))
      tl_stop('`nulls` must name the column of non-converting journeys: model "logistic" needs null counts')
    r <- .Call("bootstrap_R", entry$native, j$flg_file, j$file, j$data, j$path, j$conversions,
               j$value, j$nulls, j$field_sep, j$channel_sep, entry$bootstrap(settings), nrep,
               seed, threads, PACKAGE = "Touchlane")
    progress_step(bar)
    rows <- which(out$model == m)
    at <- match(out$channel[rows], r$vchannels)
    got <- r$vreps[at, , drop = FALSE]
    got[is.na(at), ] <- 0
    reps[rows, ] <- got
    q <- t(apply(got, 1L, stats::quantile, probs = probs, names = FALSE, type = 7))
    out$lower[rows] <- q[, 1]
    out$upper[rows] <- q[, 2]
  }
  progress_done(bar)
  structure(out, replicates = reps, level = level)
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
