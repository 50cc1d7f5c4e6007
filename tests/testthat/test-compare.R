cmp <- function(vy, vc, vn, perc_reall = 0.1, perc_sample = 0.5, max_nsim = 1e5,
                min_perc_traffic = 0.05, niter = 2, flg_extra_path = 0, markov_order = 1,
                seed = 3, verbose = 0, cha_sep = ">") {
  tl_call("compare_models_mta_R", vy, vc, vn, "path", "total_conversions", "total_null", cha_sep,
          perc_reall, perc_sample, max_nsim, min_perc_traffic, niter, flg_extra_path,
          markov_order, seed, verbose)
}

journeys <- function(n = 200, seed = 1) {
  set.seed(seed)
  ch <- c("a", "b", "c")
  list(vy = replicate(n, paste(sample(ch, sample(1:3, 1), replace = TRUE), collapse = " > ")),
       vc = rpois(n, 1), vn = rpois(n, 12))
}

test_that("result list: names, matrix shapes and model names", {
  j <- journeys()
  capture.output(r <- cmp(j$vy, j$vc, j$vn, niter = 3, markov_order = 2))
  expect_identical(names(r), c("performance", "allocation", "model_names"))
  expect_identical(r$model_names, c("original", "no_reallocation", "first_touch", "last_touch",
                                    "linear_touch", "shapley", "logistic_regression",
                                    "markov_model_order_1", "markov_model_order_2"))
  expect_true(is.matrix(r$performance))
  expect_equal(dim(r$performance), c(3, 9))
  expect_equal(dim(r$allocation), c(3, 8))
  expect_equal(colSums(r$allocation), rep(1, ncol(r$allocation)))
})

test_that("a fixed seed gives the same results", {
  j <- journeys(seed = 2)
  capture.output(a <- cmp(j$vy, j$vc, j$vn, seed = 9))
  capture.output(b <- cmp(j$vy, j$vc, j$vn, seed = 9))
  expect_identical(a, b)
})

test_that("progress lines follow verbose, the sample line is always printed", {
  j <- journeys(seed = 3)
  out <- capture.output(cmp(j$vy, j$vc, j$vn))
  expect_equal(sum(grepl("^Sample conversion rate: [0-9.]+%$", out)), 2)
  expect_false(any(grepl("^Iter:", out)))
  expect_output(cmp(j$vy, j$vc, j$vn, verbose = 1), "Iter: 2 / 2")
  expect_output(cmp(j$vy, j$vc, j$vn, verbose = 1), "Input data conversion rate: ")
})

test_that("bad input reaches R as clear errors", {
  j <- journeys(seed = 4)
  expect_error(cmp(j$vy, j$vc, j$vn, max_nsim = 0), "the sample size is 0")
  expect_error(cmp(j$vy, j$vc * 0, j$vn), "no journey converts")
  expect_error(cmp(c(j$vy[-1], ">"), j$vc, j$vn), "vy: row 200 has no channels")
  expect_error(cmp(j$vy, c(j$vc[-1], -1), j$vn), "vc: row 200 is negative")
  expect_error(cmp(j$vy, j$vc, j$vn[-1]), "same length")
  expect_error(cmp(j$vy, j$vc, j$vn, perc_reall = 2), "perc_reall must lie between 0 and 1")
  expect_error(cmp(j$vy, j$vc, j$vn, cha_sep = ""), "cha_sep must not be empty")
  expect_error(cmp(j$vy, j$vc, j$vn, niter = c(1, 2)), "Expecting a single value")
})

events <- function(nj = 200, ndays = 10, seed = 1) {
  set.seed(seed)
  base <- as.POSIXct("2024-01-01 00:00:00", tz = "UTC")
  ids <- integer(0); tm <- character(0); chan <- character(0)
  for (j in seq_len(nj)) {
    k <- sample(1:3, 1)
    ts <- base + runif(1, 0, (ndays - 2) * 86400) + sort(runif(k, 0, 86400))
    cc <- sample(c("a", "b", "c"), k, TRUE)
    if (runif(1) < 0.2) { ts <- c(ts, max(ts) + 60); cc <- c(cc, "conv") }
    ids <- c(ids, rep(j, length(cc)))
    tm <- c(tm, format(ts, "%Y-%m-%d %H:%M:%S", tz = "UTC"))
    chan <- c(chan, cc)
  }
  list(ids = ids, tm = tm, chan = chan,
       days = format(base + (seq_len(ndays) - 1) * 86400, "%Y-%m-%d", tz = "UTC"),
       ctr = matrix(runif(ndays * 3, 0.01, 0.05), ndays, 3))
}

mmm <- function(e, perc_sample = 0.5, niter = 2, max_markov_order = 1, seed = 2, verbose = 0,
                days = e$days, ctr = e$ctr, tm = e$tm) {
  tl_call("compare_models_mta_mmm_R", e$ids, tm, e$chan, days, ctr, "conv", 0.1, perc_sample,
          1e5, 0.05, niter, 0, max_markov_order, seed, verbose)
}

test_that("media-mix comparison: names, shapes, determinism", {
  e <- events()
  capture.output(r <- mmm(e, max_markov_order = 2))
  expect_identical(names(r), c("performance", "allocation", "model_names"))
  expect_identical(r$model_names[7:10], c("logistic_regression", "reward",
                                          "markov_model_order_1", "markov_model_order_2"))
  expect_equal(dim(r$performance), c(2, 10))
  expect_equal(dim(r$allocation), c(3, 9))
  expect_equal(colSums(r$allocation), rep(1, 9))
  capture.output(r2 <- mmm(e, max_markov_order = 2))
  expect_identical(r, r2)
  expect_output(mmm(e, verbose = 1), "Reward/Markov")
})

test_that("media-mix comparison: clear errors for missing days, bad stamps and short tables", {
  e <- events(seed = 3)
  expect_error(mmm(e, days = e$days[-2], ctr = e$ctr[-2, ]), "no click-through rates for day 2024-01-02")
  tm <- e$tm
  tm[5] <- "yesterday"
  expect_error(mmm(e, tm = tm), "tab_paths_time_str: row 5")
  expect_error(mmm(e, ctr = e$ctr[, 1:2]), "tab_ctr_ctr: row 1 has 2 click-through rates for 3 channels")
  expect_error(mmm(e, perc_sample = 0.05), "too short")
})
