# Path transforms of journey tables.

expect_transform <- function(paths, want, ...) {
  d <- data.frame(path = paths, conversions = seq_along(paths), stringsAsFactors = FALSE)
  got <- transform_paths(d, ...)
  # each row's rewritten path, read back through the aggregation
  expect_identical(got$path, unique(want), info = paste(paths, collapse = " | "))
  expect_equal(got$conversions, as.vector(tapply(seq_along(paths), factor(want, unique(want)), sum)))
}

test_that("each transform rewrites paths as documented", {
  expect_transform(c("a > direct > b", "direct", "direct > direct", "direct > a"),
                   c("a > b", "direct", "direct > direct", "a"), drop_unless_alone = "direct")
  expect_transform(c("a > direct > x", "direct > x", "x"), c("a", "direct > x", "x"),
                   drop_unless_alone = c("direct", "x"))
  expect_transform(c("a > direct > direct", "direct > a", "direct > direct", "a>direct>b>direct"),
                   c("a", "direct > a", "direct > direct", "a > direct > b"),
                   drop_last_unless_alone = "direct")
  expect_transform(c("a > b > c > d", "a", " c>d "), c("c > d", "a", "c > d"), keep_last = 2)
  expect_transform(c("a > a > b > a", "b > b"), c("a > b > a", "b"), remove_loops = TRUE)
  # the documented order: drops, then loops, then the last touches
  expect_transform(c("a > direct > a > b > direct", "x > a"), c("b", "a"),
                   drop_unless_alone = "direct", remove_loops = TRUE, keep_last = 1)
  expect_transform(c("a > direct > a > b"), c("a > b"), drop_unless_alone = "direct",
                   remove_loops = TRUE)
})

test_that("every numeric column is summed per new path and others are dropped", {
  d <- data.frame(p = c("a > direct", "a", "direct"), conversions = c(1, 2, 4),
                  value = c(10, 20, 40), nulls = c(3L, 0L, 5L), note = c("x", "y", "z"))
  got <- transform_paths(d, drop_unless_alone = "direct", path = "p")
  expect_identical(got, data.frame(p = c("a", "direct"), conversions = c(3, 4), value = c(30, 40),
                                   nulls = c(3, 5)))
  expect_equal(sum(transform_paths(journeys_sample(), keep_last = 1)$conversions),
               sum(journeys_sample()$conversions))
})

test_that("bad arguments are refused by name", {
  d <- data.frame(path = "a > b", conversions = 1)
  cases <- list(
    list(list(keep_last = 0), "`keep_last` must be a whole number of at least 1, or Inf"),
    list(list(keep_last = 1.5), "`keep_last` must be a whole number"),
    list(list(drop_unless_alone = 1), "`drop_unless_alone` must be channel names or NULL"),
    list(list(drop_last_unless_alone = NA_character_), "`drop_last_unless_alone` must be"),
    list(list(path = "route"), "column 'route' \\(path\\) not found in `data`"),
    list(list(remove_loops = NA), "`remove_loops` must be TRUE or FALSE"),
    list(list(NULL, NULL, Inf, 3), "unknown argument"))
  for (k in cases) expect_error(do.call(transform_paths, c(list(d), k[[1]])), k[[2]], info = k[[2]])
  expect_error(transform_paths(data.frame(path = c("a", NA), conversions = 1:2)),
               "column 'path' \\(path\\): row 2 NA")
})
