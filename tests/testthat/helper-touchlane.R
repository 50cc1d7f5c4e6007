# Shared by every test file: a .Call shortcut, small journey tables, file
# helpers and a child R process for what must not run in this one.
tl_call <- function(name, ...) .Call(name, ..., PACKAGE = "Touchlane")

write_lines_raw <- function(text, file = tempfile(fileext = ".csv")) {
  con <- file(file, "wb")
  writeBin(charToRaw(text), con)
  close(con)
  file
}

write_journeys <- function(d, file = tempfile(fileext = ".csv")) {
  utils::write.table(d, file, sep = ";", row.names = FALSE, quote = FALSE)
  file
}

# Five aggregated journeys with every column under a name of its own.
j5 <- data.frame(path = c("b > a", "c > a", "b > c", "a", "c > b > a"), conv = c(2, 1, 0, 3, 1),
                 n = c(1, 1, 2, 4, 1), val = c(20, 5, 0, 30, 12), stringsAsFactors = FALSE)

# A few hundred journeys of the bundled sample.
sample400 <- function() journeys_sample()[1:400, ]

# The masking the native models apply to weights: unmasking zeros gives
# minus the offsets.
mask <- function(x) x - tl_call("uidx_R", rep(0, length(x)))

# Runs R `lines` in a child Rscript (at most `timeout` seconds) and returns
# its output lines.
in_child <- function(lines, timeout = 120) {
  script <- tempfile(fileext = ".R")
  writeLines(c("suppressMessages(library(Touchlane))", lines), script)
  cmd <- paste(if (nzchar(Sys.which("timeout"))) paste("timeout", timeout),
               shQuote(file.path(R.home("bin"), "Rscript")), shQuote(script))
  suppressWarnings(system2("sh", c("-c", shQuote(cmd)), stdout = TRUE, stderr = TRUE,
                           env = paste0("R_LIBS=", paste(.libPaths(), collapse = ":"))))
}

# Draws `x` into a PNG file and expects a picture, not an empty page.
expect_plot <- function(x, ...) {
  png(f <- tempfile(fileext = ".png"))
  plot(x, ...)
  dev.off()
  expect_gt(file.size(f), 1000)
}

# Everything of a model object but its call (which names the arguments).
fitted_part <- function(x) {
  if (is.list(x) && !is.data.frame(x)) x$call <- NULL
  x
}
