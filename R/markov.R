# Markov-chain attribution and its shared pieces (index kinds, state names,
# the simulation summary).

# How the Markov model gets its removal effects: "simulation" (walks through
# the chain until the folds agree) or "exact" (solved from the chain), and
# for "exact" the horizon: "step_limit" (walks end incomplete after the
# simulation's step limit, so exact and simulated results estimate the same
# numbers) or "unlimited" (the absorbing-chain limit).
markov_method <- function(method) as_kind(method, c("simulation", "exact"), "method")
markov_horizon <- function(horizon) as_kind(horizon, c("step_limit", "unlimited"), "horizon")

# Index kinds of the Markov and Shapley models, by the native code they select.
index_kinds <- c(removal = 0, conversion_rate = 1, odds = 2, difference = 3, saturation = 4)

#' Markov-chain attribution
#'
#' Fits a Markov chain of order `order` on the journeys and simulates it to
#' measure each channel's removal effect: the share of simulated conversions
#' that pass through the channel. With `kind = "removal"` (the default) the
#' observed conversions (and value) are shared among the channels in
#' proportion to their removal effects. The other kinds compute a per-channel
#' conversion index from the simulated conversions c and non-conversions n of
#' each channel and apply it to every touch point of every journey: they
#' need the `nulls` column. Calls the entry point `markov_model_R`.
#'
#' Index kinds: `"conversion_rate"` c / (c + n), `"odds"` c / n,
#' `"difference"` (c - n + 1) / 2, `"saturation"` 1 - exp(-c / n).
#'
#' @inheritParams heuristic_models
#' @param nulls Name of the column of counts of journeys that did not
#'   convert, or `NULL` for none (needed by every `kind` but `"removal"`).
#'   When `value` or `nulls` is not given and the journeys have a column
#'   `"value"` or `"nulls"`, it is used, with a one-line message.
#' @param kind `"removal"`, `"conversion_rate"`, `"odds"`, `"difference"` or
#'   `"saturation"` (see Details).
#' @param order Markov order: how many consecutive channels form a state.
#' @param simulations Simulated journeys of the first batch; later batches
#'   grow by `growth` until the attribution is stable.
#' @param max_steps Longest simulated journey (0: chosen from the data).
#' @param threads Simulation threads.
#' @param folds Folds compared for the stability check.
#' @param tolerance Largest relative difference between folds at which the
#'   simulation stops.
#' @param growth Growth factor of the batches.
#' @param method `"exact"` (the default) computes the removal effects from
#'   the chain itself, deterministically (no seed needed) and usually much
#'   faster; `threads` then solves channels in parallel and the result does
#'   not depend on it. `"simulation"` estimates them by simulating journeys
#'   through the chain: its result depends on `seed` and on `threads`
#'   (thread w simulates with seed + w), and its noise can exceed the
#'   differences between channels at small `simulations`.
#' @param horizon For `method = "exact"`: `"step_limit"` (the default)
#'   treats a journey that has not ended after the simulation's step limit
#'   (`max_steps`, or one step more than the longest journey) as incomplete,
#'   exactly as the simulation does, so both methods estimate the same
#'   numbers; `"unlimited"` lets journeys run until they end (the limit of
#'   the absorbing chain). Index kinds use expected counts out of
#'   `simulations` journeys.
#' @param transition_matrix `TRUE` to return the transition matrix in
#'   `details$transitions` (see [transition_matrix()]).
#' @param seed Random seed of the simulation; `NULL` draws one from R's
#'   random number generator (so `set.seed()` repeats the call). The seed
#'   used is `$seed` of the result.
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one before the model ("a > a > b" becomes "a > b";
#'   rows re-aggregated as by [transform_paths()]).
#' @return A `touchlane_markov` model object (see [touchlane_model]):
#'   `weights` are the removal effects (kind `"removal"`) or the conversion
#'   indices; `summary()` shows the simulations run, the final residual and
#'   the removal effects.
#' @examples
#' m <- markov_model(journeys_sample(), value = "value", seed = 1, simulations = 1e4)
#' m
#' summary(m)
#' mi <- markov_model(journeys_sample(), nulls = "nulls", kind = "conversion_rate",
#'                    seed = 1, simulations = 1e4)
#' coef(mi)
#' @export
markov_model <- function(data = NULL, file = NULL, path = "path", conversions = "conversions",
                         value = NULL, nulls = NULL, channel_sep = ">", field_sep = ";",
                         kind = c("removal", "conversion_rate", "odds", "difference", "saturation"),
                         order = 1L, simulations = 1e5, max_steps = 0, threads = 1L,
                         folds = 10L, tolerance = 0.05, growth = 1.5, transition_matrix = FALSE,
                         seed = NULL, file_output = NULL, write_nulls = FALSE,
                         write_paths = FALSE, verbose = FALSE,
                         method = c("exact", "simulation"),
                         horizon = c("step_limit", "unlimited"), remove_loops = FALSE) {
  kind <- as_kind(kind, names(index_kinds), "kind")
  cols <- found_columns(data, file, field_sep, value, nulls, missing(value), missing(nulls))
  value <- cols$value
  nulls <- cols$nulls
  method <- markov_method(method)
  horizon <- markov_horizon(horizon)
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                    need_nulls = if (kind != "removal") paste0('kind = "', kind, '"') else FALSE,
                    remove_loops = remove_loops)
  seed <- as_seed(seed)
  fit <- markov_native(j, kind, order, simulations, max_steps, threads, folds, tolerance, growth,
                       transition_matrix, seed, file_output, write_nulls, write_paths, verbose,
                       method = method, horizon = horizon)
  r <- fit$native
  has_value <- nzchar(j$value)
  if (kind == "removal") {
    tab <- channel_table(r$vchannels, r$vattr_convs_glob, if (has_value) r$vattr_value_glob)
    tp <- NULL
  } else {
    tp <- touchpoint_table(r, has_value = has_value)
    tab <- channel_table(r$vchannels, r$vattr_convs_loc,
                         if (has_value && !is.null(tp))
                           per_channel(tp$channel, tp$value, r$vchannels))
  }
  w <- weights_from_native(r$vchannels, r$vindex)
  details <- list(label = paste0("order ", order, ", ", kind,
                                 if (method == "exact") paste0(", exact (", horizon, ")")),
                  kind = kind, order = order, method = method, horizon = horizon,
                  file_output = file_output,
                  weight_name = if (kind == "removal") "removal_effect" else "index",
                  summary = fit$summary)
  if (isTRUE(transition_matrix)) details$transitions <- transitions_named(r, channel_sep)
  new_touchlane_model("markov", channels = tab, touchpoints = tp, weights = w,
                      details = details, native = r, call = match.call(), seed = seed, j = j)
}

