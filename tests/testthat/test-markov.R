mk <- function(Data = list(), flg_file = 0, file = "", var_path = "path", var_conv = "conv",
               var_value = "", var_null = "", row_sep = ";", cha_sep = ">", type = 0,
               order = 1, nsim_start = 10000, max_step = 0, ncore = 1, nfold = 10, seed = 1,
               conv_par = 0.05, rate_step_sim = 1.5, verbose = 0, flg_out_tran_mtx = 0,
               file_output = "", nulls = 0, paths = 0) {
  tl_call("markov_model_R", flg_file, file, Data, var_path, var_conv, var_value, var_null,
          row_sep, cha_sep, type, order, nsim_start, max_step, ncore, nfold, seed, conv_par,
          rate_step_sim, verbose, flg_out_tran_mtx, file_output, nulls, paths)
}

markov_names <- c("vchannels", "vindex", "vpath_id", "vpath_name", "vpath_channel",
                  "vpath_chpos", "vpath_attr_convs", "vpath_attr_value", "vattr_convs_loc",
                  "vattr_convs_glob", "vattr_value_glob", "vchannel_from_mtx",
                  "vchannel_to_mtx", "vtran_prob_mtx")

journeys <- data.frame(path = c("b > a", "c > a", "b > c", "a", "c > b > a"),
                       conv = c(2, 1, 0, 3, 1), nulls = c(1, 1, 2, 0, 1),
                       value = c(20, 5, 0, 30, 12))

test_that("removal effects: fourteen elements, totals kept, path outputs empty", {
  r <- mk(journeys, var_value = "value", var_null = "nulls")
  expect_identical(names(r), markov_names)
  expect_identical(r$vchannels, c("b", "a", "c"))
  expect_length(r$vindex, 4)
  expect_equal(sum(r$vattr_convs_glob), sum(journeys$conv))
  expect_equal(sum(r$vattr_value_glob), sum(journeys$value))
  for (el in c("vpath_id", "vpath_name", "vpath_attr_convs", "vattr_convs_loc", "vtran_prob_mtx"))
    expect_length(r[[el]], 0)
})

test_that("same seed, same result; the transition table alone or alongside", {
  a <- mk(journeys, var_null = "nulls", seed = 5, ncore = 2)
  b <- mk(journeys, var_null = "nulls", seed = 5, ncore = 2)
  expect_identical(a, b)
  t <- mk(journeys, var_null = "nulls", flg_out_tran_mtx = 2)
  expect_true(all(lengths(t[c("vindex", "vattr_convs_glob", "vpath_id")]) == 0))
  expect_identical(t$vchannel_from_mtx[1:3], rep("(start)", 3))
  expect_equal(sum(t$vtran_prob_mtx[t$vchannel_from_mtx == "(start)"]), 1)
  t1 <- mk(journeys, var_null = "nulls", flg_out_tran_mtx = 1)
  expect_identical(t1$vtran_prob_mtx, t$vtran_prob_mtx)
  expect_length(t1$vattr_convs_glob, 3)
})

test_that("file input and the channel result file", {
  f <- tempfile()
  write.table(journeys, f, sep = ";", row.names = FALSE, quote = FALSE)
  r1 <- mk(journeys, var_value = "value", var_null = "nulls")
  r2 <- mk(flg_file = 1, file = f, var_value = "value", var_null = "nulls")
  expect_identical(r1, r2)
  out <- tempfile()
  r <- mk(journeys, var_value = "value", var_null = "nulls", file_output = out)
  lines <- readLines(out)
  expect_identical(lines[1], "channel;total_conversions;total_conversion_value")
  expect_identical(lines[2], sprintf("b;%f;%f", r$vattr_convs_glob[1], r$vattr_value_glob[1]))
  expect_length(lines, 4)
})

