#' Shapley-value attribution over the coalitions of channels in journeys.
#'
#' `type_worth` 0 gives per-channel Shapley totals of conversions (and
#' value), written to `file_output` when given. Types 1 to 4 score each
#' coalition by a conversion rate built from `var_null` (1: c/(c+n),
#' 2: c/n, 3: (c-n+1)/2, 4: 1-exp(-c/n)) and attribute every touch point
#' with the resulting weights; without `var_null` the conversion totals
#' are used instead. `flg_simplified` splits each coalition's worth equally
#' among its channels, which scales to many channels; the exact method is
#' limited to 25 channels.
shapley <- function(Data = NULL, var_path, var_conv, var_value = "", var_null = "",
                    file = "", row_sep = ";", cha_sep = ">", flg_simplified = 0,
                    type_worth = 0, flg_write_nulls = 0, flg_write_paths = 0,
                    file_output = "", verbose = 0) {
  flg_file <- if (nzchar(file)) 1 else 0
  if (flg_file == 0 && !is.list(Data)) stop("Data must be a data frame when no file is given")
  .Call("shapley_R", flg_file, file, if (is.null(Data)) list() else Data, var_path, var_conv,
        var_value, var_null, row_sep, cha_sep, flg_simplified, type_worth, flg_write_nulls,
        flg_write_paths, file_output, verbose, PACKAGE = "Touchlane")
}
