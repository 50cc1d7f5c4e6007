# What an analyst sees: model objects and their methods, attribution() side
# by side, weights applied to new journeys, and the tools built on models.
d <- sample400()

test_that("every model function returns a model object with the same shape", {
  models <- list(
    heuristic = heuristic_models(d, value = "value"),
    markov = markov_model(d, value = "value", seed = 1, simulations = 1e4, method = "simulation"),
    markov_index = markov_model(d, nulls = "nulls", value = "value", kind = "conversion_rate",
                                method = "exact"),
    shapley = shapley(d, value = "value"),
    shapley_rate = shapley(d, nulls = "nulls", value = NULL, kind = "odds"),
    logistic = logistic_regression(d, nulls = "nulls", value = "value"),
    hta = hta_model(c(0, 12, 7, 20), cbind(a = c(0, 300, 150, 400), b = c(0, 120, 0, 200)),
                    ctr = 0.5, simulations = 2, seed = 3, roc = "roc"),
    uam = uam(data.frame(conversions = c(10, 14, 12, 20), A = c(10, 30, 20, 40), B = 5:8),
              data.frame(A = rep(0.1, 4), B = 0.1)))
  weighted <- c("markov", "markov_index", "shapley_rate", "logistic")
  for (nm in names(models)) {
    m <- models[[nm]]
    expect_s3_class(m, "touchlane_model")
    expect_named(m, c("model", "channels", "touchpoints", "weights", "details", "native", "call",
                      "seed"))
    expect_named(m$channels, c("channel", "conversions", "value", "share"))
    expect_identical(as.data.frame(m), m$channels)
    expect_equal(sum(m$channels$share), 1, info = nm)
    out <- capture.output(print(m))
    expect_match(out[1], paste0("^Touchlane model: ", m$model), info = nm)
    expect_match(out[length(out)], sprintf("^%d channels, .* conversions attributed$",
                                           nrow(m$channels)), info = nm)
    s <- capture.output(print(summary(m)))
    expect_match(s, "^Total conversions attributed: ", all = FALSE, info = nm)
    if (nm %in% weighted) {
      expect_identical(names(coef(m)), c(m$channels$channel, "(unknown)"), info = nm)
      expect_match(s, "^Weight of channels the model did not see: ", all = FALSE, info = nm)
    } else {
      expect_null(coef(m))
    }
    expect_plot(m)
  }
  # the touch-point level, where there is one
  tp <- as.data.frame(models$heuristic, level = "touchpoint")
  expect_identical(names(tp), c("journey", "channel", "position", "conversions", "value",
                                "conversions_first", "conversions_last", "value_first",
                                "value_last"))
  # each rule's native vector lands in its own column, and per channel in details$rules
  h5 <- heuristic_models(j5, conversions = "conv", write_nulls = TRUE)
  tp5 <- as.data.frame(h5, level = "touchpoint")
  last <- !duplicated(tp5$journey, fromLast = TRUE)
  expect_equal(tp5$conversions_first, ifelse(tp5$position == 1, j5$conv[tp5$journey], 0))
  expect_equal(tp5$conversions_last, ifelse(last, j5$conv[tp5$journey], 0))
  expect_equal(tp5$conversions, j5$conv[tp5$journey] / as.vector(table(tp5$journey)[tp5$journey]))
  rules <- h5$details$rules
  expect_identical(unique(rules$rule), c("first", "last", "linear"))
  for (k in c("first", "last"))
    expect_equal(rules$conversions[rules$rule == k],
                 as.vector(tapply(tp5[[paste0("conversions_", k)]], tp5$channel, sum)[h5$channels$channel]))
  expect_equal(rules$conversions[rules$rule == "linear"], h5$channels$conversions)
  expect_error(as.data.frame(models$markov, level = "touchpoint"),
               "model 'markov' has no per-touch-point rows")
  out <- tempfile()
  s <- shapley(d, nulls = "nulls", kind = "odds", file_output = out)
  expect_error(as.data.frame(s, level = "touchpoint"), paste0("were written to '", out, "'"),
               fixed = TRUE)
  expect_error(plot(models$heuristic, what = "weights"), "model 'heuristic' has no weights")
  expect_error(plot(models$shapley_rate, what = "value"), "fitted without a value column")
  expect_error(as.data.frame(models$heuristic, level = "x"), '`level` must be one of "channel"')
  # the summary counts the walks run: batch k runs its share of the growing
  # schedule (rounded down to whole walks per fold), not the schedule's total
  sm <- summary(models$markov)$summary
  sizes <- Reduce(function(s, k) c(floor(s[2] * 1.5) - s[1], floor(s[2] * 1.5)),
                  seq_len(sm$`Simulation batches` - 1), c(1e4, 1e4), accumulate = TRUE)
  expect_equal(sm$`Simulated journeys`, sum(vapply(sizes, function(s) floor(s[1] / 10) * 10, 0)))
  expect_lt(sm$`Final residual (%)`, 5)
  expect_silent(markov_model(d, value = NULL, nulls = NULL, seed = 1, simulations = 1e4,
                             method = "simulation"))
  # progress text comes as messages, which suppressMessages() silences
  expect_message(markov_model(d, seed = 1, simulations = 1e4, method = "simulation",
                              verbose = TRUE), "Number of simulations")
  expect_silent(suppressMessages(markov_model(d, seed = 1, simulations = 1e4,
                                              method = "simulation", verbose = TRUE)))
})

