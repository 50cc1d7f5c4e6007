# Writes a table of one-row-per-customer journeys for the exact-Markov and
# bootstrap benchmarks: 10 channels, about 90,000 distinct paths in
# 1,000,000 rows, conversion odds raised by some channels.
# usage: Rscript bench/gen_journeys.R [rows] [file]
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args) > 0) as.integer(args[1]) else 1000000L
out <- if (length(args) > 1) args[2] else "/tmp/touchlane_bench_1m.csv"
set.seed(20261207)
ch <- c("display", "search", "email", "social", "organic", "affiliate", "direct", "tv",
        "video", "referral")
lift <- c(0.2, 0.6, 0.4, 0.1, 0.3, 0.2, 0.5, 0.05, 0.1, 0.3)
chunk <- 100000L
con <- file(out, "w")
writeLines("path;conv;nulls;value", con)
for (start in seq(1L, n, by = chunk)) {
  m <- min(chunk, n - start + 1L)
  len <- pmin(rgeom(m, 0.44) + 1L, 12L)
  idx <- sample.int(10L, sum(len), replace = TRUE, prob = c(6, 5, 4, 4, 3, 2, 3, 1, 1, 1))
  who <- rep.int(seq_len(m), len)
  paths <- vapply(split(ch[idx], who), paste, "", collapse = ">")
  score <- -3 + vapply(split(lift[idx], who), sum, 0)
  conv <- rbinom(m, 1L, plogis(score))
  writeLines(paste(paths, conv, 1L - conv, ifelse(conv == 1L, round(runif(m, 10, 200), 2), 0),
                   sep = ";"), con)
}
close(con)
cat(sprintf("%s: %d rows\n", out, n))
