# Journey arguments shared by every function that reads journeys, and the
# small argument checks used at the R boundary.

# An error whose message is the whole story: no call prefix.
tl_stop <- function(...) stop(paste0(...), call. = FALSE)

# A single string argument (or NULL when `null_ok`).
check_string <- function(x, arg, null_ok = FALSE) {
  if (is.null(x) && null_ok) return(invisible(x))
  if (!is.character(x) || length(x) != 1L || is.na(x))
    tl_stop("`", arg, "` must be a single string")
  invisible(x)
}

# A single TRUE/FALSE argument, returned as 0/1 for the native layer.
as_flag <- function(x, arg) {
  if (!is.logical(x) || length(x) != 1L || is.na(x))
    tl_stop("`", arg, "` must be TRUE or FALSE")
  if (x) 1 else 0
}

# A single whole number in [lower, upper].
as_whole <- function(x, arg, lower = 0, upper = Inf) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x != floor(x) || x < lower || x > upper)
    tl_stop("`", arg, "` must be a whole number",
            if (is.finite(upper)) paste0(" from ", lower, " to ", upper)
            else paste0(" of at least ", lower))
  as.numeric(x)
}

# A single number in [lower, upper].
as_number <- function(x, arg, lower = -Inf, upper = Inf) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x < lower || x > upper)
    tl_stop("`", arg, "` must be a number",
            if (is.finite(lower) || is.finite(upper)) paste0(" from ", lower, " to ", upper))
  as.numeric(x)
}

# The seed handed to the native layer. NULL draws one from R's generator,
# so set.seed() repeats a call and the result can keep the seed it used.
as_seed <- function(seed) {
  if (is.null(seed)) return(as.numeric(sample.int(.Machine$integer.max, 1L)))
  as_whole(seed, "seed", 0, 2^53)
}

# One of the named choices of a string argument.
as_kind <- function(x, choices, arg) {
  if (!is.character(x) || length(x) < 1L || is.na(x[1]) || !(x[1] %in% choices))
    tl_stop("`", arg, "` must be one of ", paste0('"', choices, '"', collapse = ", "))
  x[1]
}

# A separator: one character of one byte. The native code splits at the
# first byte only, so ">>" or "\u2192" would cut channels apart there.
check_sep <- function(x, arg) {
  check_string(x, arg)
  if (nchar(x, type = "bytes") != 1L)
    tl_stop("`", arg, "` must be one single-byte character such as \">\" or \";\", not \"",
            encodeString(x), "\"")
  invisible(x)
}

# The output file argument: NULL becomes "" for the native layer.
as_output <- function(file_output) {
  if (is.null(file_output)) return("")
  check_string(file_output, "file_output")
  if (!nzchar(file_output)) tl_stop("`file_output` must be a file name or NULL")
  file_output
}

# Evaluates `expr` collecting the console text of the native code, which
# goes on as messages when `verbose` is TRUE (so suppressMessages() silences
# it and standard output stays the caller's). Returns list(value, lines).
capture_lines <- function(expr, verbose) {
  lines <- character()
  con <- textConnection("lines", "w", local = TRUE)
  sink(con)
  value <- tryCatch(expr, finally = {
    sink()
    close(con)
    if (isTRUE(verbose) && length(lines)) message(paste(lines, collapse = "\n"))
  })
  list(value = value, lines = lines)
}

# A progress bar over `total` steps of a long run, shown with `verbose =
# TRUE` in interactive sessions only (scripts and logs stay clean).
progress_bar <- function(verbose, total, what) {
  if (!isTRUE(verbose) || !interactive() || total < 1) return(NULL)
  env <- new.env()
  id <- cli::cli_progress_bar(what, total = total, .envir = env)
  list(id = id, env = env)
}

progress_step <- function(bar) {
  if (!is.null(bar)) cli::cli_progress_update(id = bar$id, .envir = bar$env)
  invisible()
}

progress_done <- function(bar) {
  if (!is.null(bar)) cli::cli_progress_done(id = bar$id, .envir = bar$env)
  invisible()
}

# Runs `expr`, keeping its console text only when `verbose` is TRUE.
quietly <- function(expr, verbose) capture_lines(expr, verbose)$value

# Rows of a column that break `ok`, reported as "row 3" or "rows 3, 7, 9 and 12 more".
bad_rows <- function(idx) {
  n <- length(idx)
  shown <- paste(whole_text(head(idx, 3)), collapse = ", ")
  paste0(if (n == 1) "row " else "rows ", shown, if (n > 3) paste0(" and ", whole_text(n - 3), " more"))
}

