#!/usr/bin/env Rscript
# Usage: Rscript tools/hostile.R [entry point ...]   (tools/run.sh test runs
# all; the exit status is 1 when any entry point crashed or hung)
# Hostile-argument sweep over the native entry points: every argument of
# every entry point replaced in turn by every hostile value, plus cases
# written for each entry point. Each must end in an R error or a result,
# never in a crash, an abort, a runaway allocation or a hang. Every entry
# point is exercised in a child R process (a crash there cannot take the
# run down) that prints a marker after each call; a missing final marker, a signal or the
# timeout is a failure. Each call runs under a short R time limit, which
# the library sees as a user interrupt: long work that looks for
# interrupts ends there, a loop that never looks runs into the timeout.

suppressMessages(library(Touchlane))

rscript <- file.path(R.home("bin"), "Rscript")
have_timeout <- nzchar(Sys.which("timeout"))

# Values tried in place of every argument in turn.
hostile_values <- function() {
  list(
    "NULL" = NULL, "NA" = NA, "NA_real" = NA_real_, "NaN" = NaN, "Inf" = Inf,
    "minus_Inf" = -Inf, "minus_one" = -1, "minus_half" = -0.5, "zero" = 0, "big" = 1e300,
    "two_64" = 2^64, "two_63" = 2^63, "two_62" = 2^62, "two_53" = 2^53, "two_32" = 2^32,
    "num0" = numeric(0), "chr0" = character(0), "empty_string" = "", "length_two" = c(1, 2),
    "two_strings" = c("a", "b"), "list0" = list(), "list1" = list(1), "fun" = function() 1,
    "word" = "abc", "true" = TRUE, "na_chr" = NA_character_, "df0" = data.frame(),
    "matrix22" = matrix(1:4, 2), "factor" = factor("a"), "complex" = 1i, "raw" = as.raw(1),
    "env" = globalenv(), "sep_only" = ">"
  )
}

# Runs `cases` (named lists of arguments) from number `from` on through
# `entry` in one child process and returns its status and output.
run_child <- function(entry, cases, from, timeout) {
  dir <- tempfile("robust")
  dir.create(dir)
  job <- file.path(dir, "job.rds")
  saveRDS(list(entry = entry, cases = cases), job)
  script <- file.path(dir, "run.R")
  writeLines(c(
    "suppressMessages(library(Touchlane))",
    sprintf("job <- readRDS(%s)", deparse(job)),
    sprintf("setwd(%s)", deparse(dir)),
    sprintf("for (k in seq(%d, length(job$cases))) {", from),
    "  cat('CASE', k, '\\n'); flush(stdout())",
    "  setTimeLimit(elapsed = 2, transient = TRUE)",
    "  out <- tryCatch({",
    "    utils::capture.output(res <- suppressWarnings(do.call(.Call, c(list(job$entry),",
    "      job$cases[[k]], PACKAGE = 'Touchlane'))))",
    "    'result'",
    "  }, interrupt = function(i) 'interrupted', error = function(e) {",
    "    msg <- conditionMessage(e)",
    "    if (grepl('bad_alloc|cannot allocate|length_error|max_size|vector::', msg))",
    "      paste('ALLOCATION', msg)",
    "    else if (grepl('time limit', msg)) 'interrupted' else 'error'",
    "  })",
    "  setTimeLimit()",
    "  cat('DONE', k, out, '\\n'); flush(stdout())",
    "}",
    "cat('ALL-CASES-DONE\\n')"), script)
  env <- paste0("R_LIBS=", paste(.libPaths(), collapse = .Platform$path.sep))
  # A memory cap turns a runaway allocation into an error the child reports
  # instead of a process the system kills.
  # TOUCHLANE_ROBUST_PRELOAD names a sanitizer runtime for a library built
  # with sanitizers; its shadow memory needs no cap.
  preload <- Sys.getenv("TOUCHLANE_ROBUST_PRELOAD")
  cap <- "ulimit -v 6000000;"
  if (nzchar(preload)) {
    env <- c(env, paste0("LD_PRELOAD=", preload),
             "ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1")
    cap <- ""
  }
  run <- paste(if (have_timeout) paste("timeout", timeout), shQuote(rscript), shQuote(script))
  out <- suppressWarnings(system2("sh", c("-c", shQuote(paste(cap, run))),
                                  stdout = TRUE, stderr = TRUE, env = env))
  unlink(dir, recursive = TRUE)
  status <- attr(out, "status")
  list(status = if (is.null(status)) 0L else status, out = out)
}

# Every argument replaced in turn by every hostile value, plus extra cases.
hostile_cases <- function(base, extra = list()) {
  vals <- hostile_values()
  cases <- list()
  for (a in names(base)) {
    for (v in names(vals)) {
      args <- base
      args[a] <- list(vals[[v]])
      cases[[paste0(a, "=", v)]] <- unname(args)
    }
  }
  for (nm in names(extra)) {
    args <- base
    for (a in names(extra[[nm]])) args[a] <- list(extra[[nm]][[a]])
    cases[[nm]] <- unname(args)
  }
  c(list(baseline = unname(base)), cases)
}