test_that("predict on the training journeys repeats the model's touch-point attribution", {
  models <- list(markov_model(d, nulls = "nulls", value = "value", kind = "conversion_rate",
                              seed = 1, simulations = 2e4),
                 shapley(d, nulls = "nulls", value = "value", kind = "odds"),
                 logistic_regression(d, nulls = "nulls", value = "value"))
  for (m in models) {
    own <- as.data.frame(m, level = "touchpoint")
    expect_equal(predict(m, d, value = "value", level = "touchpoint"), own, tolerance = 1e-9)
    expect_equal(predict(m, d, value = "value"), m$channels, tolerance = 1e-9)
    expect_equal(unmask_index(m$native$vindex), unname(coef(m)))
    masked <- setNames(m$native$vindex, c(m$native$vchannels, "x"))
    expect_equal(new_paths_attribution(d, masked, masked = TRUE)$channels$conversions,
                 m$channels$conversions, tolerance = 1e-9)
    tab <- data.frame(channel = names(coef(m)), weight = coef(m))
    expect_equal(new_paths_attribution(d, tab, value = "value")$channels, m$channels,
                 tolerance = 1e-9)
  }
  # a file of journeys, as for the model functions
  expect_equal(predict(models[[3]], file = write_journeys(d), value = "value"),
               models[[3]]$channels, tolerance = 1e-9)
})

test_that("weights in the wrong form are refused instead of silently misread", {
  lr <- logistic_regression(j5, conversions = "conv", nulls = "n")
  w <- coef(lr)
  npa <- function(w, ...) new_paths_attribution(j5, w, conversions = "conv", ...)
  expect_error(npa(w, masked = TRUE),
               "`weights` was already unmasked (rows 1, 2, 3 and 1 more below the mask)", fixed = TRUE)
  expect_error(npa(lr$native$vindex), "named numeric vector")
  expect_error(npa(setNames(lr$native$vindex, c(letters[1:3], "u"))), "looks masked")
  expect_error(npa(w[-4]), 'exactly one weight named "(unknown)"', fixed = TRUE)
  expect_error(npa(c(a = NA, "(unknown)" = 1)), "`weights`: row 1 NA")
  expect_error(npa(data.frame(channel = "a", w = 1)), "column 'weight' not found")
  expect_error(npa(heuristic_models(j5, conversions = "conv")), "model 'heuristic' has no weights")
  expect_error(new_paths_attribution(j5), "`weights` must be given")
  expect_error(predict(heuristic_models(j5, conversions = "conv"), j5),
               "model 'heuristic' has no weights")
  # a channel the weights do not list takes the unknown-channel weight
  p <- new_paths_attribution(data.frame(path = "a > z", conv = 3), c(a = 1, "(unknown)" = 2),
                             conversions = "conv")
  expect_equal(p$channels$conversions, c(1, 2))
  expect_error(new_paths_attribution(data.frame(path = c("a", "z > y"), conv = 3),
                                     c(a = 1, "(unknown)" = 0), conversions = "conv"),
               "every channel of the journeys in row 2 has weight 0")
})

