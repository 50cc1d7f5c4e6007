#' Logistic-regression attribution.
#'
#' Fits the conversion odds of a journey on its per-channel touch counts
#' (Adam gradient descent on the mean negative log-likelihood) and gives
#' each channel the index exp(b0 + b_channel); every journey's conversions
#' and value are then split over its touch points by those indices. Returns
#' the channels, the masked indices (mean index last) and one row per touch
#' point, or writes the rows to `file_output` (the row vectors are then
#' empty). Journeys with an empty path are left out of the fit.
logistic_regression <- function(Data, var_path, var_conv, var_null, var_value = "",
                                row_sep = ";", cha_sep = ">", flg_write_nulls = 0,
                                flg_write_paths = 0, file_output = "", verbose = 0) {
  if (!is.list(Data)) stop("Data must be a data frame")
  .Call("logistic_regression_R", Data, var_path, var_conv, var_value, var_null, row_sep,
        cha_sep, flg_write_nulls, flg_write_paths, file_output, verbose, PACKAGE = "Touchlane")
}