# Huge (but representable) values of count arguments; in some models these
# still allocate without bound or loop without looking for interrupts.
huge_count_cases <- function(...) {
  as.vector(outer(c(...), c("two_63", "two_62", "two_53", "two_32"), paste, sep = "="))
}

# Runs all cases of one entry point; a child that dies is restarted after
# the case it died on, so one run names every failing case. `pending`
# names cases known to fail in code still being reworked: they are left
# out (and listed). Returns the failures, one line each.
run_sweep <- function(entry, base, extra = list(), timeout = 40, pending = character(0)) {
  if (!is.loaded(entry, PACKAGE = "Touchlane"))
    return(structure(paste(entry, "is not built"), cases = 0L))
  cases <- hostile_cases(base, extra)
  if (nzchar(Sys.getenv("TOUCHLANE_ROBUST_ALL"))) pending <- character(0)   # to recheck them
  cases <- cases[!names(cases) %in% pending]
  only <- Sys.getenv("TOUCHLANE_ROBUST_ONLY")   # a pattern of case names, to rerun a few
  if (nzchar(only)) cases <- cases[grepl(only, names(cases))]
  from <- 1
  failed <- character(0)
  while (from <= length(cases) && length(failed) < 10) {
    r <- run_child(entry, cases, from, timeout)
    for (line in grep("^DONE [0-9]+ ALLOCATION", r$out, value = TRUE)) {
      k <- as.integer(sub("^DONE ([0-9]+).*", "\\1", line))
      failed <- c(failed, sprintf("%s: %s", names(cases)[k], line))
    }
    # Sanitizer reports (when built with sanitizers), by the case that caused them.
    case <- NA_character_
    for (line in r$out) {
      if (startsWith(line, "CASE "))
        case <- names(cases)[as.integer(sub("^CASE ([0-9]+).*", "\\1", line))]
      if (grepl("runtime error:|ERROR: AddressSanitizer", line))
        failed <- c(failed, sprintf("%s: %s", case, line))
    }
    log <- Sys.getenv("TOUCHLANE_ROBUST_LOG")   # a file listing the cases stopped by the time limit
    if (nzchar(log))
      for (line in grep("^DONE [0-9]+ interrupted", r$out, value = TRUE))
        cat(entry, names(cases)[as.integer(sub("^DONE ([0-9]+).*", "\\1", line))], "\n",
            file = log, append = TRUE)
    if (r$status == 0 && any(r$out == "ALL-CASES-DONE")) break
    started <- as.integer(sub("^CASE ([0-9]+).*", "\\1", grep("^CASE ", r$out, value = TRUE)))
    last <- if (length(started)) max(started) else from
    failed <- c(failed, sprintf("%s (status %s): %s", names(cases)[last], r$status,
                                paste(tail(r$out, 3), collapse = " | ")))
    from <- last + 1
  }
  attr(failed, "cases") <- length(cases)
  failed
}

# The table of sweeps: one row (entry point, baseline arguments, extra
# cases, pending cases) per entry point, filled below.
sweeps <- list()
add_sweep <- function(entry, base, extra = list(), timeout = 40, pending = character(0))
  sweeps[[length(sweeps) + 1]] <<- list(entry = entry, base = base, extra = extra,
                                        timeout = timeout, pending = pending)

# Journey data frames that stress the readers.
journey_frames <- function(extra_cols = list()) {
  mk <- function(...) c(list(...), extra_cols)
  list(
    zero_rows = mk(path = character(0), conv = numeric(0), value = numeric(0), nulls = numeric(0)),
    mismatched = mk(path = c("a > b", "b", "c"), conv = 1, value = c(1, 2), nulls = numeric(0)),
    empty_paths = mk(path = c("", "", ""), conv = c(1, 0, 2), value = c(1, 0, 2), nulls = c(0, 1, 1)),
    sep_only = mk(path = c(">", ">>>", " > > "), conv = c(1, 1, 0), value = c(1, 1, 0),
                  nulls = c(1, 0, 2)),
    na_paths = mk(path = c(NA, "a", NA), conv = c(1, NA, 2), value = c(NA, 1, 2), nulls = c(1, 1, NA)),
    neg_counts = mk(path = c("a", "b"), conv = c(-1, 2), value = c(-5, 1), nulls = c(1, -3)),
    inf_counts = mk(path = c("a", "b"), conv = c(Inf, 1), value = c(Inf, NaN), nulls = c(1e300, 1)),
    huge_counts = mk(path = c("a", "b"), conv = c(2^63, 1), value = c(1, 1), nulls = c(2^63, 1)),
    zero_conv = mk(path = c("a > b", "b"), conv = c(0, 0), value = c(0, 0), nulls = c(0, 0)),
    factors = mk(path = factor(c("a > b", "b")), conv = factor(c("1", "2")), value = c(1, 2),
                 nulls = c(1, 1)),
    char_counts = mk(path = c("a > b", "b"), conv = c("x", "1"), value = c("y", "z"), nulls = c("1", "q")),
    list_column = mk(path = list("a", 1), conv = list(1, "a"), value = c(1, 2), nulls = c(1, 2)),
    long_path = mk(path = paste(rep("a", 5000), collapse = ">"), conv = 1, value = 1, nulls = 1),
    many_channels = mk(path = paste(paste0("c", 1:200), collapse = ">"), conv = 1, value = 1, nulls = 1)
  )
}

