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
                                                                  "%Y-%m-%d %H:%M:%S"),
                                               pts = as.POSIXct(ts, origin = "1970-01-01", tz = "UTC")))
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
    # POSIXct (stored by SQLite as REAL seconds) on even cases, ISO text on odd ones
    lite_args <- if (k %% 2 == 0) list(time = "pts") else list(time = "iso")
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

test_that("time_decay joins attribution() and reads days from data or file", {
  ev <- events_fixture(3000, 300)
  j <- suppressMessages(journeys_from_events(ev, "user", "ts", "channel", "conv", value = "rev",
                                             lookback_days = 20, times = TRUE))
  got <- attribution(j, models = "time_decay", value = "value", half_life = 3)
  expect_equal(c(sum(got$conversions), sum(got$value)), c(sum(j$conversions), sum(j$value)))
  f <- tempfile()
  utils::write.table(j, f, sep = ";", quote = FALSE, row.names = FALSE)
  expect_equal(as.data.frame(attribution(file = f, models = "time_decay", value = "value",
                                         half_life = 2)),
               as.data.frame(attribution(j, models = "time_decay", value = "value", half_life = 2)))
  unlink(f)
  expect_error(attribution(j[, -5], models = "time_decay"), "needs a column \"days\".*times = TRUE")
})

# ---- one table of awkward events, every route --------------------------------

# Events with ties of time broken by a text order_by whose byte order is not
# the collation's ("B" < "_" < "a" < "b"), a touch that converts, a
# conversion outside a 30-day lookback, an empty and a missing channel.
awkward_events <- function() {
  data.frame(u = c("a", "a", "a", "a", "b", "b", "b", "c", "c"),
             t = as.POSIXct("2024-03-01", tz = "UTC") + c(0, 0, 0, 10, 60, 60, 120, 0, 86400 * 40),
             ch = c("x", "Y", "_y", "x", "x", "", NA, "z", "x"),
             cv = c(0, 0, 1, 0, 0, 0, 2, 1, 1), v = c(0, 0, 5, 0, 0, 0, 7.5, 2, 3),
             id = c("b", "B", "a", "_", "_", "a", "c", "d", "e"), stringsAsFactors = FALSE)
}

# Journeys (attribute dropped) or the error message of a route.
route_result <- function(expr) {
  tryCatch({ r <- suppressMessages(expr); attr(r, "untouched") <- NULL; r },
           error = function(e) structure(conditionMessage(e), class = "refusal"))
}

# The engines of the database tests: SQLite in memory, and PostgreSQL when
# the test command started one.
engines <- function() {
  out <- list()
  if (requireNamespace("RSQLite", quietly = TRUE))
    out$sqlite <- DBI::dbConnect(RSQLite::SQLite(), ":memory:")
  pg <- pg_connect()
  if (!is.null(pg)) out$postgres <- pg
  out
}

