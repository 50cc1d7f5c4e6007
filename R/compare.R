#' Compares attribution models by the conversions their traffic advice yields.
#'
#' Journeys are given as paths (`vy`, channels separated by `cha_sep`) with
#' their conversions `vc` and non-conversions `vn`. Each of `niter`
#' iterations draws a sample, runs every model on it, moves `perc_reall` of
#' the traffic towards the channels the model values and simulates the
#' population under that traffic. Returns the performance matrix (one row
#' per iteration, one column per model), the average traffic share per
#' channel and allocation, and the model names.
#' @export
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

#' The model comparison for time-stamped journeys with media-mix data.
#'
#' Journeys come as an event table (`tab_paths_id_path`, time stamps
#' "%Y-%m-%d %H:%M:%S" in `tab_paths_time_str`, channels in
#' `tab_paths_channel`, conversions marked by `channel_conv_name`) and the
#' click-through rate of every channel per day as the matrix `tab_ctr_ctr`
#' (rows = days of `tab_ctr_day_str`, columns = channels in order of first
#' appearance in the event table). The reward model joins the compared
#' models. Returns the same list as `compare_models_mta`.
#' @export
compare_models_mta_mmm <- function(tab_paths_id_path, tab_paths_time_str, tab_paths_channel,
                                   tab_ctr_day_str, tab_ctr_ctr, channel_conv_name = "conversion",
                                   perc_reall = 0.05, perc_sample = 0.5, max_nsim = 1e6,
                                   min_perc_traffic = 0.03, niter = 10, flg_extra_path = 0,
                                   max_markov_order = 1, seed = NA, verbose = 0) {
  if (!is.matrix(tab_ctr_ctr)) stop("tab_ctr_ctr must be a numeric matrix")
  storage.mode(tab_ctr_ctr) <- "double"
  .Call("compare_models_mta_mmm_R", as.numeric(tab_paths_id_path),
        as.character(tab_paths_time_str), as.character(tab_paths_channel),
        as.character(tab_ctr_day_str), tab_ctr_ctr, channel_conv_name, perc_reall, perc_sample,
        max_nsim, min_perc_traffic, niter, flg_extra_path, max_markov_order, seed, verbose,
        PACKAGE = "Touchlane")
}
