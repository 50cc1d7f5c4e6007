nba_train <- function(Data, max_order = 2, nsim_start = 1e5, ncore = 1, nfold = 5, seed = 7,
                      conv_par = 0.05, rate_step_sim = 1.5, min_sample_index = 0, verbose = 0,
                      var_null = "nulls", max_step = 0) {
  tl_call("next_best_action_train_R", 0, "", Data, "path", "conv", var_null, ";", ">", max_order,
          nsim_start, max_step, ncore, nfold, seed, conv_par, rate_step_sim, min_sample_index,
          verbose)
}

journeys <- data.frame(path = c("a > b", "a > b > c", "b > c", "c"),
                       conv = c(3, 1, 2, 1), nulls = c(1, 3, 2, 1))

test_that("order-2 rates equal the exact conversion probabilities from each state", {
  r <- nba_train(journeys)
  expect_identical(names(r), c("channels", "path_from", "channel_to", "conversion_rate"))
  expect_identical(r$channels, c("a", "b", "c"))
  # the state "c" alone is shorter than the order and gives no row
  expect_identical(r$path_from, c("0", "1"))
  expect_equal(r$channel_to, c(1, 2))
  # Absorbing chain over the order-2 states ("0 1", "1 2", "2"): the share
  # of walks through a state that convert is the probability of being
  # absorbed in conversion from that state.
  Q <- matrix(0, 3, 3); R <- matrix(0, 3, 2)
  Q[1, 2] <- 4 / 8; R[1, ] <- c(3, 1) / 8
  R[2, ] <- c(3, 5) / 8
  R[3, ] <- c(1, 1) / 2
  h <- solve(diag(3) - Q, R)[, 1]
  expect_equal(r$conversion_rate, h[1:2], tolerance = 0.02)
})

test_that("shrinkage pulls rates to the overall rate; max_order 1 gives an empty table", {
  r <- nba_train(journeys, min_sample_index = 1e12)
  expect_equal(r$conversion_rate, c(0.5, 0.5), tolerance = 0.02)   # 7 of 14 journeys convert
  r <- nba_train(journeys, max_order = 1)
  expect_length(r$path_from, 0)
  expect_identical(r$channels, c("a", "b", "c"))
})

test_that("a fixed seed reproduces the table, also with two threads", {
  expect_identical(nba_train(journeys, seed = 3), nba_train(journeys, seed = 3))
  expect_identical(nba_train(journeys, seed = 3, ncore = 2), nba_train(journeys, seed = 3, ncore = 2))
})

test_that("progress lines name each order", {
  out <- capture.output(invisible(nba_train(journeys, verbose = 1, conv_par = 1e9)))
  expect_identical(out[1:2], c("**next best action training**", "Processing order = 1"))
  expect_true("Processing order = 2" %in% out)
  expect_true(any(grepl("^Number of simulations: 100000 - Convergence reached", out)))
  expect_silent(nba_train(journeys, conv_par = 1e9))
})

test_that("unusable settings are clear errors before any simulation", {
  expect_error(nba_train(journeys, max_order = 0), "max_order must be at least 1")
  expect_error(nba_train(journeys, ncore = 0), "ncore must be at least 1")
  expect_error(nba_train(journeys, nfold = 0), "nfold must be at least 1")
  expect_error(nba_train(journeys, rate_step_sim = 1), "rate_step_sim")
  expect_error(nba_train(journeys, conv_par = 0), "conv_par must be a positive number")
  expect_error(nba_train(journeys, min_sample_index = -1), "min_sample_index")
  expect_error(nba_train(journeys, var_null = "nope"), "Index out of bounds: [index='nope'].", fixed = TRUE)
})

test_that("the trained table feeds the prediction", {
  tab <- nba_train(journeys)
  p <- tl_call("next_best_action_R", "a", ">", tab$path_from, tab$channel_to,
               tab$conversion_rate, tab$channels)
  expect_identical(p$suggested_action, "b")
})
