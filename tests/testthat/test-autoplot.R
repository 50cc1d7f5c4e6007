# ggplot2 charts, the model palette, and tidy()/glance().

test_that("a model keeps its colour whichever models are drawn with it", {
  all <- model_colours(c("first", "last", "linear", "markov", "shapley", "logistic", "mine"))
  expect_identical(model_colours(c("shapley", "mine", "first")), all[c("shapley", "mine", "first")])
  expect_false(anyDuplicated(all) > 0)
  cmp <- model_colours(c("first_touch", "logistic_regression", "markov_model_order_1",
                         "markov_model_order_2"))
  expect_identical(unname(cmp[1:3]), unname(all[c("first", "logistic", "markov")]))
  expect_false(cmp[[4]] == cmp[[3]])
})

test_that("autoplot draws the attribution table with error bars and the model colours", {
  skip_if_not_installed("ggplot2")
  a <- attribution(j5, models = c("linear", "first"), conversions = "conv", bootstrap = 20,
                   seed = 1)
  p <- ggplot2::autoplot(a)
  expect_s3_class(p, "ggplot")
  layers <- vapply(p$layers, function(l) class(l$geom)[1], "")
  expect_identical(layers, c("GeomCol", "GeomErrorbar"))
  built <- ggplot2::ggplot_build(p)$data
  expect_equal(sort(unique(built[[1]]$fill)), sort(unname(model_colours(c("linear", "first")))))
  expect_equal(sort(built[[2]]$ymax), sort(a$upper))
  plain <- attribution(j5, models = "linear", conversions = "conv")
  expect_identical(vapply(ggplot2::autoplot(plain, what = "share")$layers,
                          function(l) class(l$geom)[1], ""), "GeomCol")
  expect_error(ggplot2::autoplot(plain, what = "value"), "no value column")
})

test_that("autoplot draws models, the order choice and comparisons", {
  skip_if_not_installed("ggplot2")
  m <- markov_model(sample400(), seed = 1, simulations = 2000)
  pm <- ggplot2::autoplot(m, what = "weights")
  expect_identical(pm$labels$x, "removal effect")
  expect_false("(unknown)" %in% ggplot2::ggplot_build(pm)$layout$panel_params[[1]]$y$get_labels())
  o <- choose_order(sample400(), nulls = "nulls", max_order = 2, seed = 1)
  cmp <- compare_models_mta(sample400(), nulls = "nulls", iterations = 2, max_simulations = 2000,
                            seed = 1)
  pc <- ggplot2::autoplot(cmp)
  expect_identical(levels(pc$data$model), setdiff(colnames(cmp$performance), "original"))
  # ggplot2 reports most mistakes only when the chart is built
  for (p in list(ggplot2::autoplot(o), pc)) expect_s3_class(ggplot2::ggplot_build(p), "ggplot_built")
})

test_that("tidy and glance give plain one-row-per-item tables", {
  a <- attribution(j5, models = c("first", "linear"), conversions = "conv", value = "val",
                   bootstrap = 10, seed = 2)
  t <- tidy(a)
  expect_identical(names(t), c("model", "channel", "conversions", "value", "share", "conf.low",
                               "conf.high"))
  expect_identical(t$conf.high, a$upper)
  g <- glance(a)
  expect_identical(c(g$models, g$channels), c(2L, 3L))
  expect_equal(c(g$conversions, g$value), c(sum(j5$conv), sum(j5$val)))
  m <- markov_model(j5, conversions = "conv", seed = 1, simulations = 2000)
  tm <- tidy(m)
  expect_identical(names(tm), c("channel", "conversions", "value", "share", "weight"))
  expect_equal(tm$weight, unname(coef(m)[tm$channel]))
  gm <- glance(m)
  expect_identical(c(gm$model, gm$channels), c("markov", "3"))
  expect_equal(gm$conversions, sum(j5$conv))
})

test_that("autoplot draws the budget allocation as current and suggested bars per channel", {
  skip_if_not_installed("ggplot2")
  b <- budget_allocation(data.frame(channel = c("a", "b", "c"), conversions = c(50, 30, 20),
                                    value = c(900, 400, 300)),
                         total_budget = 250000, costs = c(a = 1e5, b = 8e4, c = 7e4))
  built <- ggplot2::ggplot_build(ggplot2::autoplot(b))
  bars <- built$data[[1]]
  expect_equal(sort(bars$y), sort(c(b$current, b$budget)))
  expect_setequal(unique(bars$fill), c("grey70", "steelblue"))
  # no scientific notation on the budget axis
  expect_false(any(grepl("e\\+", built$layout$panel_params[[1]]$y$get_labels())))
})
