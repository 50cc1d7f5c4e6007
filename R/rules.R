# Position-based (U-shaped) and last-non-direct attribution. attribution()
# runs them as the models "position" and "last_non_direct"; the entry point
# is rule_models_R.

rule_native <- function(j, position_shares = c(first = 0.4, last = 0.4),
                        direct_channels = "direct", verbose = FALSE) {
  shares <- check_position_shares(position_shares)
  check_direct_channels(direct_channels)
  .Call("rule_models_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$value,
        j$field_sep, j$channel_sep, shares[["first"]], shares[["last"]], direct_channels,
        as_flag(verbose, "verbose"), PACKAGE = "Touchlane")
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
