# The native entry points as R sees them: the names and order of every
# result list, how arguments are converted on the way in, and the errors
# that conversion gives. What the models compute is tested in tests/cpp.

params <- data.frame(channel = c("a", "b", "c", "(unknown)"), index = mask(c(3, 1, 2, 1)))
days <- sprintf("2026-01-%02d", 1:4)
agg_times <- rep("2026-01-01", 4)

# Baseline arguments of every entry point, by their native names.
entry_args <- list(
  heuristic_models_R = list(flg_file = 0, file = "", Data = j5, var_path = "path",
    var_conv = "conv", var_value = "val", row_sep = ";", cha_sep = ">", verbose = 0,
    file_output = "", flg_write_nulls = 0, flg_write_paths = 0),
  markov_model_R = list(flg_file = 0, file = "", Data = j5, var_path = "path", var_conv = "conv",
    var_value = "val", var_null = "n", row_sep = ";", cha_sep = ">", type = 0, order = 1,
    nsim_start = 1e4, max_step = 0, ncore = 1, nfold = 5, seed = 1, conv_par = 0.05,
    rate_step_sim = 1.5, verbose = 0, flg_out_tran_mtx = 0, file_output = "",
    flg_write_nulls = 0, flg_write_paths = 0),
  new_paths_attribution_R = list(flg_file = 0, file = "", Data = j5, var_path = "path",
    var_conv = "conv", var_value = "val", Dparams = params, var_channel = "channel",
    var_param = "index", row_sep = ";", cha_sep = ">", flg_write_nulls = 0, flg_write_paths = 0,
    file_output = "", verbose = 0),
  shapley_R = list(flg_file = 0, file = "", Data = j5, var_path = "path", var_conv = "conv",
    var_value = "val", var_null = "n", row_sep = ";", cha_sep = ">", flg_simplified = 0,
    type_worth = 0, flg_write_nulls = 0, flg_write_paths = 0, file_output = "", verbose = 0),
  logistic_regression_R = list(Data = j5, var_path = "path", var_conv = "conv", var_value = "val",
    var_null = "n", row_sep = ";", cha_sep = ">", flg_write_nulls = 0, flg_write_paths = 0,
    file_output = "", verbose = 0),
  choose_order_R = list(flg_file = 0, file = "", Data = j5, var_path = "path", var_conv = "conv",
    var_null = "n", row_sep = ";", max_order = 2, cha_sep = ">", roc_npt = 10, nfold = 2,
    perc_test = 0.5, seed = 1, perc_tol = 0.05, type = "auc-roc", verbose = 0),
  next_best_action_train_R = list(flg_file = 0, file = "", Data = j5, var_path = "path",
    var_conv = "conv", var_null = "n", row_sep = ";", cha_sep = ">", max_order = 2,
    nsim_start = 1e4, max_step = 0, ncore = 1, nfold = 5, seed = 1, conv_par = 0.05,
    rate_step_sim = 1.5, min_sample_index = 0, verbose = 0),
  next_best_action_R = list(new_path = "a > b", sep = ">", v_index_from = c("0 1", "1"),
    v_index_to = c(2, 0), v_index_value = c(0.4, 0.6), vchannels = c("a", "b", "c")),
  uam_R = list(flg_path = 0, tab_paths_id_path = c(1, 1, 2, 3), tab_paths_time_str = rep("t", 4),
    tab_paths_channel = c("A", "(conversion)", "B", "A"), vcosts = numeric(0),
    channel_conv_name = "(conversion)", order = 1, nsim_start = 2000, max_step = 20, ncore = 1,
    nfold = 2, seed = 7, conv_par = 10, rate_step_sim = 1.5, verbose = 0,
    vchannels_aggr = c("A", "B"), vtype_channels_aggr = c(1, 0), tab_aggr_time_from_str = agg_times,
    tab_aggr_time_to_str = agg_times, tab_aggr_conversions = c(1, 2, 3, 4),
    tab_aggr_touches = matrix(c(1, 2, 3, 4, 4, 3, 2, 1), 4), tab_ctr_time_from_str = agg_times,
    tab_ctr_time_to_str = agg_times, tab_ctr_ctr = matrix(0.1, 4, 2)),
  markov_budget_allocation_R = list(vattr_channels = c("A", "B"), vattr_conversions = c(5, 7),
    vattr_value = numeric(0), vcost_channels = c("A", "B"), vcost_value = c(60, 40),
    vindex_channels = c("A", "B"), vindex_value = mask(c(3, 1, 0.5)), total_budget_new = 1000,
    perc_reall = 0.2, min_perc_budget = 0.1),
  uidx_R = list(vindex = c(1, 2, 3)),
  compare_models_mta_R = list(vy = c("a > b", "b", "a > c", "c", "b > c"), vc = c(1, 0, 2, 1, 1),
    vn = c(3, 2, 1, 4, 3), var_path = "path", var_conv = "total_conversions",
    var_null = "total_null", cha_sep = ">", perc_reall = 0.1, perc_sample = 0.5,
    max_nsim = 1000, min_perc_traffic = 0.05, niter = 1, flg_extra_path = 0, markov_order = 1,
    seed = 3, verbose = 0),
  compare_models_mta_mmm_R = list(tab_paths_id_path = c(1, 1, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8),
    tab_paths_time_str = paste(days[rep(1:4, each = 3)], "10:00:00"),
    tab_paths_channel = c("a", "(conversion)", "b", "a", "b", "a", "b", "(conversion)", "a", "a",
                          "(conversion)", "b"),
    tab_ctr_day_str = days, tab_ctr_ctr = matrix(0.1, 4, 2), channel_conv_name = "(conversion)",
    perc_reall = 0.1, perc_sample = 0.5, max_nsim = 1000, min_perc_traffic = 0.05, niter = 1,
    flg_extra_path = 0, max_markov_order = 1, seed = 3, verbose = 0),
  combine_mta_mmm_R = list(mta_path_attribution = data.frame(path = c(1, 1, 2),
      channel = c("a", "b", "a"), attribution = c(0.5, 0.5, 1)),
    mmm_attribution = data.frame(channel = c("a", "b"), attribution = c(2, 1)),
    prior_weights_mta = data.frame(channel = c("a", "b"), mta_weight = c(0.5, 0.5)),
    max_steps = 5, conv_rate = 0.01, verbose = 0),
  hta_model_R = list(vc = c(0, 12, 7, 20), vv = numeric(0),
    MT = matrix(c(0, 300, 150, 400, 0, 120, 0, 200, 0, 80, 90, 100), 4), cr = 0,
    vcr = numeric(0), vctr = c(0.6, 0.4, 0.5), mean_cj_length = 2, vadstock = c(0.2, 0, 0.1),
    nsim = 2, seed = 3, flg_roc = 0, flg_type_roc = 0, perc_test = 0.3, roc_npt = 10,
    type_worth = 0, verbose = 0),
  describe_complexity_R = list(Data = j5, var_path = "path", order = 2, sep = ">"),
  encrypt_R = list(raw_data = "secret", key = strrep("k", 32)),
  decrypt_R = list(raw_data = strrep("0", 32), key = strrep("k", 32)),
  rule_models_R = list(flg_file = 0, file = "", Data = j5, var_path = "path", var_conv = "conv",
    var_value = "val", row_sep = ";", cha_sep = ">", first_share = 0.4, last_share = 0.4,
    direct_channels = "c", verbose = 0),
  time_decay_R = list(paths = c("a>b", "b"), days = c("3>0", "1"), conversions = c(2, 1),
    value = c(10, 5), channel_sep = ">", half_life = 7),
  probabilistic_R = list(flg_file = 0, file = "", Data = j5, var_path = "path", var_conv = "conv",
    var_value = "val", var_null = "n", row_sep = ";", cha_sep = ">"),
  additive_hazard_R = list(paths = c("a>b", "b"), days = c("3>0", "1"), conversions = c(2, 1),
    value = c(10, 5), channel_sep = ">"),
  bootstrap_R = list(model = "linear", flg_file = 0, file = "", Data = j5, var_path = "path",
    var_conv = "conv", var_value = "val", var_null = "n", row_sep = ";", cha_sep = ">",
    settings = list(), nrep = 3, seed = 1, threads = 1),
  journeys_from_events_R = list(flg_file = 0L, file = "", user = c(0L, 0L, 1L), nusers = 2,
    time = c(0, 60, 30), channel = c(0L, 1L, -1L), levels = c("a", "b"), conversion = c(0, 1, 1),
    value = NULL, tie = NULL, vars = character(), field_sep = ";", channel_sep = ">",
    lookback_days = Inf, lookback_touches = Inf, transform = "none", times = 0L, grouped = 0L),
  journeys_from_event_frame_R = list(user = c("u", "u", "v"), time = c(0, 60, 30), time_scale = 1,
    channel = c("a", "b", NA), levels = NULL, conversion = c(0, 1, 1), value = NULL, tie = NULL,
    types_ok = c(1L, 1L, 1L), channel_sep = ">", lookback_days = Inf, lookback_touches = Inf,
    transform = "none", times = 0L)
)
entry_args$logistic_regression_fit_R <- entry_args$logistic_regression_R
entry_args$markov_model_method_R <- c(entry_args$markov_model_R,
                                      list(method = "exact", horizon = "step_limit"))

