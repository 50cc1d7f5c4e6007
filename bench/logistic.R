# Logistic-regression attribution through the entry point: 100,000 unique
# paths over 15 channels (fit + attribution of every touch point).
#   R_LIBS=.rlib Rscript bench/logistic.R
library(Touchlane)
set.seed(20261206)
K <- 15
ch <- sprintf("channel %02d", seq_len(K))
beta <- seq(-0.8, 0.8, length.out = K) * 0.3
n <- 100000
paths <- character(0)
while (length(paths) < n) {
  more <- vapply(seq_len(1.2 * (n - length(paths))), function(i)
    paste(sample(ch, sample(1:8, 1), replace = TRUE), collapse = " > "), "")
  paths <- unique(c(paths, more))
}
paths <- paths[seq_len(n)]
score <- -1 + vapply(strsplit(paths, " > ", fixed = TRUE),
                     function(s) sum(beta[match(s, ch)]), 0)
tot <- sample(1:31, n, replace = TRUE)
conv <- rbinom(n, tot, plogis(score))
d <- data.frame(path = paths, conv = conv, null = tot - conv)
cat(sprintf("%s, R %s, commit %s\n", Sys.info()[["nodename"]], getRversion(),
            system("git rev-parse --short HEAD", intern = TRUE)))
t <- system.time(r <- .Call("logistic_regression_R", d, "path", "conv", "", "null", ";", ">",
                            0, 0, "", 0, PACKAGE = "Touchlane"))
cat(sprintf("unique paths %d, channels %d, touch-point rows %d\n", n, length(r$vchannels),
            length(r$vpath_id)))
cat(sprintf("logistic_regression_R wall time: %.2f s\n", t[["elapsed"]]))