with_data <- function(frames, arg = "Data") {
  out <- list()
  for (nm in names(frames)) out[[paste0(arg, ":", nm)]] <- setNames(list(frames[[nm]]), arg)
  out
}

journeys_ok <- data.frame(path = c("a > b", "b > c", "a", "c > a > b"), conv = c(1, 0, 2, 1),
                          value = c(2, 0, 3, 1), nulls = c(1, 2, 0, 1))

# Files that stress the file readers.
bad_files <- function() {
  d <- tempfile("robustfiles")
  dir.create(d)
  w <- function(name, text) {
    f <- file.path(d, name)
    con <- file(f, "wb")
    writeBin(charToRaw(text), con)
    close(con)
    f
  }
  list(
    empty = w("empty.csv", ""),
    header_only = w("header.csv", "path;conv;value;nulls\n"),
    short_line = w("short.csv", "path;conv;value;nulls\na > b\n"),
    bad_count = w("badcount.csv", "path;conv;value;nulls\na;x;y;z\n"),
    neg_count = w("negcount.csv", "path;conv;value;nulls\na;-1;1;-2\n"),
    huge_count = w("hugecount.csv", "path;conv;value;nulls\na;99999999999999999999999;1;1\n"),
    sep_only = w("seponly.csv", "path;conv;value;nulls\n>>;1;1;1\n;1;1;1\n"),
    binary = w("binary.csv", "\001\002\003\n\377\376;;;\n"),
    directory = d,
    missing = file.path(d, "does-not-exist.csv")
  )
}

with_files <- function(files, flag = "flg_file", arg = "file") {
  out <- list()
  for (nm in names(files)) out[[paste0("file:", nm)]] <- setNames(list(1, files[[nm]]), c(flag, arg))
  out
}


local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", row_sep = ";", cha_sep = ">", verbose = 0, file_output = "",
               flg_write_nulls = 0, flg_write_paths = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(out_dir = list(file_output = tempdir()),
                  out_bad = list(file_output = file.path(tempdir(), "no", "such", "dir.csv")),
                  out_full = list(file_output = "/dev/full"),
                  in_null = list(flg_file = 1, file = "/dev/null"),
                  verbose1 = list(verbose = 1)))
  add_sweep("heuristic_models_R", base, extra)
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", var_null = "nulls", row_sep = ";", cha_sep = ">", type = 0,
               order = 1, nsim_start = 2000, max_step = 20, ncore = 1, nfold = 2, seed = 1,
               conv_par = 10, rate_step_sim = 1.5, verbose = 0, flg_out_tran_mtx = 1,
               file_output = "", flg_write_nulls = 0, flg_write_paths = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(order5 = list(order = 5), type4 = list(type = 4), ncore4 = list(ncore = 4),
                  out_full = list(file_output = "/dev/full"), out_dir = list(file_output = tempdir()),
                  type9 = list(type = 9), minus_type = list(type = -1),
                  tight_conv = list(conv_par = 0, nfold = 1, nsim_start = 100, rate_step_sim = 1),
                  slow_growth = list(conv_par = 0, rate_step_sim = 0.5),
                  one_journey = list(Data = data.frame(path = "a", conv = 1, value = 1, nulls = 0)),
                  no_nulls_index = list(type = 2, var_null = ""),
                  all_zero = list(Data = data.frame(path = c("a", "b"), conv = 0, value = 0, nulls = 0)),
                  step1 = list(max_step = 1, order = 3),
                  threads_folds = list(ncore = 3, nfold = 7, seed = NA),
                  threads_interrupted = list(ncore = 4, nsim_start = 2^32),
                  paths_out = list(flg_write_paths = 1, flg_write_nulls = 1,
                                   file_output = file.path(tempdir(), "markov-out.csv"))))
  add_sweep("markov_model_R", base, extra)
})