# Calls `entry` with its baseline arguments, some replaced.
ep <- function(entry, ...) {
  a <- entry_args[[entry]]
  over <- list(...)
  a[names(over)] <- over
  do.call(.Call, c(list(entry), unname(a), list(PACKAGE = "Touchlane")))
}

test_that("every entry point returns its elements under fixed names in a fixed order", {
  m14 <- c("vchannels", "vindex", "vpath_id", "vpath_name", "vpath_channel", "vpath_chpos",
           "vpath_attr_convs", "vpath_attr_value", "vattr_convs_loc", "vattr_convs_glob",
           "vattr_value_glob", "vchannel_from_mtx", "vchannel_to_mtx", "vtran_prob_mtx")
  n9 <- c("vchannels", "vindex", "vpath_id", "vpath_name", "vpath_channel", "vpath_chpos",
          "vpath_attr_convs", "vpath_attr_value", "vattr_convs_loc")
  cases <- list(
    list("heuristic_models_R", list(), c("vpath_id", "vpath_name", "vpath_channel",
         "vpath_chpos", "vpath_attr_convs_first", "vpath_attr_value_first",
         "vpath_attr_convs_last", "vpath_attr_value_last", "vpath_attr_convs_linear",
         "vpath_attr_value_linear")),
    list("markov_model_R", list(), m14),
    list("markov_model_method_R", list(), c(m14, "simulation")),
    list("new_paths_attribution_R", list(), n9),
    list("shapley_R", list(), c(n9, "vattr_convs_glob", "vattr_value_glob")),
    list("shapley_R", list(type_worth = 1), c(n9, "vattr_convs_glob", "vattr_value_glob")),
    list("logistic_regression_R", list(), n9),
    list("logistic_regression_fit_R", list(), c(n9, "coefficient_names", "coefficients", "vcov",
                                                "loglik", "nobs", "gradient_norm", "iterations")),
    list("choose_order_R", list(), c("order", "auc", "best_order")),
    list("next_best_action_train_R", list(),
         c("channels", "path_from", "channel_to", "conversion_rate")),
    list("next_best_action_R", list(), c("suggested_action", "suggested_action_conversion_rate",
                                         "channel", "conversion_rate")),
    list("uam_R", list(), c("vindex", "Mattr")),
    list("markov_budget_allocation_R", list(), c("channel", "suggested_budget")),
    list("compare_models_mta_R", list(), c("performance", "allocation", "model_names")),
    list("compare_models_mta_mmm_R", list(), c("performance", "allocation", "model_names")),
    list("combine_mta_mmm_R", list(), c("path", "channel", "attribution")),
    list("hta_model_R", list(), c("conversions", "roc_y", "roc_x", "auc")),
    list("hta_model_R", list(vv = c(0, 1, 2, 3)),
         c("conversions", "conversion_value", "roc_y", "roc_x", "auc")),
    list("describe_complexity_R", list(), c("npaths", "nchannels", "nchannels_sim",
                                            "group_channel_len")),
    list("rule_models_R", list(), c("vchannels", "vposition_convs", "vposition_value",
                                    "vlnd_convs", "vlnd_value")),
    list("time_decay_R", list(), c("channel", "conversions", "value")),
    list("probabilistic_R", list(), c("channel", "rate", "contribution", "conversions", "value",
                                      "pair_a", "pair_b", "pair_rate")),
    list("additive_hazard_R", list(), c("channel", "rate", "mean_days", "conversions", "value")),
    list("bootstrap_R", list(), c("vchannels", "vestimate", "vreps")),
    list("journeys_from_events_R", list(), c("path", "days", "conversions", "nulls", "value",
                                             "untouched", "untouched_rows", "untouched_value")),
    list("journeys_from_event_frame_R", list(), c("path", "days", "conversions", "nulls", "value",
                                                  "untouched", "untouched_rows", "untouched_value")),
    list("journeys_from_event_frame_R", list(user = c("u", NA, NA)), c("refused", "rows", "count")))
  for (k in cases) {
    r <- suppressWarnings(capture.output(res <- do.call(ep, c(list(k[[1]]), k[[2]]))))
    expect_identical(names(res), k[[3]], info = k[[1]])
  }
  expect_null(names(ep("uidx_R")))
})

