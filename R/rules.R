# Position-based (U-shaped) and last-non-direct attribution. attribution()
# finds them as the models "position" and "last_non_direct".

rule_models_call <- function(j, position_shares = c(first = 0.4, last = 0.4),
                             direct_channels = "direct", verbose = FALSE) {
  shares <- check_position_shares(position_shares)
  if (!is.character(direct_channels) || anyNA(direct_channels))
    stop("direct_channels must be a character vector without NA")
  .Call("rule_models_R", j$flg_file, j$file, j$data, j$path, j$conversions, j$value,
        j$field_sep, j$channel_sep, shares[["first"]], shares[["last"]], direct_channels,
        as.integer(isTRUE(verbose)), PACKAGE = "Touchlane")
}

check_position_shares <- function(position_shares) {
  s <- position_shares
  if (!is.numeric(s) || length(s) != 2 || anyNA(s) || any(s < 0) || sum(s) > 1 + 1e-12)
    stop("position_shares must be two numbers c(first =, last =), each at least 0, ",
         "summing to at most 1")
  if (is.null(names(s))) names(s) <- c("first", "last")
  if (!setequal(names(s), c("first", "last")))
    stop("position_shares must be named first and last")
  s
}

rule_frame <- function(r, convs, value, has_value) {
  data.frame(channel = r$vchannels, conversions = r[[convs]],
             value = if (has_value) r[[value]] else rep(0, length(r$vchannels)),
             stringsAsFactors = FALSE)
}

attr_model_position <- function(j, ..., position_shares = c(first = 0.4, last = 0.4),
                                seed = NULL, verbose = FALSE) {
  r <- rule_models_call(j, position_shares = position_shares, verbose = verbose)
  rule_frame(r, "vposition_convs", "vposition_value", nzchar(j$value))
}

attr_model_last_non_direct <- function(j, ..., direct_channels = "direct", seed = NULL,
                                       verbose = FALSE) {
  r <- rule_models_call(j, direct_channels = direct_channels, verbose = verbose)
  rule_frame(r, "vlnd_convs", "vlnd_value", nzchar(j$value))
}