local({
  params <- data.frame(channel = c("a", "b", "(unknown)"), index = c(1, 2, 0.5))
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", Dparams = params, var_channel = "channel", var_param = "index",
               row_sep = ";", cha_sep = ">", flg_write_nulls = 0, flg_write_paths = 0,
               file_output = "", verbose = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(params0 = list(Dparams = params[0, ]),
                  params_mismatch = list(Dparams = list(channel = c("a", "b"), index = 1)),
                  params_na = list(Dparams = data.frame(channel = c(NA, "b"), index = c(NA, Inf))),
                  params_one = list(Dparams = data.frame(channel = "x", index = 1)),
                  params_chr = list(Dparams = data.frame(channel = "x", index = "y")),
                  out_full = list(file_output = "/dev/full"),
                  out_dir = list(file_output = tempdir())))
  add_sweep("new_paths_attribution_R", base, extra)
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", var_null = "nulls", row_sep = ";", cha_sep = ">",
               flg_simplified = 0, type_worth = 1, flg_write_nulls = 0, flg_write_paths = 0,
               file_output = "", verbose = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(simplified = list(flg_simplified = 1), worth9 = list(type_worth = 9),
                  worth2_no_nulls = list(type_worth = 2, Data = data.frame(path = "a", conv = 1, value = 1,
                                                                          nulls = 0)),
                  worth4_all_zero = list(type_worth = 4, Data = data.frame(path = c("a", "b"), conv = 0,
                                                                          value = 0, nulls = 0)),
                  paths_out = list(flg_write_paths = 1, flg_write_nulls = 1,
                                   file_output = file.path(tempdir(), "shapley-out.csv")),
                  out_full = list(file_output = "/dev/full"), out_dir = list(file_output = tempdir()),
                  worth_minus = list(type_worth = -1)))
  add_sweep("shapley_R", base, extra)
})

local({
  base <- list(Data = journeys_ok, var_path = "path", var_conv = "conv", var_value = "value",
               var_null = "nulls", row_sep = ";", cha_sep = ">", flg_write_nulls = 0,
               flg_write_paths = 0, file_output = "", verbose = 0)
  extra <- c(with_data(journey_frames()),
             list(out_full = list(file_output = "/dev/full"), out_dir = list(file_output = tempdir()),
                  separated = list(Data = data.frame(path = c("a", "b"), conv = c(5, 0), value = 1,
                                                     nulls = c(0, 5))),
                  one_channel = list(Data = data.frame(path = c("a", "a > a"), conv = 1, value = 1,
                                                       nulls = 1))))
  add_sweep("logistic_regression_R", base, extra)
  add_sweep("logistic_regression_fit_R", base, extra)
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_null = "nulls", row_sep = ";", max_order = 2, cha_sep = ">", roc_npt = 10,
               nfold = 2, perc_test = 0.5, seed = 1, perc_tol = 0.05, type = "auc-roc",
               verbose = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(prerec = list(type = "auc-prerec"), order_big = list(max_order = 40),
                  perc_test1 = list(perc_test = 1), perc_test_neg = list(perc_test = -3)))
  add_sweep("choose_order_R", base, extra)
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_null = "nulls", row_sep = ";", cha_sep = ">", max_order = 2, nsim_start = 2000,
               max_step = 20, ncore = 1, nfold = 2, seed = 1, conv_par = 10, rate_step_sim = 1.5,
               min_sample_index = 0, verbose = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(tight_conv = list(conv_par = 0, nfold = 1, nsim_start = 100, rate_step_sim = 1),
                  ncore3 = list(ncore = 3),
                  threads_interrupted = list(ncore = 4, nsim_start = 2^32),
                  min_sample_huge = list(min_sample_index = 1e300),
                  one_channel = list(Data = data.frame(path = c("a", "a > a"), conv = 1, nulls = 1))))
  add_sweep("next_best_action_train_R", base, extra)
})

local({
  base <- list(new_path = "a > b", sep = ">", v_index_from = c("0 1", "1", "0"),
               v_index_to = c(2, 0, 1), v_index_value = c(0.4, 0.6, 0.1), vchannels = c("a", "b", "c"))
  extra <- list(
    to_out_of_range = list(v_index_to = c(99, 0, 1)),
    to_huge = list(v_index_to = c(2^63, 0, 1)),
    from_bad = list(v_index_from = c("x y", "-1", "99999999999999999999")),
    from_empty = list(v_index_from = c("", " ", "  ")),
    lengths_differ = list(v_index_to = 1, v_index_value = numeric(0)),
    no_channels = list(vchannels = character(0)),
    only_sep = list(new_path = ">>>"),
    unknown_channel = list(new_path = "zz > yy"),
    long_path = list(new_path = paste(rep(c("a", "b"), 1e5), collapse = ">")))
  add_sweep("next_best_action_R", base, extra)
})