test_that("attribution() lines the models up channel by channel", {
  a <- attribution(d, value = "value", nulls = "nulls", seed = 2, simulations = 2e4)
  expect_s3_class(a, "touchlane_attribution")
  expect_named(a, c("channel", "model", "conversions", "value", "share"))
  expect_identical(unique(a$model), c("first", "last", "linear", "markov", "shapley", "logistic"))
  expect_equal(as.vector(tapply(a$conversions, a$model, sum)), rep(sum(d$conversions), 6))
  expect_equal(as.vector(tapply(a$value, a$model, sum)), rep(sum(d$value), 6))
  chans <- split(a$channel, a$model)
  for (m in chans) expect_identical(m, chans[[1]])
  # most credited on average first
  avg <- tapply(a$conversions, a$channel, mean)[chans[[1]]]
  expect_identical(order(-avg), seq_along(avg))
  out <- capture.output(print(a))
  expect_identical(out[1], "Conversions per channel and model")
  # a file gives the same; the wide form has a column per model
  w <- attribution(file = write_journeys(d), models = c("first", "markov", "logistic"),
                   nulls = "nulls", seed = 2, simulations = 2e4, value = "value", wide = TRUE)
  expect_named(w, c("channel", "first", "markov", "logistic", "value_first", "value_markov",
                    "value_logistic"))
  for (m in c("markov", "logistic"))
    expect_equal(w[[m]], a$conversions[a$model == m][match(w$channel, chans[[1]])])
  # Markov settings pass through
  ex <- markov_model(d, nulls = "nulls", method = "exact", order = 2)
  ax <- attribution(d, models = "markov", method = "exact", order = 2, nulls = "nulls")
  expect_equal(as.vector(ax$conversions),
               as.vector(ex$channels$conversions[match(ax$channel, ex$channels$channel)]))
  # bootstrap intervals: seeded, the same on any number of threads, drawn as error bars
  b1 <- attribution(d, models = c("linear", "markov"), nulls = "nulls", value = NULL,
                    bootstrap = 20, level = 0.8, seed = 3, threads = 2)
  b2 <- attribution(d, models = c("linear", "markov"), nulls = "nulls", value = NULL,
                    bootstrap = 20, level = 0.8, seed = 3)
  expect_named(b1, c("channel", "model", "conversions", "value", "share", "lower", "upper"))
  expect_identical(as.data.frame(b1), as.data.frame(b2))
  expect_identical(confint(b1), confint(b2))
  expect_true(all(b1$lower <= b1$upper))
  expect_warning(bt <- attribution(transform(d, days = gsub("[^>]+", "0", d$path)), models = c("first", "time_decay"),
                                   bootstrap = 2, seed = 1), 'no bootstrap for model "time_decay"')
  expect_true(all(is.na(bt$lower[bt$model == "time_decay"])))
  for (what in c("conversions", "share")) expect_plot(b1, what = what)
  expect_error(plot(b1, what = "value"), "the attribution has no value column")
  # shares above 1 by rounding leave the middle touch nothing, not a negative share
  p <- attribution(data.frame(path = "a>b>c", conversions = 1), models = "position",
                   position_shares = c(first = 0.5, last = 0.5 + 1e-13))
  expect_identical(p$conversions[p$channel == "b"], 0)
})