markov_native <- function(j, kind, order, simulations, max_steps, threads, folds, tolerance,
                          growth, transition_matrix, seed, file_output = NULL, write_nulls = FALSE,
                          write_paths = FALSE, verbose = FALSE, method = "simulation",
                          horizon = "step_limit") {
  as_flag(verbose, "verbose")
  out <- as_output(file_output)
  wp <- as_flag(write_paths, "write_paths")
  # markov_model_method_R takes the arguments of markov_model_R and the
  # method, and also says how the simulation went.
  sim <- simulation_settings(simulations, threads, folds, tolerance, growth)
  need_journeys(j, "the Markov model")
  args <- list(j$flg_file, j$file, j$data, j$path, j$conversions,
               j$value, j$nulls, j$field_sep, j$channel_sep, index_kinds[[kind]],
               as_order(order), sim$simulations, as_whole(max_steps, "max_steps", 0),
               sim$threads, sim$folds, as_seed(seed), sim$tolerance, sim$growth,
               1, as_flag(transition_matrix, "transition_matrix"), out,
               as_flag(write_nulls, "write_nulls"), wp, method, horizon)
  r <- quietly(do.call(".Call", c(list("markov_model_method_R"), args,
                                  list(PACKAGE = "Touchlane"))), verbose)
  run <- r$simulation
  r$simulation <- NULL
  list(native = r, summary = simulation_summary(run))
}

# The largest Markov order the native layer builds states for.
max_order <- 10000

as_order <- function(order, arg = "order") as_whole(order, arg, 1, max_order)