uam_base <- function() {
  times <- rep("2026-01-01", 4)
  list(flg_path = 0, tab_paths_id_path = c(1, 1, 2, 3), tab_paths_time_str = rep("t", 4),
       tab_paths_channel = c("A", "(conversion)", "B", "A"), vcosts = numeric(0),
       channel_conv_name = "(conversion)", order = 1, nsim_start = 2000, max_step = 20,
       ncore = 1, nfold = 2, seed = 7, conv_par = 10, rate_step_sim = 1.5, verbose = 0,
       vchannels_aggr = c("A", "B"), vtype_channels_aggr = c(1, 0),
       tab_aggr_time_from_str = times, tab_aggr_time_to_str = times,
       tab_aggr_conversions = c(1, 2, 3, 4), tab_aggr_touches = matrix(c(1, 2, 3, 4, 4, 3, 2, 1), 4),
       tab_ctr_time_from_str = times, tab_ctr_time_to_str = times,
       tab_ctr_ctr = matrix(0.1, 4, 2))
}

local({
  extra <- list(
    touches_wrong_shape = list(tab_aggr_touches = matrix(1, 2, 5)),
    ctr_wrong_shape = list(tab_ctr_ctr = matrix(0.1, 1, 1)),
    times_short = list(tab_aggr_time_from_str = "2026-01-01"),
    ids_unsorted = list(tab_paths_id_path = c(3, 1, 2, 1)),
    ids_huge = list(tab_paths_id_path = c(2^63, 1, 2, 3)),
    path_flag = list(flg_path = 1),
    types_bad = list(vtype_channels_aggr = c(7, -1)),
    costs_short = list(vcosts = 1))
  extra <- c(extra, list(
    channel_na = list(tab_paths_channel = c("A", NA, "B", "A")),
    no_conversions = list(tab_paths_channel = c("A", "A", "B", "A")),
    only_conversions = list(tab_paths_channel = rep("(conversion)", 4)),
    conv_name_empty = list(channel_conv_name = ""),
    ids_zero = list(tab_paths_id_path = c(0, 0, 0, 0)),
    aggr_nan = list(tab_aggr_conversions = c(NaN, -1, Inf, 2),
                    tab_aggr_touches = matrix(c(NaN, -1, Inf, 0, 0, 0, 0, 0), 4)),
    ctr_bad = list(tab_ctr_ctr = matrix(c(-1, 2, NaN, Inf), 4, 2)),
    aggr_dup = list(vchannels_aggr = c("A", "A")),
    types_na = list(vtype_channels_aggr = c(NA, 1)),
    times_bad = list(tab_aggr_time_from_str = c("x", "", NA, "2026-99-99")),
    path_flag_order3 = list(flg_path = 1, order = 3)))
  add_sweep("uam_R", uam_base(), extra)
})

local({
  base <- list(vattr_channels = c("A", "B"), vattr_conversions = c(5, 7), vattr_value = numeric(0),
               vcost_channels = c("A", "B"), vcost_value = c(60, 40), vindex_channels = c("A", "B"),
               vindex_value = c(3, 1, 0.5), total_budget_new = 1000, perc_reall = 0.2,
               min_perc_budget = 0.1)
  extra <- list(
    costs_short = list(vcost_value = 1),
    attr_short = list(vattr_conversions = 1),
    index_short = list(vindex_value = 1),
    zero_costs = list(vcost_value = c(0, 0)),
    nan_costs = list(vcost_value = c(NaN, Inf)),
    dup_channels = list(vattr_channels = c("A", "A")),
    with_value = list(vattr_value = c(10, 20)),
    negative_budget = list(total_budget_new = -5),
    nan_budget = list(total_budget_new = NaN),
    reall_over = list(perc_reall = 7, min_perc_budget = 3),
    no_costs = list(vcost_channels = character(0), vcost_value = numeric(0)),
    na_channels = list(vattr_channels = c(NA, "B"), vcost_channels = c("A", NA)))
  add_sweep("markov_budget_allocation_R", base, extra)
  add_sweep("uidx_R", list(vindex = c(1, 2, 3)), list(long = list(vindex = runif(1e5))))
})

local({
  base <- list(vy = c("a > b", "b", "a > c", "c"), vc = c(1, 0, 2, 1), vn = c(3, 2, 1, 4),
               var_path = "path", var_conv = "total_conversions", var_null = "total_null",
               cha_sep = ">", perc_reall = 0.1, perc_sample = 0.5, max_nsim = 1000,
               min_perc_traffic = 0.05, niter = 1, flg_extra_path = 0, markov_order = 1,
               seed = 3, verbose = 0)
  extra <- list(
    lengths_differ = list(vc = 1),
    empty_paths = list(vy = c("", ">", " ", ">>")),
    all_zero = list(vc = c(0, 0, 0, 0), vn = c(0, 0, 0, 0)),
    order_big = list(markov_order = 30))
  add_sweep("compare_models_mta_R", base, extra)
})