# Whole numbers as digits, never as 1e+05 (R writes round doubles so).
whole_text <- function(x) format(x, scientific = FALSE, trim = TRUE)

# A count column: numbers, whole, not NA, not negative.
check_counts <- function(x, col, arg) {
  if (is.logical(x) && all(is.na(x))) x <- as.numeric(x)
  if (!is.numeric(x))
    tl_stop("column '", col, "' (", arg, ") must be numeric, not ", class(x)[1])
  if (anyNA(x)) tl_stop("column '", col, "' (", arg, "): ", bad_rows(which(is.na(x))), " NA")
  if (any(x < 0)) tl_stop("column '", col, "' (", arg, "): ", bad_rows(which(x < 0)), " negative")
  frac <- which(x != floor(x))
  if (length(frac))
    tl_stop("column '", col, "' (", arg, "): ", bad_rows(frac), " not a whole number (",
            format(x[frac[1]]), ")")
  as.numeric(x)
}

#' Journey arguments, checked and ready for the native layer
#'
#' Every function that reads journeys takes them from `data` (a data frame;
#' a data.table or tibble also works) or from `file` (a delimited file with a
#' header line, streamed natively), with the column names given by `path`,
#' `conversions`, `value` and `nulls`.
#'
#' @param data Aggregated journeys: a data frame with one row per distinct
#'   path.
#' @param file Instead of `data`, the name of a delimited file with a header
#'   line.
#' @param path Name of the column holding the paths (channels separated by
#'   `channel_sep`).
#' @param conversions Name of the column holding the conversion counts
#'   (whole numbers, not negative).
#' @param value Name of the column holding the conversion value, or `NULL`
#'   for none.
#' @param nulls Name of the column holding the counts of journeys that did
#'   not convert, or `NULL` for none.
#' @param channel_sep Separator between the channels of a path.
#' @param field_sep Separator between the fields of a file line.
#' @param counts `FALSE` when only the paths are read.
#' @param need_nulls `FALSE`, or a description of the setting that needs the
#'   `nulls` column (it then must be given).
#' @param remove_loops `TRUE` merges repeated consecutive touches of a
#'   channel (the journeys are then read into R and re-aggregated).
#' @return A list with `flg_file`, `file`, `data` (a plain list of the
#'   columns used, or an empty list), `path`, `conversions`, `value`,
#'   `nulls`, `channel_sep` and `field_sep`.
#' @keywords internal
#' @noRd
journey_args <- function(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                         need_nulls = FALSE, counts = TRUE, remove_loops = FALSE) {
  loops <- as_flag(remove_loops, "remove_loops") == 1
  check_string(path, "path")
  check_string(conversions, "conversions")
  check_string(value, "value", null_ok = TRUE)
  check_string(nulls, "nulls", null_ok = TRUE)
  check_sep(channel_sep, "channel_sep")
  check_sep(field_sep, "field_sep")
  if (is.null(nulls) && !identical(need_nulls, FALSE))
    tl_stop("`nulls` must name the column of non-converting journeys",
            if (is.character(need_nulls)) paste0(": ", need_nulls, " needs null counts"))
  cols <- c(path = path, conversions = conversions, value = if (is.null(value)) "" else value,
            nulls = if (is.null(nulls)) "" else nulls)
  used <- cols[nzchar(cols)]
  j <- list(flg_file = 0, file = "", data = list(), path = path, conversions = conversions,
            value = cols[["value"]], nulls = cols[["nulls"]], channel_sep = channel_sep,
            field_sep = field_sep)
  if (!is.null(file)) {
    if (!is.null(data)) tl_stop("give the journeys either as `data` or as `file`, not both")
    check_string(file, "file")
    if (!file.exists(file) || dir.exists(file)) tl_stop("file '", file, "' (file) not found")
    header <- readLines(file, n = 1L, warn = FALSE)
    if (!length(header)) tl_stop("file '", file, "' (file) is empty: it needs a header line")
    fields <- trimws(strsplit(sub("\r$", "", header), substr(field_sep, 1, 1), fixed = TRUE)[[1]])
    for (a in names(used))
      if (!(used[[a]] %in% fields))
        tl_stop("column '", used[[a]], "' (", a, ") not found in the header of file '", file,
                "'; its columns are: ", paste(fields, collapse = ", "))
    j$flg_file <- 1
    j$file <- path.expand(file)
    return(if (loops) merge_loops(journeys_in_r(j)) else j)
  }
  if (is.null(data)) tl_stop("give the journeys as `data` (a data frame) or as `file`")
  if (!is.list(data)) tl_stop("`data` must be a data frame, not ", class(data)[1])
  for (a in names(used))
    if (!(used[[a]] %in% names(data)))
      tl_stop("column '", used[[a]], "' (", a, ") not found in `data`; its columns are: ",
              paste(names(data), collapse = ", "))
  lens <- vapply(used, function(col) length(data[[col]]), 1)
  if (any(lens != lens[1])) tl_stop("the columns of `data` have different lengths")
  y <- data[[path]]
  if (!is.character(y)) {
    if (!is.factor(y) && !is.atomic(y))
      tl_stop("column '", path, "' (path) must hold strings, not ", class(y)[1])
    y <- as.character(y)
  }
  if (anyNA(y)) tl_stop("column '", path, "' (path): ", bad_rows(which(is.na(y))), " NA")
  blank <- which(!nzchar(y))
  lead <- which(startsWith(y, " ") | startsWith(y, "\t"))
  blank <- sort(c(blank, lead[grepl("^[[:space:]]*$", y[lead])]))
  if (length(blank)) tl_stop("column '", path, "' (path): ", bad_rows(blank), " empty")
  out <- list()
  out[[path]] <- y
  if (counts) out[[conversions]] <- check_counts(data[[conversions]], conversions, "conversions")
  if (!is.null(value)) {
    v <- data[[value]]
    if (!is.numeric(v)) tl_stop("column '", value, "' (value) must be numeric, not ", class(v)[1])
    if (anyNA(v)) tl_stop("column '", value, "' (value): ", bad_rows(which(is.na(v))), " NA")
    out[[value]] <- as.numeric(v)
  }
  if (!is.null(nulls)) out[[nulls]] <- check_counts(data[[nulls]], nulls, "nulls")
  j$data <- out
  j$source <- data   # every column, for models that read more (time_decay's days)
  if (loops) merge_loops(j) else j
}

