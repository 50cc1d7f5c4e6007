# The analyst functions' arguments: refused with a message naming the
# argument (or column and rows), and the documented defaults, each checked
# on data where the default changes the result.

test_that("bad journeys and settings are refused with the column, row or argument named", {
  bad <- function(col, x) { b <- j5; b[[col]] <- x; b }
  h <- function(d, ...) heuristic_models(d, conversions = "conv", ...)
  f <- tempfile()
  hdr <- write_lines_raw("path;total\na;1\n")
  ev1 <- data.frame(u = 1, t = 1, ch = "a", cv = 0)
  damaged <- shapley(j5, conversions = "conv")
  damaged$channels$conversions <- as.character(damaged$channels$conversions)
  no_unknown <- shapley(j5, conversions = "conv", nulls = "n", kind = "odds")
  no_unknown$weights <- head(no_unknown$weights, -1)
  cases <- list(
    alist(h(bad("path", c("a", NA, "b", "a", NA))), "column 'path' (path): rows 2, 5 NA"),
    alist(h(bad("path", c("a", "b", " ", "a", ""))), "column 'path' (path): rows 3, 5 empty"),
    alist(h(bad("conv", c(1, NA, 0, 0, 0))), "column 'conv' (conversions): row 2 NA"),
    alist(h(bad("conv", c(1, 1, -1, 0, 0))), "column 'conv' (conversions): row 3 negative"),
    alist(h(bad("conv", c(1, 2.5, 0, 0, 0))), "column 'conv' (conversions): row 2 not a whole number (2.5)"),
    alist(h(bad("conv", letters[1:5])), "column 'conv' (conversions) must be numeric, not character"),
    alist(markov_model(bad("n", c(1, 1, 0.5, 0, 0)), conversions = "conv", nulls = "n"),
         "column 'n' (nulls): row 3 not a whole number (0.5)"),
    alist(h(j5[, -2]), "column 'conv' (conversions) not found in `data`; its columns are: path, n, val"),
    alist(h(list(path = "a", conv = 1:2)), "the columns of `data` have different lengths"),
    alist(h("a > b"), "`data` must be a data frame, not character"),
    alist(heuristic_models(), "give the journeys as `data` (a data frame) or as `file`"),
    alist(h(j5, file = hdr), "give the journeys either as `data` or as `file`, not both"),
    alist(heuristic_models(file = f), paste0("file '", f, "' (file) not found")),
    alist(heuristic_models(file = hdr), paste0("column 'conversions' (conversions) not found in ",
                                              "the header of file '", hdr, "'; its columns are: path, total")),
    alist(h(j5, channel_sep = ""), "`channel_sep` must be one single-byte character such as \">\" or \";\", not \"\""),
    alist(h(j5, field_sep = NA_character_), "`field_sep` must be a single string"),
    alist(h(j5, verbose = NA), "`verbose` must be TRUE or FALSE"),
    alist(h(j5, file_output = ""), "`file_output` must be a file name or NULL"),
    alist(markov_model(j5, conversions = "conv", kind = "odds"),
         "`nulls` must name the column of non-converting journeys: kind = \"odds\" needs null counts"),
    alist(shapley(j5, conversions = "conv", kind = "saturation"), "kind = \"saturation\" needs null counts"),
    alist(logistic_regression(j5, conversions = "conv"), "logistic regression needs null counts"),
    alist(choose_order(j5, conversions = "conv"), "choosing the order needs null counts"),
    alist(compare_models_mta(j5, conversions = "conv"), "the model comparison needs null counts"),
    alist(compare_models_mta(), "give the journeys as `data` (a data frame)"),
    alist(markov_model(j5, conversions = "conv", kind = 2), "`kind` must be one of \"removal\", "),
    alist(markov_model(j5, conversions = "conv", order = 1.5),
         "`order` must be a whole number from 1 to 10000"),
    alist(markov_model(j5, conversions = "conv", order = 1e6), "`order` must be a whole number from 1 to 10000"),
    alist(markov_model(j5, conversions = "conv", simulations = 5),
         "`simulations` (5) must be at least `folds` x `threads` (10 x 1)"),
    alist(markov_model(j5, conversions = "conv", simulations = 100, growth = 1.001),
         "`growth` (1.001) must be greater than 1 and grow `simulations` (100) by at least one simulation"),
    alist(markov_model(j5, conversions = "conv", tolerance = 0), "`tolerance` must be a positive number, not 0"),
    alist(markov_model(j5[0, ], conversions = "conv"),
         "there are no journeys (`data` has no rows): the Markov model needs at least one"),
    alist(shapley(data.frame(path = paste(letters, collapse = ">"), conversions = 1)),
         "use the simplified method (simplified = TRUE)"),
    alist(summary(damaged), "`object` is not an intact Touchlane model"),
    alist(new_paths_attribution(j5, c(a = 1, b = -2, c = 1, "(unknown)" = 0), conversions = "conv"),
         "`weights`: row 2 negative (channel 'b': -2); weights must be at least 0"),
    alist(new_paths_attribution(j5, no_unknown, conversions = "conv"),
         "`weights` needs exactly one weight named \"(unknown)\""),
    alist(attribution(j5, models = "markov", conversions = "conv", oder = 2),
         "setting `oder` not used by model \"markov\"; their settings: horizon, max_steps, method, order, simulations, threads"),
    alist(attribution(j5, models = c("first", "last"), conversions = "conv", halflife = 3, order = 2),
         "settings `halflife`, `order` not used by models \"first\", \"last\"; they take no settings"),
    alist(attribution(j5, models = "first", conversions = "conv", 2), "model settings in `...` must be named"),
    alist(attribution(transform(j5, conv = 0), models = c("first", "last", "linear"), conversions = "conv"),
         "the journeys have no conversions (column 'conv' is 0 throughout): nothing to attribute"),
    alist(h(j5, channel_sep = "\u2192"), "`channel_sep` must be one single-byte character such as \">\" or \";\", not \"\u2192\""),
    alist(h(j5, channel_sep = ">>"), "`channel_sep` must be one single-byte character"),
    alist(h(j5, field_sep = ";;"), "`field_sep` must be one single-byte character"),
    alist(next_best_action("a", structure(list(), class = "touchlane_nba"), channel_sep = ">>"),
         "`channel_sep` must be one single-byte character"),
    alist(journeys_sql("e", "u", "t", "ch", "cv", channel_sep = "\u2192"), "`channel_sep` must be one single-byte"),
    alist(journeys_sql(c("a", "b"), "u", "t", "ch", "cv"), "table must be the name of one table (a single string)"),
    alist(journeys_from_events(ev1, "u", "t", "ch", "cv", channel_sep = ">>"), "`channel_sep` must be one single-byte"),
    alist(journeys_from_events(ev1, "u", "t", "ch", "cv", lookback_days = c(1, 2)),
         "lookback_days must be a number >= 0 or Inf"),
    alist(journeys_from_events(transform(ev1, cv = factor(cv)), "u", "t", "ch", "cv"),
         "column \"cv\" (conversion) must be numeric or TRUE/FALSE, not factor"),
    alist(journeys_from_events(transform(ev1, v = factor(3)), "u", "t", "ch", "cv", value = "v"),
         "column \"v\" (value) must be numeric or TRUE/FALSE, not factor"),
    alist(markov_model(j5, conversions = "conv", simulations = 0),
         "`simulations` must be a whole number of at least 1"),
    alist(markov_model(j5, conversions = "conv", seed = -1), "`seed` must be a whole number from 0 to"),
    alist(markov_model(j5, conversions = "conv", growth = 0.5), "`growth` must be a number from 1 to Inf"),
    alist(markov_model(j5, conversions = "conv", method = "exakt"),
         "`method` must be one of \"simulation\", \"exact\""),
    alist(attribution(j5, models = "markov", conversions = "conv", method = "exact", horizon = "x"),
         "`horizon` must be one of \"step_limit\", \"unlimited\""),
    alist(attribution(j5, models = c("first", "nope"), conversions = "conv"),
         "`models`: unknown model \"nope\"; known models: "),
    alist(attribution(j5, models = character(0), conversions = "conv"),
         "`models` must name at least one model"),
    alist(attribution(j5, models = "position", conversions = "conv", position_shares = c(0.7, 0.4)),
         "`position_shares` must be two numbers c(first = , last = ), each at least 0, together at most 1"),
    alist(attribution(j5, models = "last_non_direct", conversions = "conv", direct_channels = NA),
         "`direct_channels` must be a character vector of channel names without NA"),
    alist(attribution(j5, models = "linear", conversions = "conv", bootstrap = 10, level = 1),
         "`level` must be a number between 0 and 1"),
    alist(attribution(j5, models = "logistic", conversions = "conv"), "model \"logistic\" needs null counts"),
    alist(attribution(j5, models = "time_decay", conversions = "conv"),
         "model \"time_decay\" needs a column \"days\""),
    alist(choose_order(j5, conversions = "conv", nulls = "n", curve = "auc"),
         "`curve` must be one of \"roc\", \"precision_recall\""),
    alist(choose_order(j5, conversions = "conv", nulls = "n", test_share = 2),
         "`test_share` must be a number from 0 to 1"),
    alist(next_best_action_train(j5, conversions = "conv", nulls = "n", max_order = 1),
         "`max_order` must be a whole number from 2 to 1000"),
    alist(next_best_action("a", list()), "`table` must be a next-best-action table"),
    alist(unmask_index("1"), "`vindex` must be numeric"),
    alist(hta_model(1:2, 1:4, ctr = 0.5), "`traffic` must be a numeric matrix"),
    alist(hta_model(1:2, cbind(a = 1:2), ctr = c(0.5, 0.5)),
         "`ctr` must be one number or one per channel (1)"),
    alist(uam(1, data.frame()), "`aggregated` must be a data frame"),
    alist(uam(data.frame(conversions = 1, A = 1), data.frame(A = 1)), "`aggregated` needs at least two periods"),
    alist(uam(data.frame(conversions = c(10, 14), A = c(100, 50)), data.frame(A = c(0.1, 0.1))),
         "the reward model found no step between periods"),
    alist(uam(data.frame(conversions = 1:2, A = 1), data.frame(B = 1)), "`ctr` has no column for channel 'A'"),
    alist(uam(data.frame(conversions = 1:2, A = 1), data.frame(A = 1:2), click_channels = "Z"),
         "`click_channels`: no channel 'Z'"),
    alist(budget_allocation(data.frame(channel = "a"), 10), "`model` must be a model object or a data frame"),
    alist(budget_allocation(data.frame(channel = "a", conversions = 1), 10, reallocate = 2),
         "`reallocate` must be a number from 0 to 1"),
    alist(budget_allocation(data.frame(channel = "a", conversions = 1), 10),
         "`weights` are needed: the model has none"),
    alist(budget_allocation(data.frame(channel = c("a", "b"), conversions = 1), 10, costs = c(a = 1)),
         "`costs`: no cost for channel 'b'"),
    alist(combine_mta_mmm(data.frame(journey = 1), c(a = 1)), "`touchpoints` must be a model or"),
    alist(journeys_from_events(data.frame(u = 1, t = 1, ch = "a", cv = 0), "u", "t", "chan", "cv"),
         "column \"chan\" (channel) not found in events"),
    alist(journeys_from_events(data.frame(u = 1, t = 1, ch = "a", cv = 0), "u", "t", "ch", "cv",
                              times = NA), "`times` must be TRUE or FALSE"),
    alist(journeys_sql("e", "u", "t", "ch", "cv", transform = "frequency", times = TRUE),
         "times = TRUE needs a transform that keeps touches, not \"frequency\""),
    alist(journeys_sql("e", "u", "t", "ch", "cv", lookback_touches = 0.5),
         "lookback_touches must be a whole number >= 1 or Inf"),
    alist(journeys_sql("e", "u", "t", "ch", "cv", dialect = "oracle"), "`dialect` must be one of"))
  for (k in cases) expect_error(eval(k[[1]]), eval(k[[2]]), fixed = TRUE)
})

