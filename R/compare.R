#' Compares attribution models by the conversions their traffic advice yields.
#'
#' Journeys are given as paths (`vy`, channels separated by `cha_sep`) with
#' their conversions `vc` and non-conversions `vn`. Each of `niter`
#' iterations draws a sample, runs every model on it, moves `perc_reall` of
#' the traffic towards the channels the model values and simulates the
#' population under that traffic. Returns the performance matrix (one row
#' per iteration, one column per model), the average traffic share per
#' channel and allocation, and the model names.
compare_models_mta <- function(vy, vc, vn, var_path = "path", var_conv = "total_conversions",
                               var_null = "total_null", cha_sep = ">", perc_reall = 0.05,
                               perc_sample = 0.1, max_nsim = 1e6, min_perc_traffic = 0.03,
                               niter = 10, flg_extra_path = 0, markov_order = 1,
                               seed = NA, verbose = 0) {
  if (length(vy) != length(vc) || length(vy) != length(vn))
    stop("vy, vc and vn must have the same length")
  .Call("compare_models_mta_R", as.character(vy), as.numeric(vc), as.numeric(vn),
        var_path, var_conv, var_null, cha_sep, perc_reall, perc_sample, max_nsim,
        min_perc_traffic, niter, flg_extra_path, markov_order, seed, verbose,
        PACKAGE = "Touchlane")
}