local({
  days <- sprintf("2026-01-%02d", 1:4)
  base <- list(tab_paths_id_path = c(1, 1, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8),
               tab_paths_time_str = paste(days[rep(1:4, each = 3)], "10:00:00"),
               tab_paths_channel = c("a", "(conversion)", "b", "a", "b", "a", "b", "(conversion)",
                                     "a", "a", "(conversion)", "b"),
               tab_ctr_day_str = days, tab_ctr_ctr = matrix(0.1, 4, 2),
               channel_conv_name = "(conversion)", perc_reall = 0.1, perc_sample = 0.5,
               max_nsim = 1000, min_perc_traffic = 0.05, niter = 1, flg_extra_path = 0,
               max_markov_order = 1, seed = 3, verbose = 0)
  extra <- list(
    bad_time = list(tab_paths_time_str = c("x", "", NA, "2026-13-45 99:99:99")),
    one_day = list(tab_paths_time_str = rep("2026-01-01 10:00:00", 12)),
    no_conversions = list(tab_paths_channel = rep("a", 12)),
    ctr_days_unknown = list(tab_ctr_day_str = sprintf("1999-01-%02d", 1:4)),
    ctr_wrong_shape = list(tab_ctr_ctr = matrix(0.1, 3, 7)))
  add_sweep("compare_models_mta_mmm_R", base, extra)
})

local({
  mta <- data.frame(path = c(1, 1, 2), channel = c("a", "b", "a"), attribution = c(0.5, 0.5, 1))
  base <- list(mta_path_attribution = mta,
               mmm_attribution = data.frame(channel = c("a", "b"), attribution = c(2, 1)),
               prior_weights_mta = data.frame(channel = c("a", "b"), mta_weight = c(0.5, 0.5)),
               max_steps = 5, conv_rate = 0.01, verbose = 0)
  extra <- list(
    mta0 = list(mta_path_attribution = mta[0, ]),
    mta_mismatch = list(mta_path_attribution = list(path = 1, channel = c("a", "b"), attribution = 1)),
    mmm_mismatch = list(mmm_attribution = list(channel = "a", attribution = c(1, 2, 3))),
    prior_mismatch = list(prior_weights_mta = list(channel = c("a", "b", "c"), mta_weight = 1)),
    prior_negative = list(prior_weights_mta = data.frame(channel = "a", mta_weight = -2)),
    unknown_channels = list(mmm_attribution = data.frame(channel = "zz", attribution = 1)),
    path_huge = list(mta_path_attribution = data.frame(path = 2^63, channel = "a", attribution = 1)),
    na_values = list(mta_path_attribution = data.frame(path = c(1, NA), channel = c(NA, "a"),
                                                       attribution = c(NaN, Inf))),
    conv_rate_bad = list(conv_rate = -1),
    conv_rate_one = list(conv_rate = 1),
    steps_zero = list(max_steps = 0),
    zero_attr = list(mmm_attribution = data.frame(channel = c("a", "b"), attribution = 0)))
  add_sweep("combine_mta_mmm_R", base, extra)
})

local({
  base <- list(vc = c(0, 12, 7, 20), vv = numeric(0),
               MT = matrix(c(0, 30, 15, 40, 0, 12, 0, 20, 0, 8, 9, 10), 4), cr = 0,
               vcr = numeric(0), vctr = c(0.6, 0.4, 0.5), mean_cj_length = 2,
               vadstock = c(0.2, 0, 0.1), nsim = 2, seed = 3, flg_roc = 1, flg_type_roc = 0,
               perc_test = 0.3, roc_npt = 10, type_worth = 0, verbose = 0)
  extra <- list(
    MT_wrong_rows = list(MT = matrix(1, 2, 3)),
    MT_wrong_cols = list(MT = matrix(1, 4, 7)),
    MT_zero = list(MT = matrix(0, 0, 0)),
    MT_negative = list(MT = matrix(-1, 4, 3)),
    MT_huge = list(MT = matrix(1e15, 4, 3)),
    vc_huge = list(vc = c(0, 1e12, 7, 20)),
    cr_small = list(cr = 1e-9, vcr = c(0.1, 0.1, 0.1)),
    roc_npt_big = list(roc_npt = 1e7),
    vctr_short = list(vctr = 0.5),
    vctr_bad = list(vctr = c(NaN, -1, 7)),
    vadstock_bad = list(vadstock = c(1, 2, -3)),
    vadstock_short = list(vadstock = 0.1),
    vv_short = list(vv = 1),
    vcr_short = list(vcr = 0.1, cr = 0.1),
    cr_one = list(cr = 1),
    cr_tiny = list(cr = 1e-300),
    cr_neg = list(cr = -0.5),
    mean_len_zero = list(mean_cj_length = 0),
    mean_len_huge = list(mean_cj_length = 1e300),
    worth4 = list(type_worth = 4),
    prerec = list(flg_type_roc = 1),
    type_roc_bad = list(flg_type_roc = 9),
    MT_na = list(MT = matrix(c(NA, 1:11), 4)),
    one_period = list(MT = matrix(5, 1, 3), vc = 2),
    one_channel = list(MT = matrix(5, 4, 1), vctr = 0.5, vadstock = 0),
    no_traffic = list(MT = matrix(0, 4, 3)),
    worth1_values = list(type_worth = 1, vv = c(1, 2, 3, 4)))
  add_sweep("hta_model_R", base, extra)
})

