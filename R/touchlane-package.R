#' Touchlane: multi-touch attribution of marketing customer journeys
#'
#' Touchlane gives marketing channels credit for the conversions of customer
#' journeys: heuristic rules ([heuristic_models()]), Markov removal effects
#' ([markov_model()]), Shapley values ([shapley()]) and logistic regression
#' ([logistic_regression()]), side by side with [attribution()]. Models
#' return objects with `print`, `summary`, `coef`, `as.data.frame`,
#' `predict` and `plot` methods (see [touchlane_model]); a model's weights
#' apply to new journeys with `predict()` or [new_paths_attribution()].
#' Around them: the choice of the Markov order ([choose_order()]), next best
#' action ([next_best_action_train()]), budget allocation
#' ([budget_allocation()]), model comparison ([compare_models_mta()]) and
#' more. The computations run in a native C++ library; each function's help
#' page names the entry point it calls.
#'
#' Every function that reads journeys takes them from `data` (a data frame)
#' or `file` (a delimited file), with the column names `path`,
#' `conversions`, `value` and `nulls`, and the separators `channel_sep` and
#' `field_sep`. Start with `vignette("journeys-to-credit", package =
#' "Touchlane")`.
#'
#' @examples
#' attribution(journeys_sample(), models = c("first", "last", "linear"))
#' @keywords internal
"_PACKAGE"

#' @useDynLib Touchlane
#' @importFrom Rcpp evalCpp
#' @importFrom stats coef confint predict setNames
#' @importFrom utils head tail
NULL
