#' Journeys from touch events
#'
#' Builds the journey table every model reads (one row per distinct path
#' with its conversions, nulls and value) from raw events: one row per touch
#' (a user, a time stamp, a channel) or per conversion (a count > 0 and its
#' value). A conversion row that also names a channel is that touch followed
#' by the conversion.
#'
#' Per user, events run in time order; ties keep their input order, or
#' follow `order_by` when given (numbers by value, text by its bytes, as
#' the databases of [journeys_from_db()] compare it, whatever the
#' session's collation). Each conversion ends a journey made of the
#' touches since the previous conversion; touches after a user's last
#' conversion form a non-converting journey (one null). Lookback drops
#' touches more than `lookback_days` before the journey's end (the
#' conversion, or the last touch of a non-converting journey) and all but the
#' last `lookback_touches`. Then `transform` shapes the path:
#' `"none"` keeps every touch; `"collapse"` merges consecutive repeats of a
#' channel; `"first"` keeps each channel's first touch only; `"frequency"`
#' lists each channel once, in order of first touch, with its number of
#' touches, as in `"search(3)>display(1)"`. A conversion left without any
#' touch (none before it, or none within the lookback) forms no journey; such
#' conversions are counted in a message and in the attribute `"untouched"`
#' (conversions, rows, value).
#'
#' Time stamps may be `POSIXct`, `Date`, numbers (seconds since 1970-01-01
#' UTC) or ISO text (`"2024-01-31"`, `"2024-01-31 12:00:00"`, with `T`,
#' fractions, `Z` or a numeric offset). With `file`, events are streamed
#' from a delimited file with a header line (fields split at `field_sep`, no
#' quoting; an empty channel is no touch, an empty conversion 0). Memory then
#' holds about 25 bytes per event (8 more with `order_by`), or, with `grouped = TRUE` (each user's
#' events contiguous in the file, in any time order), only one user's events
#' at a time plus the set of users and the journey table.
#'
#' @param events a data frame of events (data.table and tibble work too);
#'   ignored when `file` is given.
#' @param user,time,channel,conversion names of the columns holding the user
#'   id, the time stamp, the channel (`NA` or `""`: no touch) and the number
#'   of conversions (0 for a touch; `TRUE`/`FALSE` work too; a factor is
#'   refused, as its codes are not its labels). A missing user, time or
#'   conversion is an error naming the column and rows.
#' @param value name of the column of conversion value (numeric; missing
#'   only on rows without a conversion), or `NULL`.
#' @param lookback_days,lookback_touches lookback window (`Inf`: none).
#' @param transform `"none"`, `"collapse"`, `"first"` or `"frequency"`.
#' @param file a delimited events file, instead of `events`.
#' @param order_by name of a column breaking ties of time within a user.
#' @param times `TRUE` adds a column `days`: for each kept touch, the whole
#'   days (floored) between it and the journey's end, written like the path;
#'   rows are then distinct by path and days. The `"time_decay"` model needs
#'   it. Not with `transform = "frequency"`.
#' @param grouped `TRUE` when the file holds each user's events together.
#' @param channel_sep separator between channels in the paths written: one
#'   single-byte character; a channel containing it is an error.
#' @param field_sep separator between fields of the events file: one
#'   single-byte character.
#' @return A data.frame with columns `path`, `conversions`, `nulls`,
#'   `value` (0 without a value column) and, with `times = TRUE`, `days`;
#'   rows sorted by path (byte order).
#' @examples
#' ev <- data.frame(user = c(1, 1, 1, 2, 2),
#'                  time = as.POSIXct("2024-01-01", tz = "UTC") + 3600 * c(0, 5, 9, 1, 2),
#'                  channel = c("search", "display", NA, "email", "email"),
#'                  conversion = c(0, 0, 1, 0, 0), revenue = c(0, 0, 30, 0, 0))
#' journeys_from_events(ev, "user", "time", "channel", "conversion", value = "revenue")
#' journeys_from_events(ev, "user", "time", "channel", "conversion", transform = "collapse",
#'                      times = TRUE)
#' @export
journeys_from_events <- function(events, user, time, channel, conversion, value = NULL,
                                 lookback_days = Inf, lookback_touches = Inf, transform = "none",
                                 file = NULL, order_by = NULL, times = FALSE, grouped = FALSE,
                                 channel_sep = ">", field_sep = ";") {
  for (a in c("user", "time", "channel", "conversion"))
    if (!is.character(get(a)) || length(get(a)) != 1L || is.na(get(a)))
      tl_stop(sprintf("%s must be the name of a column", a))
  as_flag(times, "times")
  as_flag(grouped, "grouped")
  check_sep(channel_sep, "channel_sep")
  check_sep(field_sep, "field_sep")
  transform <- as_kind(transform, c("none", "collapse", "first", "frequency"), "transform")
  sql_check_limits(times, transform, lookback_days, lookback_touches, channel_sep)
  settings <- list(channel_sep, as.double(lookback_days), as.double(lookback_touches), transform,
                   as.integer(times))
  if (!is.null(file)) {
    if (!missing(events) && !is.null(events)) tl_stop("give the events either as events or as file, not both")
    if (!is.character(file) || length(file) != 1L || !file.exists(file))
      tl_stop(sprintf("file \"%s\" does not exist", paste(file, collapse = " ")))
    vars <- c(user, time, channel, conversion, if (is.null(value)) "" else value,
              if (is.null(order_by)) "" else order_by)
    r <- do.call(.Call, c(list("journeys_from_events_R", 1L, path.expand(file), NULL, 0, NULL, NULL,
                               NULL, NULL, NULL, NULL, vars, field_sep), settings,
                          list(as.integer(grouped), PACKAGE = "Touchlane")))
  } else {
    if (missing(events) || !is.list(events))
      tl_stop("events must be a data frame of events, or give file")
    col <- function(name, what) {
      if (is.null(name)) return(NULL)
      if (!name %in% names(events))
        tl_stop(sprintf("column \"%s\" (%s) not found in events", name, what))
      events[[name]]
    }
    u <- col(user, "user")
    ch <- col(channel, "channel")
    tm <- col(time, "time")
    cv <- col(conversion, "conversion")
    v <- col(value, "value")
    tie <- tie_key(col(order_by, "order_by"))
    for (x in list(ch, tm, cv, v, tie))
      if (!is.null(x) && length(x) != length(u)) tl_stop("the columns of events must be of one length")
    # users are numbered natively; other kinds of column by R's own match()
    if (!(typeof(u) %in% c("character", "integer", "double", "logical")) || (is.object(u) && !is.factor(u))) {
      na <- is.na(u)
      u <- match(u, unique(u))
      u[na] <- NA_integer_
    }
    levs <- NULL
    if (is.factor(ch)) levs <- as.character(levels(ch)) else if (!is.character(ch)) ch <- as.character(ch)
    time_scale <- 1
    tm <- event_seconds(tm)
    if (inherits(tm, "Date")) time_scale <- 86400
    cv <- event_numbers(cv)
    v <- event_numbers(v)
    ok <- c(!is.null(tm), !is.null(cv), is.null(value) || !is.null(v))
    r <- do.call(.Call, c(list("journeys_from_event_frame_R", u, tm, time_scale, ch, levs, cv, v, tie,
                               as.integer(ok)), settings, list(PACKAGE = "Touchlane")))
    if (!is.null(r$refused)) {
      rows <- r$rows
      if (r$count <= .Machine$integer.max) rows <- as.integer(rows)
      refuse <- function(name, what, problem) refuse_rows(rows, name, what, problem, r$count)
      switch(r$refused,
        refuse(user, "user", "missing"),
        tl_stop(sprintf("column \"%s\" (time) must be POSIXct, Date, numbers of seconds or ISO text", time)),
        refuse(time, "time", "missing"),
        not_numbers(events[[conversion]], conversion, "conversion"),
        refuse(conversion, "conversion", "missing"),
        refuse(conversion, "conversion", sprintf("not a whole number >= 0 (%s)", format(as.double(cv[rows[1]])))),
        not_numbers(events[[value]], value, "value"),
        refuse(value, "value", "missing on a conversion"),
        refuse(order_by, "order_by", "missing"))
    }
  }
  journey_table(r, times)
}

