#' Suggests a budget per attributed channel.
#'
#' Part `1 - min_perc_budget - perc_reall` of `total_budget_new` follows the
#' current spending (the cost rows, or the attributed conversions when there
#' are none), `min_perc_budget` is shared equally and `perc_reall` follows
#' the channels' return: value over cost when values and costs are given,
#' otherwise the model index `vindex_value` as a model returned it (masked,
#' with the mean index last).
budget_allocation <- function(vattr_channels, vattr_conversions, vattr_value = numeric(0),
                              vcost_channels = character(0), vcost_value = numeric(0),
                              vindex_channels = character(0), vindex_value = numeric(0),
                              total_budget_new, perc_reall = 0.1, min_perc_budget = 0.05) {
  .Call("markov_budget_allocation_R", as.character(vattr_channels), as.numeric(vattr_conversions),
        as.numeric(vattr_value), as.character(vcost_channels), as.numeric(vcost_value),
        as.character(vindex_channels), as.numeric(vindex_value), total_budget_new, perc_reall,
        min_perc_budget, PACKAGE = "Touchlane")
}

#' The plain numbers of a weight vector that a model returned masked.
unmask_index <- function(vindex) {
  .Call("uidx_R", as.numeric(vindex), PACKAGE = "Touchlane")
}
