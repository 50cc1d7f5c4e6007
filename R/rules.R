# Position-based (U-shaped), last-non-direct and time-decay attribution. attribution()
# runs them as the models "position", "last_non_direct" and "time_decay"; the entry points
# are rule_models_R and time_decay_R.

rule_native <- function(j, position_shares = c(first = 0.4, last = 0.4),
                        direct_channels = "direct", verbose = FALSE) {
  shares <- check_position_shares(position_shares)
  check_direct_channels(direct_channels)
  quietly(.Call("rule_models_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$value,
                j$field_sep, j$channel_sep, shares[["first"]], shares[["last"]], direct_channels,
                as_flag(verbose, "verbose"), PACKAGE = "Touchlane"), verbose)
}

# c(first =, last =): each at least 0, together at most 1 (the middle
# touches share the rest; a sum above 1 by at most 1e-12 counts as 1).
# Unnamed shares are taken as first, last.
check_position_shares <- function(position_shares) {
  s <- position_shares
  if (!is.numeric(s) || length(s) != 2L || anyNA(s) || any(s < 0) || sum(s) > 1 + 1e-12)
    tl_stop("`position_shares` must be two numbers c(first = , last = ), each at least 0, ",
            "together at most 1")
  if (is.null(names(s))) names(s) <- c("first", "last")
  if (!setequal(names(s), c("first", "last")))
    tl_stop("`position_shares` must be named \"first\" and \"last\"")
  # Shares that pass 1 only by rounding leave the middle touches nothing
  # rather than a negative share: the last share becomes 1 - first.
  if (1 - s[["first"]] - s[["last"]] < 0) s[["last"]] <- 1 - s[["first"]]
  s[c("first", "last")]
}

check_direct_channels <- function(direct_channels) {
  if (!is.character(direct_channels) || anyNA(direct_channels))
    tl_stop("`direct_channels` must be a character vector of channel names without NA")
}

rule_channels <- function(r, convs, value, has_value) {
  data.frame(channel = r$vchannels, conversions = r[[convs]],
             value = if (has_value) r[[value]] else rep(NA_real_, length(r$vchannels)),
             stringsAsFactors = FALSE)
}

attr_model_position <- function(j, ..., position_shares = c(first = 0.4, last = 0.4),
                                seed = NULL, verbose = FALSE) {
  r <- rule_native(j, position_shares = position_shares, verbose = verbose)
  rule_channels(r, "vposition_convs", "vposition_value", nzchar(j$value))
}

attr_model_last_non_direct <- function(j, ..., direct_channels = "direct", seed = NULL,
                                       verbose = FALSE) {
  r <- rule_native(j, direct_channels = direct_channels, verbose = verbose)
  rule_channels(r, "vlnd_convs", "vlnd_value", nzchar(j$value))
}

# Time decay: each touch of a converting journey weighs
# 2^(-days before conversion / half_life), the weights normalised per
# journey. The journeys need a column of days written like the path, as
# journeys_from_events(..., times = TRUE) gives it.
attr_model_time_decay <- function(j, ..., half_life = 7, days = "days", seed = NULL,
                                  verbose = FALSE) {
  half_life <- check_half_life(half_life)
  d <- journey_days(j, days, "time_decay")
  r <- .Call("time_decay_R", d$path, d$days, d$conversions, d$value, j$channel_sep, half_life,
             PACKAGE = "Touchlane")
  data.frame(channel = r$channel, conversions = r$conversions, value = r$value,
             stringsAsFactors = FALSE)
}

check_half_life <- function(half_life) {
  if (!is.numeric(half_life) || length(half_life) != 1L || is.na(half_life) || half_life <= 0 ||
      !is.finite(half_life))
    tl_stop("half_life must be a positive number of days")
  as.double(half_life)
}

# Paths, days, conversions and value of the journeys, for the models that
# read the days column (in `data` or in the file) beside the journey columns.
journey_days <- function(j, days, model) {
  check_string(days, "days")
  if (isTRUE(j$loops_merged))
    tl_stop("model \"", model, "\" reads the days of every touch, which merging repeated ",
            "touches (remove_loops = TRUE) would lose: merge them when building the journeys ",
            "(journeys_from_events(..., transform = \"collapse\"))")
  d <- if (j$flg_file == 1) {
    utils::read.table(j$file, header = TRUE, sep = substr(j$field_sep, 1, 1), quote = "",
                      comment.char = "", colClasses = "character", check.names = FALSE,
                      strip.white = TRUE, na.strings = character())
  } else {
    j$source
  }
  if (is.null(d[[days]]))
    tl_stop("model \"", model, "\" needs a column \"", days, "\" of days before conversion ",
            "per touch: build the journeys with journeys_from_events(..., times = TRUE)")
  dd <- as.character(d[[days]])
  if (anyNA(dd)) tl_stop("column \"", days, "\" (days): ", bad_rows(which(is.na(dd))), " NA")
  jd <- if (j$flg_file == 1) journeys_in_r(j)$data else j$data
  list(path = as.character(jd[[j$path]]), days = dd, conversions = as.double(jd[[j$conversions]]),
       value = if (nzchar(j$value)) as.double(jd[[j$value]]))
}
