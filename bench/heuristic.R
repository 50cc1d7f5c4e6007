# Heuristic attribution throughput: data frame to vectors and file to file on
# a generated journey file, next to a plain C++ read-split-write floor, and
# peak memory of file-to-file runs on 1,000,000 and 5,000,000 rows.
# usage: R_LIBS=.rlib Rscript bench/heuristic.R [rows]
suppressMessages(library(Touchlane))
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args)) as.integer(args[1]) else 1000000L
set.seed(1)
ch <- c("display", "paid search", "email", "social", "organic", "affiliate", "direct", "tv")
make_file <- function(n, file) {
  len <- rpois(n, 2.5) + 1
  tokens <- sample(ch, sum(len), replace = TRUE)
  paths <- vapply(split(tokens, rep.int(seq_len(n), len)), paste, "", collapse = " > ")
  d <- data.frame(path = paths, conv = rpois(n, 0.5), value = round(runif(n, 0, 100), 2))
  data.table_write <- function() write.table(d, file, sep = ";", quote = FALSE, row.names = FALSE)
  data.table_write()
  list(data = d, touches = sum(len))
}
bench_dir <- tempfile("bench"); dir.create(bench_dir)
f <- file.path(bench_dir, "journeys.csv")
g <- make_file(n, f)
cat(sprintf("machine: %s, %d cores | commit %s\n", Sys.info()[["nodename"]], parallel::detectCores(),
            system("git rev-parse --short HEAD", intern = TRUE)))
cat(sprintf("%d journeys, %d touch points, file %.1f MB\n", n, g$touches, file.size(f) / 1e6))

out <- file.path(bench_dir, "out.csv")
t_file <- system.time(heuristic_models(file = f, conversions = "conv", value = "value",
                                       file_output = out))[["elapsed"]]
t_df <- system.time(r <- heuristic_models(g$data, conversions = "conv",
                                          value = "value"))[["elapsed"]]
t_chk <- system.time(Touchlane:::journey_args(g$data, NULL, "path", "conv", "value", NULL, ">",
                                              ";"))[["elapsed"]]
floor_bin <- file.path(bench_dir, "floor_io")
system2("g++", c("-O2", "-std=c++17", "-o", floor_bin, "bench/floor_io.cpp"))
t_floor <- as.numeric(system2(floor_bin, c(f, file.path(bench_dir, "floor.csv"), file.size(out), shQuote(";"), shQuote(">")),
                              stdout = TRUE))
cat(sprintf("file to file:       %6.2f s  %5.2f M touch points/s  (%.2fx floor)\n",
            t_file, g$touches / t_file / 1e6, t_file / t_floor))
cat(sprintf("data frame to vecs: %6.2f s  %5.2f M touch points/s  (%.2fx floor)\n",
            t_df, g$touches / t_df / 1e6, t_df / t_floor))
cat(sprintf("R-layer journey checks: %.2f s (%.0f%% of the data frame run)\n", t_chk,
            100 * t_chk / t_df))
cat(sprintf("floor (read, split, write %.1f MB): %.2f s\n", file.size(out) / 1e6, t_floor))

peak <- function(rows) {
  ff <- file.path(bench_dir, sprintf("j%d.csv", rows))
  make_file(rows, ff)
  script <- sprintf(paste0("library(Touchlane); invisible(heuristic_models(file='%s', ",
                           "conversions='conv', value='value', file_output='%s'))"), ff, out)
  res <- suppressWarnings(system2("/usr/bin/time", c("-f", "%M", "Rscript", "-e", shQuote(script)), stdout = TRUE, stderr = TRUE))
  as.numeric(tail(res, 1)) / 1024
}
if (file.exists("/usr/bin/time")) {
  m1 <- peak(1000000L); m5 <- peak(5000000L)
  cat(sprintf("peak RSS file to file: %.0f MB (1M rows), %.0f MB (5M rows)\n", m1, m5))
}
unlink(bench_dir, recursive = TRUE)