test_that("every entry point is registered with its argument count, so a wrong count is an error", {
  reg <- getDLLRegisteredRoutines("Touchlane")$.Call
  expect_setequal(names(reg), names(entry_args))
  for (e in names(entry_args)) {
    expect_identical(reg[[e]]$numParameters, length(entry_args[[e]]), info = e)
    few <- unname(entry_args[[e]])[-1L]
    expect_error(do.call(.Call, c(list(e), few, list(PACKAGE = "Touchlane"))), "argument", info = e)
  }
  expect_error(.Call("shapley_R", 0, "", PACKAGE = "Touchlane"), "argument")
})

test_that("arguments are converted as R users expect", {
  # factors give their labels, numbers are truncated to counts, integers and
  # plain lists are accepted
  d <- list(path = factor(c("x", "y > z", " x ")), conv = c(2.9, 0, 1L))
  r <- ep("heuristic_models_R", Data = d, var_value = "", flg_write_nulls = 1)
  expect_identical(r$vpath_channel, c("x", "y", "z", "x"))
  expect_equal(r$vpath_attr_convs_first, c(2, 0, 0, 1))
  expect_equal(r$vpath_id, c(0, 1, 1, 2))
  expect_identical(ep("heuristic_models_R", flg_write_paths = TRUE, verbose = FALSE)$vpath_name[1],
                   "b > a")
  # the last of two file columns of the same name is read
  f <- write_lines_raw("path;conv;path\nx;1;a > b\n")
  r <- ep("heuristic_models_R", flg_file = 1, file = f, Data = list(), var_value = "")
  expect_identical(r$vpath_channel, c("a", "b"))
  expect_identical(heuristic_models(file = f, conversions = "conv")$channels$channel, c("a", "b"))
  # the first of two weight-table columns of the same name is read
  two <- data.frame(channel = c("a", "b", "c", "(unknown)"), index = mask(c(1, 1, 1, 1)),
                    index = mask(c(9, 1, 1, 1)), check.names = FALSE)
  r <- ep("new_paths_attribution_R", Dparams = two)
  expect_equal(r$vindex, c(1, 1, 1))
  expect_equal(r$vattr_convs_loc, ep("new_paths_attribution_R",
                                     Dparams = two[, -3])$vattr_convs_loc)
  # a seed of NA (or too large to be a seed) draws a fresh one; a seed repeats
  runs <- lapply(list(1, 1, NA, NA), function(s)
    ep("markov_model_R", seed = s, nsim_start = 500, nfold = 1, conv_par = 10)$vattr_convs_glob)
  expect_identical(runs[[1]], runs[[2]])
  expect_false(identical(runs[[3]], runs[[4]]))
})