# Refuses the rows `bad` of a column (the first of `count`), naming the
# column and what is wrong there, in the words the SQL route uses too.
refuse_rows <- function(bad, name, what, problem, count = length(bad)) {
  if (count > 0) {
    rows <- paste0(bad_rows(utils::head(bad, 3)), if (count > 3) paste0(" and ", whole_text(count - 3), " more"))
    tl_stop(sprintf("column \"%s\" (%s): %s %s", name, what, rows, problem))
  }
}

# Time stamps as the native builder reads them: seconds (numbers or
# POSIXct), day numbers (Date, scaled natively) or ISO text (parsed
# natively); NULL for a column of another kind.
event_seconds <- function(x) {
  if (inherits(x, "Date") || inherits(x, "POSIXct")) return(x)
  if (inherits(x, "POSIXt")) return(as.POSIXct(x))
  if (is.factor(x)) return(as.character(x))
  if (is.character(x)) return(x)
  if (is.numeric(x)) return(if (is.object(x)) as.double(x) else x)
  NULL
}

# Conversions and values: numbers or TRUE/FALSE, NULL for another kind. A
# factor's codes are not its labels, so factors are refused.
event_numbers <- function(x) {
  if (is.null(x) || (!is.numeric(x) && !is.logical(x))) return(NULL)
  if (is.object(x)) as.double(x) else x
}

