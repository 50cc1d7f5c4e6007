##' Journeys from touch events
##'
##' Builds the journey table every model reads (one row per distinct path
##' with its conversions, nulls and value) from raw events: one row per touch
##' (a user, a time stamp, a channel) or per conversion (a count > 0 and its
##' value). A conversion row that also names a channel is that touch followed
##' by the conversion.
##'
##' Per user, events run in time order; ties keep their input order, or
##' follow `order_by` when given. Each conversion ends a journey made of the
##' touches since the previous conversion; touches after a user's last
##' conversion form a non-converting journey (one null). Lookback drops
##' touches more than `lookback_days` before the journey's end (the
##' conversion, or the last touch of a non-converting journey) and all but the
##' last `lookback_touches`. Then `transform` shapes the path:
##' `"none"` keeps every touch; `"collapse"` merges consecutive repeats of a
##' channel; `"first"` keeps each channel's first touch only; `"frequency"`
##' lists each channel once, in order of first touch, with its number of
##' touches, as in `"search(3)>display(1)"`. A conversion left without any
##' touch (none before it, or none within the lookback) forms no journey; such
##' conversions are counted in a message and in the attribute `"untouched"`
##' (conversions, rows, value).
##'
##' Time stamps may be `POSIXct`, `Date`, numbers (seconds since 1970-01-01
##' UTC) or ISO text (`"2024-01-31"`, `"2024-01-31 12:00:00"`, with `T`,
##' fractions, `Z` or a numeric offset). With `file`, events are streamed
##' from a delimited file with a header line (fields split at `field_sep`, no
##' quoting; an empty channel is no touch, an empty conversion 0). Memory then
##' holds about 70 bytes per event, or, with `grouped = TRUE` (each user's
##' events contiguous in the file, in any time order), only one user's events
##' at a time plus the set of users and the journey table.
##'
##' @param events a data frame of events (data.table and tibble work too);
##'   ignored when `file` is given.
##' @param user,time,channel,conversion names of the columns holding the user
##'   id, the time stamp, the channel (`NA` or `""`: no touch) and the number
##'   of conversions (0 for a touch; `TRUE`/`FALSE` work too).
##' @param value name of the column of conversion value, or `NULL`.
##' @param lookback_days,lookback_touches lookback window (`Inf`: none).
##' @param transform `"none"`, `"collapse"`, `"first"` or `"frequency"`.
##' @param file a delimited events file, instead of `events`.
##' @param order_by name of a column breaking ties of time within a user.
##' @param times `TRUE` adds a column `days`: for each kept touch, the whole
##'   days (floored) between it and the journey's end, written like the path;
##'   rows are then distinct by path and days. The `"time_decay"` model needs
##'   it. Not with `transform = "frequency"`.
##' @param grouped `TRUE` when the file holds each user's events together.
##' @param channel_sep separator between channels in the paths written.
##' @param field_sep separator between fields of the events file.
##' @return A data.frame with columns `path`, `conversions`, `nulls`,
##'   `value` (0 without a value column) and, with `times = TRUE`, `days`;
##'   rows sorted by path (byte order).
##' @examples
##' ev <- data.frame(user = c(1, 1, 1, 2, 2),
##'                  time = as.POSIXct("2024-01-01", tz = "UTC") + 3600 * c(0, 5, 9, 1, 2),
##'                  channel = c("search", "display", NA, "email", "email"),
##'                  conversion = c(0, 0, 1, 0, 0), revenue = c(0, 0, 30, 0, 0))
##' journeys_from_events(ev, "user", "time", "channel", "conversion", value = "revenue")
##' journeys_from_events(ev, "user", "time", "channel", "conversion", transform = "collapse",
##'                      times = TRUE)
##' @export
journeys_from_events <- function(events, user, time, channel, conversion, value = NULL,
                                 lookback_days = Inf, lookback_touches = Inf, transform = "none",
                                 file = NULL, order_by = NULL, times = FALSE, grouped = FALSE,
                                 channel_sep = ">", field_sep = ";") {
  for (a in c("user", "time", "channel", "conversion"))
    if (!is.character(get(a)) || length(get(a)) != 1L || is.na(get(a)))
      stop(sprintf("%s must be the name of a column", a), call. = FALSE)
  check_flag(times, "times")
  check_flag(grouped, "grouped")
  transform <- match_kind(transform, c("none", "collapse", "first", "frequency"), "transform")
  settings <- list(channel_sep, as.double(lookback_days), as.double(lookback_touches), transform,
                   as.integer(times))
  if (!is.null(file)) {
    if (!missing(events) && !is.null(events)) stop("give the events either as events or as file, not both", call. = FALSE)
    if (!is.character(file) || length(file) != 1L || !file.exists(file))
      stop(sprintf("file \"%s\" does not exist", paste(file, collapse = " ")), call. = FALSE)
    vars <- c(user, time, channel, conversion, if (is.null(value)) "" else value,
              if (is.null(order_by)) "" else order_by)
    r <- do.call(.Call, c(list("journeys_from_events_R", 1L, path.expand(file), NULL, 0, NULL, NULL,
                               NULL, NULL, NULL, NULL, vars, field_sep), settings,
                          list(as.integer(grouped), PACKAGE = "Touchlane")))
  } else {
    if (missing(events) || !is.list(events))
      stop("events must be a data frame of events, or give file", call. = FALSE)
    col <- function(name, what) {
      if (is.null(name)) return(NULL)
      if (!name %in% names(events))
        stop(sprintf("column \"%s\" (%s) not found in events", name, what), call. = FALSE)
      events[[name]]
    }
    u <- col(user, "user")
    if (anyNA(u)) stop(sprintf("column \"%s\" (user): row %d is missing", user, which(is.na(u))[1]),
                       call. = FALSE)
    uu <- unique(u)
    uid <- match(u, uu) - 1L
    ch <- col(channel, "channel")
    if (is.factor(ch)) {
      levs <- levels(ch)
      cid <- as.integer(ch) - 1L
      cid[is.na(cid) | cid == match("", levs, 0L) - 1L] <- -1L
    } else {
      ch <- as.character(ch)
      levs <- unique(ch[!is.na(ch) & nzchar(ch)])
      cid <- match(ch, levs) - 1L
      cid[is.na(cid)] <- -1L
    }
    r <- do.call(.Call, c(list("journeys_from_events_R", 0L, "", uid, length(uu),
                               event_seconds(col(time, "time"), time), cid, as.character(levs),
                               as.double(col(conversion, "conversion")),
                               if (is.null(value)) NULL else as.double(col(value, "value")),
                               tie_key(col(order_by, "order_by")), character(), ";"), settings,
                          list(0L, PACKAGE = "Touchlane")))
  }
  journey_table(r, times)
}