test_that("the native and SQL routes give the same journeys or the same refusal", {
  cons <- engines()
  on.exit(for (con in cons) DBI::dbDisconnect(con))
  set <- function(col, row, x) function(e) { e[[col]][row] <- x; e }
  # change to the events, arguments, and the refusal both routes give (NULL: journeys)
  cases <- list(
    list(identity, list(lookback_days = 30), NULL),
    list(identity, list(transform = "collapse", times = TRUE, lookback_touches = 2), NULL),
    list(identity, list(transform = "frequency", table = "Touches"), NULL),
    list(identity, list(table = "tl_journeys", transform = "first", times = TRUE), NULL),
    list(identity, list(table = "e\"v'e`n\\ts"), NULL),
    list(set("ch", 1, "x>y"), list(), 'channel "x>y" contains the channel separator ">"'),
    list(set("u", 2, NA), list(), c('column "u" (user): ', "row", " missing")),
    list(set("t", 2, NA), list(), c('column "t" (time): ', "row", " missing")),
    list(set("cv", 2, NA), list(), c('column "cv" (conversion): ', "row", " missing")),
    list(set("cv", 2, -1), list(), c('column "cv" (conversion): ', " not a whole number >= 0 (-1)")),
    list(set("cv", 3, 0.5), list(), c('column "cv" (conversion): ', " not a whole number >= 0 (0.5)")),
    list(set("v", 3, NA), list(), c('column "v" (value): ', " missing on a conversion")),
    list(set("v", 2, NA), list(), NULL),
    list(set("id", 2, NA), list(), c('column "id" (order_by): ', " missing")),
    list(identity, list(user = "usr"), 'column "usr" (user) not found in'),
    list(identity, list(channel = "chanel"), 'column "chanel" (channel) not found in'),
    list(identity, list(channel_sep = "\u2192"), "`channel_sep` must be one single-byte character"),
    list(identity, list(channel_sep = ">>"), "`channel_sep` must be one single-byte character"))
  for (k in seq_along(cases)) {
    ev <- cases[[k]][[1]](awkward_events())
    a <- utils::modifyList(list(user = "u", time = "t", channel = "ch", conversion = "cv", value = "v",
                                order_by = "id"), cases[[k]][[2]])
    table <- if (is.null(a$table)) "events" else a$table
    a$table <- NULL
    native <- route_result(do.call(journeys_from_events, c(list(ev), a)))
    want <- cases[[k]][[3]]
    refused <- function(got, info) {
      expect_s3_class(got, "refusal")
      for (w in want) expect_match(got, w, fixed = TRUE, info = info)
    }
    if (is.null(want)) expect_s3_class(native, "data.frame") else refused(native, paste("native", k))
    for (e in names(cons)) {
      DBI::dbWriteTable(cons[[e]], table, ev, overwrite = TRUE, row.names = FALSE)
      # a collation that is not byte order, as a database's default may be
      if (e == "postgres")
        DBI::dbExecute(cons[[e]], sprintf('ALTER TABLE %s ALTER COLUMN id TYPE text COLLATE "und-x-icu"',
                                          DBI::dbQuoteIdentifier(cons[[e]], table)))
      got <- route_result(do.call(journeys_from_db, c(list(cons[[e]], table), a)))
      if (is.null(want)) expect_equal(got, native, info = paste(e, k)) else refused(got, paste(e, k))
      DBI::dbRemoveTable(cons[[e]], table)
    }
  }
  # ties of text follow bytes whatever the session's collation
  expect_identical(journeys_from_events(awkward_events()[1:4, ], "u", "t", "ch", "cv", order_by = "id")$path,
                   c("Y>_y", "x>x"))
  if (!"postgres" %in% names(cons)) skip("no PostgreSQL server: run the tests through tools/run.sh test")
})

plain_journeys <- function(x) { attr(x, "untouched") <- NULL; rownames(x) <- NULL; x }

