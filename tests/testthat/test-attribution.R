# What an analyst sees: journey checks, attribution() side by side, model objects.
d <- journeys_sample()[1:400, ]
j5 <- data.frame(path = c("b > a", "c > a", "b > c", "a", "c > b > a"), conv = c(2, 1, 0, 3, 1),
                 n = c(1, 1, 2, 4, 1), val = c(20, 5, 0, 30, 12))

test_that("bad journeys and settings are refused with the column, row or argument named", {
  bad <- function(col, x) { b <- j5; b[[col]] <- x; b }
  cases <- list(
    list(bad("path", c("a", NA, "b", "a", NA)), "'path' \\(path\\): rows 2, 5 NA"),
    list(bad("path", c("a", "b", " ", "a", "")), "'path' \\(path\\): rows 3, 5 empty"),
    list(bad("conv", c(1, NA, 0, 0, 0)), "'conv' \\(conversions\\): row 2 NA"),
    list(bad("conv", c(1, 1, -1, 0, 0)), "'conv' \\(conversions\\): row 3 negative"),
    list(bad("conv", c(1, 2.5, 0, 0, 0)), "row 2 not a whole number \\(2.5\\)"),
    list(bad("n", c(1, 1, 0.5, 0, 0)), "column 'n' \\(nulls\\): row 3 not a whole number"),
    list(bad("conv", letters[1:5]), "column 'conv' \\(conversions\\) must be numeric"),
    list(j5[, -2], "'conv' \\(conversions\\) not found in `data`; its columns are: path, n, val"))
  for (k in cases)
    expect_error(markov_model(k[[1]], conversions = "conv", nulls = "n", seed = 1), k[[2]])
  expect_error(markov_model(j5, conversions = "conv", kind = "odds"),
               '`nulls` must name the column of non-converting journeys: kind = "odds" needs')
  expect_error(shapley(j5, conversions = "conv", kind = "saturation"), 'kind = "saturation" needs')
  expect_error(markov_model(j5, conversions = "conv", kind = 2), '`kind` must be one of "removal"')
  expect_error(markov_model(j5, conversions = "conv", order = 1.5), "`order` must be a whole")
  expect_error(heuristic_models(file = tempfile()), "file '.*' \\(file\\) not found")
  f <- tempfile(fileext = ".csv")
  writeLines(c("path;total", "a;1"), f)
  expect_error(heuristic_models(file = f), "'conversions' \\(conversions\\) not found in the header")
  expect_error(attribution(j5, models = c("first", "nope"), conversions = "conv"),
               'unknown model "nope"; known models: .*"first"')
})

test_that("every model's conversions sum to the total, all models list the same channels", {
  a <- attribution(d, value = "value", nulls = "nulls", seed = 2, simulations = 2e4)
  expect_s3_class(a, "touchlane_attribution")
  expect_named(a, c("channel", "model", "conversions", "value", "share"))
  expect_setequal(unique(a$model), c("first", "last", "linear", "markov", "shapley", "logistic"))
  tot <- tapply(a$conversions, a$model, sum)
  expect_equal(as.vector(tot), rep(sum(d$conversions), 6), tolerance = 1e-9)
  expect_equal(as.vector(tapply(a$value, a$model, sum)), rep(sum(d$value), 6), tolerance = 1e-9)
  expect_equal(as.vector(tapply(a$share, a$model, sum)), rep(1, 6))
  chans <- split(a$channel, a$model)
  for (m in chans) expect_identical(m, chans[[1]])
  # Shapley on conversion totals is linear touch per channel
  expect_equal(a$conversions[a$model == "shapley"], a$conversions[a$model == "linear"])
  # the same journeys streamed from a file, and the wide form
  f <- tempfile(fileext = ".csv")
  write.table(d, f, sep = ";", row.names = FALSE, quote = FALSE)
  w <- attribution(file = f, models = c("first", "markov", "logistic"), nulls = "nulls",
                   seed = 2, simulations = 2e4, wide = TRUE)
  expect_named(w, c("channel", "first", "markov", "logistic"))
  for (m in c("markov", "logistic"))
    expect_equal(w[[m]], a$conversions[a$model == m][match(w$channel, chans[[1]])])
  png(tmp <- tempfile(fileext = ".png")); plot(a); dev.off()
  expect_gt(file.size(tmp), 1000)
})

