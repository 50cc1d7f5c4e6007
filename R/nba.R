#' Suggests the next channel for a journey from a next-best-action table.
#'
#' `table` is the list returned by the training (elements "channels",
#' "path_from", "channel_to", "conversion_rate").
next_best_action <- function(new_path, table, sep = ">") {
  .Call("next_best_action_R", new_path, sep, table$path_from, table$channel_to,
        table$conversion_rate, table$channels, PACKAGE = "Touchlane")
}