test_that("the tools around the models speak in channel names", {
  tm <- transition_matrix(j5, conversions = "conv", nulls = "n")
  expect_named(tm, c("from", "to", "probability"))
  expect_true(all(c("(start)", "b", "c") %in% tm$from) && "(conversion)" %in% tm$to)
  expect_true("c > b" %in% transition_matrix(j5, conversions = "conv", order = 2)$from)
  m <- markov_model(j5, conversions = "conv", nulls = "n", method = "exact",
                    transition_matrix = TRUE)
  expect_identical(m$details$transitions, tm)
  co <- choose_order(d, nulls = "nulls", max_order = 3, folds = 3, seed = 1)
  expect_named(co$areas, c("order", "area"))
  expect_equal(co$areas$order, 1:3)
  expect_true(co$suggested_order %in% c(1:3, NA))
  expect_match(capture.output(print(co))[1], "^Markov order by hold-out ROC area")
  nba <- next_best_action_train(d, nulls = "nulls", max_order = 2, simulations = 5000, seed = 1)
  expect_named(nba$table, c("history", "next", "conversion_rate", "order"))
  expect_true(all(nba$table$order == 2))
  expect_true(all(c(nba$table$history, nba$table[["next"]]) %in% nba$channels))
  paths <- c("social > email", "display", "email > paid search")
  p <- predict(nba, data.frame(path = paths))
  rates <- attr(p, "rates")
  expect_identical(dimnames(rates), list(paths, nba$channels))
  expect_equal(p$conversion_rate, unname(apply(rates, 1, max)))
  expect_identical(p[["next"]][2], nba$channels[which.max(rates[2, ])])
  expect_error(next_best_action(c("a", NA), nba), "`paths`: row 2 NA")
  # the native comparison prints every round; the R function only when asked
  cmp <- expect_silent(compare_models_mta(d, nulls = "nulls", iterations = 2, seed = 1,
                                          max_simulations = 5000, order = 2))
  expect_identical(names(dimnames(cmp$performance)), c("iteration", "model"))
  expect_identical(colnames(cmp$performance),
                   c("original", "no_reallocation", "first_touch", "last_touch", "linear_touch",
                     "shapley", "logistic_regression", "markov_model_order_1",
                     "markov_model_order_2"))
  expect_setequal(rownames(cmp$allocation), nba$channels)
  expect_named(cmp$summary, c("model", "conversion_rate", "sd", "gain"))
  expect_equal(cmp$summary$gain[2], 0)
  expect_match(cmp$lines, "^Sample conversion rate: ", all = FALSE)
  expect_message(compare_models_mta(d, nulls = "nulls", iterations = 1, seed = 1,
                                    max_simulations = 5000, verbose = TRUE), "Iter: 1 / 1")
  # the worked example: 70% follows costs, 10% equally, 20% by the weights 3 : 1
  b <- budget_allocation(data.frame(channel = c("A", "B"), conversions = c(5, 7)), 1000,
                         costs = data.frame(channel = c("B", "A"), cost = c(40, 60)),
                         weights = c(A = 3, B = 1, "(unknown)" = 0.5), reallocate = 0.2,
                         min_share = 0.1)
  expect_s3_class(b, "touchlane_budget")
  expect_equal(b$budget, c(620, 380))
  expect_equal(b$current, c(600, 400))
  # with values and costs the return is value per cost: no weights needed
  bv <- budget_allocation(data.frame(channel = c("A", "B"), conversions = c(5, 7), value = c(50, 7)),
                          1000, costs = c(A = 60, B = 40), reallocate = 0.2, min_share = 0.1)
  expect_equal(sum(bv$budget), 1000)
  mk <- markov_model(d, seed = 1, simulations = 5000)
  for (o in list(co, nba, cmp, budget_allocation(mk, 1e4))) expect_plot(o)
})

test_that("media-mix tools return named per-period and per-journey tables", {
  agg <- data.frame(week = 1:4, conversions = c(10, 14, 12, 20), A = c(10, 30, 20, 40),
                    B = c(5, 4, 6, 9), C = c(3, 4, 2, 5))
  u <- uam(agg, data.frame(C = 0.1, B = rep(0.1, 4), A = 0.1), period = "week")
  expect_identical(dimnames(u$details$periods), list(period = as.character(1:4),
                                                     channel = c("A", "B", "C")))
  expect_equal(unname(rowSums(u$details$periods)), agg$conversions)
  expect_named(u$details$impression_weights, c("A", "B", "C"))
  ev <- data.frame(id = c(1, 1, 2, 2, 3, 4), channel = c("A", "conversion", "B", "conversion",
                                                        "A", "B"))
  ue <- uam(agg, data.frame(A = rep(0.1, 4), B = 0.1, C = 0.1), period = "week", events = ev,
            seed = 1, simulations = 2e4)
  expect_identical(ue$details$label, "reward model and Markov model on journeys")
  lr <- logistic_regression(j5, conversions = "conv", nulls = "n")
  own <- as.data.frame(lr, level = "touchpoint")
  out <- combine_mta_mmm(lr, c(a = 1, b = 5, c = 1), mta_weight = 0.2)
  expect_named(out, c("journey", "channel", "attribution"))
  expect_equal(combine_mta_mmm(lr, data.frame(channel = c("a", "b", "c"), attribution = c(1, 5, 1)),
                               mta_weight = c(a = 1, b = 1, c = 1))$attribution, own$conversions)
  h <- hta_model(c(0, 12, 7, 20), cbind(a = c(0, 300, 150, 400), b = c(0, 120, 0, 200)),
                 value = c(0, 120, 70, 200), ctr = c(b = 0.4, a = 0.6), simulations = 2, seed = 3)
  expect_identical(dimnames(h$details$periods), list(period = as.character(1:4),
                                                     channel = c("a", "b")))
  # per-channel arguments are matched by name
  expect_equal(fitted_part(h),
               fitted_part(hta_model(c(0, 12, 7, 20), cbind(a = c(0, 300, 150, 400),
                                                            b = c(0, 120, 0, 200)),
                                     value = c(0, 120, 70, 200), ctr = c(0.6, 0.4),
                                     simulations = 2, seed = 3)))
})