test_that("the documented defaults are the ones used, on data where they matter", {
  d <- sample400()
  d$path2 <- rev(d$path)
  d$conv2 <- rev(d$conversions)
  ev <- data.frame(user = c(1, 1, 1, 1, 2, 2), time = c(0, 1, 2, 3, 0, 9) * 86400,
                   channel = c("a", "a", "b", NA, "b", "a"), conv = c(0, 0, 0, 1, 0, 0))
  tdj <- data.frame(path = c("a>b", "b>a"), conversions = c(1, 2), days = c("10>0", "3>0"))
  uev <- data.frame(id = c(1, 1, 2, 2, 3, 4), channel = c("A", "conversion", "B", "conversion",
                                                         "A", "B"))
  agg <- data.frame(conversions = c(10, 14, 12, 20), A = c(10, 30, 20, 40), B = c(5, 4, 6, 9))
  traffic <- cbind(a = c(0, 300, 150, 400), b = c(0, 120, 0, 200))
  lr <- logistic_regression(j5, conversions = "conv", nulls = "n")
  nba <- next_best_action_train(d, nulls = "nulls", max_order = 2, simulations = 1e4, seed = 1)
  plain <- function(x) { x <- fitted_part(x); x$native <- NULL; x$seed <- NULL; x }
  try_msg <- function(expr) tryCatch(expr, error = conditionMessage)
  # columns under other names than "value" and "nulls", which would be found by name
  dn <- transform(d, value2 = value, nulls2 = nulls, value = NULL, nulls = NULL)
  heur <- function(...) as.data.frame(heuristic_models(dn, ...), level = "touchpoint")
  mexact <- function(...) plain(markov_model(d, method = "exact", ...))
  msim <- function(...) plain(markov_model(d, seed = 1, method = "simulation", ...))
  mdef <- function(...) plain(markov_model(d, seed = 1, ...))
  attr1 <- function(...) as.data.frame(attribution(d, seed = 1, ...))
  co <- function(...) plain(choose_order(d, nulls = "nulls", seed = 1, ...))
  nbt <- function(...) plain(next_best_action_train(d, nulls = "nulls", simulations = 1e4, seed = 1, ...))
  budget <- function(...) budget_allocation(data.frame(channel = c("A", "B"), conversions = c(5, 7)),
                                            1000, weights = c(A = 3, B = 1, "(unknown)" = 0), ...)
  combine <- function(...) combine_mta_mmm(lr, c(a = 1, b = 5, c = 1), ...)
  hta <- function(...) plain(hta_model(c(0, 12, 7, 20), traffic, ctr = 0.5, seed = 3, ...))
  shap <- function(...) plain(shapley(d, nulls = "nulls", ...))
  jfe <- function(...) journeys_from_events(ev, "user", "time", "channel", "conv", ...)
  sql <- function(...) journeys_sql("e", "u", "t", "c", "v", ...)
  # function, argument, documented default, another value
  rows <- list(
    list(heur, "path", "path", "path2"), list(heur, "conversions", "conversions", "conv2"),
    list(heur, "value", NULL, "value2"), list(heur, "channel_sep", ">", "-"),
    list(heur, "write_nulls", FALSE, TRUE), list(heur, "write_paths", FALSE, TRUE),
    list(mexact, "kind", "removal", "odds", list(nulls = "nulls")),
    list(function(...) plain(markov_model(dn, method = "exact", ...)), "nulls", NULL, "nulls2"), list(mexact, "order", 1L, 2L),
    list(mexact, "horizon", "step_limit", "unlimited"), list(mexact, "max_steps", 0, 3),
    list(mdef, "method", "exact", "simulation"), list(msim, "simulations", 1e5, 2e4),
    list(msim, "folds", 10, 4, list(simulations = 200)),
    list(msim, "tolerance", 0.05, 0.5, list(simulations = 200)),
    list(msim, "growth", 1.5, 3, list(simulations = 200)),
    list(shap, "kind", "totals", "odds"), list(shap, "simplified", FALSE, TRUE, list(kind = "odds")),
    list(function(...) try_msg(plain(new_paths_attribution(j5, coef(lr), conversions = "conv", ...))),
         "masked", FALSE, TRUE),
    list(function(...) transition_matrix(d, ...), "order", 1L, 2L),
    list(attr1, "models", c("first", "last", "linear", "markov", "shapley", "logistic"), "markov",
         list(nulls = "nulls", simulations = 1e4)),
    list(attr1, "position_shares", c(first = 0.4, last = 0.4), c(first = 0.2, last = 0.2),
         list(models = "position")),
    list(attr1, "direct_channels", "direct", "email", list(models = "last_non_direct")),
    list(attr1, "wide", FALSE, TRUE, list(models = "first")),
    list(attr1, "bootstrap", 0, 3, list(models = "first")),
    list(attr1, "level", 0.9, 0.5, list(models = "first", bootstrap = 20)),
    list(function(...) as.data.frame(attribution(tdj, models = "time_decay", ...)), "half_life", 7, 2),
    list(co, "max_order", 10L, 3L), list(co, "curve", "roc", "precision_recall", list(max_order = 3)),
    list(co, "points", 100, 10, list(max_order = 3)), list(co, "folds", 10, 3, list(max_order = 3)),
    list(co, "test_share", 0.3, 0.6, list(max_order = 3)),
    list(nbt, "max_order", 3L, 2L), list(nbt, "min_sample", 1, 1e3, list(max_order = 2)),
    list(function(...) next_best_action("social > email", nba, ...), "channel_sep", ">", "-"),
    list(budget, "reallocate", 0.1, 0.3), list(budget, "min_share", 0.05, 0.2),
    list(combine, "mta_weight", 0.5, 0.2), list(combine, "max_steps", 100, 1),
    list(combine, "tolerance", 0.001, 0.9),
    list(hta, "mean_length", 2, 4), list(hta, "adstock", 0, 0.5), list(hta, "simulations", 10, 3),
    list(hta, "roc", "none", "roc"), list(hta, "test_share", 0.2, 0.6, list(roc = "roc")),
    list(hta, "points", 100, 10, list(roc = "roc")),
    list(function(...) plain(uam(agg, data.frame(A = rep(0.1, 4), B = 0.2), events = uev, seed = 1,
                                 simulations = 1e4, ...)), "click_channels", NULL, "A"),
    list(function(...) describe_complexity(d, ...), "order", 1L, 2L),
    list(function(...) try_msg(jfe(...)), "lookback_days", Inf, 1),
    list(jfe, "lookback_touches", Inf, 1), list(jfe, "transform", "none", "collapse"),
    list(jfe, "times", FALSE, TRUE), list(jfe, "channel_sep", ">", "|"),
    list(sql, "dialect", "sqlite", "postgres"), list(sql, "time_type", "timestamp", "seconds"),
    list(sql, "channel_sep", ">", "|"))
  for (r in rows) {
    fixed <- if (length(r) > 4) r[[5]] else list()
    set <- function(v) { a <- fixed; a[r[[2]]] <- list(v); a }
    got <- do.call(r[[1]], fixed)
    expect_identical(got, do.call(r[[1]], set(r[[3]])), info = r[[2]])
    expect_false(identical(got, do.call(r[[1]], set(r[[4]]))), info = r[[2]])
  }
  # the simulating functions draw a fresh seed when none is given
  m <- replicate(2, coef(markov_model(j5, conversions = "conv", nulls = "n", kind = "odds",
                                      simulations = 2000, folds = 1, method = "simulation")))
  expect_false(identical(m[, 1], m[, 2]))
})