not_numbers <- function(x, name, what)
  tl_stop(sprintf("column \"%s\" (%s) must be numeric or TRUE/FALSE, not %s", name, what, class(x)[1]))

# Ties of time follow order_by: numbers and times by value, text by its
# bytes (as the databases compare it), whatever the session's collation.
tie_key <- function(x) {
  if (is.null(x)) return(NULL)
  if (is.numeric(x) || inherits(x, "POSIXt") || inherits(x, "Date")) return(as.double(x))
  x <- as.character(x)
  as.double(match(x, sort(unique(x[!is.na(x)]), method = "radix")))
}

journey_table <- function(r, times) {
  out <- data.frame(path = r$path, conversions = r$conversions, nulls = r$nulls, value = r$value,
                    stringsAsFactors = FALSE)
  if (times) out$days <- r$days
  attr(out, "untouched") <- c(conversions = r$untouched, rows = r$untouched_rows, value = r$untouched_value)
  if (r$untouched > 0)
    message(sprintf("%s conversions (%s rows) had no touch before them within the lookback and form no journey",
                    format(r$untouched, big.mark = ","), format(r$untouched_rows, big.mark = ",")))
  out
}

#' Journeys in SQL, where the events live
#'
#' Writes one standard SQL query (window functions and ordered string
#' aggregation) that turns an event table into the journey table of
#' [journeys_from_events()], with the same rules, lookback, transforms and
#' `days` column. Ties of time are broken by `order_by`: SQL has no input
#' order, so without it tied events come in an order the engine chooses.
#' Text in `order_by` must compare by bytes for the result to match
#' [journeys_from_events()]: SQLite, BigQuery and Spark do so; in
#' PostgreSQL give the column the "C" collation ([journeys_from_db()]
#' does it for you).
#'
#' The query itself does not refuse bad events; [journeys_from_db()] runs
#' a check query first and refuses what [journeys_from_events()] refuses
#' (missing users, times, conversions, or values of conversions; conversions
#' that are not whole numbers >= 0; channels containing `channel_sep`).
#'
#' Names are quoted by each engine's rules: double quotes (doubled inside)
#' in SQLite and PostgreSQL; backticks in BigQuery (backslash escapes) and
#' Spark (a backtick doubled). Literals are quoted with `'` doubled in SQLite
#' and PostgreSQL and backslash escapes in BigQuery; in Spark a separator
#' `'` or `\` is refused, as is any control character in BigQuery and Spark
#' names or separators. The query's own steps are named so that they never
#' hide the events table.
#'
#' The `sqlite` and `postgres` dialects are tested against the native
#' builder on real databases. The `bigquery` and `spark` dialects are
#' checked as text only: they were not run here.
#'
#' @inheritParams journeys_from_events
#' @param table the table (or view) of events, a single string;
#'   `"schema.table"` is split at the dot and each part quoted.
#' @param time_type `"timestamp"`: the time column is a timestamp or date
#'   (in SQLite ISO text, read to whole seconds, or numbers of seconds
#'   since 1970 as `DBI::dbWriteTable()` stores `POSIXct`; a `Date` stored
#'   by RSQLite as a number of days is not told apart: write dates as text);
#'   `"seconds"`: it holds seconds since 1970-01-01 UTC.
#' @param dialect `"sqlite"`, `"postgres"`, `"bigquery"` or `"spark"`.
#' @return The query text, a single string.
#' @examples
#' cat(journeys_sql("events", "user_id", "ts", "channel", "conversions", value = "revenue",
#'                  lookback_days = 30, transform = "collapse", order_by = "event_id",
#'                  dialect = "postgres"))
#' @export
journeys_sql <- function(table, user, time, channel, conversion, value = NULL,
                         lookback_days = Inf, lookback_touches = Inf, transform = "none",
                         order_by = NULL, times = FALSE, time_type = "timestamp",
                         channel_sep = ">", dialect = "sqlite") {
  q <- sql_parts(table, user, time, channel, conversion, value, lookback_days, lookback_touches,
                 transform, order_by, times, time_type, channel_sep, dialect)
  sql_query(q)
}

