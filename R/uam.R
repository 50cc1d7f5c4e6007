#' Unified attribution of aggregated per-period conversions.
#'
#' `tab_aggr_touches` (clicks) and `tab_ctr_ctr` (click-through rates) are
#' periods x channels matrices, columns named by `vchannels_aggr`; one
#' period per entry of `tab_aggr_time_from_str` and `tab_aggr_conversions`.
#' With `flg_path = 1` the event table (`tab_paths_id_path`,
#' `tab_paths_channel`, conversions written as `channel_conv_name`) feeds a
#' Markov model that shares the journey channels' weight among them.
#' Returns the weight per impression of each channel ("vindex") and the
#' conversions of each period attributed to the channels ("Mattr").
#' @export
uam <- function(vchannels_aggr, vtype_channels_aggr, tab_aggr_time_from_str,
                tab_aggr_conversions, tab_aggr_touches, tab_ctr_ctr, flg_path = 0,
                tab_paths_id_path = numeric(0), tab_paths_channel = character(0),
                channel_conv_name = "(conversion)", order = 1, nsim_start = 1e5,
                max_step = 0, ncore = 1, nfold = 10, seed = NA, conv_par = 0.05,
                rate_step_sim = 1.5, verbose = 0,
                tab_paths_time_str = rep("", length(tab_paths_id_path)),
                vcosts = numeric(0), tab_aggr_time_to_str = tab_aggr_time_from_str,
                tab_ctr_time_from_str = character(0), tab_ctr_time_to_str = character(0)) {
  .Call("uam_R", flg_path, as.numeric(tab_paths_id_path), as.character(tab_paths_time_str),
        as.character(tab_paths_channel), as.numeric(vcosts), channel_conv_name, order,
        nsim_start, max_step, ncore, nfold, seed, conv_par, rate_step_sim, verbose,
        as.character(vchannels_aggr), as.numeric(vtype_channels_aggr),
        as.character(tab_aggr_time_from_str), as.character(tab_aggr_time_to_str),
        as.numeric(tab_aggr_conversions), as.matrix(tab_aggr_touches),
        as.character(tab_ctr_time_from_str), as.character(tab_ctr_time_to_str),
        as.matrix(tab_ctr_ctr), PACKAGE = "Touchlane")
}
