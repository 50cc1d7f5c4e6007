cplx <- function(Data, var_path = "path", order = 1, sep = ">") {
  tl_call("describe_complexity_R", Data, var_path, order, sep)
}

test_that("result list has the four elements in order", {
  r <- cplx(data.frame(path = c("a > b", "c")))
  expect_identical(names(r), c("npaths", "nchannels", "nchannels_sim", "group_channel_len"))
  expect_equal(r$npaths, 2)
  expect_equal(r$nchannels, 6)
  expect_equal(r$nchannels_sim, 6)
  expect_equal(r$group_channel_len, c(2, 1))
})

test_that("a journey linking two groups merges them into the first", {
  r <- cplx(data.frame(path = c("a > b", "c", "b > c")))
  expect_equal(r$group_channel_len, c(3, 0))
  r <- cplx(data.frame(path = c(" a >> b", "", "c")), order = 2.9)
  expect_equal(r$npaths, 3)
  expect_equal(r$nchannels_sim, 5)
  expect_equal(r$group_channel_len, c(1, 1))
})

test_that("states and groups agree with an independent count in R", {
  set.seed(5)
  paths <- replicate(200, paste(sample(letters[1:6], sample(1:4, 1), replace = TRUE),
                                collapse = ">"))
  for (k in 1:3) {
    r <- cplx(data.frame(path = paths), order = k)
    ch <- strsplit(paths, ">", fixed = TRUE)
    win <- lapply(ch, function(x) {
      n <- length(x)
      starts <- if (n <= k) 1 else seq_len(n - k + 1)
      vapply(starts, function(s) paste(x[s:min(n, s + k - 1)], collapse = " "), "")
    })
    states <- unique(unlist(win))
    expect_equal(r$nchannels_sim, length(states) + 3)
    expect_equal(r$nchannels, length(unique(unlist(ch))) + 3)
    # connected components by repeated label propagation
    lab <- seq_along(states)
    names(lab) <- states
    repeat {
      old <- lab
      for (w in win) lab[w] <- min(lab[w])
      if (identical(old, lab)) break
    }
    expect_equal(sort(r$group_channel_len[r$group_channel_len > 0]),
                 sort(as.numeric(table(lab))))
  }
})

test_that("bad arguments reach R as clear errors", {
  d <- data.frame(path = "a")
  expect_error(cplx(d, order = 0), "order must be at least 1")
  expect_error(cplx(d, order = -1), "order must be a non-negative whole number")
  expect_error(cplx(d, sep = ""), "sep must not be empty")
  expect_error(cplx(d, var_path = "nope"), "Index out of bounds")
  expect_error(cplx(d, order = c(1, 2)), "Expecting a single value")
  expect_silent(cplx(d))
})