# The journeys with repeated consecutive touches of a channel merged and
# the rows whose paths become the same added up (transform_paths' rule).
merge_loops <- function(j) {
  d <- as.data.frame(j$data, check.names = FALSE, stringsAsFactors = FALSE)
  d <- transform_paths(d, remove_loops = TRUE, path = j$path, channel_sep = j$channel_sep)
  j$data <- as.list(d)
  j$source <- d
  j$flg_file <- 0
  j$file <- ""
  j$loops_merged <- TRUE
  j
}


# Models that build a chain need at least one journey.
need_journeys <- function(j, what) {
  empty <- if (j$flg_file == 1) length(readLines(j$file, n = 2L, warn = FALSE)) < 2L
           else !length(j$data[[j$path]])
  if (empty) tl_stop("there are no journeys (", if (j$flg_file == 1) "the file has only a header" else
                     "`data` has no rows", "): ", what, " needs at least one")
  invisible(j)
}

# Journeys from a file read into R, for the few models that take vectors only.
journeys_in_r <- function(j) {
  if (j$flg_file == 0) return(j)
  cols <- c(j$path, j$conversions, if (nzchar(j$value)) j$value, if (nzchar(j$nulls)) j$nulls)
  d <- utils::read.table(j$file, header = TRUE, sep = substr(j$field_sep, 1, 1), quote = "",
                         comment.char = "", check.names = FALSE, strip.white = TRUE,
                         colClasses = "character", na.strings = character(0))
  # A name the header repeats means its last column, as the native reader
  # takes it.
  last <- vapply(cols, function(cn) {
    k <- which(names(d) == cn)
    if (length(k)) k[length(k)] else NA_integer_
  }, 1L)
  if (anyNA(last)) d <- d[, cols, drop = FALSE]
  else d <- stats::setNames(d[, last, drop = FALSE], cols)
  for (col in cols[-1]) {
    x <- suppressWarnings(as.numeric(d[[col]]))
    bad <- which(is.na(x))
    if (length(bad))
      tl_stop("file '", j$file, "', column '", col, "': ", bad_rows(bad), " not a number")
    d[[col]] <- x
  }
  journey_args(d, NULL, j$path, j$conversions, if (nzchar(j$value)) j$value,
               if (nzchar(j$nulls)) j$nulls, j$channel_sep, j$field_sep)
}
