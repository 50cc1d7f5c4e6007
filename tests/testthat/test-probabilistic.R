# The probabilistic and additive hazard models against computations written
# here with R's own functions.

random_journeys <- function(n, seed) {
  set.seed(seed)
  paths <- vapply(seq_len(n), function(i) paste(sample(c("a", "b", "c", "d"), sample(1:4, 1),
                                                       replace = TRUE), collapse = " > "), "")
  days <- vapply(strsplit(paths, " > ", fixed = TRUE), function(p)
    paste(sort(sample(0:20, length(p), replace = TRUE), decreasing = TRUE), collapse = " > "), "")
  data.frame(path = paths, days = days, conversions = rpois(n, 1.5), nulls = rpois(n, 3),
             value = round(runif(n, 0, 50)), stringsAsFactors = FALSE)
}

probabilistic_by_hand <- function(d, ch) {
  sets <- lapply(strsplit(d$path, " > ", fixed = TRUE), unique)
  has <- sapply(ch, function(k) vapply(sets, function(s) k %in% s, TRUE))
  rate <- function(rows) {
    n <- sum(d$conversions[rows] + d$nulls[rows])
    if (n > 0) sum(d$conversions[rows]) / n else 0
  }
  p1 <- sapply(ch, function(k) rate(has[, k]))
  contrib <- sapply(ch, function(i) {
    ex <- unlist(lapply(setdiff(ch, i), function(j) {
      rows <- has[, i] & has[, j]
      if (sum(d$conversions[rows] + d$nulls[rows]) > 0) rate(rows) - p1[[i]] - p1[[j]]
    }))
    p1[[i]] + if (length(ex)) sum(ex) / (2 * length(ex)) else 0
  })
  w <- sweep(has, 2, pmax(contrib, 0), "*")
  share <- w / rowSums(w)
  zero <- rowSums(w) == 0
  share[zero, ] <- has[zero, ] / rowSums(has[zero, , drop = FALSE])
  list(contribution = contrib, conversions = colSums(share * d$conversions),
       value = colSums(share * d$value))
}

hazard_by_hand <- function(d, ch) {
  conv <- d[d$conversions > 0 | d$value != 0, ]
  touch <- data.frame(row = rep(seq_len(nrow(conv)), lengths(strsplit(conv$path, " > "))),
                      channel = unlist(strsplit(conv$path, " > ")),
                      delay = as.numeric(unlist(strsplit(conv$days, " > "))) + 0.5)
  touch$w <- ifelse(conv$conversions[touch$row] > 0, conv$conversions[touch$row], 1)
  # maximum likelihood of an exponential delay, by a numeric search
  rate <- sapply(ch, function(k) {
    t <- touch[touch$channel == k, ]
    stats::optimize(function(r) sum(t$w * stats::dexp(t$delay, r, log = TRUE)),
                    c(1e-6, 10), maximum = TRUE, tol = 1e-12)$maximum
  })
  h <- rate[touch$channel] * exp(-rate[touch$channel] * touch$delay)
  share <- h / ave(h, touch$row, FUN = sum)
  list(rate = rate,
       conversions = as.vector(tapply(share * conv$conversions[touch$row], touch$channel, sum)[ch]),
       value = as.vector(tapply(share * conv$value[touch$row], touch$channel, sum)[ch]))
}

test_that("the probabilistic model matches a computation by presence tables", {
  d <- random_journeys(300, 11)
  m <- probabilistic_model(d, value = "value", nulls = "nulls")
  ch <- m$channels$channel
  want <- probabilistic_by_hand(d, ch)
  expect_equal(m$details$channel_rates$contribution, unname(want$contribution), tolerance = 1e-12)
  expect_equal(m$channels$conversions, unname(want$conversions), tolerance = 1e-12)
  expect_equal(m$channels$value, unname(want$value), tolerance = 1e-12)
  expect_identical(names(m$details$pair_rates), c("channel_a", "channel_b", "rate"))
  expect_error(probabilistic_model(d, nulls = NULL), "needs null counts")
})

test_that("the additive hazard model matches a likelihood maximised by R", {
  d <- random_journeys(200, 5)
  m <- additive_hazard(d, value = "value")
  ch <- m$channels$channel
  want <- hazard_by_hand(d, ch)
  expect_equal(m$details$decay$rate, unname(want$rate), tolerance = 1e-6)
  expect_equal(m$channels$conversions, unname(want$conversions), tolerance = 1e-6)
  expect_equal(m$channels$value, unname(want$value), tolerance = 1e-6)
  f <- write_journeys(d)
  expect_equal(additive_hazard(file = f, value = "value")$channels, m$channels)
  expect_error(additive_hazard(d[, -2]), "needs a column \"days\"")
})

test_that("attribution() runs both models by name", {
  d <- random_journeys(100, 3)
  a <- attribution(d, models = c("linear", "probabilistic", "additive_hazard"), nulls = "nulls")
  expect_identical(unique(a$model), c("linear", "probabilistic", "additive_hazard"))
  expect_equal(as.vector(tapply(a$conversions, a$model, sum)), rep(sum(d$conversions), 3))
  expect_error(attribution(d, models = "probabilistic", nulls = NULL), "needs null counts")
})