# The simulation settings, checked here so that a refusal names them as
# the R caller wrote them: every thread runs every fold at least once, and
# each batch of simulations grows the last by at least one.
simulation_settings <- function(simulations, threads, folds, tolerance, growth) {
  sims <- as_whole(simulations, "simulations", 1)
  threads <- as_whole(threads, "threads", 1, 1024)
  folds <- as_whole(folds, "folds", 1, 1e6)
  if (floor(sims / threads) < folds)
    tl_stop("`simulations` (", format(sims), ") must be at least `folds` x `threads` (",
            format(folds), " x ", format(threads), ")")
  tolerance <- as_number(tolerance, "tolerance", 0)
  if (tolerance <= 0 || !is.finite(tolerance))
    tl_stop("`tolerance` must be a positive number, not ", format(tolerance))
  growth <- as_number(growth, "growth", 1)
  if (!is.finite(growth) || floor(sims * growth) <= sims)
    tl_stop("`growth` (", format(growth), ") must be greater than 1 and grow `simulations` (",
            format(sims), ") by at least one simulation")
  list(simulations = sims, threads = threads, folds = folds, tolerance = tolerance, growth = growth)
}

# Walks simulated, batches, final residual and the share of walks that
# ended before the step limit; nothing for the exact method.
simulation_summary <- function(run) {
  if (is.null(run) || run$batches == 0) return(list())
  list(`Simulated journeys` = run$walks, `Simulation batches` = as.integer(run$batches),
       `Final residual (%)` = 100 * run$residual,
       `Simulated journeys ending before the step limit (%)` = 100 * run$ended_share)
}

# State names made of channel names: "0 1" -> "a > b".
state_names <- function(states, channels, channel_sep = ">") {
  sep <- paste0(" ", trimws(channel_sep), " ")
  special <- grepl("^\\(", states)
  out <- states
  idx <- strsplit(states[!special], " ", fixed = TRUE)
  out[!special] <- vapply(idx, function(i) paste(channels[as.integer(i) + 1L], collapse = sep), "")
  out
}

transitions_named <- function(r, channel_sep) {
  data.frame(from = state_names(r$vchannel_from_mtx, r$vchannels, channel_sep),
             to = state_names(r$vchannel_to_mtx, r$vchannels, channel_sep),
             probability = r$vtran_prob_mtx, stringsAsFactors = FALSE)
}

#' Transition matrix of the Markov chain
#'
#' Every observed transition between states with its probability; states
#' are named by their channels (joined by `channel_sep`) and the special
#' states "(start)", "(conversion)" and "(null)". Calls the entry point
#' `markov_model_R` without simulating.
#'
#' @inheritParams markov_model
#' @param nulls Name of the column of counts of journeys that did not
#'   convert, or `NULL` for none.
#' @return A data frame with columns `from`, `to` and `probability`; the
#'   probabilities of each `from` state sum to 1.
#' @examples
#' tm <- transition_matrix(journeys_sample(), nulls = "nulls")
#' head(tm)
#' tapply(tm$probability, tm$from, sum)[1:3]
#' @export
transition_matrix <- function(data = NULL, file = NULL, path = "path", conversions = "conversions",
                              nulls = NULL, channel_sep = ">", field_sep = ";", order = 1L,
                              remove_loops = FALSE) {
  j <- journey_args(data, file, path, conversions, NULL, nulls, channel_sep, field_sep,
                    remove_loops = remove_loops)
  need_journeys(j, "the transition matrix")
  r <- quietly(.Call("markov_model_R", j$flg_file, j$file, j$data, j$path, j$conversions, "",
                     j$nulls, j$field_sep, j$channel_sep, 0, as_order(order),
                     1e5, 0, 1, 10, 1, 0.05, 1.5, 0, 2, "", 0, 0, PACKAGE = "Touchlane"), FALSE)
  transitions_named(r, channel_sep)
}

attr_model_markov <- function(j, ..., order = 1L, simulations = 1e5, threads = 1L,
                              method = "exact", horizon = "step_limit", max_steps = 0,
                              seed = NULL, verbose = FALSE) {
  fit <- markov_native(j, "removal", order, simulations, max_steps, threads, 10, 0.05, 1.5, FALSE,
                       seed, verbose = verbose, method = markov_method(method),
                       horizon = markov_horizon(horizon))
  r <- fit$native
  data.frame(channel = r$vchannels, conversions = r$vattr_convs_glob,
             value = if (length(r$vattr_value_glob)) r$vattr_value_glob else rep(NA_real_, length(r$vchannels)),
             stringsAsFactors = FALSE)
}
