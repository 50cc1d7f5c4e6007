shap <- function(Data = list(), flg_file = 0, file = "", var_path = "path", var_conv = "conv",
                 var_value = "", var_null = "", row_sep = ";", cha_sep = ">", simplified = 0,
                 type_worth = 0, nulls = 0, paths = 0, file_output = "", verbose = 0) {
  tl_call("shapley_R", flg_file, file, Data, var_path, var_conv, var_value, var_null, row_sep,
          cha_sep, simplified, type_worth, nulls, paths, file_output, verbose)
}

shap_names <- c("vchannels", "vindex", "vpath_id", "vpath_name", "vpath_channel", "vpath_chpos",
                "vpath_attr_convs", "vpath_attr_value", "vattr_convs_loc", "vattr_convs_glob",
                "vattr_value_glob")

# Shapley values by their subset formula, written directly in R.
shapley_direct <- function(coalitions, worth, channels) {
  n <- length(channels)
  v <- function(S) sum(worth[vapply(coalitions, function(k) all(k %in% S), logical(1))])
  phi <- setNames(numeric(n), channels)
  for (j in channels) {
    others <- setdiff(channels, j)
    for (mask in 0:(2^(n - 1) - 1)) {
      S <- others[bitwAnd(mask, 2^(seq_along(others) - 1)) > 0]
      s <- length(S)
      phi[j] <- phi[j] + factorial(s) * factorial(n - s - 1) / factorial(n) *
        (v(c(S, j)) - (if (s > 0) v(S) else 0))
    }
  }
  phi
}

test_that("global mode: eleven elements, the two-channel example, only totals filled", {
  d <- data.frame(path = c("A", "A > B"), conv = c(1, 2), value = c(10, 4))
  for (s in 0:1) {
    r <- shap(d, simplified = s, var_value = "value")
    expect_identical(names(r), shap_names)
    expect_identical(r$vchannels, c("A", "B"))
    expect_equal(r$vattr_convs_glob, c(2, 1))
    expect_equal(r$vattr_value_glob, c(12, 2))
    expect_equal(r$vindex, c(0, 0))
    expect_true(all(lengths(r[3:9]) == 0))
  }
})

test_that("exact values agree with the subset formula on random journeys", {
  set.seed(21)
  ch <- letters[1:6]
  paths <- replicate(60, paste(sample(ch, sample(1:4, 1)), collapse = " > "))
  conv <- sample(0:5, 60, replace = TRUE)
  r <- shap(data.frame(path = paths, conv = conv))
  sets <- lapply(strsplit(paths, " > ", fixed = TRUE), function(x) sort(unique(x)))
  key <- vapply(sets, paste, "", collapse = ",")
  worth <- tapply(conv, key, sum)
  coal <- strsplit(names(worth), ",", fixed = TRUE)
  want <- shapley_direct(coal, as.numeric(worth), r$vchannels)
  expect_equal(r$vattr_convs_glob, as.numeric(want), tolerance = 1e-10)
  expect_equal(sum(r$vattr_convs_glob), sum(conv))
})

test_that("rate mode attributes every touch point with masked weights", {
  d <- data.frame(path = c("a", "a > b", "b"), conv = c(1, 3, 2), n = c(3, 1, 2))
  r <- shap(d, var_null = "n", type_worth = 1, paths = 1, nulls = 1)
  expect_identical(names(r), shap_names)
  expect_length(r$vindex, 3)
  expect_length(r$vattr_convs_glob, 0)
  expect_equal(sum(r$vpath_attr_convs), 6)
  expect_equal(r$vpath_name, c("a", "a > b", "a > b", "b"))
  # The weights travel through new_paths_attribution and come back unmasked.
  p <- tl_call("new_paths_attribution_R", 0, "", d, "path", "conv", "",
               data.frame(channel = c(r$vchannels, "(other)"), index = r$vindex),
               "channel", "index", ";", ">", 0, 0, "", 0)
  w <- shapley_direct(list("a", c("a", "b"), "b"), c(1 / 4, 3 / 4, 1 / 2), c("a", "b"))
  expect_equal(p$vindex, as.numeric(w), tolerance = 1e-9)
  expect_equal(p$vattr_convs_loc, r$vattr_convs_loc, tolerance = 1e-9)
})

test_that("result files", {
  d <- data.frame(path = c("A", "A > B"), conv = c(1, 2))
  out <- tempfile()
  r <- shap(d, file_output = out)
  expect_equal(r$vattr_convs_glob, c(2, 1))
  expect_identical(read_text(out), "channel;total_conversions\nA;2.000000\nB;1.000000\n")
  d$n <- c(1, 1)
  r <- shap(d, var_null = "n", type_worth = 1, file_output = out)
  expect_true(all(lengths(r[3:8]) == 0))
  expect_length(r$vattr_convs_loc, 2)
  expect_match(read_text(out), "^path_id;channel;channel_position;total_conversions\n0;A;0;1.000000\n")
})

test_that("journeys from a file", {
  f <- write_lines_raw("path;conv;n\r\nA;1;0\r\nA > B;2;3\r\n")
  r <- shap(flg_file = 1, file = f)
  expect_equal(r$vattr_convs_glob, c(2, 1))
  r <- shap(flg_file = 1, file = f, var_null = "n", type_worth = 1)
  expect_equal(sum(r$vattr_convs_loc), 3)
})

test_that("nothing is printed", {
  d <- data.frame(path = "A", conv = 1)
  expect_silent(shap(d))
  expect_silent(shap(d, verbose = 1))
})

test_that("clear errors", {
  ch <- paste0("c", 1:26)
  d <- data.frame(path = paste(ch, collapse = ">"), conv = 1)
  expect_error(shap(d), "26 channels are too many for the exact method.*simplified")
  expect_equal(shap(d, simplified = 1)$vattr_convs_glob, rep(1 / 26, 26))
  expect_error(shap(data.frame(path = "a", conv = 1), type_worth = 7), "type_worth must be")
  expect_error(shap(flg_file = 1, file = tempfile()), "cannot open input file")
  f <- write_lines_raw("path;conv\na;1\n")
  expect_error(shap(flg_file = 1, file = f, var_null = "n", type_worth = 1),
               "column 'n' \\(var_null\\)")
  expect_error(shap(data.frame(path = "a", conv = 1, n = -2), var_null = "n", type_worth = 1),
               "row 1 is negative")
  expect_error(shap(data.frame(path = "a", conv = 1), var_null = "n", type_worth = 1),
               "Index out of bounds")
})
