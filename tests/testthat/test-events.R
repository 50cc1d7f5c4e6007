# Journeys from events by four routes that must agree: the native builder on
# a data frame and on a file, SQL on SQLite, SQL on the PostgreSQL server
# tools/run.sh starts (skipped when it is not running).

events_fixture <- function(n = 100000, nusers = 10000, seed = 11) {
  set.seed(seed)
  ev <- data.frame(id = seq_len(n), user = paste0("u", sample(nusers, n, TRUE)),
                   ts = 1.7e9 + 1800 * sample(48 * 60, n, TRUE),   # half-hours: many ties
                   channel = sample(c("search", "display", "email", "social", NA), n, TRUE, c(4, 3, 2, 2, 1)),
                   conv = rbinom(n, 1, 0.06) * sample(1:2, n, TRUE), stringsAsFactors = FALSE)
  ev$channel[ev$conv > 0 & runif(n) < 0.6] <- NA
  ev$rev <- ev$conv * round(runif(n, 1, 100), 2)
  ev
}

pg_connect <- function() {
  if (!nzchar(Sys.getenv("TOUCHLANE_PG_HOST"))) return(NULL)
  DBI::dbConnect(RPostgreSQL::PostgreSQL(), host = Sys.getenv("TOUCHLANE_PG_HOST"),
                 user = Sys.getenv("TOUCHLANE_PG_USER"), dbname = "postgres")
}

test_that("data frame, file, SQLite and PostgreSQL give the same journeys for every transform", {
  skip_if_not_installed("RSQLite")
  ev <- events_fixture()
  file <- tempfile(fileext = ".csv")
  on.exit(unlink(file))
  shuffled <- ev[sample(nrow(ev)), ]
  shuffled$ts <- format(as.POSIXct(shuffled$ts, origin = "1970-01-01", tz = "UTC"), "%Y-%m-%dT%H:%M:%SZ")
  utils::write.table(shuffled, file, sep = ";", quote = FALSE, row.names = FALSE, na = "")
  lite <- DBI::dbConnect(RSQLite::SQLite(), ":memory:")
  on.exit(DBI::dbDisconnect(lite), add = TRUE)
  DBI::dbWriteTable(lite, "events", transform(ev, iso = format(as.POSIXct(ts, origin = "1970-01-01", tz = "UTC"),
                                                                  "%Y-%m-%d %H:%M:%S")))
  pg <- pg_connect()
  if (!is.null(pg)) {
    on.exit(DBI::dbDisconnect(pg), add = TRUE)
    DBI::dbWriteTable(pg, "events", transform(ev, ts = as.POSIXct(ts, origin = "1970-01-01", tz = "UTC")),
                      overwrite = TRUE, row.names = FALSE)
  }
  cases <- list(list(transform = "none"),
                list(transform = "collapse", lookback_days = 7, times = TRUE),
                list(transform = "first", lookback_touches = 3, times = TRUE),
                list(transform = "frequency", lookback_days = 10.5, lookback_touches = 4))
  args <- list(user = "user", channel = "channel", conversion = "conv", value = "rev")
  plain <- function(x) { attr(x, "untouched") <- NULL; x }
  for (k in seq_along(cases)) {
    a <- c(args, cases[[k]])
    want <- suppressMessages(do.call(journeys_from_events, c(list(ev, time = "ts"), a)))
    expect_gt(nrow(want), 100)
    from_file <- suppressMessages(do.call(journeys_from_events, c(list(file = file, time = "ts", order_by = "id"), a)))
    expect_equal(plain(from_file), plain(want), info = cases[[k]]$transform)
    # seconds on even cases, ISO text read by SQLite on odd ones
    lite_args <- if (k %% 2 == 0) list(time = "ts", time_type = "seconds") else list(time = "iso")
    expect_equal(do.call(journeys_from_db, c(list(lite, "events", order_by = "id"), lite_args, a)),
                 plain(want), info = cases[[k]]$transform)
    if (!is.null(pg))
      expect_equal(do.call(journeys_from_db, c(list(pg, "events", time = "ts", order_by = "id"), a)),
                   plain(want), info = cases[[k]]$transform)
  }
  streamed <- tempfile()
  journeys_from_db(lite, "events", "user", "ts", "channel", "conv", time_type = "seconds", order_by = "id",
                   file_output = streamed, chunk = 1000)
  expect_equal(nrow(utils::read.table(streamed, header = TRUE, sep = ";", quote = "", comment.char = "")),
               nrow(suppressMessages(journeys_from_events(ev, "user", "ts", "channel", "conv"))))
  unlink(streamed)
  if (is.null(pg)) skip("no PostgreSQL server: run the tests through tools/run.sh test")
})

