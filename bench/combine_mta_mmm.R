# Timing of combine_mta_mmm_R: 1,000,000 touch-point rows over 20 channels,
# run until convergence; wall time per pass. Floor: one vectorised R pass
# over the same rows (scale by channel factor, rescale by journey).
# Usage: R_LIBS=.rlib Rscript bench/combine_mta_mmm.R [rows]
suppressMessages(library(Touchlane))
args <- commandArgs(TRUE)
nrow <- if (length(args)) as.numeric(args[1]) else 1e6
set.seed(20261206)
nch <- 20
channels <- sprintf("ch%02d", seq_len(nch))
len <- integer(0)
while (sum(len) < nrow) len <- c(len, sample(2:8, 10000, replace = TRUE))
len <- len[cumsum(len) <= nrow]
len[length(len)] <- len[length(len)] + nrow - sum(len)
path <- rep(seq_along(len), len)
channel <- sample(channels, nrow, replace = TRUE, prob = seq_len(nch))
attribution <- rep(sample(1:3, length(len), replace = TRUE) / len, len)
mta <- list(path = path, channel = channel, attribution = attribution)
mmm <- list(channel = channels, attribution = seq_len(nch) + rep(c(5, -0.5), nch / 2))
prior <- list(channel = channels, mta_weight = rep(0.3, nch))

cat(sprintf("machine: %s, %d cores; R %s; commit %s\n", Sys.info()[["nodename"]],
            parallel::detectCores(), getRversion(),
            system("git rev-parse --short HEAD", intern = TRUE)))
cat(sprintf("rows: %s, journeys: %s, channels: %d\n", format(nrow, big.mark = ","),
            format(length(len), big.mark = ","), nch))
t <- system.time(out <- capture.output(
  r <- .Call("combine_mta_mmm_R", mta, mmm, prior, 1000, 0.001, 1, PACKAGE = "Touchlane")))
npass <- length(grep("^Step: ", out))
cat(sprintf("passes: %d, last line: %s\n", npass, tail(out, 1)))
cat(sprintf("combine_mta_mmm_R: %.2f s wall, %.1f ms per pass (set-up included)\n",
            t[["elapsed"]], 1000 * t[["elapsed"]] / npass))
t0 <- system.time(capture.output(
  r0 <- .Call("combine_mta_mmm_R", mta, mmm, prior, 0, 0, 1, PACKAGE = "Touchlane")))
cat(sprintf("two passes (max_steps = 0): %.2f s; marginal pass: %.1f ms\n", t0[["elapsed"]],
            1000 * (t[["elapsed"]] - t0[["elapsed"]]) / (npass - 2)))
f <- setNames(runif(nch, 0.5, 1.5), channels)
total <- rowsum(attribution, path, reorder = FALSE)[path]
tf <- system.time(for (k in 1:5) {
  x <- attribution * f[channel]
  x <- x / rowsum(x, path, reorder = FALSE)[path] * total
})
cat(sprintf("floor (vectorised R pass): %.1f ms per pass\n", 1000 * tf[["elapsed"]] / 5))
stopifnot(isTRUE(all.equal(rowsum(r$attribution, path, reorder = FALSE), total <- rowsum(attribution, path, reorder = FALSE))))