test_that("predict on the training journeys repeats the model's own touch-point attribution", {
  models <- list(markov_model(d, nulls = "nulls", value = "value", kind = "conversion_rate",
                              seed = 1, simulations = 2e4),
                 shapley(d, nulls = "nulls", value = "value", kind = "odds"),
                 logistic_regression(d, nulls = "nulls", value = "value"))
  for (m in models) {
    own <- as.data.frame(m, level = "touchpoint")
    p <- predict(m, d, value = "value", level = "touchpoint")
    expect_equal(p, own, tolerance = 1e-9)
    expect_equal(predict(m, d, value = "value"), m$channels, tolerance = 1e-9)
    # coef: the plain weights, the unknown-channel weight last
    expect_equal(unname(coef(m)), tl_call("uidx_R", m$native$vindex))
    expect_identical(names(coef(m)), c(m$native$vchannels, "(unknown)"))
    # masked weights as the entry point returned them give the same result
    masked <- setNames(m$native$vindex, c(m$native$vchannels, "x"))
    expect_equal(new_paths_attribution(d, masked, masked = TRUE)$channels$conversions,
                 m$channels$conversions, tolerance = 1e-9)
  }
})

test_that("weights in the wrong form are refused instead of silently misread", {
  lr <- logistic_regression(j5, conversions = "conv", nulls = "n")
  w <- coef(lr)
  expect_error(new_paths_attribution(j5, w, conversions = "conv", masked = TRUE),
               "`weights` was already unmasked \\(rows 1, 2, 3 and 1 more below the mask\\)")
  expect_error(new_paths_attribution(j5, lr$native$vindex, conversions = "conv"),
               "named numeric vector")
  expect_error(new_paths_attribution(j5, setNames(lr$native$vindex, c(letters[1:3], "u")),
                                     conversions = "conv"), "looks masked")
  expect_error(new_paths_attribution(j5, w[-4], conversions = "conv"),
               'exactly one weight named "\\(unknown\\)"')
  # a channel the weights do not list takes the unknown-channel weight
  p <- new_paths_attribution(data.frame(path = "a > z", conv = 3), c(a = 1, "(unknown)" = 2),
                             conversions = "conv")
  expect_equal(p$channels$conversions, c(1, 2))
  expect_error(new_paths_attribution(data.frame(path = c("a", "z > y"), conv = 3),
                                     c(a = 1, "(unknown)" = 0), conversions = "conv"),
               "every channel of the journeys in row 2 has weight 0")
  expect_error(predict(heuristic_models(j5, conversions = "conv"), j5),
               "model 'heuristic' has no weights")
})

test_that("removal effects: a channel on every converting journey has effect 1", {
  m <- markov_model(j5[j5$path != "c > b > a" & j5$path != "b > c", ], conversions = "conv",
                    nulls = "n", seed = 3, simulations = 1e4)
  expect_equal(coef(m)[c("a", "(unknown)")], c(a = 1, "(unknown)" = 0))
  expect_silent(markov_model(j5, conversions = "conv", seed = 3, simulations = 1e4))
  expect_output(markov_model(j5, conversions = "conv", seed = 3, simulations = 1e4, verbose = TRUE),
                "Number of simulations")
  s <- summary(markov_model(j5, conversions = "conv", seed = 3, simulations = 1e4))
  expect_gte(s$summary$`Simulated journeys`, 1e4)
  tm <- transition_matrix(j5, conversions = "conv", nulls = "n")
  expect_named(tm, c("from", "to", "probability"))
  expect_true(all(c("(start)", "b", "c") %in% tm$from) && "(conversion)" %in% tm$to)
  expect_equal(as.vector(tapply(tm$probability, tm$from, sum)), rep(1, 4))
  expect_equal(tm$probability[tm$from == "(start)" & tm$to == "b"], 5 / 16)
  tm2 <- transition_matrix(j5, conversions = "conv", order = 2)
  expect_true("c > b" %in% tm2$from)
})

