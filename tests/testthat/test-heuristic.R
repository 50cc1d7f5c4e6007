heur <- function(Data = list(), flg_file = 0, file = "", var_path = "path", var_conv = "conv",
                 var_value = "", row_sep = ";", cha_sep = ">", verbose = 0, file_output = "",
                 nulls = 0, paths = 0) {
  tl_call("heuristic_models_R", flg_file, file, Data, var_path, var_conv, var_value, row_sep,
          cha_sep, verbose, file_output, nulls, paths)
}

result_names <- c("vpath_id", "vpath_name", "vpath_channel", "vpath_chpos",
                  "vpath_attr_convs_first", "vpath_attr_value_first",
                  "vpath_attr_convs_last", "vpath_attr_value_last",
                  "vpath_attr_convs_linear", "vpath_attr_value_linear")

test_that("result list has the ten elements in order, value vectors only with values", {
  d <- data.frame(path = c("A > B > C", "A > A"), conv = c(2, 1), value = c(10, 4))
  r <- heur(d)
  expect_identical(names(r), result_names)
  expect_length(r$vpath_name, 0)
  expect_length(r$vpath_attr_value_first, 0)
  expect_equal(r$vpath_attr_convs_first, c(2, 0, 0, 1, 0))
  expect_equal(r$vpath_attr_convs_last, c(0, 0, 2, 0, 1))
  expect_equal(r$vpath_attr_convs_linear, c(2 / 3, 2 / 3, 2 / 3, 0.5, 0.5))
  r <- heur(d, var_value = "value", paths = 1)
  expect_equal(r$vpath_attr_value_linear, c(10 / 3, 10 / 3, 10 / 3, 2, 2))
  expect_equal(r$vpath_name, rep(c("A > B > C", "A > A"), c(3, 2)))
  expect_type(r$vpath_channel, "character")
  expect_equal(r$vpath_chpos, c(0, 1, 2, 0, 1))
})

test_that("counts are truncated, nulls consume an index, factors become text", {
  d <- data.frame(path = factor(c("x", "y > z", " x ")), conv = c(2.9, 0, 1L))
  r <- heur(d, nulls = 1)
  expect_equal(r$vpath_attr_convs_first, c(2, 0, 0, 1))
  expect_equal(r$vpath_id, c(0, 1, 1, 2))
  expect_equal(r$vpath_channel, c("x", "y", "z", "x"))
})

test_that("per-channel totals agree with a direct computation in R", {
  set.seed(11)
  ch <- c("a", "b", "c", "d")
  paths <- replicate(300, paste(sample(ch, sample(1:5, 1), replace = TRUE), collapse = " > "))
  conv <- sample(0:3, 300, replace = TRUE)
  r <- heur(data.frame(path = paths, conv = conv))
  split_paths <- strsplit(paths, " > ", fixed = TRUE)
  want_first <- tapply(conv, sapply(split_paths, `[`, 1), sum)
  want_lin <- numeric(0)
  for (i in seq_along(paths)) {
    u <- unique(split_paths[[i]])
    for (cc in u) want_lin[cc] <- sum(want_lin[cc], conv[i] / length(u), na.rm = TRUE)
  }
  got_first <- tapply(r$vpath_attr_convs_first, r$vpath_channel, sum)
  got_lin <- tapply(r$vpath_attr_convs_linear, r$vpath_channel, sum)
  expect_equal(as.numeric(got_first[names(want_first)]), as.numeric(want_first))
  expect_equal(as.numeric(got_lin[names(want_lin)]), as.numeric(want_lin))
  expect_equal(sum(r$vpath_attr_convs_last), sum(conv))
})

test_that("file input and the result file have the exact format", {
  f <- write_lines_raw("id;path;conv;val\r\n1;A > B;2;7.5\r\n2;C;1;1\r\n3;D;0;0\r\n")
  out <- tempfile()
  r <- heur(flg_file = 1, file = f, var_value = "val", file_output = out, nulls = 1, paths = 1)
  expect_identical(names(r), result_names)
  expect_true(all(lengths(r) == 0))
  expect_identical(read_text(out), paste0(
    "path_id;path_name;channel;channel_position;first_touch_conversions;first_touch_value;",
    "last_touch_conversions;last_touch_value;linear_touch_conversions;linear_touch_value\n",
    "0;A > B;A;0;2;7.500000;0.000000;0.000000;1.000000;3.750000\n",
    "0;A > B;B;1;0.000000;0.000000;2;7.500000;1.000000;3.750000\n",
    "1;C;C;0;1;1.000000;1;1.000000;1.000000;1.000000\n",
    "2;D;D;0;0;0;0;0;0;0\n"))
  # a looked-up column last in a Windows header is still found
  g <- write_lines_raw("conv;path\r\n1;a > b\r\n")
  r <- heur(flg_file = 1, file = g)
  expect_equal(r$vpath_channel, c("a", "b"))
})

# File input errors and result files are the journey reader's and the
# result file's, tested in tests/cpp.
test_that("bad data-frame input gives clear errors", {
  d <- data.frame(path = c("a", "b"), conv = c(1, -1))
  expect_error(heur(d), "column 'conv' \\(var_conv\\): row 2 is negative")
  d$conv <- c(1, NA)
  expect_error(heur(d), "row 2 is NA")
  expect_error(heur(data.frame(p = "a", conv = 1)), "Index out of bounds: [index='path'].", fixed = TRUE)
  expect_error(heur(data.frame(path = "a", conv = 1), verbose = c(1, 1)),
               "Expecting a single value: [extent=2].", fixed = TRUE)
})

test_that("progress lines every million journeys, silence otherwise", {
  d <- data.frame(path = "a", conv = 1)
  expect_silent(heur(d))
  expect_output(heur(d, verbose = 1),
                "\\*\\*heuristic models estimation\\*\\*\nAttribution, number of paths elaborated: 1$")
  big <- data.frame(path = rep("a", 1000001), conv = 0)
  txt <- capture.output(invisible(heur(big, verbose = 1)))
  expect_identical(txt, c("**heuristic models estimation**",
                          "Attribution, number of paths elaborated: 1,000,000",
                          "Attribution, number of paths elaborated: 1,000,001"))
})

test_that("a NUL byte in a file path is an error naming the line, and nothing leaks", {
  skip_if_not(file.exists("/proc/self/status"))
  rss <- function() as.numeric(gsub("\\D", "", grep("^VmRSS", readLines("/proc/self/status"), value = TRUE)))
  f <- write_lines_raw(paste0("path;conv\n", strrep("a > b > c;1\n", 1e5), "x#y;1\n"))
  raw <- readBin(f, "raw", file.size(f))
  writeBin(replace(raw, length(raw) - 4, as.raw(0)), f)   # "x\0y;1"
  expect_error(heur(flg_file = 1, file = f), "line 100002, column 1 of .*: it contains a NUL byte")
  before <- rss()
  for (k in 1:10) try(heur(flg_file = 1, file = f), silent = TRUE)
  expect_lt(rss() - before, 100 * 1024)   # kB; each call once left about 30 MB behind
})