test_that("database failures, streaming and result files are checked on every engine", {
  cons <- engines()
  on.exit(for (con in cons) DBI::dbDisconnect(con))
  ev <- awkward_events()
  dir <- tempfile("out")
  dir.create(dir)
  old <- file.path(dir, "journeys.csv")
  jdb <- function(con, ...) journeys_from_db(con, "events", "u", "t", "ch", "cv", order_by = "id", ...)
  for (e in names(cons)) {
    con <- cons[[e]]
    DBI::dbWriteTable(con, "events", ev, overwrite = TRUE, row.names = FALSE)
    DBI::dbWriteTable(con, "texttime", transform(ev, t = c("2024-03-01 10:00:00", "yesterday", format(t[-1:-2]))),
                      overwrite = TRUE, row.names = FALSE)
    DBI::dbWriteTable(con, "seps", transform(ev, ch = c("x;y", "a\nb", ch[-1:-2])), overwrite = TRUE,
                      row.names = FALSE)
    writeLines("earlier result", old)
    Sys.chmod(old, "0600")
    # call, error expected (NA: none)
    cases <- list(
      list(quote(journeys_from_db(con, "nothere", "u", "t", "ch", "cv")), "nothere"),
      # SQLite reads the text as no time; PostgreSQL cannot take the epoch of text
      list(quote(journeys_from_db(con, "texttime", "u", "t", "ch", "cv")),
           if (e == "sqlite") 'column "t" (time): 1 row missing' else "no result for the query"),
      list(quote(jdb(con, chunk = 0, file_output = old)), "`chunk` must be a whole number of at least 1"),
      list(quote(jdb(con, chunk = NA)), "`chunk` must be a whole number of at least 1"),
      list(quote(jdb(con, chunk = -5)), "`chunk` must be a whole number of at least 1"),
      list(quote(journeys_from_db(con, "seps", "u", "t", "ch", "cv", file_output = old)),
           'holds the field separator ";"'),
      list(quote(journeys_from_db(con, "seps", "u", "t", "ch", "cv", file_output = old, field_sep = "\t",
                                  chunk = 1)), 'holds the field separator "\t" or a line break'),
      list(quote(journeys_from_db(con, c("events", "seps"), "u", "t", "ch", "cv")),
           "table must be the name of one table"),
      list(quote(jdb(con, file_output = file.path(dir, "no", "such.csv"))), "does not exist"))
    for (k in cases) expect_error(eval(k[[1]]), k[[2]], fixed = TRUE, info = paste(e, deparse(k[[1]])))
    # nothing written over the earlier result, no temporary file left beside it
    expect_identical(readLines(old), "earlier result", info = e)
    expect_identical(list.files(dir), "journeys.csv", info = e)
    # a rewrite keeps the permission bits and writes through a symbolic link
    link <- file.path(dir, "latest.csv")
    file.symlink(old, link)
    jdb(con, file_output = link, chunk = 2)
    expect_identical(Sys.readlink(link), old, info = e)
    expect_identical(as.character(file.mode(old)), "600", info = e)
    back <- utils::read.table(old, header = TRUE, sep = ";", quote = "", comment.char = "",
                              colClasses = c("character", "numeric", "numeric", "numeric"))
    expect_equal(plain_journeys(back[order(back$path, method = "radix"), ]), plain_journeys(jdb(con)), info = e)
    unlink(link)
  }
  unlink(dir, recursive = TRUE)
  if (!"postgres" %in% names(cons)) skip("no PostgreSQL server: run the tests through tools/run.sh test")
})

# Readers of a quoted name or literal by each engine's lexical rules (not by
# the code that writes them): the decoded text and the characters left.
lex_quoted <- function(text, rules) {
  ch <- strsplit(text, "")[[1]]
  open <- ch[1]
  out <- character()
  i <- 2
  while (i <= length(ch)) {
    c1 <- ch[i]
    if (rules == "backslash" && c1 == "\\") {
      out <- c(out, ch[i + 1])
      i <- i + 2
    } else if (c1 == open) {
      if (rules == "double" && i < length(ch) && ch[i + 1] == open) {
        out <- c(out, open)
        i <- i + 2
      } else return(list(value = paste(out, collapse = ""), rest = paste(ch[-seq_len(i)], collapse = "")))
    } else {
      out <- c(out, c1)
      i <- i + 1
    }
  }
  list(value = NA, rest = "")
}

