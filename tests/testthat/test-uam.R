conv_name <- "(conversion)"

aggr <- function() {
  list(channels = c("A", "B", "C"), types = c(1, 1, 0), conversions = c(10, 14, 12, 20),
       clicks = matrix(c(10, 30, 20, 40, 5, 4, 6, 9, 3, 4, 2, 5), 4, 3),
       ctr = matrix(0.1, 4, 3))
}

# Journeys of one channel each: A converts 3 times in 4, B once in 4.
journeys <- function() {
  rows <- list(c("A", conv_name), c("A", conv_name), c("A", conv_name), "A",
               c("B", conv_name), "B", "B", "B")
  list(id = rep(seq_along(rows), lengths(rows)), channel = unlist(rows))
}

run_uam <- function(flg_path = 0, j = journeys(), a = aggr(), verbose = 0) {
  times <- rep("2026-01-01", length(a$conversions))
  tl_call("uam_R", flg_path, j$id, rep("t", length(j$id)), j$channel, numeric(0), conv_name,
          1, 20000, 0, 1, 4, 7, 0.05, 1.5, verbose, a$channels, a$types, times, times,
          a$conversions, a$clicks, times, times, a$ctr)
}

test_that("the result has vindex and one Mattr row per period", {
  expect_silent(r <- run_uam())
  expect_identical(names(r), c("vindex", "Mattr"))
  expect_length(r$vindex, 3)
  expect_length(r$Mattr, 4)
  expect_equal(sapply(r$Mattr, sum), aggr()$conversions)
})

test_that("journey channels keep their joint reward weight", {
  r0 <- run_uam(0)
  expect_output(r1 <- run_uam(1, verbose = 1), "Calculate Markov model on customer journeys")
  touches <- floor(colSums(aggr()$clicks / 0.1))
  w0 <- r0$vindex * touches
  w1 <- r1$vindex * touches
  expect_equal(sum(w1[1:2]), sum(w0[1:2]))
  expect_equal(w1[1:2] / sum(w1[1:2]), c(0.75, 0.25))
  expect_equal(w1[3], w0[3])
})

test_that("matrices of the wrong shape and zero periods are R errors", {
  a <- aggr()
  a$ctr <- a$ctr[1:3, ]
  expect_error(run_uam(a = a), "tab_ctr_ctr has 3 rows, fewer than the 4 periods")
  a <- aggr()
  a$ctr <- a$ctr[, 1:2]
  expect_error(run_uam(a = a), "tab_ctr_ctr has 2 columns")
  a <- aggr()
  a$clicks <- a$clicks[, 1:2]
  expect_error(run_uam(a = a), "tab_aggr_touches has 2 columns for 3 channels")
  a <- aggr()
  a$conversions <- numeric(0)
  a$clicks <- a$clicks[0, ]
  expect_error(run_uam(a = a), "at least one period")
  a <- aggr()
  a$clicks <- as.vector(a$clicks)
  expect_error(run_uam(a = a), "matrix")
})
