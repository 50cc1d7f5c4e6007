logit <- function(Data, var_path = "path", var_conv = "conv", var_value = "", var_null = "null",
                  row_sep = ";", cha_sep = ">", nulls = 0, paths = 0, file_output = "",
                  verbose = 0) {
  tl_call("logistic_regression_R", Data, var_path, var_conv, var_value, var_null, row_sep,
          cha_sep, nulls, paths, file_output, verbose)
}

logit_names <- c("vchannels", "vindex", "vpath_id", "vpath_name", "vpath_channel",
                 "vpath_chpos", "vpath_attr_convs", "vpath_attr_value", "vattr_convs_loc")

# Well-conditioned journeys drawn from a known logistic model: five
# channels, up to four touches, 20 to 60 journeys per path row.
simulated_journeys <- function(seed = 7, n = 400) {
  set.seed(seed)
  ch <- LETTERS[1:5]
  beta <- c(-1.2, 0.8, -0.5, 0.3, 1.1, -0.9)
  X <- matrix(0, n, 5, dimnames = list(NULL, ch))
  paths <- character(n)
  for (i in seq_len(n)) {
    s <- sample(ch, sample(1:4, 1), replace = TRUE)
    paths[i] <- paste(s, collapse = " > ")
    X[i, ] <- tabulate(match(s, ch), 5)
  }
  tot <- sample(20:60, n, replace = TRUE)
  conv <- rbinom(n, tot, plogis(beta[1] + X %*% beta[-1]))
  list(d = data.frame(path = paths, conv = conv, null = tot - conv, value = conv * 2.5),
       X = X)
}

# log(index_c / index_ref) read back from the attribution: in a converting
# journey each distinct channel gets index / (sum of the journey's indices).
log_index_ratios <- function(r, conv, ref) {
  rows <- data.frame(id = r$vpath_id, ch = r$vpath_channel, a = r$vpath_attr_convs)
  rows <- rows[conv[rows$id + 1] > 0, ]
  share <- aggregate(a ~ id + ch, rows, sum)
  sapply(r$vchannels, function(cc) {
    both <- intersect(share$id[share$ch == cc], share$id[share$ch == ref])
    i <- both[1]
    log(share$a[share$id == i & share$ch == cc] / share$a[share$id == i & share$ch == ref])
  })
}

test_that("result list has the nine elements in order", {
  d <- data.frame(path = c("A > B", "B", "A > A"), conv = c(2, 1, 1), null = c(1, 3, 2))
  r <- logit(d)
  expect_identical(names(r), logit_names)
  expect_identical(r$vchannels, c("A", "B"))
  expect_length(r$vindex, 3)
  expect_length(r$vattr_convs_loc, 2)
  expect_length(r$vpath_name, 0)
  expect_length(r$vpath_attr_value, 0)
  expect_equal(r$vpath_id, c(0, 0, 1, 2, 2))
  expect_equal(r$vpath_chpos, c(0, 1, 0, 0, 1))
  expect_equal(sum(r$vpath_attr_convs), 4)
  expect_equal(sum(r$vattr_convs_loc), 4)
  r <- logit(cbind(d, value = c(10, 2, 4)), var_value = "value", paths = 1, nulls = 1)
  expect_equal(sum(r$vpath_attr_value), 16)
  expect_equal(r$vpath_name, rep(c("A > B", "B", "A > A"), c(2, 1, 2)))
})

