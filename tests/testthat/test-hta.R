hta <- function(vc = c(0, 12, 7, 20), vv = numeric(0),
                MT = matrix(c(0, 300, 150, 400, 0, 120, 0, 200, 0, 80, 90, 100), 4),
                cr = 0, vcr = numeric(0), vctr = c(0.6, 0.4, 0.5), mean_cj_length = 2,
                vadstock = c(0.2, 0, 0.1), nsim = 2, seed = 3, flg_roc = 0, flg_type_roc = 0,
                perc_test = 0.3, roc_npt = 10, type_worth = 0, verbose = 0) {
  tl_call("hta_model_R", vc, vv, MT, cr, vcr, vctr, mean_cj_length, vadstock, nsim, seed,
          flg_roc, flg_type_roc, perc_test, roc_npt, type_worth, verbose)
}

test_that("four elements without values, five with; one vector per period", {
  r <- hta()
  expect_identical(names(r), c("conversions", "roc_y", "roc_x", "auc"))
  expect_length(r$conversions, 4)
  expect_true(all(lengths(r$conversions) == 3))
  expect_equal(sum(r$conversions[[1]]), 0)
  expect_true(is.nan(r$auc))
  r <- hta(vv = c(0, 120, 70, 400), flg_roc = 1, roc_npt = 7)
  expect_identical(names(r), c("conversions", "conversion_value", "roc_y", "roc_x", "auc"))
  expect_equal(r$conversion_value[[2]], r$conversions[[2]] * 10)
  expect_length(r$roc_y, 7)
  expect_length(r$roc_x, 7)
  expect_true(r$auc >= 0 && r$auc <= 1)
})

test_that("the same seed reproduces the result; a zero click-through is never attributed", {
  expect_identical(hta(), hta())
  r <- hta(vctr = c(0.6, 0, 0.5), type_worth = 1)
  expect_equal(sum(sapply(r$conversions, `[`, 2)), 0)
})

test_that("every conversion is attributed when every touch converts", {
  r <- hta(cr = 0.2, vcr = c(1, 1, 1), vctr = c(1, 1, 1))
  expect_equal(sapply(r$conversions, sum), c(0, 12, 7, 20))
})

test_that("progress only when verbose", {
  expect_silent(hta())
  expect_output(hta(verbose = 1, nsim = 1, flg_roc = 1),
                "Move Traffic part 1: \\| Simulation: 1/1; Time: 1/4; Channel: 1/3")
  expect_output(hta(verbose = 1, nsim = 1), "Estimated global conversion rate = ")
  expect_output(hta(verbose = 1, nsim = 1, flg_roc = 1), "ROC Global conversion rate = ")
  expect_output(hta(vc = c(0, 500, 500, 500), verbose = 1, nsim = 1),
                "Conversion rate has been reduced to = 50.00%")
})

test_that("clear errors for inconsistent shapes and values", {
  expect_error(hta(vc = c(1, 2)), "vc has 2 entries but MT has 4 rows")
  expect_error(hta(vv = 1), "vv has 1 entries")
  expect_error(hta(vctr = 0.5), "vctr has 1 entries but MT has 3 columns")
  expect_error(hta(vadstock = c(0, 2, 0)), "vadstock\\[2\\] must be a probability")
  expect_error(hta(cr = 0.1), "vcr has 0 entries")
  expect_error(hta(nsim = 0), "nsim must be at least 1")
  expect_error(hta(mean_cj_length = -1), "mean_cj_length must be positive")
  expect_error(hta(MT = matrix(c(1, NA, 3, 4), 2), vc = 1:2, vctr = c(1, 1), vadstock = c(0, 0)),
               "MT\\[2, 1\\] must be a non-negative count")
  expect_error(hta(vc = c(1, -1, 0, 0)), "vc: row 2 is negative")
  expect_error(hta(flg_roc = 1, flg_type_roc = 3), "flg_type_roc")
  expect_error(hta(MT = 1:4), "matrix")
})

test_that("sizes that cannot be held are clear errors, not allocations", {
  expect_error(hta(flg_roc = 1, roc_npt = 2^53), "roc_npt must be at most 1000000")
  expect_error(hta(nsim = 2^53), "lower nsim")
  expect_error(hta(vc = c(0, 1e12, 7, 20)), "period 2 would need")
  expect_error(hta(cr = 1e-9, vcr = c(0.1, 0.1, 0.1)), "cr too small")
})
