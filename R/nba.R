#' Suggests the next channel for a journey from a next-best-action table.
#'
#' `table` is the list returned by the training (elements "channels",
#' "path_from", "channel_to", "conversion_rate").
next_best_action <- function(new_path, table, sep = ">") {
  .Call("next_best_action_R", new_path, sep, table$path_from, table$channel_to,
        table$conversion_rate, table$channels, PACKAGE = "Touchlane")
}

#' Trains the next-best-action table: for every order 2 .. `max_order` and
#' every window of channels, the conversion rate of simulated journeys
#' passing through it. Journeys from `Data` or from `file`.
next_best_action_train <- function(Data = NULL, var_path, var_conv, var_null = "",
                                   file = "", row_sep = ";", cha_sep = ">", max_order = 3,
                                   nsim_start = 1e5, max_step = 0, ncore = 1, nfold = 10,
                                   seed = NA, conv_par = 0.05, rate_step_sim = 1.5,
                                   min_sample_index = 1, verbose = 0) {
  flg_file <- if (nzchar(file)) 1 else 0
  .Call("next_best_action_train_R", flg_file, file, if (is.null(Data)) list() else Data,
        var_path, var_conv, var_null, row_sep, cha_sep, max_order, nsim_start, max_step,
        ncore, nfold, as.numeric(seed), conv_par, rate_step_sim, min_sample_index, verbose,
        PACKAGE = "Touchlane")
}
