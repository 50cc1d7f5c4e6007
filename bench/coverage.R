# Coverage of the bootstrap intervals, measured once (not a test): journeys
# of n customers from a known generator, 90% intervals from 200 replicates,
# and whether each interval covers the attribution computed on a sample
# 100 times larger from the same generator; repeated `reps` times.
# usage: R_LIBS=.rlib Rscript bench/coverage.R [n] [reps]
suppressMessages(library(Touchlane))
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args) > 0) as.integer(args[1]) else 5000L
reps <- if (length(args) > 1) as.integer(args[2]) else 20L
ch <- c("display", "search", "email", "social", "direct", "video")
lift <- c(0.3, 0.8, 0.5, 0.1, 0.6, 0.2)
journeys <- function(m) {
  len <- pmin(rgeom(m, 0.45) + 1L, 8L)
  idx <- sample.int(6L, sum(len), replace = TRUE, prob = c(5, 4, 3, 3, 3, 1))
  who <- rep.int(seq_len(m), len)
  paths <- vapply(split(ch[idx], who), paste, "", collapse = ">")
  conv <- rbinom(m, 1L, plogis(-2.5 + vapply(split(lift[idx], who), sum, 0)))
  a <- aggregate(cbind(conversions = conv, nulls = 1L - conv) ~ path,
                 data = data.frame(path = paths, conv = conv), FUN = sum)
  a
}
models <- c("linear", "position", "last_non_direct", "markov", "shapley")
set.seed(11)
hits <- NULL
for (r in seq_len(reps)) {
  small <- journeys(n)
  big <- journeys(100L * n)
  a <- attribution(small, models = models, nulls = "nulls", method = "exact",
                   bootstrap = 200, level = 0.9, seed = r, threads = 2)
  truth <- attribution(big, models = models, nulls = "nulls", method = "exact")
  # the large sample has 100 times the customers: its attribution / 100 is
  # what the small sample's attribution estimates
  t_conv <- truth$conversions[match(paste(a$model, a$channel), paste(truth$model, truth$channel))] / 100
  hit <- a$lower <= t_conv & t_conv <= a$upper
  hits <- rbind(hits, data.frame(rep = r, model = a$model, hit = hit))
}
cat(sprintf("n = %d customers per sample, %d samples, 90%% intervals from 200 replicates\n", n, reps))
print(aggregate(hit ~ model, data = hits, FUN = mean))
cat(sprintf("all models: %.3f\n", mean(hits$hit)))
