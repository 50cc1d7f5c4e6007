# The attribution table an analyst reads: seeds, intervals, spend, journey
# level, merged loops and the columns used.
d <- sample400()
q <- function(expr) suppressMessages(expr)

test_that("a NULL seed comes from R's generator and is kept in the result", {
  seed_of <- function(x) if (is.list(x) && !is.data.frame(x)) x$seed else attr(x, "seed")
  strip <- function(x) { if (is.data.frame(x)) as.data.frame(x) else { x$call <- NULL; x } }
  cases <- list(
    function(...) markov_model(d, method = "simulation", simulations = 2e4, ...),
    function(...) q(attribution(d, models = c("linear", "markov"), bootstrap = 5, ...)),
    function(...) choose_order(d, nulls = "nulls", max_order = 2, folds = 2, ...))
  for (f in cases) {
    set.seed(11); a <- f()
    set.seed(11); b <- f()
    expect_identical(strip(a), strip(b))
    expect_true(is.numeric(seed_of(a)) && length(seed_of(a)) == 1)
    expect_identical(strip(f(seed = seed_of(a))), strip(a))   # the kept seed repeats the run
  }
  # the exact Markov method is the default, and needs no seed to repeat
  m <- markov_model(d)
  expect_identical(m$details$method, "exact")
  expect_identical(coef(markov_model(d)), coef(m))
  a <- q(attribution(d, models = "markov"))
  expect_equal(a$conversions, m$channels$conversions[match(a$channel, m$channels$channel)])
})

test_that("intervals show in print, the wide form and confint() at any level", {
  b <- q(attribution(d, models = c("first", "markov"), bootstrap = 40, seed = 4, level = 0.9))
  out <- capture.output(print(b))
  expect_match(out[1], "90% bootstrap intervals of 40 replicates")
  row <- b[b$model == "first", ][1, ]
  expect_match(out, sprintf("%.2f [%.2f, %.2f]", row$conversions, row$lower, row$upper),
               fixed = TRUE, all = FALSE)
  w <- q(attribution(d, models = c("first", "markov"), bootstrap = 40, seed = 4, wide = TRUE))
  for (m in c("first", "markov"))
    for (k in c("lower", "upper"))
      expect_equal(w[[paste0(k, "_", m)]], b[[k]][b$model == m])
  ci <- confint(b)
  expect_equal(unname(ci[, 1]), b$lower)
  expect_equal(unname(ci[, 2]), b$upper)
  expect_identical(colnames(ci), c("5 %", "95 %"))
  # another level from the kept replicates is the interval a run at that level gives
  b8 <- q(attribution(d, models = c("first", "markov"), bootstrap = 40, seed = 4, level = 0.8))
  expect_equal(unname(confint(b, level = 0.8)), unname(cbind(b8$lower, b8$upper)))
  expect_identical(rownames(confint(b, "markov")), paste0("markov: ", b$channel[b$model == "markov"]))
  expect_error(confint(q(attribution(d, models = "first"))), "bootstrap = R")
})

test_that("every column of the table is a plain vector", {
  a <- q(attribution(d, models = c("first", "shapley"), bootstrap = 3, seed = 1,
                     spend = data.frame(channel = "email", spend = 10)))
  for (col in names(a)) {
    expect_null(dim(a[[col]]), info = col)
    expect_null(attributes(a[[col]]), info = col)
  }
  for (col in names(tidy(a))) expect_null(attributes(tidy(a)[[col]]), info = col)
})

test_that("spend gives cost per conversion and return on ad spend", {
  sp <- data.frame(channel = c("email", "display", "direct"), spend = c(1000, 0, 250))
  a <- q(attribution(d, models = c("first", "linear"), spend = sp))
  for (i in seq_len(nrow(a))) {
    s <- sp$spend[match(a$channel[i], sp$channel)]
    expect_identical(a$cost_per_conversion[i],
                     if (is.na(s) || a$conversions[i] == 0) NA_real_ else s / a$conversions[i])
    expect_identical(a$roas[i], if (is.na(s) || s == 0) NA_real_ else a$value[i] / s)
  }
  expect_match(capture.output(print(a)), "Return on ad spend", all = FALSE)
  expect_plot(a, what = "roas")
  expect_error(plot(q(attribution(d, models = "first")), what = "roas"), "give `spend`")
  bad <- list(
    list(data.frame(channel = "email", cost = 1), "columns channel and spend"),
    list(data.frame(channel = "email", spend = -1), "row 1 NA, negative or infinite"),
    list(data.frame(channel = c("email", "email"), spend = 1:2), "'email' appears more than once"),
    list(data.frame(channel = "emial", spend = 1), "channel 'emial' not among the channels"),
    list(data.frame(channel = "email", spend = "1"), "must be numeric"))
  for (b in bad) expect_error(q(attribution(d, models = "first", spend = b[[1]])), b[[2]],
                              fixed = TRUE)
})

