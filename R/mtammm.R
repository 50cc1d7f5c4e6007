#' Adjusts touch-point attribution towards media-mix channel totals.
#'
#' `mta_path_attribution` has columns path, channel and attribution (rows of
#' one journey consecutive); `mmm_attribution` columns channel and
#' attribution; `prior_weights_mta` columns channel and mta_weight (1 trusts
#' the touch-point attribution fully). Every journey keeps its total.
#' @export
combine_mta_mmm <- function(mta_path_attribution, mmm_attribution, prior_weights_mta,
                            max_steps = 100, conv_rate = 0.001, verbose = 0) {
  for (a in list(mta_path_attribution, mmm_attribution, prior_weights_mta))
    if (!is.list(a)) stop("the three tables must be data frames")
  .Call("combine_mta_mmm_R", mta_path_attribution, mmm_attribution, prior_weights_mta,
        max_steps, conv_rate, verbose, PACKAGE = "Touchlane")
}
