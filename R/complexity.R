#' How complex a journey set is.
#'
#' Counts the journeys, the distinct channels and the distinct states of
#' order `order` (both counts include three special entries) and the number
#' of states in each group of states that no journey links to another group.
#' Groups absorbed by a later merge report 0.
#' @export
describe_complexity <- function(Data, var_path, order = 1, sep = ">") {
  if (!is.list(Data)) stop("Data must be a data frame")
  .Call("describe_complexity_R", Data, var_path, order, sep, PACKAGE = "Touchlane")
}