test_that("hostile names and separators are quoted by each engine's rules or refused", {
  # name quoting, literal quoting per dialect: "double" = quote doubled, "backslash" = escaped
  rules <- list(sqlite = c("double", "double"), postgres = c("double", "double"),
                bigquery = c("backslash", "backslash"), spark = c("double", NA))
  names_ <- c("events", "a\"b", "a`b", "a\\", "a\\`", "x` FROM t; --", "a'b", "tl_ev", "ü")
  seps <- c(">", "'", "\\", "\"", "`")
  for (d in names(rules)) {
    for (nm in names_) {
      sql <- journeys_sql(nm, nm, "t", "c", "cv", dialect = d)
      from <- regmatches(sql, regexpr("AS tl_tie FROM .*", sql, perl = TRUE))
      got <- lex_quoted(sub("^AS tl_tie FROM ", "", from), rules[[d]][1])
      expect_identical(got$value, nm, info = paste(d, nm))
      expect_identical(got$rest, "", info = paste(d, nm))
      user <- lex_quoted(sub("^ *SELECT ", "", strsplit(sql, "\n")[[1]][3]), rules[[d]][1])
      expect_identical(user$value, nm, info = paste(d, nm))
      expect_match(user$rest, "^ AS tl_user, ", info = paste(d, nm))
    }
    for (s in seps) {
      if (is.na(rules[[d]][2]) && s %in% c("'", "\\")) {
        expect_error(journeys_sql("e", "u", "t", "c", "cv", channel_sep = s, dialect = d),
                     "cannot be quoted safely for spark", info = s)
        next
      }
      sql <- journeys_sql("e", "u", "t", "c", "cv", channel_sep = s, dialect = d)
      at <- regexpr("(group_concat|STRING_AGG|concat_ws)\\(", sql)
      args <- substring(sql, at + attr(at, "match.length"))
      lit <- if (d == "spark") args else sub("^tl_label, ", "", args)
      got <- lex_quoted(lit, if (is.na(rules[[d]][2])) "backslash" else rules[[d]][2])
      expect_identical(got$value, s, info = paste(d, s))
    }
    if (d %in% c("bigquery", "spark"))
      expect_error(journeys_sql("e", "a\nb", "t", "c", "cv", dialect = d), "control character", info = d)
  }
})

# The warehouse dialects cannot be run here, so what their text means is
# read off it: the unit of each time function, and the key an array of
# structs is sorted by (Spark sorts structs field by field).
test_that("warehouse queries count time in seconds and order labels by first touch", {
  per_second <- c(seconds = 1, millis = 1e3, micros = 1e6)
  for (d in c("bigquery", "spark")) {
    sql <- journeys_sql("e", "u", "t", "c", "cv", lookback_days = 2, times = TRUE, dialect = d)
    fn <- regmatches(sql, regexec("(?i)unix_(seconds|millis|micros)\\((?:[^()]|\\([^()]*\\))*\\)( / ([0-9.]+))?",
                                  sql, perl = TRUE))[[1]]
    expect_length(fn, 4)
    expect_match(fn[1], "`t`", fixed = TRUE, info = d)
    divisor <- if (nzchar(fn[4])) as.numeric(fn[4]) else 1
    expect_equal(per_second[[tolower(fn[2])]] / divisor, 1, info = d)
    expect_match(sql, "tl_end - tl_time <= 172800", fixed = TRUE, info = d)   # seconds too
    expect_match(sql, "tl_before / 86400.0", fixed = TRUE, info = d)
  }
  for (transform in c("none", "frequency")) {
    key <- function(d) {
      sql <- journeys_sql("e", "u", "t", "c", "cv", transform = transform, dialect = d)
      if (d != "spark") return(regmatches(sql, regexec("STRING_AGG\\(tl_label, '>' ORDER BY (\\w+)\\)", sql))[[1]][2])
      s <- regmatches(sql, regexec("array_sort\\(collect_list\\(named_struct\\('(\\w+)', (\\w+), '(\\w+)', tl_label\\)\\)\\), s -> s\\.(\\w+)\\)",
                                   sql))[[1]]
      expect_identical(s[5], s[4], info = transform)   # the label is what is joined
      s[3]
    }
    expect_identical(key("spark"), key("postgres"), info = transform)
    expect_identical(key("bigquery"), "tl_seq", info = transform)
    expect_identical(key("postgres"), "tl_seq", info = transform)
  }
})