test_that("arguments that cannot be converted are errors naming the argument", {
  neg <- transform(j5, conv = c(1, -1, 0, 0, 0))
  na <- transform(j5, conv = c(1, NA, 0, 0, 0))
  cases <- list(
    list("heuristic_models_R", list(verbose = c(1, 1)), "Expecting a single value: [extent=2]."),
    list("markov_model_R", list(var_null = "nul"), "Index out of bounds: [index='nul']."),
    list("heuristic_models_R", list(Data = neg), "column 'conv' (var_conv): row 2 is negative"),
    list("markov_model_R", list(Data = na), "column 'conv' (var_conv): row 2 is NA"),
    list("markov_model_R", list(seed = -1), "seed must be a non-negative whole number, not -1"),
    list("markov_model_R", list(order = -1), "order must be a non-negative whole number"),
    list("markov_model_R", list(order = NA), "order must not be NA"),
    list("new_paths_attribution_R", list(var_channel = "name"),
         "column 'name' (var_channel) not found in Dparams"),
    list("new_paths_attribution_R", list(Dparams = list(channel = c("a", "z"), index = 1)), "has 2 rows"),
    list("hta_model_R", list(MT = 1:4), "matrix"),
    list("next_best_action_R", list(v_index_to = c(-1, 0)), "v_index_to: row 1 is negative"),
    list("decrypt_R", list(key = "short"), "key must be at least 32 bytes long, not 5"),
    list("combine_mta_mmm_R", list(mta_path_attribution = data.frame(path = 1, channel = "a")),
         "attribution"))
  for (k in cases)
    expect_error(do.call(ep, c(list(k[[1]]), k[[2]])), k[[3]], fixed = TRUE, info = k[[1]])
})

