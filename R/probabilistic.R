#' Simple probabilistic attribution
#'
#' The simple probabilistic model of Shao and Li (2011). Each journey row
#' counts once for every distinct channel it touched: its conversions as
#' successes and its `nulls` as failures. A channel's first-order rate is
#' P(conversion | channel); for each pair of channels seen together the
#' second-order rate is P(conversion | both). A channel's contribution is
#' its rate plus half the mean, over the channels it was seen with, of the
#' pair rate less the two single rates:
#' C(i) = P(i) + sum_j (P(i, j) - P(i) - P(j)) / (2 N(i)), where N(i) counts
#' the channels seen with i. Every journey's conversions and value are then
#' split over its distinct channels in proportion to their contributions
#' (a negative contribution counts as 0; evenly when all are 0). The model
#' needs the `nulls` column. Calls the entry point `probabilistic_R`; in
#' [attribution()] it is the model `"probabilistic"`.
#'
#' @inheritParams heuristic_models
#' @param nulls Name of the column holding the counts of journeys that did
#'   not convert (required).
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one before the model ("a > a > b" becomes "a > b";
#'   rows re-aggregated as by [transform_paths()]).
#' @return A `touchlane_probabilistic` model object (see [touchlane_model]):
#'   `channels` with the attributed conversions and value, and in `details`
#'   the tables `channel_rates` (channel, rate, contribution) and
#'   `pair_rates` (channel_a, channel_b, rate). It has no weights for
#'   `predict()`: the credit depends on the channels a journey combines.
#' @references Shao, X. and Li, L. (2011). Data-driven multi-touch
#'   attribution models. Proceedings of the 17th ACM SIGKDD International
#'   Conference on Knowledge Discovery and Data Mining, 258-264.
#' @examples
#' p <- probabilistic_model(journeys_sample(), value = "value", nulls = "nulls")
#' p
#' head(p$details$pair_rates)
#' @export
probabilistic_model <- function(data = NULL, file = NULL, path = "path",
                                conversions = "conversions", value = NULL, nulls = "nulls",
                                channel_sep = ">", field_sep = ";", remove_loops = FALSE) {
  value <- found_columns(data, file, field_sep, value, NULL, missing(value), FALSE)$value
  j <- journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                    need_nulls = "the probabilistic model", remove_loops = remove_loops)
  r <- probabilistic_native(j)
  rates <- data.frame(channel = r$channel, rate = r$rate, contribution = r$contribution,
                      stringsAsFactors = FALSE)
  pairs <- data.frame(channel_a = r$channel[r$pair_a + 1], channel_b = r$channel[r$pair_b + 1],
                      rate = r$pair_rate, stringsAsFactors = FALSE)
  new_touchlane_model("probabilistic",
                      channels = channel_table(r$channel, r$conversions,
                                               if (nzchar(j$value)) r$value),
                      details = list(channel_rates = rates, pair_rates = pairs,
                                     summary = list(`Channel pairs seen together` = nrow(pairs))),
                      native = r, call = match.call(), j = j)
}

probabilistic_native <- function(j) {
  .Call("probabilistic_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$value, j$nulls,
        j$field_sep, j$channel_sep, PACKAGE = "Touchlane")
}

attr_model_probabilistic <- function(j, ..., seed = NULL, verbose = FALSE) {
  if (!nzchar(j$nulls))
    tl_stop("`nulls` must name the column of non-converting journeys: ",
            "model \"probabilistic\" needs null counts")
  r <- probabilistic_native(j)
  data.frame(channel = r$channel, conversions = r$conversions,
             value = if (nzchar(j$value)) r$value else NA_real_, stringsAsFactors = FALSE)
}
