# R's results for the Python equality tests (tests/test_same_as_r.py):
#   Rscript r_reference.R OUTDIR
# OUTDIR holds the inputs the test wrote (decay.csv, events.csv,
# sql_cases.tsv); the results are written there as CSV / text files.
args <- commandArgs(trailingOnly = TRUE)
out <- args[1]
suppressMessages(library(Touchlane))
# Doubles with 17 significant digits, so the comparison sees every bit.
w <- function(x, name) {
  x <- as.data.frame(x)
  x[] <- lapply(x, function(col) if (is.double(col)) sprintf("%.17g", col) else col)
  utils::write.csv(x, file.path(out, paste0(name, ".csv")), row.names = FALSE)
}
wcoef <- function(m, name) w(data.frame(channel = names(coef(m)), weight = unname(coef(m))), name)
j <- journeys_sample()
f <- system.file("extdata", "journeys.csv", package = "Touchlane")

w(attribution(j, models = c("first", "last", "linear", "position", "last_non_direct", "markov",
                            "shapley", "logistic"),
              value = "value", nulls = "nulls", seed = 1, simulations = 2e4), "attribution")
w(attribution(j, models = "markov", nulls = "nulls", method = "exact", order = 2), "markov_exact")
w(attribution(file = f, conversions = "total_conversions", value = "total_conversion_value",
              nulls = "total_null", models = c("first", "logistic", "markov", "shapley"),
              seed = 2, simulations = 2e4, threads = 2), "attribution_file")
w(attribution(j, models = c("linear", "shapley", "markov", "position"), nulls = "nulls",
              seed = 3, bootstrap = 20, method = "exact"), "bootstrap")
w(attribution(file = file.path(out, "decay.csv"), models = "time_decay", value = "value",
              half_life = 3), "time_decay")

m <- markov_model(j, nulls = "nulls", value = "value", order = 2, kind = "conversion_rate",
                  seed = 1, simulations = 2e4, transition_matrix = TRUE)
wcoef(m, "markov_weights")
w(m$details$transitions, "markov_transitions")
w(as.data.frame(m), "markov_channels")
lr <- logistic_regression(j, nulls = "nulls", value = "value")
wcoef(lr, "logistic_weights")
w(as.data.frame(lr), "logistic_channels")
w(predict(lr, j[1:500, ], value = "value"), "logistic_predict")
w(data.frame(term = rownames(vcov(lr)), vcov(lr), check.names = FALSE), "logistic_vcov")
ci <- function(x) data.frame(term = rownames(x), lower = x[, 1], upper = x[, 2])
w(ci(confint(lr)), "logistic_confint")
w(ci(confint(lr, type = "index", level = 0.9)), "logistic_confint_index")
w(data.frame(loglik = as.numeric(logLik(lr)), nobs = nobs(lr)), "logistic_fit")
sh <- shapley(j, nulls = "nulls", kind = "odds")
wcoef(sh, "shapley_weights")
w(choose_order(j, nulls = "nulls", max_order = 4, seed = 1)$areas, "order")
nba <- next_best_action_train(j, nulls = "nulls", max_order = 2, simulations = 1e4, seed = 1)
w(nba$table, "nba")
w(next_best_action(c("social > email", "display > display", "affiliate"), nba), "nba_suggest")
mr <- markov_model(j, method = "exact")
w(budget_allocation(mr, total_budget = 1e5), "budget")

ev <- utils::read.csv(file.path(out, "events.csv"), stringsAsFactors = FALSE)
w(journeys_from_events(ev, "user", "time", "channel", "conversion", value = "value",
                       lookback_days = 3, transform = "collapse", times = TRUE,
                       order_by = "id"), "events")

cases <- utils::read.delim(file.path(out, "sql_cases.tsv"), colClasses = "character",
                           na.strings = "", quote = "", encoding = "UTF-8")
opt <- function(x) if (is.na(x)) NULL else x
num <- function(x) if (is.na(x)) Inf else as.numeric(x)
texts <- vapply(seq_len(nrow(cases)), function(i) {
  k <- cases[i, ]
  tryCatch(journeys_sql(k$table, "user", "ts", "channel", "conv", value = opt(k$value),
                        lookback_days = num(k$lookback_days),
                        lookback_touches = num(k$lookback_touches), transform = k$transform,
                        order_by = opt(k$order_by), times = k$times == "1",
                        time_type = k$time_type, channel_sep = k$channel_sep,
                        dialect = k$dialect),
           error = function(e) paste("ERROR:", conditionMessage(e)))
}, "")
writeLines(paste0(texts, "\n<<end>>"), file.path(out, "sql.txt"))

# Cases given as R expressions (cases.tsv: id, expr): the result as CSV, or
# the error message in <id>.err. `ev(name)` reads an events file the test
# wrote; `db(d, table, ...)` runs journeys_from_db() on d in SQLite.
ev <- function(name) utils::read.csv(file.path(out, paste0(name, ".csv")), stringsAsFactors = FALSE,
                                     na.strings = "NA")
db <- function(d, table, ...) {
  con <- DBI::dbConnect(RSQLite::SQLite(), ":memory:")
  on.exit(DBI::dbDisconnect(con))
  DBI::dbWriteTable(con, table, d)
  journeys_from_db(con, table, ...)
}
decay <- utils::read.csv2(file.path(out, "decay.csv"), stringsAsFactors = FALSE, dec = ".")
cases <- utils::read.delim(file.path(out, "cases.tsv"), colClasses = "character", quote = "",
                           encoding = "UTF-8")
for (i in seq_len(nrow(cases))) {
  r <- tryCatch(suppressMessages(eval(parse(text = cases$expr[i], encoding = "UTF-8"))),
                error = function(e) e)
  if (inherits(r, "error")) {
    writeLines(conditionMessage(r), file.path(out, paste0(cases$id[i], ".err")), useBytes = TRUE)
  } else {
    attr(r, "untouched") <- NULL
    w(r, cases$id[i])
  }
}
