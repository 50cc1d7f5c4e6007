#' Transform the paths of a journey table
#'
#' Rewrites every path and adds up the rows whose paths become the same,
#' as the path transforms of other attribution tools do: drop a channel
#' that says little on its own (such as "direct") unless it is all the
#' journey has, drop it at the end of a journey, merge repeated touches,
#' and keep only the last touches. The steps run in the order of the
#' arguments: `drop_unless_alone`, `drop_last_unless_alone`,
#' `remove_loops`, `keep_last`. The events builder
#' [journeys_from_events()] offers `transform = "collapse"`, `"first"` and
#' `"frequency"` on raw events; this works on journey tables already
#' aggregated.
#'
#' Channels are the pieces of a path between `channel_sep`, blank-trimmed;
#' the rewritten paths join them with `channel_sep` between blanks (`"a >
#' b"`), so paths written with other spacing aggregate with them.
#'
#' @param data Aggregated journeys: a data frame with one row per path.
#' @param drop_unless_alone Channels to remove from every path, except from
#'   a path made of these channels only (which is kept as it is); `NULL`
#'   for none.
#' @param drop_last_unless_alone Channels to remove from the end of a path
#'   (repeatedly: "a > direct > direct" becomes "a"), except when the path
#'   is made of these channels only; `NULL` for none.
#' @param keep_last Number of touches kept at the end of every path (`Inf`:
#'   all).
#' @param ... Not used; later arguments must be named.
#' @param remove_loops `TRUE` merges repeated consecutive touches of the
#'   same channel into one ("a > a > b" becomes "a > b").
#' @param path Name of the column holding the paths.
#' @param channel_sep Separator between the channels of a path.
#' @return A data frame with the column `path` and every numeric column of
#'   `data` (conversions, value, nulls, ...) summed per rewritten path, one
#'   row per distinct path in order of first appearance; other columns are
#'   dropped (they cannot be added up).
#' @examples
#' d <- data.frame(path = c("search > direct", "direct", "email > search > direct",
#'                          "email > email > search"),
#'                 conversions = c(3, 1, 2, 1), nulls = c(5, 9, 1, 2))
#' transform_paths(d, drop_unless_alone = "direct")
#' transform_paths(d, drop_last_unless_alone = "direct", remove_loops = TRUE, keep_last = 1)
#' @export
transform_paths <- function(data, drop_unless_alone = NULL, drop_last_unless_alone = NULL,
                            keep_last = Inf, ..., remove_loops = FALSE, path = "path",
                            channel_sep = ">") {
  if (...length())
    tl_stop("transform_paths(): unknown argument", if (...length() > 1) "s", " ",
            paste0("`", names(list(...)), "`", collapse = ", "),
            " (arguments after `keep_last` must be named)")
  check_string(path, "path")
  check_string(channel_sep, "channel_sep")
  if (!nzchar(channel_sep)) tl_stop("`channel_sep` must not be empty")
  check_channels(drop_unless_alone, "drop_unless_alone")
  check_channels(drop_last_unless_alone, "drop_last_unless_alone")
  if (!is.numeric(keep_last) || length(keep_last) != 1L || is.na(keep_last) || keep_last < 1 ||
      (is.finite(keep_last) && keep_last != floor(keep_last)))
    tl_stop("`keep_last` must be a whole number of at least 1, or Inf")
  loops <- as_flag(remove_loops, "remove_loops") == 1
  if (!is.data.frame(data)) tl_stop("`data` must be a data frame, not ", class(data)[1])
  if (!(path %in% names(data)))
    tl_stop("column '", path, "' (path) not found in `data`; its columns are: ",
            paste(names(data), collapse = ", "))
  y <- data[[path]]
  if (is.factor(y)) y <- as.character(y)
  if (!is.character(y)) tl_stop("column '", path, "' (path) must hold strings, not ", class(y)[1])
  if (anyNA(y)) tl_stop("column '", path, "' (path): ", bad_rows(which(is.na(y))), " NA")
  num <- names(data)[vapply(data, is.numeric, TRUE) & names(data) != path]
  for (col in num)
    if (anyNA(data[[col]])) tl_stop("column '", col, "': ", bad_rows(which(is.na(data[[col]]))), " NA")

  sep <- substr(channel_sep, 1, 1)
  pieces <- strsplit(y, sep, fixed = TRUE)
  id <- rep.int(seq_along(y), lengths(pieces))
  ch <- trimws(unlist(pieces, use.names = FALSE))
  keep <- nzchar(ch)
  id <- id[keep]; ch <- ch[keep]
  n <- length(y)
  # Whether every touch of each path is one of `set`.
  all_in <- function(set, id, ch) {
    out <- rep(TRUE, n)
    out[id[!(ch %in% set)]] <- FALSE
    out
  }
  if (length(drop_unless_alone)) {
    keep <- !(ch %in% drop_unless_alone) | all_in(drop_unless_alone, id, ch)[id]
    id <- id[keep]; ch <- ch[keep]
  }
  if (length(drop_last_unless_alone)) {
    inset <- ch %in% drop_last_unless_alone
    pos <- seq_along(ch)
    last_other <- integer(n)                         # last touch not in the set
    last_other[id[!inset]] <- pos[!inset]            # touches in order: the last write wins
    keep <- pos <= last_other[id] | last_other[id] == 0L
    id <- id[keep]; ch <- ch[keep]
  }
  if (loops && length(ch) > 1L) {
    keep <- c(TRUE, id[-1] != id[-length(id)] | ch[-1] != ch[-length(ch)])
    id <- id[keep]; ch <- ch[keep]
  }
  if (is.finite(keep_last) && length(ch)) {
    len <- tabulate(id, n)
    from_end <- len[id] - (seq_along(id) - match(id, id))   # 1 for the last touch
    keep <- from_end <= keep_last
    id <- id[keep]; ch <- ch[keep]
  }
  joint <- paste0(" ", sep, " ")
  # Joined one position at a time: a few long vectorised pastes instead of
  # one small paste per journey.
  newpath <- character(n)
  if (length(ch)) {
    pos <- seq_along(id) - match(id, id) + 1L
    for (at in split(seq_along(pos), pos)) {
      r <- id[at]
      newpath[r] <- if (pos[at[1]] == 1L) ch[at] else paste0(newpath[r], joint, ch[at])
    }
  }
  g <- match(newpath, newpath)
  first <- which(g == seq_len(n))
  out <- data.frame(path = newpath[first], stringsAsFactors = FALSE)
  names(out) <- path
  gi <- match(g, first)
  for (col in num) out[[col]] <- as.vector(rowsum(as.numeric(data[[col]]), gi, reorder = TRUE))
  out
}

check_channels <- function(x, arg) {
  if (is.null(x)) return(invisible(x))
  if (!is.character(x) || anyNA(x)) tl_stop("`", arg, "` must be channel names or NULL")
  invisible(x)
}