local({
  base <- list(Data = journeys_ok, var_path = "path", order = 2, sep = ">")
  extra <- c(with_data(journey_frames()),
             list(order_big = list(order = 1000), long_sep = list(sep = " > "), na_sep = list(sep = NA)))
  add_sweep("describe_complexity_R", base, extra)
})

local({
  key <- paste(rep("k", 32), collapse = "")
  add_sweep("encrypt_R", list(raw_data = "secret", key = key),
                  list(long = list(raw_data = strrep("x", 1e5)),
                       nul_like = list(raw_data = "\001\002\377")))
  add_sweep("decrypt_R", list(raw_data = strrep("0", 32), key = key),
                  list(odd = list(raw_data = "abc"), nonhex = list(raw_data = strrep("z", 32)),
                       long = list(raw_data = strrep("f", 64 * 100))))
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", var_null = "nulls", row_sep = ";", cha_sep = ">", type = 0,
               order = 1, nsim_start = 2000, max_step = 20, ncore = 1, nfold = 2, seed = 1,
               conv_par = 10, rate_step_sim = 1.5, verbose = 0, flg_out_tran_mtx = 1,
               file_output = "", flg_write_nulls = 0, flg_write_paths = 0, method = "exact",
               horizon = "step_limit")
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(unlimited = list(horizon = "unlimited"), simulation = list(method = "simulation"),
                  order5 = list(order = 5), type4 = list(type = 4), ncore4 = list(ncore = 4),
                  step1 = list(max_step = 1, order = 3), huge_steps = list(max_step = 2^40),
                  one_journey = list(Data = data.frame(path = "a", conv = 1, value = 1, nulls = 0)),
                  out_full = list(file_output = "/dev/full")))
  add_sweep("markov_model_method_R", base, extra)
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", row_sep = ";", cha_sep = ">", first_share = 0.4,
               last_share = 0.4, direct_channels = "b", verbose = 0)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(shares_over = list(first_share = 0.9, last_share = 0.9),
                  all_direct = list(direct_channels = c("a", "b", "c")),
                  na_direct = list(direct_channels = NA_character_)))
  add_sweep("rule_models_R", base, extra)
})

local({
  base <- list(paths = c("a>b", "b"), days = c("3>0", "1"), conversions = c(2, 1),
               value = c(10, 5), channel_sep = ">", half_life = 7)
  add_sweep("time_decay_R", base, list(
    days_short = list(days = c("3", "1")), days_bad = list(days = c("x>y", "-1")),
    days_huge = list(days = c("1e308>0", "1")), no_value = list(value = NULL),
    half_life_tiny = list(half_life = 1e-300), lengths_differ = list(conversions = 1)))
})

local({
  base <- list(flg_file = 0, file = "", Data = journeys_ok, var_path = "path", var_conv = "conv",
               var_value = "value", var_null = "nulls", row_sep = ";", cha_sep = ">")
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(no_nulls = list(var_null = ""), no_sep = list(cha_sep = "")))
  add_sweep("probabilistic_R", base, extra)
})

local({
  base <- list(paths = c("a>b", "b"), days = c("3>0", "1"), conversions = c(2, 1),
               value = c(10, 5), channel_sep = ">")
  add_sweep("additive_hazard_R", base, list(
    days_short = list(days = c("3", "1")), days_bad = list(days = c("x>y", "-1")),
    days_huge = list(days = c("1e308>0", "1e308")), days_fewer = list(days = "1"),
    no_value = list(value = NULL), lengths_differ = list(conversions = 1)))
})

local({
  base <- list(model = "linear", flg_file = 0, file = "", Data = journeys_ok, var_path = "path",
               var_conv = "conv", var_value = "value", var_null = "nulls", row_sep = ";",
               cha_sep = ">", settings = list(), nrep = 3, seed = 1, threads = 1)
  extra <- c(with_data(journey_frames()), with_files(bad_files()),
             list(markov = list(model = "markov", settings = list(nsim_start = 1000)),
                  exact = list(model = "markov", settings = list(exact = 1, order = 2)),
                  shapley = list(model = "shapley"), logistic = list(model = "logistic"),
                  position = list(model = "position", settings = list(first_share = 2)),
                  unknown = list(model = "nope"), threads = list(threads = 3, nrep = 7),
                  bad_settings = list(settings = list(order = "x", max_step = -1)),
                  huge_reps = list(nrep = 2^40, threads = 2)))
  add_sweep("bootstrap_R", base, extra)
})