test_that("every function's defaults are the ones its help page shows", {
  render <- function(x) {
    tag <- attr(x, "Rd_tag")
    if (identical(tag, "\\method")) return(paste0(render(x[[1]]), ".", render(x[[2]])))
    if (identical(tag, "\\dots")) return("...")
    if (is.list(x)) paste(vapply(x, render, ""), collapse = "") else paste(x, collapse = "")
  }
  usage <- unlist(lapply(tools::Rd_db("Touchlane"), function(rd) {
    u <- Filter(function(e) identical(attr(e, "Rd_tag"), "\\usage"), rd)
    if (length(u)) render(u[[1]])
  }))
  ns <- asNamespace("Touchlane")
  seen <- character(0)
  for (e in unlist(lapply(usage, function(u) as.list(parse(text = u))))) {
    fn <- as.character(e[[1]])
    args <- as.list(e)[-1]
    nm <- if (is.null(names(args))) rep("", length(args)) else names(args)
    doc <- setNames(lapply(seq_along(args), function(i) if (nzchar(nm[i])) args[[i]] else quote(expr = )),
                    ifelse(nzchar(nm), nm, vapply(args, deparse, "")))
    if (!length(doc)) doc <- list()
    expect_identical(doc, as.list(formals(get(fn, envir = ns))), info = fn)
    seen <- c(seen, fn)
  }
  # every function of the package's own (re-exported generics have their pages elsewhere)
  own <- Filter(function(f) identical(environment(get(f, envir = ns)), ns), getNamespaceExports(ns))
  expect_true(all(own %in% seen))
})
