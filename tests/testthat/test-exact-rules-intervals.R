# Exact Markov, position-based and last-non-direct rules, bootstrap intervals:
# what only the R layer shows (names, settings passing through, messages).
d <- journeys_sample()[1:300, ]

test_that("exact Markov passes through attribution() and does not depend on threads", {
  m1 <- markov_model(d, nulls = "nulls", method = "exact", order = 2)
  m2 <- markov_model(d, nulls = "nulls", method = "exact", order = 2, threads = 2)
  expect_identical(m1$channels, m2$channels)
  a <- attribution(d, models = "markov", method = "exact", order = 2, nulls = "nulls")
  expect_equal(as.vector(a$conversions), unname(m1$channels$conversions[match(a$channel, m1$channels$channel)]))
  u <- markov_model(d, nulls = "nulls", method = "exact", horizon = "unlimited",
                    kind = "conversion_rate")
  expect_s3_class(u, "touchlane_markov")
  expect_error(markov_model(d, method = "exakt"), '`method` must be one of "simulation", "exact"')
  expect_error(attribution(d, models = "markov", method = "exact", horizon = "none"),
               '`horizon` must be one of "step_limit", "unlimited"')
})

test_that("position and last-non-direct rules join attribution() with their settings", {
  j <- data.frame(path = c("a > direct > b", "direct", "b > direct"), conversions = c(10, 2, 4),
                  value = c(100, 20, 40))
  a <- attribution(j, models = c("position", "last_non_direct"), value = "value",
                   position_shares = c(first = 0.5, last = 0.3), direct_channels = "direct")
  got <- setNames(a$conversions, paste(a$model, a$channel))
  expect_equal(as.vector(got[c("position a", "position direct", "position b")]), c(5, 2 + 2 + 1.5, 3 + 2.5))
  expect_equal(as.vector(got[c("last_non_direct b", "last_non_direct direct", "last_non_direct a")]),
               c(14, 2, 0))
  f <- tempfile(fileext = ".csv")
  write.table(j, f, sep = ";", quote = FALSE, row.names = FALSE)
  expect_equal(attribution(file = f, models = "position", value = "value")$conversions,
               attribution(j, models = "position", value = "value")$conversions)
  expect_error(attribution(j, models = "position", position_shares = c(0.7, 0.4)),
               "`position_shares` must be two numbers")
})

test_that("bootstrap adds lower and upper per model and channel, and error bars", {
  a0 <- attribution(d, models = c("linear", "markov"), nulls = "nulls", method = "exact")
  expect_named(a0, c("channel", "model", "conversions", "value", "share"))
  a <- attribution(d, models = c("linear", "markov"), nulls = "nulls", method = "exact",
                   bootstrap = 50, level = 0.8, seed = 3, threads = 2)
  expect_named(a, c("channel", "model", "conversions", "value", "share", "lower", "upper"))
  expect_true(all(a$lower <= a$upper))
  expect_gt(mean(a$lower <= a$conversions & a$conversions <= a$upper), 0.8)
  b <- attribution(d, models = c("linear", "markov"), nulls = "nulls", method = "exact",
                   bootstrap = 50, level = 0.8, seed = 3)
  expect_identical(a$lower, b$lower)
  png(tempfile(fileext = ".png"))
  expect_silent(plot(a))
  dev.off()
  # replicates that check for interrupts on worker threads
  s <- attribution(d, models = c("shapley", "logistic"), nulls = "nulls", bootstrap = 4,
                   seed = 1, threads = 2)
  expect_false(anyNA(s$lower))
  expect_error(attribution(d, models = "linear", bootstrap = 10, level = 1),
               "`level` must be a number between 0 and 1")
})
