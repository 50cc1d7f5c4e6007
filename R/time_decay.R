# Time-decay attribution, the model "time_decay" of attribution(): each touch
# of a converting journey weighs 2^(-days before conversion / half_life),
# weights normalised per journey. Journeys need a column of days written
# like the path, as journeys_from_events(..., times = TRUE) gives.
#   half_life  days after which a touch counts half (default 7)
#   days       name of the days column
attr_model_time_decay <- function(j, ..., half_life = 7, days = "days", seed = NULL, verbose = FALSE) {
  if (!is.numeric(half_life) || length(half_life) != 1L || is.na(half_life) || half_life <= 0 ||
      !is.finite(half_life))
    stop("half_life must be a positive number of days", call. = FALSE)
  d <- if (j$flg_file == 1) {
    utils::read.table(j$file, header = TRUE, sep = substr(j$field_sep, 1, 1), quote = "", comment.char = "",
                      colClasses = "character", check.names = FALSE, strip.white = TRUE,
                      na.strings = character())
  } else {
    j$source
  }
  if (is.null(d[[days]]))
    stop(sprintf(paste("model \"time_decay\" needs a column \"%s\" of days before conversion per touch:",
                       "build the journeys with journeys_from_events(..., times = TRUE)"), days), call. = FALSE)
  dd <- as.character(d[[days]])
  if (anyNA(dd)) stop(sprintf("column \"%s\": row %d is missing", days, which(is.na(dd))[1]), call. = FALSE)
  if (j$flg_file == 0) d <- c(j$data, d[days])   # paths and counts as journey_args checked them
  r <- .Call("time_decay_R", as.character(d[[j$path]]), dd, as.double(d[[j$conversions]]),
             if (nzchar(j$value)) as.double(d[[j$value]]) else NULL, j$channel_sep, as.double(half_life),
             PACKAGE = "Touchlane")
  data.frame(channel = r$channel, conversions = r$conversions, value = r$value, stringsAsFactors = FALSE)
}
