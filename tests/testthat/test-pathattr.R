npa <- function(Data = list(), Dparams, flg_file = 0, file = "", var_path = "path",
                var_conv = "conv", var_value = "", var_channel = "channel", var_param = "index",
                row_sep = ";", cha_sep = ">", nulls = 0, paths = 0, file_output = "",
                verbose = 0) {
  tl_call("new_paths_attribution_R", flg_file, file, Data, var_path, var_conv, var_value,
          Dparams, var_channel, var_param, row_sep, cha_sep, nulls, paths, file_output, verbose)
}

npa_names <- c("vchannels", "vindex", "vpath_id", "vpath_name", "vpath_channel", "vpath_chpos",
               "vpath_attr_convs", "vpath_attr_value", "vattr_convs_loc")

# Masks a weight vector the way the models hand it back: the offsets are
# read off by unmasking zeros.
mask <- function(w) {
  z <- npa(data.frame(path = character(0), conv = numeric(0)),
           data.frame(channel = rep("z", length(w) + 1), index = 0))
  w - z$vindex
}

params <- function(channels, w, mean_index) {
  data.frame(channel = c(channels, "(unknown)"), index = mask(c(w, mean_index)))
}

test_that("nine elements in order; weights unmasked; last row is the fallback weight", {
  d <- data.frame(path = c("A > B > A", "A > x"), conv = c(4, 2), value = c(8, 1))
  p <- params(c("A", "B"), c(3, 1), 1)
  r <- npa(d, p)
  expect_identical(names(r), npa_names)
  expect_identical(r$vchannels, c("A", "B", "(unknown)"))
  expect_equal(r$vindex, c(3, 1))
  expect_equal(r$vpath_attr_convs, c(1.5, 1, 1.5, 1.5, 0.5))
  expect_equal(r$vattr_convs_loc, c(4.5, 1))
  expect_length(r$vpath_attr_value, 0)
  expect_length(r$vpath_name, 0)
  r <- npa(d, p, var_value = "value", paths = 1)
  expect_equal(r$vpath_attr_value, c(3, 2, 3, 0.75, 0.25))
  expect_identical(r$vpath_name, rep(c("A > B > A", "A > x"), c(3, 2)))
  expect_identical(r$vpath_channel, c("A", "B", "A", "A", "x"))
  expect_equal(r$vpath_chpos, c(0, 1, 2, 0, 1))
  expect_equal(r$vpath_id, c(0, 0, 0, 1, 1))
})

test_that("random journeys and weights agree with a direct computation in R", {
  set.seed(5)
  known <- c("a", "b", "c", "d")
  # Multiples of 2^-10 survive the masking offsets (integers below 10^6) exactly.
  w <- round(c(runif(2, 0, 3), 0, runif(1)) * 1024) / 1024
  mean_index <- 0.75
  pool <- c(known, "a ", "  b", "u", "v")
  paths <- replicate(300, paste(sample(pool, sample(1:6, 1), replace = TRUE), collapse = ">"))
  conv <- sample(0:4, 300, replace = TRUE)
  value <- round(runif(300, 0, 50), 2)
  r <- npa(data.frame(path = paths, conv = conv, value = value), params(known, w, mean_index),
           var_value = "value", nulls = 1)
  expect_identical(r$vindex, w)
  want_c <- want_v <- numeric(0)
  total <- setNames(numeric(4), known)
  for (i in seq_along(paths)) {
    ch <- trimws(strsplit(paths[i], ">", fixed = TRUE)[[1]])
    wt <- ifelse(ch %in% known, w[match(ch, known)], mean_index)
    u <- !duplicated(ch)
    share <- if (conv[i] > 0) wt / sum(wt[u]) / as.numeric(table(ch)[ch]) else 0 * wt
    want_c <- c(want_c, conv[i] * share)
    want_v <- c(want_v, if (conv[i] > 0) value[i] * share else 0 * share)
    for (k in which(ch %in% known)) total[ch[k]] <- total[ch[k]] + conv[i] * share[k]
  }
  expect_equal(r$vpath_attr_convs, want_c, tolerance = 1e-12)
  expect_equal(r$vpath_attr_value, want_v, tolerance = 1e-12)
  expect_equal(r$vattr_convs_loc, as.numeric(total), tolerance = 1e-12)
})