# The checked arguments of a journey query, with the dialect's quoting and
# the names of its internal steps.
sql_parts <- function(table, user, time, channel, conversion, value = NULL,
                      lookback_days = Inf, lookback_touches = Inf, transform = "none",
                      order_by = NULL, times = FALSE, time_type = "timestamp",
                      channel_sep = ">", dialect = "sqlite", tie_bytes = FALSE) {
  dialect <- as_kind(dialect, c("sqlite", "postgres", "bigquery", "spark"), "dialect")
  transform <- as_kind(transform, c("none", "collapse", "first", "frequency"), "transform")
  time_type <- as_kind(time_type, c("timestamp", "seconds"), "time_type")
  if (!is.character(table) || length(table) != 1L || is.na(table) || !nzchar(table))
    tl_stop("table must be the name of one table (a single string)")
  for (a in c("user", "time", "channel", "conversion"))
    if (!is.character(get(a)) || length(get(a)) != 1L || is.na(get(a)))
      tl_stop(sprintf("%s must be the name of a column", a))
  for (a in c("value", "order_by"))
    if (!is.null(get(a)) && (!is.character(get(a)) || length(get(a)) != 1L || is.na(get(a))))
      tl_stop(sprintf("%s must be the name of a column, or NULL", a))
  sql_check_limits(times, transform, lookback_days, lookback_touches, channel_sep)
  d <- sql_dialect(dialect)
  parts <- strsplit(table, ".", fixed = TRUE)[[1]]
  cols <- c(user = user, time = time, channel = channel, conversion = conversion, value = value,
            order_by = order_by)
  list(dialect = dialect, d = d, transform = transform, time_type = time_type, times = times,
       lookback_days = lookback_days, lookback_touches = lookback_touches, channel_sep = channel_sep,
       # Names are quoted in this order so that the first bad one is reported.
       tbl = paste(vapply(parts, d$q, ""), collapse = "."), cols = cols,
       qc = vapply(cols, d$q, ""), sep = d$lit(channel_sep), tie_bytes = tie_bytes,
       step = sql_step_names(parts))
}

# The internal steps of the query are named so that none can be the events
# table (a step named like it would hide it, case aside).
sql_step_names <- function(parts) {
  steps <- c("ev", "numbered", "cut", "ended", "touches", "kept", "shaped", "running", "journeys")
  prefix <- "tl_"
  while (any(tolower(paste0(prefix, steps)) %in% tolower(parts))) prefix <- paste0(prefix, "_")
  stats::setNames(paste0(prefix, steps), steps)
}

# The quoted time column as seconds since 1970.
sql_time <- function(q) sql_epoch(q$qc[["time"]], q$time_type, q$dialect)

sql_query <- function(q) {
  d <- q$d
  s <- q$step
  tie <- if (!"order_by" %in% names(q$cols)) "0" else
    paste0(q$qc[["order_by"]], if (q$tie_bytes && q$dialect == "postgres") " COLLATE \"C\"")
  ev <- sprintf("SELECT %s AS tl_user, %s AS tl_time, %s AS tl_channel, COALESCE(%s, 0) AS tl_conv, %s AS tl_value, %s AS tl_tie FROM %s",
                q$qc[["user"]], sql_time(q), q$qc[["channel"]], q$qc[["conversion"]],
                if (!"value" %in% names(q$cols)) "0" else sprintf("COALESCE(%s, 0)", q$qc[["value"]]),
                tie, q$tbl)
  ctes <- c(stats::setNames(ev, s[["ev"]]), sql_touches(q$lookback_days, q$lookback_touches, s),
            stats::setNames(sql_shape(q$transform, d, s), s[["shaped"]]),
            sql_journeys(q$dialect, d, q$times, q$sep, s))
  times <- q$times
  final <- sprintf(paste("SELECT tl_path AS path, SUM(tl_jconv) AS conversions,",
                         "SUM(CASE WHEN tl_jconv = 0 THEN 1 ELSE 0 END) AS nulls, SUM(tl_jvalue) AS value%s",
                         "FROM %s GROUP BY tl_path%s"),
                   if (times) ", tl_days AS days" else "", s[["journeys"]], if (times) ", tl_days" else "")
  paste0("WITH\n", paste0(names(ctes), " AS (\n  ", ctes, "\n)", collapse = ",\n"), "\n", final)
}