test_that("journey-level credit adds up to the channel table where a rule gives it", {
  tdj <- data.frame(path = c("a>b>a", "b>c", "c", "a>c>b>b"), conversions = c(3, 1, 2, 4),
                    days = c("9>2>0", "1>0", "0", "30>8>1>0"))
  models <- c("first", "last", "linear", "position", "last_non_direct", "time_decay", "markov",
              "shapley")
  x <- attribution(tdj, models = models, half_life = 3, position_shares = c(0.3, 0.5),
                   direct_channels = "b")
  jl <- attribution(tdj, models = models, half_life = 3, position_shares = c(0.3, 0.5),
                    direct_channels = "b", level = "journey")
  expect_identical(jl, as.data.frame(x, level = "journey"))
  expect_named(jl, c("model", "path", "conversions", unique(x$channel)))   # the table's order
  for (m in models) {
    r <- jl[jl$model == m, ]
    expect_equal(unname(rowSums(r[, c("a", "b", "c")])), tdj$conversions, info = m)
    if (m %in% c("markov", "shapley")) next
    expect_equal(unname(colSums(r[, x$channel[x$model == m]])), x$conversions[x$model == m],
                 info = m)
  }
  # Markov: each distinct channel of a journey by its share of the model's credit
  cr <- setNames(x$conversions[x$model == "markov"], x$channel[x$model == "markov"])
  r <- jl[jl$model == "markov", ]
  expect_equal(r$a[4], 4 * cr[["a"]] / sum(cr))
  expect_equal(r$b[2], cr[["b"]] / (cr[["b"]] + cr[["c"]]))
  expect_error(attribution(tdj, models = c("first", "logistic"), level = "journey"),
               'no journey-level credit for model "logistic"')
})

test_that("remove_loops merges repeated touches before every model", {
  loopy <- data.frame(path = c("a > a > b", "a > b", "b > b > b", "c > a > a"),
                      conversions = c(2, 1, 1, 3), nulls = c(4, 2, 5, 1))
  merged <- transform_paths(loopy, remove_loops = TRUE)
  same <- function(x, y) {
    x <- x[order(x$channel), ]; y <- y[order(y$channel), ]
    rownames(x) <- rownames(y) <- NULL
    expect_equal(x, y)
  }
  fits <- list(
    function(...) heuristic_models(...)$channels,
    function(...) markov_model(..., nulls = "nulls")$channels,
    function(...) shapley(..., nulls = "nulls", kind = "odds")$channels,
    function(...) logistic_regression(..., nulls = "nulls")$channels,
    function(...) probabilistic_model(..., nulls = "nulls")$channels,
    function(...) new_paths_attribution(..., weights = c(a = 1, b = 2, c = 3, "(unknown)" = 1))$channels,
    function(...) as.data.frame(attribution(..., models = c("position", "markov"))))
  for (f in fits) {
    same(f(loopy, remove_loops = TRUE), f(merged))
    same(f(file = write_journeys(loopy), remove_loops = TRUE), f(merged))
  }
  expect_equal(transition_matrix(loopy, nulls = "nulls", remove_loops = TRUE),
               transition_matrix(merged, nulls = "nulls"))
  p <- attribution(loopy, models = "position", nulls = NULL)
  expect_false(isTRUE(all.equal(p$conversions, attribution(merged, models = "position")$conversions)))
  expect_error(attribution(transform(loopy, days = "0"), models = "time_decay", remove_loops = TRUE),
               "remove_loops = TRUE")
})

test_that("value and nulls columns under those names are used, and said so", {
  j <- data.frame(path = c("a>b", "b", "a"), conversions = c(2, 1, 1), value = c(20, 5, 9),
                  nulls = c(3, 1, 4))
  f <- write_journeys(j)
  cases <- list(
    list(quote(attribution(j, models = "logistic")), "'value' and 'nulls'", TRUE, TRUE),
    list(quote(attribution(file = f, models = "first")), "'value' and 'nulls'", TRUE, TRUE),
    list(quote(attribution(j, models = "first", value = NULL)), "'nulls'", FALSE, TRUE),
    list(quote(attribution(j[, 1:3], models = "first")), "'value'", TRUE, FALSE),
    list(quote(attribution(j, models = "first", value = NULL, nulls = NULL)), NA, FALSE, FALSE))
  for (k in cases) {
    if (is.na(k[[2]])) expect_silent(a <- eval(k[[1]]))
    else expect_message(a <- eval(k[[1]]), k[[2]], fixed = TRUE)
    expect_identical(!all(is.na(a$value)), k[[3]])
  }
  # the logistic model ran on the nulls found
  expect_equal(q(attribution(j, models = "logistic"))$conversions,
               attribution(j, models = "logistic", nulls = "nulls", value = "value")$conversions)
  # predict() takes the fit's column names
  k <- data.frame(p = c("x>y", "y"), cv = c(3, 1), stringsAsFactors = FALSE)
  m <- new_paths_attribution(k, weights = c(x = 1, y = 3, "(unknown)" = 1), path = "p",
                             conversions = "cv")
  expect_equal(predict(m, k)$conversions, m$channels$conversions)
})

test_that("the registry runs first, last and linear from one read and every model by name", {
  counter <- new.env()
  counter$n <- 0
  bump <- function() counter$n <- counter$n + 1
  trace("heuristic_native", bquote(.(bump)()), print = FALSE,
        where = asNamespace("Touchlane"))
  on.exit(untrace("heuristic_native", where = asNamespace("Touchlane")))
  q(attribution(d, models = c("first", "last", "linear")))
  expect_identical(counter$n, 1)
  all <- names(Touchlane:::attribution_registry)
  dj <- transform(d, days = gsub("[^>]+", "1", d$path))
  a <- q(attribution(dj, models = all))
  expect_identical(unique(a$model), all)
  expect_equal(as.vector(tapply(a$conversions, a$model, sum)), rep(sum(d$conversions), length(all)))
  # the Shapley column of totals is linear touch, and print() says so
  expect_equal(a$conversions[a$model == "shapley"], a$conversions[a$model == "linear"])
  expect_match(capture.output(print(a)), "shapley equals linear", all = FALSE)
})
