# A model hands its index back masked; masking adds what unmasking zeros takes away.
mask <- function(x) x - tl_call("uidx_R", rep(0, length(x)))

budget <- function(ac, aconv, aval = numeric(0), cc = character(0), cval = numeric(0),
                   ic = character(0), index = 0, total = 1000, reall = 0.2, minp = 0.1) {
  tl_call("markov_budget_allocation_R", ac, aconv, aval, cc, cval, ic, mask(index),
          total, reall, minp)
}

test_that("uidx_R undoes the masking and keeps the length", {
  x <- c(0.25, 1.5, 3, 0.125)
  m <- mask(x)
  expect_false(isTRUE(all.equal(m, x)))
  expect_equal(tl_call("uidx_R", m), x)
  expect_identical(tl_call("uidx_R", numeric(0)), numeric(0))
  expect_true(is.numeric(tl_call("uidx_R", m)) && is.null(names(tl_call("uidx_R", m))))
})

test_that("index-based allocation of the two-channel example", {
  r <- budget(c("A", "B"), c(5, 7), cc = c("A", "B"), cval = c(60, 40),
              ic = c("A", "B"), index = c(3, 1, 0.5))
  expect_identical(names(r), c("channel", "suggested_budget"))
  expect_identical(r$channel, c("A", "B"))
  expect_equal(r$suggested_budget, c(620, 380))
})

test_that("value-based allocation adds up to the budget", {
  r <- budget(c("A", "B", "C", "A"), c(10, 5, 2, 4), c(100, 100, 30, 20),
              c("C", "B", "A"), c(10, 200, 50))
  expect_identical(r$channel, c("A", "B", "C"))
  expect_equal(sum(r$suggested_budget), 1000)
})

test_that("channels without cost or index rows and unequal lengths are named", {
  expect_error(budget(c("A", "B"), c(1, 1), cc = "A", cval = 10, ic = c("A", "B"),
                      index = c(1, 1, 0)),
               "attributed channel 'B' has no row in vcost_channels")
  expect_error(budget(c("A", "B"), c(1, 1), ic = "A", index = c(1, 0)),
               "attributed channel 'B' has no entry in vindex_channels")
  expect_error(budget(c("A", "B"), 1, ic = c("A", "B"), index = c(1, 1, 0)),
               "vattr_channels has 2 entries but vattr_conversions has 1")
})

test_that("uidx_R restores a Markov model's index and budget allocation accepts it", {
  d <- data.frame(path = c("x > a", "a", "y"), conv = c(2, 1, 0), nulls = c(1, 0, 3))
  r <- tl_call("markov_model_R", 0, "", d, "path", "conv", "", "nulls", ";", ">", 0, 1, 10000,
               0, 1, 5, 3, 0.05, 1.5, 0, 0, "", 0, 0)
  idx <- tl_call("uidx_R", r$vindex)
  expect_identical(r$vchannels, c("x", "a", "y"))
  expect_equal(idx[2], 1)          # every conversion passes through "a"
  expect_equal(idx[3], 0)          # "y" never converts
  expect_equal(idx[4], 0)          # removal effects carry a mean index of 0
  b <- tl_call("markov_budget_allocation_R", c("x", "a"), c(1, 3), numeric(0), character(0),
               numeric(0), r$vchannels, r$vindex, 100, 0.5, 0)
  expect_equal(b$suggested_budget, 0.5 * c(25, 75) + 50 * idx[1:2] / sum(idx[1:2]))
})
