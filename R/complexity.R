#' How complex a journey set is
#'
#' Counts the journeys, the distinct channels and the distinct states of
#' order `order` (both counts include three special entries: start,
#' conversion and null) and the number of states in each group of states that
#' no journey links to another group (groups absorbed by a later merge
#' report 0). Calls the entry point `describe_complexity_R`.
#'
#' @inheritParams markov_model
#' @param data Journeys: a data frame with a path column.
#' @return A list with `journeys`, `channels`, `states` and `group_states`.
#' @examples
#' describe_complexity(journeys_sample(), order = 2)
#' @export
describe_complexity <- function(data, path = "path", channel_sep = ">", order = 1L) {
  if (missing(data)) tl_stop("give the journeys as `data` (a data frame)")
  j <- journey_args(data, NULL, path, path, NULL, NULL, channel_sep, ";",
                    need_nulls = FALSE, counts = FALSE)
  r <- .Call("describe_complexity_R", j$data, path, as_whole(order, "order", 1, 1e6),
             channel_sep, PACKAGE = "Touchlane")
  list(journeys = r$npaths, channels = r$nchannels, states = r$nchannels_sim,
       group_states = r$group_channel_len)
}