test_that("settings that cannot work are errors", {
  expect_error(mk(journeys, order = 0), "order must be at least 1")
  expect_error(mk(journeys, ncore = 0), "ncore must be at least 1")
  expect_error(mk(journeys, nfold = 0), "nfold must be at least 1")
  expect_error(mk(journeys, rate_step_sim = 1), "rate_step_sim .* must be greater than 1")
  expect_error(mk(journeys, conv_par = 0), "conv_par must be a positive number")
  expect_error(mk(journeys, nsim_start = 5), "nsim_start \\(5\\) must be at least nfold x ncore")
  expect_error(mk(journeys, type = 9), "type must be 0")
  expect_error(mk(journeys, order = -1), "order must be a non-negative whole number")
  expect_error(mk(data.frame(path = "a", conv = 0)), "no conversions")
  expect_error(mk(data.frame(p = "a", conv = 1)), "Index out of bounds: [index='path'].", fixed = TRUE)
  expect_error(mk(journeys, var_null = "nul"), "Index out of bounds: [index='nul'].", fixed = TRUE)
})

test_that("progress only at verbose 1", {
  expect_silent(mk(journeys))
  expect_output(mk(journeys, verbose = 1, conv_par = 0.99),
                paste0("\\*\\*markov model estimation\\*\\*\n",
                       "Building transition matrix, number of paths elaborated: 5\n",
                       "Number of simulations: 10000 - Convergence reached: [0-9.]+% < 99.00%\n",
                       "Percentage of simulated paths that successfully end before maximum ",
                       "number of steps \\(5\\) is reached: [0-9.]+%"))
})

test_that("an interrupt during a long simulation returns control to R", {
  script <- tempfile(fileext = ".R")
  writeLines(c(
    "library(Touchlane)",
    "d <- data.frame(path = c('a > b', 'b > a > c', 'c'), conv = c(1, 1, 0), n = c(1, 2, 1))",
    "res <- tryCatch({",
    "  setTimeLimit(elapsed = 1, transient = TRUE)",
    "  markov_model(d, conversions = 'conv', simulations = 4e9, threads = 2)",
    "  'finished'",
    "}, interrupt = function(e) 'interrupted', error = function(e) conditionMessage(e))",
    "setTimeLimit()",
    "cat('RESULT', res, '\\n')"), script)
  out <- suppressWarnings(system2(file.path(R.home("bin"), "Rscript"), script, stdout = TRUE,
                                  stderr = TRUE,
                                  env = paste0("R_LIBS=", paste(.libPaths(), collapse = ":"))))
  expect_true(any(grepl("RESULT interrupted", out, fixed = TRUE)))
})

test_that("index kinds attribute every touch point, to the vectors or to a file", {
  r <- mk(journeys, var_value = "value", var_null = "nulls", type = 1, paths = 1)
  expect_identical(names(r), markov_names)
  expect_identical(r$vpath_name[1:2], c("b > a", "b > a"))
  expect_equal(sum(r$vpath_attr_convs), sum(journeys$conv))
  expect_equal(sum(r$vpath_attr_value), sum(journeys$value))
  expect_equal(sum(r$vattr_convs_loc), sum(journeys$conv))
  expect_length(r$vattr_convs_glob, 0)
  out <- tempfile()
  f <- tempfile()
  write.table(journeys, f, sep = ";", row.names = FALSE, quote = FALSE)
  rf <- mk(flg_file = 1, file = f, var_value = "value", var_null = "nulls", type = 1,
           file_output = out)
  expect_equal(rf$vattr_convs_loc, r$vattr_convs_loc)
  expect_length(rf$vpath_attr_convs, 0)
  lines <- readLines(out)
  expect_identical(lines[1], "path_id;channel;channel_position;total_conversions;total_conversion_value")
  expect_length(lines, 1 + sum(lengths(strsplit(journeys$path[journeys$conv > 0], ">"))))
  # without nulls the weights are calibrated removal effects
  r0 <- mk(journeys, type = 2)
  expect_length(r0$vattr_convs_glob, 3)
  expect_equal(sum(r0$vattr_convs_loc), sum(journeys$conv))
})