test_that("index ratios agree with glm(family = binomial) on well-conditioned data", {
  s <- simulated_journeys()
  r <- logit(s$d)
  g <- glm(cbind(s$d$conv, s$d$null) ~ s$X, family = binomial)
  b <- setNames(coef(g)[-1], colnames(s$X))
  got <- log_index_ratios(r, s$d$conv, "A")
  want <- b[r$vchannels] - b["A"]
  # The glm standard errors here are about 0.03; Adam's 2,000 steps bring
  # the fit within 1e-6 of the optimum, so 1e-3 leaves a wide margin while
  # still far below the sampling error.
  expect_equal(unname(got), unname(want), tolerance = 1e-3, scale = 1)
  expect_identical(order(got), order(want))
  # The indices themselves, unmasked: exp(b0 + bj), mean index last.
  idx <- tl_call("uidx_R", r$vindex)
  K <- length(r$vchannels)
  want_log <- coef(g)[1] + b[r$vchannels]
  expect_equal(unname(log(idx[1:K])), unname(want_log), tolerance = 1e-3, scale = 1)
  # log-odds of a journey touching one channel once, and the channel
  # effects relative to the first channel: same signs as glm's
  expect_identical(unname(sign(log(idx[1:K]))), unname(sign(want_log)))
  expect_identical(unname(sign(log(idx[1:K] / idx[1]))), unname(sign(b[r$vchannels] - b[r$vchannels[1]])))
  expect_identical(order(idx[1:K]), order(b[r$vchannels]))
  touched <- colSums((s$X[, r$vchannels] > 0) * (s$d$conv + s$d$null))
  expect_equal(idx[K + 1], sum(touched * idx[1:K]) / sum(s$d$conv + s$d$null), tolerance = 1e-9)
  # attribution per channel sums to the conversions
  expect_equal(sum(r$vattr_convs_loc), sum(s$d$conv))
})

test_that("the masked indices re-attribute the same journeys identically", {
  s <- simulated_journeys(seed = 3, n = 60)
  r <- logit(s$d, var_value = "value")
  expect_false(isTRUE(all.equal(tl_call("uidx_R", r$vindex), r$vindex)))
  params <- data.frame(channel = c(r$vchannels, "(mean)"), w = r$vindex)
  n <- tl_call("new_paths_attribution_R", 0, "", s$d, "path", "conv", "value", params, "channel",
               "w", ";", ">", 0, 0, "", 0)
  expect_equal(n$vpath_attr_convs, r$vpath_attr_convs, tolerance = 1e-9)
  expect_equal(n$vpath_attr_value, r$vpath_attr_value, tolerance = 1e-9)
  expect_equal(n$vattr_convs_loc, r$vattr_convs_loc, tolerance = 1e-9)
})

test_that("rows can go to a result file instead of the list", {
  d <- data.frame(path = c("A > B", "B"), conv = c(2, 0), null = c(1, 3))
  f <- tempfile(fileext = ".csv")
  r <- logit(d, file_output = f, nulls = 1)
  expect_length(r$vpath_id, 0)
  expect_equal(sum(r$vattr_convs_loc), 2)
  lines <- strsplit(read_text(f), "\n")[[1]]
  expect_identical(lines[1], "path_id;channel;channel_position;total_conversions")
  expect_length(lines, 4)
})

test_that("npaths = 0 is a clear error", {
  d <- data.frame(path = c("A > B", "B"), conv = c(0, 0), null = c(0, 0))
  expect_error(logit(d), "npaths is 0")
  d <- data.frame(path = c("", "A"), conv = c(3, 0), null = c(2, 0))
  expect_error(logit(d), "npaths is 0")
})

test_that("a journey without touch points is left out of the fit", {
  d <- data.frame(path = c("A > B", "B", "A"), conv = c(2, 1, 1), null = c(1, 3, 2))
  e <- rbind(data.frame(path = "", conv = 50, null = 1), d)
  a <- logit(d)
  b <- logit(e)
  expect_identical(b$vchannels, a$vchannels)
  expect_identical(b$vindex, a$vindex)
  expect_equal(b$vpath_id, a$vpath_id + 1)
  expect_equal(b$vpath_attr_convs, a$vpath_attr_convs)
})

test_that("bad columns and arguments reach R as errors", {
  d <- data.frame(path = "A", conv = 1, null = 1)
  expect_error(logit(d, var_null = "nulls"), "Index out of bounds")
  expect_error(logit(d, cha_sep = ""), "cha_sep")
  expect_error(logit(data.frame(path = "A", conv = -1, null = 1)), "var_conv")
  expect_error(logit(d, verbose = c(1, 1)), "Expecting a single value")
})

test_that("the model prints nothing", {
  d <- data.frame(path = c("A > B", "B"), conv = c(2, 1), null = c(1, 3))
  expect_silent(logit(d))
  expect_silent(logit(d, verbose = 1))
})

test_that("a channel named like a reserved name is an error naming channel and row", {
  d <- data.frame(path = c("b", "(constant)>a"), conv = c(1, 1), null = c(1, 1))
  for (k in 1:3) expect_error(logit(d), "path in row 2: channel '\\(constant\\)'")
})
