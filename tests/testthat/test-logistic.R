# Inference on the logistic regression behind the indices, against R's glm
# on the same design (one Bernoulli trial per journey, touch counts as
# covariates).

# glm on journeys expanded to weighted 0/1 rows, so that its log-likelihood
# is the per-journey one (no binomial coefficients of aggregated rows).
glm_of <- function(d, channels) {
  X <- t(vapply(strsplit(d$path, " > ", fixed = TRUE),
                function(s) tabulate(match(s, channels), length(channels)),
                numeric(length(channels))))
  colnames(X) <- channels
  rows <- data.frame(y = rep(c(1, 0), each = nrow(d)), w = c(d$conversions, d$nulls))
  rows <- cbind(rows, rbind(X, X))
  rows <- rows[rows$w > 0, ]
  stats::glm(stats::reformulate(paste0("`", channels, "`"), "y"), family = stats::binomial,
             data = rows, weights = w)
}

test_that("coefficients, covariance and log-likelihood agree with glm within the fit's own distance", {
  d <- data.frame(path = c("A", "B", "C", "A > B", "B > C", "A > C > A", "C > B > A", "B > B"),
                  conversions = c(3, 5, 2, 6, 4, 5, 7, 3), nulls = c(9, 7, 8, 4, 6, 5, 3, 6),
                  stringsAsFactors = FALSE)
  lr <- logistic_regression(d, nulls = "nulls")
  f <- lr$details$fit
  ch <- names(f$coefficients)[-1]
  g <- glm_of(d, ch)
  # The optimiser stops short of the maximum by about vcov * n * gradient;
  # the covariance moves with the coefficients, the likelihood to second order.
  expect_lt(f$gradient_norm, 1e-6)
  dist <- 10 * norm(vcov(lr), "2") * nobs(lr) * f$gradient_norm + 1e-9
  expect_equal(unname(f$coefficients), unname(coef(g)), tolerance = dist, scale = 1)
  expect_equal(unname(vcov(lr)), unname(vcov(g)), tolerance = 1e-6 + 10 * dist)
  expect_equal(as.numeric(logLik(lr)), as.numeric(logLik(g)), tolerance = 1e-9, scale = 1)
  expect_identical(attr(logLik(lr), "df"), 4L)
  expect_equal(nobs(lr), sum(d$conversions + d$nulls))
  expect_equal(AIC(lr), AIC(g), tolerance = 1e-8, scale = 1)
  expect_equal(dimnames(vcov(lr)), list(c("(constant)", ch), c("(constant)", ch)))
  # Wald intervals as confint.default gives them for the glm
  want <- confint.default(g, level = 0.9)
  expect_equal(unname(confint(lr, level = 0.9)), unname(want), tolerance = 10 * dist, scale = 1)
  expect_identical(colnames(confint(lr, level = 0.9)), c("5 %", "95 %"))
  # an index interval is exp of the interval of b0 + b_k
  se <- sqrt(vcov(g)[1, 1] + vcov(g)[3, 3] + 2 * vcov(g)[1, 3])
  est <- sum(coef(g)[c(1, 3)])
  expect_equal(unname(confint(lr, "B", type = "index")[1, ]),
               exp(est + c(-1, 1) * qnorm(0.975) * se), tolerance = 1e-4)
  expect_equal(unname(coef(lr)[ch]), unname(exp(f$coefficients[1] + f$coefficients[-1])),
               tolerance = 1e-9)   # masked on the way back
})

test_that("a collinear design gives no covariance but still its likelihood", {
  # one touch point per journey: the counts add up to the constant
  d <- data.frame(path = c("a", "b"), conversions = c(2, 3), nulls = c(6, 5))
  lr <- logistic_regression(d, nulls = "nulls")
  expect_true(all(is.nan(vcov(lr))))
  expect_true(all(is.nan(confint(lr))))
  expect_equal(nobs(lr), 16)
  expect_equal(as.numeric(logLik(lr)),
               2 * log(2 / 8) + 6 * log(6 / 8) + 3 * log(3 / 8) + 5 * log(5 / 8), tolerance = 1e-6)
})

test_that("confint refuses what it cannot answer", {
  lr <- logistic_regression(data.frame(path = c("a > b", "b", "a"), conversions = c(3, 1, 2),
                                       nulls = c(2, 4, 3)), nulls = "nulls")
  cases <- list(
    list(list(parm = "z"), "`parm`: no coefficient named \"z\""),
    list(list(parm = "(constant)", type = "index"), "`parm`: no index named \"(constant)\""),
    list(list(parm = 9), "`parm`: no coefficient named"),
    list(list(level = 1), "`level` must be one number strictly between 0 and 1"),
    list(list(level = NA_real_), "`level` must be one number"),
    list(list(type = "odds"), "`type` must be one of")
  )
  for (k in cases)
    expect_error(do.call(confint, c(list(lr), k[[1]])), k[[2]], fixed = TRUE, info = k[[2]])
  lr$details$fit <- NULL
  expect_error(vcov(lr), "carries no regression fit")
})

test_that("summary and glance carry the fit", {
  lr <- logistic_regression(data.frame(path = c("a > b", "b", "a", "b > b"), conversions = c(3, 1, 2, 2),
                                       nulls = c(2, 4, 3, 3)), nulls = "nulls")
  s <- summary(lr)$summary
  expect_equal(s$Coefficients$std.error, unname(sqrt(diag(vcov(lr)))))
  expect_identical(s$Coefficients$term, c("(constant)", "a", "b"))
  g <- glance(lr)
  expect_equal(c(g$log_likelihood, g$journeys_fitted), c(as.numeric(logLik(lr)), nobs(lr)))
  expect_output(print(summary(lr)), "Log-likelihood")
})
