#' Markov-chain attribution of order `order`.
#'
#' `type` 0 attributes conversions (and value) to channels by the share of
#' simulated converting journeys that pass through each channel; `type` 1 to
#' 4 derive a per-channel conversion index from simulated conversions and
#' nulls (needs `var_null`) and apply it to every touch point. Journeys come
#' from `Data` or, when `file` is given, from a delimited file. `seed = NA`
#' draws a fresh seed. Returns the fourteen result vectors; `vindex` is
#' masked, its last element being the index of unknown channels.
markov_model <- function(Data = NULL, var_path, var_conv, var_value = "", var_null = "",
                         file = "", row_sep = ";", cha_sep = ">", type = 0, order = 1,
                         nsim_start = 1e5, max_step = 0, ncore = 1, nfold = 10, seed = NA,
                         conv_par = 0.05, rate_step_sim = 1.5, verbose = 1,
                         flg_out_tran_mtx = 0, file_output = "", flg_write_nulls = 0,
                         flg_write_paths = 0) {
  flg_file <- if (nzchar(file)) 1 else 0
  if (flg_file == 0 && !is.list(Data)) stop("Data must be a data frame when no file is given")
  .Call("markov_model_R", flg_file, file, if (is.null(Data)) list() else Data,
        var_path, var_conv, var_value, var_null, row_sep, cha_sep, type, order,
        nsim_start, max_step, ncore, nfold, as.numeric(seed), conv_par, rate_step_sim,
        verbose, flg_out_tran_mtx, file_output, flg_write_nulls, flg_write_paths,
        PACKAGE = "Touchlane")
}