test_that("users of every kind are told apart as match() tells them apart", {
  set.seed(5)
  n <- 70000   # enough rows for users to be numbered in several bins
  id <- sample(6000, n, TRUE)
  e_utf8 <- paste0("\u00e9", id)
  e_latin1 <- iconv(e_utf8, "UTF-8", "latin1")
  ev <- data.frame(t = as.POSIXct("2024-01-01", tz = "UTC") + 3600 * sample(500, n, TRUE),
                   ch = sample(c("a", "b", "c", NA), n, TRUE), cv = rbinom(n, 1, 0.1))
  ev$v <- ev$cv * seq_len(n) / 7   # sums depend on the order users are taken in
  kinds <- list(text = paste0("u", id), int = id, sparse = id * 99991L, double = id + 0.5,
                big = id * 1e15, signed = ifelse(id %% 2 == 0, -id, id), zeros = c(-0, 0)[1 + (id %% 2)],
                factor = factor(paste0("u", id), levels = paste0("u", 6000:1)), logical = id %% 2 == 0,
                date = as.Date("2024-01-01") + id, list = as.list(id),
                two_encodings = ifelse(id %% 2 == 0, e_utf8, e_latin1),
                each_in_both = ifelse(seq_len(n) %% 3 == 0, e_utf8, e_latin1))
  with_users <- function(u) { ev$u <- u; journeys_from_events(ev, "u", "t", "ch", "cv", value = "v") }
  for (k in names(kinds)) {
    u <- kinds[[k]]
    want <- with_users(match(u, unique(u)))
    expect_identical(with_users(u), want, info = k)
    expect_identical(with_users(I(u)), want, info = k)   # a classed column goes through match()
  }
  # the same text in two encodings is one user, one channel
  two <- data.frame(u = c("\u00e9", iconv("\u00e9", "UTF-8", "latin1")), t = 1:2,
                    ch = c(iconv("\u00fc", "UTF-8", "latin1"), "\u00fc"), cv = 0)
  expect_identical(journeys_from_events(two, "u", "t", "ch", "cv")$nulls, 1)
})

test_that("the first fault in the order of the columns is the one reported", {
  ev <- data.frame(u = 1:8, t = 1:8, ch = "a", cv = 0, v = 0, id = 1:8)
  many <- data.frame(u = rep(NA_integer_, 100003), t = 1, ch = "a", cv = 0)
  set <- function(...) { e <- ev; kv <- list(...); for (i in seq(1, length(kv), 2)) e[[kv[[i]]]][kv[[i + 1]]] <- NA; e }
  cases <- list(
    list(set("u", 2, "t", 1, "cv", 1), 'column "u" (user): row 2 missing'),
    list(set("t", 3:7, "cv", 1), 'column "t" (time): rows 3, 4, 5 and 2 more missing'),
    list(transform(set("cv", 1), t = as.complex(t)), 'column "t" (time) must be POSIXct'),
    list(transform(set("v", 1), cv = factor(cv)), 'column "cv" (conversion) must be numeric or TRUE/FALSE, not factor'),
    list(transform(set("id", 1), cv = c(1, 2.5, -1, 1, 1, 1, 1, 1)), 'column "cv" (conversion): rows 2, 3 not a whole number >= 0 (2.5)'),
    list(transform(set("id", 1), cv = 1, v = c(NA, 1, NA, 1, 1, 1, 1, 1)), 'column "v" (value): rows 1, 3 missing on a conversion'),
    list(transform(set("id", 4), v = "x"), 'column "v" (value) must be numeric or TRUE/FALSE, not character'),
    list(set("id", 4), 'column "id" (order_by): row 4 missing'),
    list(transform(ev, cv = c(1, 1e20, 1, 1, 1, 1, 1, 1)), "column conversion: conversions in row 2 must be a whole number >= 0"),
    list(many, 'column "u" (user): rows 1, 2, 3 and 100000 more missing'),
    list(transform(ev, u = c("a", NA, "b", "a", NA, "c", NA, NA)), 'column "u" (user): rows 2, 5, 7 and 1 more missing'),
    list(transform(ev, u = c(0.5, 1e300, NA, 0.5, 2, 2, NA, 3)), 'column "u" (user): rows 3, 7 missing'),
    list(utils::modifyList(as.list(ev), list(ch = c("a", "b"))), "the columns of events must be of one length"))
  for (k in cases) {
    a <- list(k[[1]], "u", "t", "ch", "cv", value = if ("v" %in% names(k[[1]])) "v",
              order_by = if ("id" %in% names(k[[1]])) "id")
    expect_error(do.call(journeys_from_events, a), k[[2]], fixed = TRUE, info = k[[2]])
  }
})