check_flag <- function(x, name) {
  if (!is.logical(x) || length(x) != 1L || is.na(x)) stop(sprintf("%s must be TRUE or FALSE", name), call. = FALSE)
}

match_kind <- function(x, kinds, name) {
  if (!is.character(x) || length(x) != 1L || !x %in% kinds)
    stop(sprintf("%s must be one of %s", name, paste0("\"", kinds, "\"", collapse = ", ")), call. = FALSE)
  x
}

# Seconds since 1970-01-01 UTC; text is parsed natively.
event_seconds <- function(x, name) {
  if (inherits(x, "Date")) return(as.double(unclass(x)) * 86400)
  if (inherits(x, "POSIXt")) return(as.double(as.POSIXct(x)))
  if (is.factor(x)) x <- as.character(x)
  if (is.character(x)) return(x)
  if (is.numeric(x)) return(as.double(x))
  stop(sprintf("column \"%s\" (time) must be POSIXct, Date, numbers of seconds or ISO text", name),
       call. = FALSE)
}

tie_key <- function(x) {
  if (is.null(x)) return(NULL)
  if (is.numeric(x) || inherits(x, "POSIXt") || inherits(x, "Date")) as.double(x) else as.double(xtfrm(x))
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

##' Journeys in SQL, where the events live
##'
##' Writes one standard SQL query (window functions and ordered string
##' aggregation) that turns an event table into the journey table of
##' [journeys_from_events()], with the same rules, lookback, transforms and
##' `days` column. Ties of time are broken by `order_by`: SQL has no input
##' order, so without it tied events come in an order the engine chooses.
##'
##' The `sqlite` and `postgres` dialects are tested against the native
##' builder on real databases. The `bigquery` and `spark` dialects are
##' checked as text only: they were not run here.
##'
##' @inheritParams journeys_from_events
##' @param table the table (or view) of events; `"schema.table"` is split at
##'   the dot and each part quoted.
##' @param time_type `"timestamp"`: the time column is a timestamp or date
##'   (ISO text in SQLite, read to whole seconds); `"seconds"`: it holds
##'   seconds since 1970-01-01 UTC.
##' @param dialect `"sqlite"`, `"postgres"`, `"bigquery"` or `"spark"`.
##' @return The query text, a single string.
##' @examples
##' cat(journeys_sql("events", "user_id", "ts", "channel", "conversions", value = "revenue",
##'                  lookback_days = 30, transform = "collapse", order_by = "event_id",
##'                  dialect = "postgres"))
##' @export
journeys_sql <- function(table, user, time, channel, conversion, value = NULL,
                         lookback_days = Inf, lookback_touches = Inf, transform = "none",
                         order_by = NULL, times = FALSE, time_type = "timestamp",
                         channel_sep = ">", dialect = "sqlite") {
  dialect <- match_kind(dialect, c("sqlite", "postgres", "bigquery", "spark"), "dialect")
  transform <- match_kind(transform, c("none", "collapse", "first", "frequency"), "transform")
  time_type <- match_kind(time_type, c("timestamp", "seconds"), "time_type")
  sql_check_limits(times, transform, lookback_days, lookback_touches, channel_sep)
  d <- sql_dialect(dialect)
  # Names are quoted in this order so that the first bad one is reported.
  tbl <- paste(vapply(strsplit(table, ".", fixed = TRUE)[[1]], d$q, ""), collapse = ".")
  epoch <- sql_epoch(d$q(time), time_type, dialect)
  ev <- sprintf("SELECT %s AS tl_user, %s AS tl_time, %s AS tl_channel, COALESCE(%s, 0) AS tl_conv, %s AS tl_value, %s AS tl_tie FROM %s",
                d$q(user), epoch, d$q(channel), d$q(conversion),
                if (is.null(value)) "0" else sprintf("COALESCE(%s, 0)", d$q(value)),
                if (is.null(order_by)) "0" else d$q(order_by), tbl)
  ctes <- c(ev = ev, sql_touches(lookback_days, lookback_touches),
            shaped = sql_shape(transform, d))
  ctes <- c(ctes, sql_journeys(dialect, d, times, lit_sep = d$lit(channel_sep)))
  final <- sprintf(paste("SELECT tl_path AS path, SUM(tl_jconv) AS conversions,",
                         "SUM(CASE WHEN tl_jconv = 0 THEN 1 ELSE 0 END) AS nulls, SUM(tl_jvalue) AS value%s",
                         "FROM journeys GROUP BY tl_path%s"),
                   if (times) ", tl_days AS days" else "", if (times) ", tl_days" else "")
  paste0("WITH\n", paste0(names(ctes), " AS (\n  ", ctes, "\n)", collapse = ",\n"), "\n", final)
}

# Window over one journey of one user.
sql_jw <- "PARTITION BY tl_user, tl_journey"

sql_check_limits <- function(times, transform, lookback_days, lookback_touches, channel_sep) {
  check_flag(times, "times")
  if (times && transform == "frequency")
    stop("times = TRUE needs a transform that keeps touches, not \"frequency\"", call. = FALSE)
  if (!is.numeric(lookback_days) || length(lookback_days) != 1L || is.na(lookback_days) || lookback_days < 0)
    stop("lookback_days must be a number >= 0 or Inf", call. = FALSE)
  if (!is.numeric(lookback_touches) || length(lookback_touches) != 1L || is.na(lookback_touches) ||
      lookback_touches < 1 || (is.finite(lookback_touches) && lookback_touches != round(lookback_touches)))
    stop("lookback_touches must be a whole number >= 1 or Inf", call. = FALSE)
  if (!is.character(channel_sep) || length(channel_sep) != 1L || nchar(channel_sep) != 1L)
    stop("channel_sep must be one character", call. = FALSE)
  invisible(NULL)
}

# Quoting and concatenation of a dialect: BigQuery and Spark quote names
# with backticks and concatenate with CONCAT, the others follow standard SQL.
sql_dialect <- function(dialect) {
  bq <- dialect %in% c("bigquery", "spark")
  list(
    q = function(x) {
      if (!is.character(x) || length(x) != 1L || is.na(x) || !nzchar(x))
        stop("table and column names must be single non-empty strings", call. = FALSE)
      if (bq) paste0("`", gsub("`", "\\\\`", x), "`") else paste0("\"", gsub("\"", "\"\"", x), "\"")
    },
    lit = function(s) paste0("'", gsub("'", "''", s), "'"),
    cat2 = function(...) if (bq) paste0("CONCAT(", paste(..., sep = ", "), ")") else paste(..., sep = " || "),
    text = if (bq) "STRING" else "TEXT")
}

# The quoted time column t as seconds since 1970.
sql_epoch <- function(t, time_type, dialect) {
  if (time_type == "seconds") return(t)
  switch(dialect,
    sqlite = sprintf("CAST(strftime('%%s', %s) AS INTEGER)", t),
    postgres = sprintf("EXTRACT(EPOCH FROM %s)", t),
    bigquery = sprintf("UNIX_MICROS(TIMESTAMP(%s)) / 1000000.0", t),
    spark = sprintf("unix_micros(CAST(%s AS TIMESTAMP)) / 1000000.0", t))
}

# From numbered events to the touches kept in each journey's lookback.
sql_touches <- function(lookback_days, lookback_touches) {
  has_channel <- "tl_channel IS NOT NULL AND tl_channel <> ''"
  jw <- sql_jw
  c(
    numbered = "SELECT ev.*, ROW_NUMBER() OVER (PARTITION BY tl_user ORDER BY tl_time, tl_tie) AS tl_seq FROM ev",
    # journey number: the conversions strictly before the row
    cut = paste("SELECT numbered.*, COALESCE(SUM(CASE WHEN tl_conv > 0 THEN 1 ELSE 0 END) OVER",
                "(PARTITION BY tl_user ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND 1 PRECEDING), 0)",
                "AS tl_journey FROM numbered"),
    ended = sprintf(paste("SELECT cut.*, MAX(CASE WHEN tl_conv > 0 OR (%s) THEN tl_time END) OVER (%s) AS tl_end,",
                          "SUM(tl_conv) OVER (%s) AS tl_jconv,",
                          "SUM(CASE WHEN tl_conv > 0 THEN tl_value ELSE 0 END) OVER (%s) AS tl_jvalue FROM cut"),
                    has_channel, jw, jw, jw),
    touches = sprintf(paste("SELECT tl_user, tl_journey, tl_seq, tl_channel, tl_end - tl_time AS tl_before,",
                            "tl_jconv, tl_jvalue, ROW_NUMBER() OVER (%s ORDER BY tl_seq DESC) AS tl_back",
                            "FROM ended WHERE %s%s"), jw, has_channel,
                      if (is.finite(lookback_days))
                        sprintf(" AND tl_end - tl_time <= %s", format(lookback_days * 86400, digits = 17)) else ""),
    kept = paste0("SELECT * FROM touches",
                  if (is.finite(lookback_touches)) sprintf(" WHERE tl_back <= %.0f", lookback_touches) else ""))
}

# The label of each kept touch under the transform.
sql_shape <- function(transform, d) {
  jw <- sql_jw
  switch(transform,
    none = "SELECT kept.*, tl_channel AS tl_label FROM kept",
    collapse = sprintf(paste("SELECT x.*, tl_channel AS tl_label FROM (SELECT kept.*, LEAD(tl_channel) OVER",
                             "(%s ORDER BY tl_seq) AS tl_next FROM kept) x",
                             "WHERE tl_next IS NULL OR tl_next <> tl_channel"), jw),
    first = sprintf(paste("SELECT x.*, tl_channel AS tl_label FROM (SELECT kept.*, ROW_NUMBER() OVER",
                          "(%s, tl_channel ORDER BY tl_seq) AS tl_nth FROM kept) x WHERE tl_nth = 1"), jw),
    frequency = sprintf(paste("SELECT tl_user, tl_journey, MIN(tl_seq) AS tl_seq, MIN(tl_before) AS tl_before,",
                              "MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, %s AS tl_label",
                              "FROM kept GROUP BY tl_user, tl_journey, tl_channel"),
                        d$cat2("tl_channel", "'('", sprintf("CAST(COUNT(*) AS %s)", d$text), "')'")))
}

# One row per journey: its labels (and, with times, its whole days before
# the journey's end) joined in touch order.
sql_journeys <- function(dialect, d, times, lit_sep) {
  jw <- sql_jw
  whole_days <- if (dialect == "sqlite") "CAST(tl_before / 86400.0 AS INTEGER)" else
    sprintf("CAST(FLOOR(tl_before / 86400.0) AS %s)", if (dialect == "bigquery") "INT64" else "BIGINT")
  day_text <- sprintf("CAST(%s AS %s)", whole_days, d$text)
  if (dialect == "sqlite") {
    # ordered aggregation as a running window; the journey's last row holds it all
    w <- sprintf("(%s ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW)", jw)
    return(c(
      running = sprintf(paste("SELECT tl_jconv, tl_jvalue, group_concat(tl_label, %s) OVER %s AS tl_path,%s",
                              "ROW_NUMBER() OVER (%s ORDER BY tl_seq DESC) AS tl_last FROM shaped"),
                        lit_sep, w, if (times) sprintf(" group_concat(%s, %s) OVER %s AS tl_days,", day_text, lit_sep, w) else "",
                        jw),
      journeys = "SELECT * FROM running WHERE tl_last = 1"))
  }
  agg <- function(x) switch(dialect,
    postgres = , bigquery = sprintf("STRING_AGG(%s, %s ORDER BY tl_seq)", x, lit_sep),
    spark = sprintf("concat_ws(%s, transform(array_sort(collect_list(named_struct('seq', tl_seq, 'label', %s))), s -> s.label))", lit_sep, x))
  c(journeys = sprintf(
    "SELECT MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, %s AS tl_path%s FROM shaped GROUP BY tl_user, tl_journey",
    agg("tl_label"), if (times) sprintf(", %s AS tl_days", agg(day_text)) else ""))
}

##' Journeys from a database table of events
##'
##' Runs [journeys_sql()] on a DBI connection and returns the journey table
##' (as [journeys_from_events()] does, rows sorted by path), or streams it to
##' `file_output` in chunks (header `path`, `conversions`, `nulls`, `value`
##' and `days` with `times = TRUE`, fields joined by `field_sep`) and returns
##' the file name invisibly.
##'
##' @param con a DBI connection (RSQLite and RPostgreSQL are tested).
##' @param table,... the table and the arguments of [journeys_sql()].
##' @param dialect the SQL dialect; by default taken from the connection's
##'   class (SQLite or PostgreSQL).
##' @param file_output a file to stream the journeys to, or `NULL`.
##' @param field_sep field separator of `file_output`.
##' @param chunk rows fetched at a time when streaming.
##' @examples
##' if (requireNamespace("RSQLite", quietly = TRUE)) {
##'   con <- DBI::dbConnect(RSQLite::SQLite(), ":memory:")
##'   DBI::dbWriteTable(con, "events", data.frame(
##'     user = c(1, 1, 1, 2), ts = c(0, 60, 120, 30), id = 1:4,
##'     channel = c("search", "email", NA, "display"), conversion = c(0, 0, 1, 0)))
##'   print(journeys_from_db(con, "events", "user", "ts", "channel", "conversion",
##'                          order_by = "id", time_type = "seconds"))
##'   DBI::dbDisconnect(con)
##' }
##' @export
journeys_from_db <- function(con, table, ..., dialect = NULL, file_output = NULL, field_sep = ";",
                             chunk = 100000L) {
  if (!requireNamespace("DBI", quietly = TRUE)) stop("journeys_from_db needs the DBI package", call. = FALSE)
  if (is.null(dialect)) {
    cl <- class(con)
    dialect <- if (any(grepl("SQLite", cl))) "sqlite" else if (any(grepl("PostgreSQL|Pq|Redshift", cl))) "postgres" else
      stop(sprintf("cannot tell the SQL dialect of a %s connection: give dialect", cl[1]), call. = FALSE)
  }
  sql <- journeys_sql(table, ..., dialect = dialect)
  if (is.null(file_output)) {
    out <- DBI::dbGetQuery(con, sql)
    return(db_journeys(out))
  }
  res <- DBI::dbSendQuery(con, sql)
  on.exit(DBI::dbClearResult(res))
  fh <- file(file_output, "w")
  on.exit(close(fh), add = TRUE)
  first <- TRUE
  repeat {
    part <- DBI::dbFetch(res, n = chunk)
    if (first || nrow(part) > 0) {
      part <- db_journeys(part, sort = FALSE)
      utils::write.table(part, fh, sep = field_sep, quote = FALSE, row.names = FALSE, col.names = first)
      first <- FALSE
    }
    if (DBI::dbHasCompleted(res)) break
  }
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