test_that("order choice, next best action, comparison and budget speak in channel names", {
  co <- choose_order(d, nulls = "nulls", max_order = 3, folds = 3, seed = 1)
  expect_named(co$areas, c("order", "area"))
  expect_true(co$suggested_order %in% c(1:3, NA))
  nba <- next_best_action_train(d, nulls = "nulls", max_order = 2, simulations = 5000, seed = 1)
  expect_true(all(c(nba$table$history, nba$table[["next"]]) %in% nba$channels))
  paths <- c("social > email", "display", "email > paid search")
  p <- predict(nba, paths)
  rates <- attr(p, "rates")
  expect_identical(dimnames(rates), list(paths, nba$channels))
  expect_equal(p$conversion_rate, unname(apply(rates, 1, max)))
  expect_identical(p[["next"]][2], nba$channels[which.max(rates[2, ])])
  # the native comparison prints every round; the R function only when asked
  cmp <- expect_silent(compare_models_mta(d, nulls = "nulls", iterations = 1, seed = 1,
                                          max_simulations = 5000))
  expect_identical(names(dimnames(cmp$performance)), c("iteration", "model"))
  expect_identical(colnames(cmp$performance)[1:3], c("original", "no_reallocation", "first_touch"))
  expect_setequal(rownames(cmp$allocation), nba$channels)
  expect_equal(unname(colSums(cmp$allocation)), rep(1, ncol(cmp$allocation)))
  expect_match(cmp$lines, "^Sample conversion rate: ", all = FALSE)
  expect_output(compare_models_mta(d, nulls = "nulls", iterations = 1, seed = 1,
                                   max_simulations = 5000, verbose = TRUE), "Iter: 1 / 1")
  # the worked example: 70% follows costs, 10% equally, 20% by the weights 3 : 1
  b <- budget_allocation(data.frame(channel = c("A", "B"), conversions = c(5, 7)), 1000,
                         costs = c(B = 40, A = 60), weights = c(A = 3, B = 1, "(unknown)" = 0.5),
                         reallocate = 0.2, min_share = 0.1)
  expect_equal(b$budget, c(620, 380))
  expect_equal(b$current, c(600, 400))
})

test_that("media-mix tools return named per-period and per-journey tables", {
  agg <- data.frame(week = 1:4, conversions = c(10, 14, 12, 20), A = c(10, 30, 20, 40),
                    B = c(5, 4, 6, 9), C = c(3, 4, 2, 5))
  u <- uam(agg, data.frame(C = 0.1, B = rep(0.1, 4), A = 0.1), period = "week")
  expect_identical(dimnames(u$details$periods), list(period = as.character(1:4),
                                                     channel = c("A", "B", "C")))
  expect_equal(unname(rowSums(u$details$periods)), agg$conversions)
  lr <- logistic_regression(j5, conversions = "conv", nulls = "n")
  out <- combine_mta_mmm(lr, c(a = 1, b = 5, c = 1), mta_weight = 0.2)
  own <- as.data.frame(lr, level = "touchpoint")
  expect_equal(tapply(out$attribution, out$journey, sum), tapply(own$conversions, own$journey, sum))
  expect_equal(combine_mta_mmm(lr, c(a = 1, b = 5, c = 1), mta_weight = 1)$attribution,
               own$conversions)
})

test_that("every plot draws to a PNG device", {
  m <- markov_model(d, seed = 1, simulations = 5000)
  h <- hta_model(c(0, 12, 7, 20), cbind(a = c(0, 300, 150, 400), b = c(0, 120, 0, 200)),
                 ctr = 0.5, simulations = 2, seed = 3)
  objs <- list(attribution(d, models = c("first", "last", "linear")), m,
               choose_order(d, nulls = "nulls", max_order = 3, folds = 3, seed = 1),
               next_best_action_train(d, nulls = "nulls", max_order = 2, simulations = 5000,
                                      seed = 1),
               compare_models_mta(d, nulls = "nulls", iterations = 2, seed = 1,
                                  max_simulations = 5000),
               budget_allocation(m, 1e4), h)
  for (o in objs) {
    f <- tempfile(fileext = ".png")
    png(f, width = 640, height = 480)
    plot(o)
    dev.off()
    expect_gt(file.size(f), 2000)
  }
})