test_that("the native console is R's: silent by default, progress at verbose 1", {
  cases <- list(
    list("heuristic_models_R", "**heuristic models estimation**"),
    list("markov_model_R", "**markov model estimation**"),
    list("choose_order_R", "**choose order**"),
    list("next_best_action_train_R", "**next best action training**"),
    list("hta_model_R", "Estimated global conversion rate = "),
    list("uam_R", "**UAM estimation**"),
    list("combine_mta_mmm_R", "Step: 0 | Convergence: "))
  for (k in cases) {
    expect_silent(ep(k[[1]]))
    out <- capture.output(ep(k[[1]], verbose = 1))
    expect_true(any(startsWith(out, k[[2]])), info = k[[1]])
  }
  # the comparison prints its sample line whatever verbose says
  expect_match(capture.output(ep("compare_models_mta_R")), "^Sample conversion rate: ",
               all = FALSE)
})

test_that("a NUL byte in a file is an error naming the line, and nothing leaks", {
  skip_if_not(file.exists("/proc/self/status"))
  rss <- function() as.numeric(gsub("\\D", "", grep("^VmRSS", readLines("/proc/self/status"),
                                                    value = TRUE)))
  f <- write_lines_raw(paste0("path;conv\n", strrep("a > b > c;1\n", 1e5), "x#y;1\n"))
  raw <- readBin(f, "raw", file.size(f))
  writeBin(replace(raw, length(raw) - 4, as.raw(0)), f)   # "x\0y;1"
  heur <- function() ep("heuristic_models_R", flg_file = 1, file = f, var_value = "")
  expect_error(heur(), "line 100002, column 1 of .*: it contains a NUL byte")
  before <- rss()
  for (k in 1:10) try(heur(), silent = TRUE)
  expect_lt(rss() - before, 100 * 1024)   # kB; each call once left about 30 MB behind
})
