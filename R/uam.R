#' Unified attribution of aggregated per-period conversions
#'
#' Attributes the conversions of each period to the channels by a reward
#' model fitted on the aggregated series (clicks per channel and period turned
#' into impressions by the click-through rates). When journeys are given as
#' `events`, a Markov model on them shares the journey channels' weight among
#' them: by their Markov conversion shares when the journey channels are all
#' click channels (or none is), otherwise by multiplying each channel's weight
#' by its Markov index. Calls the entry point `uam_R`.
#'
#' @param aggregated Aggregated series: a data frame with one row per period
#'   (in time order), a column of conversions and one column of clicks per
#'   channel, named by the channel.
#' @param ctr Click-through rates: a data frame (or matrix) with at least one
#'   row per period and one column per channel of `aggregated`, named by the
#'   channel.
#' @param conversions Name of the conversions column of `aggregated`; every
#'   other numeric column is a channel (except `period`).
#' @param period Name of a column of `aggregated` (and `ctr`) naming the
#'   periods, not used in the computation; `NULL` when there is none.
#' @param click_channels The channels whose touches are clicks (the others
#'   are impressions); all channels by default.
#' @param events Journeys as events, or `NULL`: a data frame with one row per
#'   touch point or conversion, rows of a journey consecutive, journey
#'   identifiers rising.
#' @param id,channel Column names of `events`: journey identifier and
#'   channel.
#' @param conversion The channel name that marks conversion rows of `events`.
#' @inheritParams markov_model
#' @return A `touchlane_uam` model object (see [touchlane_model]): `channels`
#'   the conversions attributed over all periods; `details$periods` the
#'   conversions per period and channel and `details$impression_weights` the
#'   weight per impression of each channel.
#' @examples
#' agg <- data.frame(conversions = c(10, 14, 12, 20), A = c(10, 30, 20, 40),
#'                   B = c(5, 4, 6, 9), C = c(3, 4, 2, 5))
#' ctr <- data.frame(A = rep(0.1, 4), B = 0.1, C = 0.1)
#' u <- uam(agg, ctr, click_channels = c("A", "B"))
#' u
#' ev <- data.frame(id = c(1, 1, 2, 2, 3, 4), channel = c("A", "conversion", "B", "conversion",
#'                                                       "A", "B"))
#' uam(agg, ctr, events = ev, seed = 1, simulations = 2e4)$details$impression_weights
#' @export
uam <- function(aggregated, ctr, conversions = "conversions", period = NULL,
                click_channels = NULL, events = NULL, id = "id", channel = "channel",
                conversion = "conversion", order = 1L, simulations = 1e5, max_steps = 0,
                threads = 1L, folds = 10L, tolerance = 0.05, growth = 1.5, seed = NULL,
                verbose = FALSE) {
  if (!is.data.frame(aggregated)) tl_stop("`aggregated` must be a data frame")
  check_string(conversions, "conversions")
  if (!(conversions %in% names(aggregated)))
    tl_stop("column '", conversions, "' (conversions) not found in `aggregated`")
  channels <- setdiff(names(aggregated), c(conversions, period))
  if (!length(channels)) tl_stop("`aggregated` has no channel columns")
  if (nrow(aggregated) < 2)
    tl_stop("`aggregated` needs at least two periods: channels are weighed by how their ",
            "impressions move with the conversions from one period to the next")
  clicks <- as.matrix(aggregated[, channels, drop = FALSE])
  if (!is.numeric(clicks)) tl_stop("`aggregated`: the channel columns must be numeric")
  storage.mode(clicks) <- "double"
  conv <- check_counts(aggregated[[conversions]], conversions, "conversions")
  if (is.data.frame(ctr) || is.matrix(ctr)) {
    miss <- setdiff(channels, colnames(ctr))
    if (length(miss))
      tl_stop("`ctr` has no column for channel ", paste0("'", miss, "'", collapse = ", "))
    ctr <- as.matrix(as.data.frame(ctr)[, channels, drop = FALSE])
  } else tl_stop("`ctr` must be a data frame with one column per channel")
  if (nrow(ctr) < nrow(clicks)) tl_stop("`ctr` has fewer rows than `aggregated` has periods")
  storage.mode(ctr) <- "double"
  if (is.null(click_channels)) click_channels <- channels
  unknown <- setdiff(click_channels, channels)
  if (length(unknown))
    tl_stop("`click_channels`: no channel ", paste0("'", unknown, "'", collapse = ", "))
  sim <- simulation_settings(simulations, threads, folds, tolerance, growth)
  ev <- if (!is.null(events)) event_columns(events, id, NULL, channel)
  seed <- as_seed(seed)
  r <- quietly(.Call("uam_R", if (is.null(ev)) 0 else 1, if (is.null(ev)) numeric(0) else ev$id,
                     if (is.null(ev)) character(0) else rep("", length(ev$id)),
                     if (is.null(ev)) character(0) else ev$channel, numeric(0), conversion,
                     as_order(order), sim$simulations,
                     as_whole(max_steps, "max_steps", 0), sim$threads, sim$folds, seed,
                     sim$tolerance, sim$growth,
                     as_flag(verbose, "verbose"), channels,
                     as.numeric(channels %in% click_channels), rep("", nrow(clicks)),
                     rep("", nrow(clicks)), conv, clicks, character(0), character(0), ctr,
                     PACKAGE = "Touchlane"), verbose)
  periods <- matrix(unlist(r$Mattr), ncol = length(channels), byrow = TRUE,
                    dimnames = list(period = if (is.null(period)) seq_len(nrow(clicks))
                                    else as.character(aggregated[[period]]), channel = channels))
  iw <- setNames(r$vindex, channels)
  new_touchlane_model("uam", channels = channel_table(channels, colSums(periods)),
                      details = list(label = if (is.null(ev)) "reward model"
                                     else "reward model and Markov model on journeys",
                                     periods = periods, impression_weights = iw,
                                     summary = list(`Weight per impression` =
                                                      data.frame(channel = channels, weight = iw))),
                      native = r, call = match.call(), seed = seed)
}