# One row of counts of the events the native builder refuses, so that both
# routes refuse the same tables: missing users, times the database cannot
# read, conversions that are missing or not whole numbers >= 0, conversions
# without a value, missing tie breakers, and channels holding the
# separator (with one example of each of the last two).
sql_check_query <- function(q) {
  n <- function(cond) sprintf("SUM(CASE WHEN %s THEN 1 ELSE 0 END)", cond)
  cv <- q$qc[["conversion"]]
  has <- switch(q$dialect, sqlite = , spark = "instr(%s, %s) > 0", postgres = , bigquery = "strpos(%s, %s) > 0")
  sep_in <- sprintf(has, q$qc[["channel"]], q$sep)
  conv_bad <- sprintf("%s < 0 OR %s <> CAST(%s AS %s)", cv, cv, cv,
                      if (q$dialect == "bigquery") "INT64" else if (q$dialect == "sqlite") "INTEGER" else "BIGINT")
  cols <- c(user = n(sprintf("%s IS NULL", q$qc[["user"]])),
            time = n(sprintf("(%s) IS NULL", sql_time(q))),
            conversion_null = n(sprintf("%s IS NULL", cv)),
            conversion = n(conv_bad),
            conversion_example = sprintf("MIN(CASE WHEN %s THEN %s END)", conv_bad, cv),
            value = if ("value" %in% names(q$cols))
              n(sprintf("%s > 0 AND %s IS NULL", cv, q$qc[["value"]])),
            order_by = if ("order_by" %in% names(q$cols)) n(sprintf("%s IS NULL", q$qc[["order_by"]])),
            channel = n(sep_in),
            channel_example = sprintf("MIN(CASE WHEN %s THEN %s END)", sep_in, q$qc[["channel"]]))
  sprintf("SELECT %s FROM %s", paste(cols, "AS", names(cols), collapse = ", "), q$tbl)
}

# Refuses, as the native builder does, what the counts of sql_check_query()
# show, in the words of journeys_from_events().
sql_refuse <- function(chk, q) {
  num <- function(x) if (is.null(x) || is.na(x)) 0 else as.numeric(x)
  refuse <- function(k, a, problem)
    if (num(k) > 0)
      tl_stop(sprintf("column \"%s\" (%s): %s %s", q$cols[[a]], a,
                   if (num(k) == 1) "1 row" else paste(format(num(k), big.mark = ","), "rows"), problem))
  if (num(chk$channel) > 0)
    tl_stop(sprintf("channel \"%s\" contains the channel separator \"%s\"", chk$channel_example,
                 q$channel_sep))
  refuse(chk$user, "user", "missing (NULL)")
  refuse(chk$time, "time", "missing (NULL, or text the database does not read as a time)")
  refuse(chk$conversion_null, "conversion", "missing (NULL)")
  refuse(chk$conversion, "conversion", sprintf("not a whole number >= 0 (%s)", format(chk$conversion_example)))
  refuse(chk$value, "value", "missing on a conversion (NULL)")
  refuse(chk$order_by, "order_by", "missing (NULL)")
  invisible(NULL)
}

# Window over one journey of one user.
sql_jw <- "PARTITION BY tl_user, tl_journey"

sql_check_limits <- function(times, transform, lookback_days, lookback_touches, channel_sep) {
  as_flag(times, "times")
  if (times && transform == "frequency")
    tl_stop("times = TRUE needs a transform that keeps touches, not \"frequency\"")
  if (!is.numeric(lookback_days) || length(lookback_days) != 1L || is.na(lookback_days) || lookback_days < 0)
    tl_stop("lookback_days must be a number >= 0 or Inf")
  if (!is.numeric(lookback_touches) || length(lookback_touches) != 1L || is.na(lookback_touches) ||
      lookback_touches < 1 || (is.finite(lookback_touches) && lookback_touches != round(lookback_touches)))
    tl_stop("lookback_touches must be a whole number >= 1 or Inf")
  check_sep(channel_sep, "channel_sep")
  invisible(NULL)
}

# Quoting and concatenation of a dialect. SQLite and PostgreSQL follow
# standard SQL: names in double quotes, literals in single quotes, the quote
# doubled inside. BigQuery reads backslash escapes in quoted names and
# literals (a doubled quote there ends the text), so the backslash and the
# quote are escaped with a backslash. Spark doubles a backtick in a name, but
# whether a backslash escapes in a literal depends on a session setting, so
# a separator that is a quote or a backslash is refused there. Control
# characters are refused in the warehouse dialects, whose quoted text
# cannot hold them raw.
sql_dialect <- function(dialect) {
  bq <- dialect %in% c("bigquery", "spark")
  refuse_controls <- function(x, what) {
    if (bq && grepl("[\001-\037\177]", x, useBytes = TRUE))
      tl_stop(sprintf("%s \"%s\" holds a control character, which %s cannot quote", what, x, dialect))
  }
  list(
    q = function(x) {
      if (!is.character(x) || length(x) != 1L || is.na(x) || !nzchar(x))
        tl_stop("table and column names must be single non-empty strings")
      refuse_controls(x, "name")
      switch(dialect,
             bigquery = paste0("`", gsub("([`\\\\])", "\\\\\\1", x), "`"),
             spark = paste0("`", gsub("`", "``", x, fixed = TRUE), "`"),
             paste0("\"", gsub("\"", "\"\"", x, fixed = TRUE), "\""))
    },
    lit = function(s) {
      refuse_controls(s, "channel_sep")
      if (dialect == "spark" && grepl("['\\\\]", s))
        tl_stop(sprintf("channel_sep \"%s\" cannot be quoted safely for spark: choose another character", s))
      if (dialect == "bigquery") return(paste0("'", gsub("(['\\\\])", "\\\\\\1", s), "'"))
      paste0("'", gsub("'", "''", s, fixed = TRUE), "'")
    },
    cat2 = function(...) if (bq) paste0("CONCAT(", paste(..., sep = ", "), ")") else paste(..., sep = " || "),
    text = if (bq) "STRING" else "TEXT")
}