test_that("the media-mix comparison, text and complexity functions vectorise and name", {
  set.seed(1)
  ev <- do.call(rbind, lapply(1:150, function(i) {
    k <- sample(1:3, 1)
    t0 <- as.POSIXct("2024-01-01", tz = "UTC") + runif(1, 0, 8 * 86400)
    ch <- c(sample(c("search", "social", "email"), k, TRUE), if (runif(1) < 0.3) "conversion")
    data.frame(id = i, time = t0 + 60 * seq_along(ch), channel = ch)
  }))
  ctr <- data.frame(day = format(as.Date("2024-01-01") + 0:9), email = 0.03, search = 0.04,
                    social = 0.02)
  cmp <- compare_models_mta_mmm(ev, ctr, iterations = 2, sample_share = 0.5, seed = 1,
                                max_simulations = 5000)
  expect_s3_class(cmp, "touchlane_comparison")
  expect_identical(rownames(cmp$allocation), unique(ev$channel[ev$channel != "conversion"]))
  expect_true("reward" %in% colnames(cmp$performance))
  expect_match(capture.output(print(cmp))[1], "^Model comparison over 2 rounds")
  expect_error(compare_models_mta_mmm(ev, ctr[, 1:3]), "`ctr` has no column for channel 'social'")
  key <- strrep("k", 32)
  enc <- encrypt_text(c("display > search", "", "a"), key)
  expect_length(enc, 3)
  expect_null(names(enc))
  expect_identical(decrypt_text(enc, key), c("display > search", "", "a"))
  cafe <- "caf\u00e9"   # the same cipher text from either encoding, UTF-8 back
  expect_identical(encrypt_text(iconv(cafe, "UTF-8", "latin1"), key), encrypt_text(cafe, key))
  expect_identical(decrypt_text(encrypt_text(cafe, key), key), cafe)
  expect_error(encrypt_text("x", c(key, key)), "`key` must be a single string")
  cx <- describe_complexity(data.frame(path = c("a > b", "c", "b > a")), order = 2)
  expect_named(cx, c("journeys", "channels", "states", "group_states"))
  expect_equal(cx$journeys, 3)
})

test_that("logistic-regression indices agree with R's glm on well-conditioned journeys", {
  set.seed(7)
  ch <- LETTERS[1:5]
  beta <- c(-1.2, 0.8, -0.5, 0.3, 1.1, -0.9)
  X <- matrix(0, 400, 5, dimnames = list(NULL, ch))
  paths <- character(400)
  for (i in 1:400) {
    s <- sample(ch, sample(1:4, 1), replace = TRUE)
    paths[i] <- paste(s, collapse = " > ")
    X[i, ] <- tabulate(match(s, ch), 5)
  }
  tot <- sample(20:60, 400, replace = TRUE)
  conv <- rbinom(400, tot, plogis(beta[1] + X %*% beta[-1]))
  lr <- logistic_regression(data.frame(path = paths, conversions = conv, nulls = tot - conv),
                            nulls = "nulls")
  g <- glm(cbind(conv, tot - conv) ~ X, family = binomial)
  want <- coef(g)[1] + setNames(coef(g)[-1], ch)
  w <- coef(lr)
  # glm's standard errors here are about 0.03; the fit comes within 1e-6 of
  # the optimum, so 1e-3 is a wide margin still far below the sampling error
  expect_equal(unname(log(w[lr$channels$channel])), unname(want[lr$channels$channel]),
               tolerance = 1e-3, scale = 1)
  touched <- colSums((X[, lr$channels$channel] > 0) * tot)
  expect_equal(unname(w[["(unknown)"]]), sum(touched * w[lr$channels$channel]) / sum(tot),
               tolerance = 1e-9)
})