test_that("conversions without a touch are counted in a message and an attribute", {
  ev <- data.frame(u = c(1, 1, 2), t = as.Date("2024-01-01") + c(0, 40, 3), ch = c("a", NA, NA),
                   cv = c(0, 1, 2), v = c(0, 5, 7))
  expect_message(j <- journeys_from_events(ev, "u", "t", "ch", "cv", value = "v", lookback_days = 30),
                 "3 conversions (2 rows) had no touch", fixed = TRUE)
  expect_equal(nrow(j), 0)
  expect_named(j, c("path", "conversions", "nulls", "value"))
  expect_equal(attr(j, "untouched"), c(conversions = 3, rows = 2, value = 12))
})

test_that("every time type and channel factors give the same journeys", {
  ev <- data.frame(u = c(2, 1, 1, 2, 1), day = as.Date("2024-01-01") + c(0, 0, 2, 1, 5),
                   ch = c("a", "b", "", "c", "a"), cv = c(0, 0, 1, 1, 0), stringsAsFactors = FALSE)
  want <- journeys_from_events(ev, "u", "day", "ch", "cv", times = TRUE)
  expect_identical(want$path, c("a", "a>c", "b"))
  forms <- list(posix = as.POSIXct(ev$day), seconds = as.numeric(ev$day) * 86400,
                iso = format(ev$day), iso_factor = factor(format(ev$day)))
  for (nm in names(forms))
    expect_identical(journeys_from_events(transform(ev, day = forms[[nm]]), "u", "day", "ch", "cv",
                                          times = TRUE), want, info = nm)
  expect_identical(journeys_from_events(transform(ev, ch = factor(ch, c("c", "", "b", "a"))),
                                        "u", "day", "ch", "cv", times = TRUE), want)
  expect_error(journeys_from_events(transform(ev, day = as.complex(1)), "u", "day", "ch", "cv"),
               "column \"day\" \\(time\\) must be POSIXct, Date, numbers of seconds or ISO text")
})

test_that("warehouse dialects quote and aggregate in their own syntax", {
  bq <- journeys_sql("ds.events", "u", "t", "ch", "cv", order_by = "id", times = TRUE, dialect = "bigquery")
  expect_match(bq, "FROM `ds`.`events`", fixed = TRUE)
  expect_match(bq, "STRING_AGG(tl_label, '>' ORDER BY tl_seq)", fixed = TRUE)
  expect_false(grepl("\"", bq))
  sp <- journeys_sql("events", "u", "t", "ch", "cv", transform = "frequency", dialect = "spark")
  expect_match(sp, "collect_list(named_struct('seq', tl_seq, 'label', tl_label))", fixed = TRUE)
  expect_match(sp, "CONCAT(tl_channel, '(', CAST(COUNT(*) AS STRING), ')')", fixed = TRUE)
})

test_that("time_decay joins attribution() and reads days from data or file", {
  ev <- events_fixture(3000, 300)
  j <- suppressMessages(journeys_from_events(ev, "user", "ts", "channel", "conv", value = "rev",
                                             lookback_days = 20, times = TRUE))
  got <- attribution(j, models = "time_decay", value = "value", half_life = 3)
  expect_equal(c(sum(got$conversions), sum(got$value)), c(sum(j$conversions), sum(j$value)))
  f <- tempfile()
  utils::write.table(j, f, sep = ";", quote = FALSE, row.names = FALSE)
  expect_equal(attribution(file = f, models = "time_decay", value = "value", half_life = 2),
               attribution(j, models = "time_decay", value = "value", half_life = 2))
  unlink(f)
  expect_error(attribution(j[, -5], models = "time_decay"), "needs a column \"days\".*times = TRUE")
})
