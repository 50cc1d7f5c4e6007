mta_table <- function() {
  data.frame(path = c(1, 1, 1, 2, 2, 3), channel = c("a", "b", "c", "a", "c", "b"),
             attribution = c(0.5, 0.25, 0.25, 1, 1, 3), stringsAsFactors = FALSE)
}
combine <- function(mta, mmm, prior, max_steps = 50, conv_rate = 0.001, verbose = 0) {
  tl_call("combine_mta_mmm_R", mta, mmm, prior, max_steps, conv_rate, verbose)
}

test_that("full trust in the MTA returns it unchanged, names in order", {
  m <- mta_table()
  r <- combine(m, data.frame(channel = c("a", "b", "c"), attribution = c(9, 1, 1)),
               data.frame(channel = c("c", "b", "a"), mta_weight = 1))
  expect_identical(names(r), c("path", "channel", "attribution"))
  expect_equal(r$path, m$path)
  expect_identical(r$channel, m$channel)
  expect_equal(r$attribution, m$attribution)
})

test_that("journey totals are kept and channel totals move towards the MMM", {
  m <- mta_table()
  mmm <- data.frame(channel = c("a", "b", "c"), attribution = c(1, 1, 8))
  prior <- data.frame(channel = c("a", "b", "c"), mta_weight = c(0, 0, 0))
  expect_silent(r <- combine(m, mmm, prior))
  expect_equal(tapply(r$attribution, r$path, sum), tapply(m$attribution, m$path, sum))
  expect_gt(sum(r$attribution[r$channel == "c"]), sum(m$attribution[m$channel == "c"]))
  expect_equal(r$attribution[6], 3)   # a single touch point cannot move
})

test_that("progress lines show the step and the divergence", {
  m <- data.frame(path = c(1, 2), channel = c("a", "b"), attribution = c(50, 50))
  out <- capture.output(combine(m, data.frame(channel = c("a", "b"), attribution = c(52.5, 47.5)),
                                data.frame(channel = c("a", "b"), mta_weight = 0), conv_rate = 0,
                                verbose = 1))
  expect_identical(out[1:2], c("Step: 0 | Convergence: 500.00%", "Step: 1 | Convergence: 500.00%"))
})

test_that("tables naming other channels or missing one are R errors naming it", {
  m <- mta_table()
  prior <- data.frame(channel = c("a", "b", "c"), mta_weight = 0.5)
  expect_error(combine(m, data.frame(channel = c("a", "b", "c", "x"), attribution = 1), prior),
               "channel 'x' does not occur in mta_path_attribution")
  expect_error(combine(m, data.frame(channel = c("a", "c"), attribution = 1), prior),
               "mmm_attribution: channel 'b' is missing")
  expect_error(combine(m, data.frame(channel = c("a", "b", "c"), attribution = 1),
                       prior[1:2, ]), "prior_weights_mta: channel 'c' is missing")
  expect_error(combine(m[, c("path", "channel")], data.frame(channel = "a", attribution = 1), prior),
               "attribution")
})
