#' First-touch, last-touch and linear attribution per touch point.
#'
#' Journeys come from the data frame `Data` or, when `file` is given, from a
#' delimited file with a header line. Returns ten vectors with one entry per
#' touch point, or writes them to `file_output` (the vectors are then empty).
heuristic_models <- function(Data = NULL, var_path, var_conv, var_value = "",
                             file = "", row_sep = ";", cha_sep = ">",
                             verbose = 0, file_output = "",
                             flg_write_nulls = 0, flg_write_paths = 0) {
  flg_file <- if (nzchar(file)) 1 else 0
  if (flg_file == 0 && !is.list(Data)) stop("Data must be a data frame when no file is given")
  .Call("heuristic_models_R", flg_file, file, if (is.null(Data)) list() else Data,
        var_path, var_conv, var_value, row_sep, cha_sep, verbose, file_output,
        flg_write_nulls, flg_write_paths, PACKAGE = "Touchlane")
}