local({
  base <- list(flg_file = 0L, file = "", user = c(0L, 0L, 1L), nusers = 2, time = c(0, 60, 30),
               channel = c(0L, 1L, -1L), levels = c("a", "b"), conversion = c(0, 1, 1),
               value = c(0, 5, 7), tie = NULL, vars = character(), field_sep = ";",
               channel_sep = ">", lookback_days = Inf, lookback_touches = Inf, transform = "none",
               times = 0L, grouped = 0L)
  f <- tempfile(fileext = ".csv")
  writeLines(c("u;t;c;v", "1;2024-01-01;a;0", "1;2024-01-02;;1", "2;x;b;0"), f)
  extra <- list(
    users_out_of_range = list(user = c(0L, 5L, -1L)), channel_out_of_range = list(channel = c(9L, 0L, 1L)),
    times_text = list(time = c("2024-01-01", "bad", "")), times_na = list(time = c(NA, NaN, Inf)),
    lengths_differ = list(conversion = 1), frequency_days = list(transform = "frequency", times = 1L),
    collapse = list(transform = "collapse", times = 1L), lookback_zero = list(lookback_days = 0),
    file = list(flg_file = 1L, file = f, vars = c("u", "t", "c", "v", "", "")),
    file_grouped = list(flg_file = 1L, file = f, vars = c("u", "t", "c", "v", "", ""), grouped = 1L),
    file_bad_vars = list(flg_file = 1L, file = f, vars = c("u", "t")),
    file_missing = list(flg_file = 1L, file = tempfile(), vars = c("u", "t", "c", "v", "", "")))
  add_sweep("journeys_from_events_R", base, extra)
})

local({
  base <- list(user = c("u", "u", "v"), time = c(0, 60, 30), time_scale = 1,
               channel = c("a", "b", NA), levels = NULL, conversion = c(0, 1, 1),
               value = c(0, 5, 7), tie = NULL, types_ok = c(1L, 1L, 1L), channel_sep = ">",
               lookback_days = Inf, lookback_touches = Inf, transform = "none", times = 0L)
  extra <- list(
    users_na = list(user = c(NA, "u", NA)), users_int = list(user = c(3L, NA, 3L)),
    users_double = list(user = c(1e300, -0, NaN)), users_factor = list(user = factor(c("x", "y", "x"))),
    users_list = list(user = list("u", 1, NULL)), users_short = list(user = "u"),
    times_text = list(time = c("2024-01-01", "bad", "")), times_na = list(time = c(NA, NaN, Inf)),
    times_huge = list(time = c(1e300, -1e300, 0), time_scale = 86400),
    channel_codes = list(channel = c(0L, 7L, -5L), levels = c("a", "b")),
    channel_factor = list(channel = factor(c("a", NA, "c"))),
    channel_sep_inside = list(channel = c("a>b", "b", "c")),
    conversions_bad = list(conversion = c(-1, 0.5, 1e20)), conversions_na = list(conversion = c(NA, 1, NA)),
    conversions_text = list(conversion = c("1", "x", "")), value_na = list(value = c(NA, NA, NA)),
    types_none = list(types_ok = c(0L, 0L, 0L)), types_short = list(types_ok = 1L),
    ties = list(tie = c("b", "a", NA)), lookback_zero = list(lookback_days = 0, lookback_touches = 0),
    lengths_differ = list(conversion = 1), frequency_days = list(transform = "frequency", times = 1L),
    collapse = list(transform = "collapse", times = 1L), transform_bad = list(transform = "x"))
  add_sweep("journeys_from_event_frame_R", base, extra)
})

# Entry points named on the command line run alone.
args <- commandArgs(trailingOnly = TRUE)
if (length(args)) sweeps <- Filter(function(s) s$entry %in% args, sweeps)
if (.Platform$OS.type == "windows") {
  cat("hostile sweep: needs sh with ulimit and timeout, skipped\n")
  quit(status = 0)
}
bad <- 0
for (s in sweeps) {
  t0 <- Sys.time()
  failed <- run_sweep(s$entry, s$base, s$extra, s$timeout, s$pending)
  cat(sprintf("%-30s %4d cases %5.1f s  %s\n", s$entry, max(0L, attr(failed, "cases")),
              as.numeric(difftime(Sys.time(), t0, units = "secs")),
              if (length(failed)) "CRASHED OR HUNG" else "ok"))
  if (length(s$pending)) cat("  pending (not run):", paste(s$pending, collapse = ", "), "\n")
  if (length(failed)) {
    cat(paste0("  ", failed, collapse = "\n"), "\n")
    bad <- bad + 1
  }
}
cat(sprintf("hostile sweep: %d entry points, %d failed\n", length(sweeps), bad))
quit(status = if (bad > 0) 1 else 0)
