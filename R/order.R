#' Choice of the Markov order by repeated random hold-out.
#'
#' Every conversion and non-conversion goes to the test sample with
#' probability `perc_test`, `nfold` times; for each order 1..`max_order` the
#' training conversion rate of a journey's last `order` touch points
#' predicts its test outcomes. Returns the orders, the median area under
#' the ROC (`type = "auc-roc"`) or precision-recall (`"auc-prerec"`) curve
#' over the folds, and the smallest order after which a higher one gains
#' less than `perc_tol` (or -`max_order` when every order still gains).
choose_order <- function(Data = NULL, var_path, var_conv, var_null, file = "", row_sep = ";",
                         max_order = 10, cha_sep = ">", roc_npt = 100, nfold = 10,
                         perc_test = 0.3, seed = NA, perc_tol = 0.05, type = "auc-roc",
                         verbose = 1) {
  flg_file <- if (nzchar(file)) 1 else 0
  if (flg_file == 0 && !is.list(Data)) stop("Data must be a data frame when no file is given")
  .Call("choose_order_R", flg_file, file, if (is.null(Data)) list() else Data, var_path,
        var_conv, var_null, row_sep, max_order, cha_sep, roc_npt, nfold, perc_test,
        if (is.na(seed)) NA_real_ else seed, perc_tol, type, verbose, PACKAGE = "Touchlane")
}
