# Timing of uam_R: event rows of 10,000 journeys and 365 periods x 20
# channels. The Markov share is the difference between a run with journeys
# (flg_path = 1) and one without (flg_path = 0), which does the rest alone.
# Usage: R_LIBS=.rlib Rscript bench/uam.R [journeys] [ncore]
suppressMessages(library(Touchlane))
args <- commandArgs(TRUE)
njourneys <- if (length(args) >= 1) as.numeric(args[1]) else 10000
ncore <- if (length(args) >= 2) as.numeric(args[2]) else 2
set.seed(20261206)
nch <- 20
nper <- 365
channels <- sprintf("ch%02d", seq_len(nch))
conv_name <- "(conversion)"

len <- sample(1:6, njourneys, replace = TRUE)
id <- rep(seq_len(njourneys), len)
channel <- sample(channels[1:12], length(id), replace = TRUE, prob = 12:1)
# about 30 % of the journeys end with a conversion row
conv_id <- which(runif(njourneys) < 0.3)
o <- order(c(id, conv_id), c(rep(0, length(id)), rep(1, length(conv_id))))
id <- c(id, conv_id)[o]
channel <- c(channel, rep(conv_name, length(conv_id)))[o]

clicks <- matrix(rpois(nper * nch, 200), nper, nch)
ctr <- matrix(runif(nper * nch, 0.01, 0.05), nper, nch)
conversions <- rpois(nper, 400) + 0
days <- format(as.Date("2026-01-01") + seq_len(nper) - 1)
types <- rep(c(1, 0), nch / 2)

run <- function(flg_path) {
  system.time(r <- .Call("uam_R", flg_path, id, rep("t", length(id)), channel, numeric(0),
                         conv_name, 1, 100000, 0, ncore, 5, 42, 0.05, 1.5, 0, channels, types,
                         days, days, conversions, clicks, days, days, ctr,
                         PACKAGE = "Touchlane"))[["elapsed"]]
}
cat(sprintf("machine: %s, %d cores; R %s; commit %s\n", Sys.info()[["nodename"]],
            parallel::detectCores(), getRversion(),
            system("git rev-parse --short HEAD", intern = TRUE)))
cat(sprintf("journeys: %s (%s event rows), periods: %d, channels: %d, ncore: %d\n",
            format(njourneys, big.mark = ","), format(length(id), big.mark = ","), nper, nch,
            ncore))
t0 <- run(0)
t1 <- run(1)
cat(sprintf("uam_R without journeys (reward model and attribution): %.3f s\n", t0))
cat(sprintf("uam_R with journeys: %.3f s, of which Markov (and transposition) %.3f s\n",
            t1, t1 - t0))
