nba <- function(new_path, from, to, value, channels = c("a", "b", "c"), sep = ">") {
  tl_call("next_best_action_R", new_path, sep, from, to, value, channels)
}

test_that("prediction returns the four elements and follows suffixes", {
  r <- nba("a > b", c("0 1", "1"), c(2, 0), c(0.4, 0.6))
  expect_identical(names(r), c("suggested_action", "suggested_action_conversion_rate",
                               "channel", "conversion_rate"))
  expect_identical(r$suggested_action, "a")
  expect_equal(r$suggested_action_conversion_rate, 0.6)
  expect_identical(r$channel, c("a", "b", "c"))
  expect_equal(r$conversion_rate, c(0.6, 0, 0.4))
})

test_that("unknown journeys suggest the last channel; ties go to the later channel", {
  r <- nba("q > r", "0", 1, 0.5)
  expect_identical(r$suggested_action, "c")
  expect_equal(r$suggested_action_conversion_rate, 0)
  r <- nba("a", c("0", "0"), c(0, 1), c(0.5, 0.5))
  expect_identical(r$suggested_action, "b")
})

test_that("malformed tables are clear errors", {
  expect_error(nba("a", character(0), numeric(0), numeric(0), character(0)), "vchannels is empty")
  expect_error(nba("a", c("0", "1"), 1, c(0.1, 0.2)), "must be equal")
  expect_error(nba("a", "0", 7, 0.1), "channel_to 7 in row 1 is not a channel index")
  expect_error(nba("a", "0", -1, 0.1), "v_index_to: row 1 is negative")
})