# The quoted time column t as seconds since 1970.
sql_epoch <- function(t, time_type, dialect) {
  if (time_type == "seconds") return(t)
  switch(dialect,
    # DBI::dbWriteTable stores POSIXct as REAL seconds: numbers are seconds
    sqlite = sprintf("CASE WHEN typeof(%s) IN ('integer', 'real') THEN %s ELSE CAST(strftime('%%s', %s) AS INTEGER) END",
                     t, t, t),
    postgres = sprintf("EXTRACT(EPOCH FROM %s)", t),
    bigquery = sprintf("UNIX_MICROS(TIMESTAMP(%s)) / 1000000.0", t),
    spark = sprintf("unix_micros(CAST(%s AS TIMESTAMP)) / 1000000.0", t))
}

# From numbered events to the touches kept in each journey's lookback.
sql_touches <- function(lookback_days, lookback_touches, s) {
  has_channel <- "tl_channel IS NOT NULL AND tl_channel <> ''"
  jw <- sql_jw
  out <- c(
    numbered = sprintf("SELECT %s.*, ROW_NUMBER() OVER (PARTITION BY tl_user ORDER BY tl_time, tl_tie) AS tl_seq FROM %s",
                       s[["ev"]], s[["ev"]]),
    # journey number: the conversions strictly before the row
    cut = sprintf(paste("SELECT %s.*, COALESCE(SUM(CASE WHEN tl_conv > 0 THEN 1 ELSE 0 END) OVER",
                        "(PARTITION BY tl_user ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND 1 PRECEDING), 0)",
                        "AS tl_journey FROM %s"), s[["numbered"]], s[["numbered"]]),
    ended = sprintf(paste("SELECT %s.*, MAX(CASE WHEN tl_conv > 0 OR (%s) THEN tl_time END) OVER (%s) AS tl_end,",
                          "SUM(tl_conv) OVER (%s) AS tl_jconv,",
                          "SUM(CASE WHEN tl_conv > 0 THEN tl_value ELSE 0 END) OVER (%s) AS tl_jvalue FROM %s"),
                    s[["cut"]], has_channel, jw, jw, jw, s[["cut"]]),
    touches = sprintf(paste("SELECT tl_user, tl_journey, tl_seq, tl_channel, tl_end - tl_time AS tl_before,",
                            "tl_jconv, tl_jvalue, ROW_NUMBER() OVER (%s ORDER BY tl_seq DESC) AS tl_back",
                            "FROM %s WHERE %s%s"), jw, s[["ended"]], has_channel,
                      if (is.finite(lookback_days))
                        sprintf(" AND tl_end - tl_time <= %s", format(lookback_days * 86400, digits = 17)) else ""),
    kept = paste0("SELECT * FROM ", s[["touches"]],
                  if (is.finite(lookback_touches)) sprintf(" WHERE tl_back <= %.0f", lookback_touches) else ""))
  stats::setNames(out, s[names(out)])
}

# The label of each kept touch under the transform.
sql_shape <- function(transform, d, s) {
  jw <- sql_jw
  k <- s[["kept"]]
  switch(transform,
    none = sprintf("SELECT %s.*, tl_channel AS tl_label FROM %s", k, k),
    collapse = sprintf(paste("SELECT x.*, tl_channel AS tl_label FROM (SELECT %s.*, LEAD(tl_channel) OVER",
                             "(%s ORDER BY tl_seq) AS tl_next FROM %s) x",
                             "WHERE tl_next IS NULL OR tl_next <> tl_channel"), k, jw, k),
    first = sprintf(paste("SELECT x.*, tl_channel AS tl_label FROM (SELECT %s.*, ROW_NUMBER() OVER",
                          "(%s, tl_channel ORDER BY tl_seq) AS tl_nth FROM %s) x WHERE tl_nth = 1"), k, jw, k),
    frequency = sprintf(paste("SELECT tl_user, tl_journey, MIN(tl_seq) AS tl_seq, MIN(tl_before) AS tl_before,",
                              "MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, %s AS tl_label",
                              "FROM %s GROUP BY tl_user, tl_journey, tl_channel"),
                        d$cat2("tl_channel", "'('", sprintf("CAST(COUNT(*) AS %s)", d$text), "')'"), k))
}