test_that("result file rows, totals kept, vectors empty", {
  d <- data.frame(path = c("A > B > A", "C"), conv = c(4, 0), value = c(8, 0))
  out <- tempfile()
  r <- npa(d, params(c("A", "B"), c(3, 1), 1), var_value = "value", file_output = out,
           nulls = 1, paths = 1)
  expect_identical(names(r), npa_names)
  expect_true(all(lengths(r[3:8]) == 0))
  expect_equal(r$vattr_convs_loc, c(3, 1))
  expect_identical(read_text(out), paste0(
    "path_id;path_name;channel;channel_position;total_conversions;total_conversion_value\n",
    "0;A > B > A;A;0;1.500000;3.000000\n",
    "0;A > B > A;B;1;1.000000;2.000000\n",
    "0;A > B > A;A;2;1.500000;3.000000\n",
    "1;C;C;0;0;0\n"))
  r <- npa(d, params(c("A", "B"), c(3, 1), 1), file_output = out)
  expect_identical(read_text(out), paste0(
    "path_id;channel;channel_position;total_conversions\n",
    "0;A;0;1.500000\n0;B;1;1.000000\n0;A;2;1.500000\n"))
})

test_that("journeys from a file", {
  f <- write_lines_raw("id;conv;path;val\r\n1;2;A > B;7.5\r\n2;1;q;1\r\n")
  r <- npa(Dparams = params(c("A", "B"), c(1, 3), 2), flg_file = 1, file = f, var_value = "val")
  expect_equal(r$vpath_attr_convs, c(0.5, 1.5, 1))
  expect_equal(r$vpath_attr_value, c(7.5 / 4, 7.5 * 3 / 4, 1))
  expect_equal(r$vattr_convs_loc, c(0.5, 1.5))
})

test_that("nothing is printed", {
  d <- data.frame(path = "A", conv = 1)
  expect_silent(npa(d, params("A", 1, 1)))
  expect_silent(npa(d, params("A", 1, 1), verbose = 1))
})

test_that("bad parameter tables and inputs give clear errors", {
  d <- data.frame(path = "A", conv = 1)
  expect_error(npa(d, data.frame(channel = character(0), index = numeric(0))),
               "Dparams has no rows")
  expect_error(npa(d, params("A", 1, 1), var_channel = "name"),
               "column 'name' \\(var_channel\\) not found in Dparams")
  expect_error(npa(d, params("A", 1, 1), var_param = "w"),
               "column 'w' \\(var_param\\) not found in Dparams")
  expect_error(npa(d, data.frame(channel = c("A", "z"), index = c(NA, 1))),
               "row 1 is NA")
  expect_error(npa(d, list(channel = c("A", "z"), index = 1)), "has 2 rows")
  p <- params("A", 1, 1)
  expect_error(npa(Dparams = p, flg_file = 1, file = tempfile()), "cannot open input file")
  f <- write_lines_raw("path;convs\nA;1\n")
  expect_error(npa(Dparams = p, flg_file = 1, file = f), "column 'conv' \\(var_conv\\)")
  f <- write_lines_raw("path;conv\nA;1\nB;-1\n")
  expect_error(npa(Dparams = p, flg_file = 1, file = f), "negative conversion count")
  f <- write_lines_raw("conv;path\n1;A\n2\n")
  expect_error(npa(Dparams = p, flg_file = 1, file = f), "line 3")
  f <- write_lines_raw("path;conv\nA;x\n")
  expect_error(npa(Dparams = p, flg_file = 1, file = f), "stoul")
  expect_error(npa(data.frame(path = "A", conv = -1), p), "row 1 is negative")
  expect_error(npa(d, p, file_output = file.path(tempfile(), "no", "out.csv")),
               "cannot open result file")
  expect_error(npa(d, p, var_path = "nope"), "Index out of bounds")
})
