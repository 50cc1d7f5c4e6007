#' Attributes new journeys with a weight set that a model returned earlier.
#'
#' `Dparams` is a data frame with the channel names in column `var_channel`
#' and the masked weights, as the models return them, in column
#' `var_param`; its last row carries the weight of channels it does not
#' list. Journeys come from `Data` or, when `file` is given, from a
#' delimited file with a header line. Returns the channels, the unmasked
#' weights, one row per touch point (or writes the rows to `file_output`)
#' and the conversions attributed to each channel.
new_paths_attribution <- function(Data = NULL, var_path, var_conv, var_value = "",
                                  Dparams, var_channel = "channel", var_param = "index",
                                  file = "", row_sep = ";", cha_sep = ">",
                                  flg_write_nulls = 0, flg_write_paths = 0,
                                  file_output = "", verbose = 0) {
  flg_file <- if (nzchar(file)) 1 else 0
  if (flg_file == 0 && !is.list(Data)) stop("Data must be a data frame when no file is given")
  if (!is.list(Dparams)) stop("Dparams must be a data frame")
  .Call("new_paths_attribution_R", flg_file, file, if (is.null(Data)) list() else Data,
        var_path, var_conv, var_value, Dparams, var_channel, var_param, row_sep, cha_sep,
        flg_write_nulls, flg_write_paths, file_output, verbose, PACKAGE = "Touchlane")
}
