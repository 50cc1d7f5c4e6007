chorder <- function(Data = list(), flg_file = 0, file = "", var_path = "path", var_conv = "conv",
                    var_null = "null", row_sep = ";", max_order = 3, cha_sep = ">",
                    roc_npt = 100, nfold = 5, perc_test = 0.3, seed = 42, perc_tol = 0.05,
                    type = "auc-roc", verbose = 0) {
  tl_call("choose_order_R", flg_file, file, Data, var_path, var_conv, var_null, row_sep,
          max_order, cha_sep, roc_npt, nfold, perc_test, seed, perc_tol, type, verbose)
}

test_that("result list has order, auc and best_order", {
  d <- data.frame(path = c("a > b", "b", "a"), conv = c(3, 1, 0), null = c(1, 4, 2))
  r <- chorder(d)
  expect_identical(names(r), c("order", "auc", "best_order"))
  expect_equal(r$order, 1:3)
  expect_length(r$auc, 3)
  expect_length(r$best_order, 1)
})

test_that("perfect and useless predictors, empty test sample", {
  d <- data.frame(path = c("a", "b"), conv = c(300, 0), null = c(0, 300))
  expect_equal(chorder(d, max_order = 1)$auc, 1)
  expect_equal(chorder(d, max_order = 1)$best_order, -1)
  d <- data.frame(path = "a", conv = 100, null = 100)
  expect_equal(chorder(d, max_order = 2)$auc, c(0.5, 0.5))
  d <- data.frame(path = c("a > b", "b", "a"), conv = c(3, 1, 0), null = c(1, 4, 2))
  expect_equal(chorder(d, perc_test = 0)$auc, c(1, 1, 1))
  # Everything held out: no training rate anywhere, nothing is predicted
  # positive, and both curves go straight from their start to (0, 0) / (0, 1).
  expect_equal(chorder(d, perc_test = 1)$auc, c(0.5, 0.5, 0.5))
  expect_equal(chorder(d, perc_test = 1, type = "auc-prerec")$auc, c(0.5, 0.5, 0.5))
})

test_that("',' and '|' in a channel name are the same channel", {
  same <- data.frame(path = c("x,y", "x|y"), conv = c(300, 0), null = c(0, 300))
  expect_equal(chorder(same, max_order = 1)$auc, 0.5)
  apart <- data.frame(path = c("x,y", "x/y"), conv = c(300, 0), null = c(0, 300))
  expect_equal(chorder(apart, max_order = 1)$auc, 1)
})

test_that("pure states give area 1 on both curves", {
  # Pure states predict 0 or 1 whatever the split; the ROC then has the
  # single corner (fpr, tpr) = (0, 1) and the precision-recall curve
  # reaches (1, 1): both areas are 1.
  d <- data.frame(path = c("a > b", "c > d", "b", "d"), conv = c(50, 0, 40, 0),
                  null = c(0, 60, 0, 30))
  expect_equal(chorder(d, type = "auc-roc")$auc, c(1, 1, 1))
  pr <- chorder(d, type = "auc-prerec", roc_npt = 10)$auc
  # With a threshold grid of 10 the curve is (1,0) -> (1,1) ... -> (0,1):
  # one unit-wide step at height 1, reached through trapezoid ((1-0)*(1+1)/2).
  expect_equal(pr, rep(1, 3))
})

test_that("the same seed gives the same result; the choice rule picks the order", {
  set.seed(3)
  n <- 500
  p <- replicate(n, paste(sample(c("a", "b", "c"), sample(2:5, 1), replace = TRUE), collapse = ">"))
  last2 <- vapply(strsplit(p, ">"), function(s) paste(tail(s, 2), collapse = ""), "")
  good <- last2 %in% c("aa", "bb", "cc", "ab")
  d <- data.frame(path = p, conv = ifelse(good, 8, 2), null = ifelse(good, 2, 8))
  r1 <- chorder(d, max_order = 4, perc_tol = 0.01)
  r2 <- chorder(d, max_order = 4, perc_tol = 0.01)
  expect_identical(r1, r2)
  expect_equal(r1$best_order, 2)
  expect_equal(chorder(d, max_order = 4, perc_tol = -1)$best_order, -4)
})

test_that("arguments that give no meaningful result are errors", {
  d <- data.frame(path = "a", conv = 1, null = 1)
  expect_error(chorder(d, type = "auc"), "type must be \"auc-roc\" or \"auc-prerec\"")
  expect_error(chorder(d, max_order = 0), "max_order must be at least 1")
  expect_error(chorder(d, nfold = 0), "nfold must be at least 1")
  expect_error(chorder(d, roc_npt = 0), "roc_npt must be at least 1")
  expect_error(chorder(d, nfold = -1), "nfold")
  expect_error(chorder(d, var_null = "nulls"), "Index out of bounds")
})

test_that("journeys from a file; a missing header column is named", {
  f <- write_lines_raw("path;conv;null\na > b;3;1\nb;1;4\na;0;2\n")
  d <- data.frame(path = c("a > b", "b", "a"), conv = c(3, 1, 0), null = c(1, 4, 2))
  expect_identical(chorder(flg_file = 1, file = f), chorder(d))
  expect_error(chorder(flg_file = 1, file = f, var_null = "nulls"), "nulls")
  expect_error(chorder(flg_file = 1, file = tempfile()), "cannot open")
})

test_that("progress only at verbose 1", {
  d <- data.frame(path = c("a", "b"), conv = c(1, 0), null = c(1, 3))
  expect_silent(chorder(d))
  expect_output(chorder(d, verbose = 1),
                "\\*\\*choose order\\*\\*\nTransition matrices, number of paths elaborated: 2\nConversion rate: 20.00%")
})