# One row per journey: its labels (and, with times, its whole days before
# the journey's end) joined in touch order.
sql_journeys <- function(dialect, d, times, lit_sep, s) {
  jw <- sql_jw
  whole_days <- if (dialect == "sqlite") "CAST(tl_before / 86400.0 AS INTEGER)" else
    sprintf("CAST(FLOOR(tl_before / 86400.0) AS %s)", if (dialect == "bigquery") "INT64" else "BIGINT")
  day_text <- sprintf("CAST(%s AS %s)", whole_days, d$text)
  if (dialect == "sqlite") {
    # ordered aggregation as a running window; the journey's last row holds it all
    w <- sprintf("(%s ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW)", jw)
    return(stats::setNames(c(
      sprintf(paste("SELECT tl_jconv, tl_jvalue, group_concat(tl_label, %s) OVER %s AS tl_path,%s",
                    "ROW_NUMBER() OVER (%s ORDER BY tl_seq DESC) AS tl_last FROM %s"),
              lit_sep, w, if (times) sprintf(" group_concat(%s, %s) OVER %s AS tl_days,", day_text, lit_sep, w) else "",
              jw, s[["shaped"]]),
      sprintf("SELECT * FROM %s WHERE tl_last = 1", s[["running"]])), s[c("running", "journeys")]))
  }
  agg <- function(x) switch(dialect,
    postgres = , bigquery = sprintf("STRING_AGG(%s, %s ORDER BY tl_seq)", x, lit_sep),
    spark = sprintf("concat_ws(%s, transform(array_sort(collect_list(named_struct('seq', tl_seq, 'label', %s))), s -> s.label))", lit_sep, x))
  stats::setNames(sprintf(
    "SELECT MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, %s AS tl_path%s FROM %s GROUP BY tl_user, tl_journey",
    agg("tl_label"), if (times) sprintf(", %s AS tl_days", agg(day_text)) else "", s[["shaped"]]), s[["journeys"]])
}

#' Journeys from a database table of events
#'
#' Runs [journeys_sql()] on a DBI connection and returns the journey table
#' (as [journeys_from_events()] does, rows sorted by path), or streams it to
#' `file_output` in chunks (header `path`, `conversions`, `nulls`, `value`
#' and `days` with `times = TRUE`, fields joined by `field_sep`) and returns
#' the file name invisibly.
#'
#' Before the query, every column named is looked up in the table (a
#' misspelt name is an error, not a constant) and a check query refuses the
#' events [journeys_from_events()] refuses, with the same wording. A query
#' the database fails (or answers with no result) is an error, also where
#' the driver only warns. The result file is written to a temporary file
#' beside `file_output` that replaces it only when complete, keeping the
#' permission bits of the file it replaces; a symbolic link is written
#' through to its target. Fields are not quoted, so a path holding
#' `field_sep` or a line break is an error.
#'
#' @param con a DBI connection (RSQLite and RPostgreSQL are tested).
#' @param table,... the table and the arguments of [journeys_sql()].
#' @param dialect the SQL dialect; by default taken from the connection's
#'   class (SQLite or PostgreSQL).
#' @param file_output a file to stream the journeys to, or `NULL`.
#' @param field_sep field separator of `file_output`: one single-byte
#'   character.
#' @param chunk rows fetched at a time when streaming: a whole number >= 1.
#' @examples
#' if (requireNamespace("RSQLite", quietly = TRUE)) {
#'   con <- DBI::dbConnect(RSQLite::SQLite(), ":memory:")
#'   DBI::dbWriteTable(con, "events", data.frame(
#'     user = c(1, 1, 1, 2), ts = c(0, 60, 120, 30), id = 1:4,
#'     channel = c("search", "email", NA, "display"), conversion = c(0, 0, 1, 0)))
#'   print(journeys_from_db(con, "events", "user", "ts", "channel", "conversion",
#'                          order_by = "id", time_type = "seconds"))
#'   DBI::dbDisconnect(con)
#' }
#' @export
journeys_from_db <- function(con, table, ..., dialect = NULL, file_output = NULL, field_sep = ";",
                             chunk = 100000L) {
  if (!requireNamespace("DBI", quietly = TRUE)) tl_stop("journeys_from_db needs the DBI package")
  if (is.null(dialect)) {
    cl <- class(con)
    dialect <- if (any(grepl("SQLite", cl))) "sqlite" else if (any(grepl("PostgreSQL|Pq|Redshift", cl))) "postgres" else
      tl_stop(sprintf("cannot tell the SQL dialect of a %s connection: give dialect", cl[1]))
  }
  as_whole(chunk, "chunk", 1)
  if (!is.null(file_output)) {
    as_output(file_output)
    check_sep(field_sep, "field_sep")
  }
  q <- sql_parts(table, ..., dialect = dialect)
  # the columns as the table has them: a misspelt name would otherwise be
  # read as a string constant by SQLite
  empty <- db_query(con, sprintf("SELECT * FROM %s WHERE 1 = 0", q$tbl))
  have <- names(empty)
  # quoted names are exact in PostgreSQL; the other engines ignore case
  fold <- if (dialect == "postgres") identity else tolower
  for (a in names(q$cols))
    if (!fold(q$cols[[a]]) %in% fold(have))
      tl_stop(sprintf("column \"%s\" (%s) not found in table \"%s\"; its columns are: %s", q$cols[[a]], a,
                   table, paste(have, collapse = ", ")))
  # text ties are ordered by bytes, as journeys_from_events() orders them
  if ("order_by" %in% names(q$cols)) {
    tie <- empty[[match(fold(q$cols[["order_by"]]), fold(have))]]
    q$tie_bytes <- is.character(tie) || is.factor(tie)
  }
  sql_refuse(db_query(con, sql_check_query(q)), q)
  sql <- sql_query(q)
  if (is.null(file_output)) return(db_journeys(db_query(con, sql)))
  db_to_file(con, sql, file_output, field_sep, chunk)
}