test_that("rows sent to a file leave the channel totals, and a repeated file column means its last", {
  out <- tempfile()
  h <- heuristic_models(j5, conversions = "conv", value = "val", file_output = out)
  expect_equal(coef(h), coef(heuristic_models(j5, conversions = "conv", value = "val")))
  expect_null(h$touchpoints)
  expect_equal(nrow(utils::read.table(out, header = TRUE, sep = ";")), 2 + 2 + 1 + 3)   # converting touches
  # logistic regression reads files in R; the native reader takes the last
  # of two columns of one name, so must R
  f <- write_lines_raw(paste0("path;conv;n;path\n",
                              paste(c("x;2;1;b > a", "x;0;3;c", "x;1;1;a > c", "x;0;2;b"),
                                    collapse = "\n"), "\n"))
  d <- data.frame(path = c("b > a", "c", "a > c", "b"), conv = c(2, 0, 1, 0), n = c(1, 3, 1, 2))
  expect_equal(coef(logistic_regression(file = f, conversions = "conv", nulls = "n", seed = 1)),
               coef(logistic_regression(d, conversions = "conv", nulls = "n", seed = 1)))
})

test_that("bootstrap bounds are the level's quantiles of each channel's own replicates", {
  # first appearance (z, a, b) differs from the table's order (a first)
  j <- data.frame(path = c("z > a", "a", "b > a", "z"), conv = c(1, 5, 2, 1), stringsAsFactors = FALSE)
  for (m in c("linear", "first")) {
    a <- attribution(j, models = m, conversions = "conv", bootstrap = 40, level = 0.6, seed = 4)
    r <- tl_call("bootstrap_R", m, 0, "", j, "path", "conv", "", "", ";", ">", list(), 40,
                 Touchlane:::as_seed(4), 1)
    expect_false(identical(a$channel, r$vchannels))
    at <- match(a$channel, r$vchannels)
    q <- function(p) apply(r$vreps[at, , drop = FALSE], 1, stats::quantile, probs = p, names = FALSE)
    expect_equal(a$lower, q(0.2), info = m)
    expect_equal(a$upper, q(0.8), info = m)
    expect_true(all(a$lower < a$upper), info = m)   # every channel's replicates vary here
  }
})

test_that("each model's shares sum to 1 and a channel it gives nothing shows 0", {
  # "d" only in a journey without conversions: the rules list it, the heuristics do not
  j <- data.frame(path = c("a > b > c", "a > c", "c", "d > a"), conversions = c(2, 1, 1, 0),
                  value = c(20, 10, 5, 0))
  a <- attribution(j, models = c("first", "last", "linear", "position"), value = "value")
  expect_null(dim(a$share))   # plain columns
  for (m in unique(a$model)) {
    x <- a[a$model == m, ]
    expect_false(anyNA(x[, c("conversions", "value", "share")]), info = m)
    expect_equal(sum(x$share), 1, info = m)
    expect_equal(x$share, x$conversions / 4, info = m)
  }
  for (x in list(a[a$channel == "b" & a$model %in% c("first", "last"), ], a[a$channel == "d", ]))
    expect_identical(unlist(x[, c("conversions", "value", "share")], use.names = FALSE),
                     rep(0, 3 * nrow(x)))
})

# Hold-out areas, computed from the definition on the expected test counts
# (each state's training rate is its share of conversions): ROC as the
# chance that a conversion outranks a null (ties half), precision-recall by
# trapezoids from recall 1 down to 0 over the thresholds 1/points .. 1.
test_that("choose_order measures the ROC or the precision-recall curve as asked", {
  conv <- c(30000, 5000)
  null <- c(10000, 80000)
  p <- conv / (conv + null)
  pc <- conv / sum(conv)
  pn <- null / sum(null)
  roc <- sum(outer(pc, pn) * (outer(p, p, ">") + outer(p, p, "==") / 2))
  # points: everything positive, only "a" (the higher rate), nothing
  recall <- c(1, 1, pc[1], 0)
  precision <- c(0, sum(conv) / sum(conv + null), p[1], 1)
  pr <- sum(-diff(recall) * (precision[-1] + precision[-4]) / 2)
  j <- data.frame(path = c("a", "b"), conversions = conv, nulls = null)
  for (curve in c("roc", "precision_recall")) {
    got <- choose_order(j, nulls = "nulls", max_order = 1, curve = curve, folds = 3, seed = 1)
    want <- if (curve == "roc") roc else pr
    expect_lt(abs(got$areas$area - want), 0.01)
  }
  expect_gt(abs(roc - pr), 0.04)
})