# A query's result; a failed query is an error even where the driver only
# warns (RPostgreSQL warns and returns NULL).
db_query <- function(con, sql, send = FALSE) {
  warned <- character()
  out <- withCallingHandlers(
    if (send) DBI::dbSendQuery(con, sql) else DBI::dbGetQuery(con, sql),
    warning = function(w) {
      warned <<- c(warned, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
  if (is.null(out) || (!send && !is.data.frame(out))) {
    why <- tryCatch(DBI::dbGetException(con)$errorMsg, error = function(e) NULL)
    tl_stop(paste(c("the database gave no result for the query", warned, why), collapse = ": "))
  }
  for (w in warned) warning(w, call. = FALSE)
  out
}

# Streams the journeys of `sql` to a temporary file beside `file_output`
# that replaces it only once everything is written, with the permission bits
# of the file it replaces; a symbolic link is written through to its target.
db_to_file <- function(con, sql, file_output, field_sep, chunk) {
  target <- path.expand(file_output)
  for (hop in 1:40) {
    link <- Sys.readlink(target)
    if (is.na(link) || !nzchar(link)) break
    target <- if (startsWith(link, "/")) link else file.path(dirname(target), link)
  }
  if (!dir.exists(dirname(target)))
    tl_stop(sprintf("file_output \"%s\": directory \"%s\" does not exist", file_output, dirname(target)))
  tmp <- tempfile(paste0(basename(target), ".tmp"), tmpdir = dirname(target))
  done <- FALSE
  on.exit(if (!done) unlink(tmp))
  res <- db_query(con, sql, send = TRUE)
  on.exit(DBI::dbClearResult(res), add = TRUE, after = FALSE)
  fh <- file(tmp, "w")
  first <- TRUE
  tryCatch(repeat {
    part <- DBI::dbFetch(res, n = chunk)
    if (first || nrow(part) > 0) {
      part <- db_journeys(part, sort = FALSE)
      bad <- grepl(field_sep, part$path, fixed = TRUE) | grepl("[\r\n]", part$path)
      if (any(bad))
        tl_stop(sprintf(paste("path \"%s\" holds the field separator \"%s\" or a line break, which file_output",
                           "cannot hold unquoted: choose another field_sep or rename the channel"),
                     encodeString(part$path[bad][1]), field_sep))
      utils::write.table(part, fh, sep = field_sep, quote = FALSE, row.names = FALSE, col.names = first)
      first <- FALSE
    }
    if (DBI::dbHasCompleted(res)) break
  }, finally = close(fh))
  if (file.exists(target)) Sys.chmod(tmp, file.mode(target), use_umask = FALSE)
  if (!file.rename(tmp, target)) tl_stop(sprintf("cannot replace file_output \"%s\"", file_output))
  done <- TRUE
  invisible(file_output)
}

db_journeys <- function(d, sort = TRUE) {
  out <- data.frame(path = as.character(d$path), conversions = as.double(d$conversions),
                    nulls = as.double(d$nulls), value = as.double(d$value), stringsAsFactors = FALSE)
  if ("days" %in% names(d)) out$days <- as.character(d$days)
  if (sort && nrow(out) > 1) {
    o <- if (is.null(out$days)) order(out$path, method = "radix") else order(out$path, out$days, method = "radix")
    out <- out[o, , drop = FALSE]
    rownames(out) <- NULL
  }
  out
}
