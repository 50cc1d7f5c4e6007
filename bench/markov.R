# Markov model end to end on generated journeys (12 channels): building the
# chain alone (transition table only), removal effects (reading + simulating)
# and index kind 1 (reading + simulating + attributing every touch point),
# with peak memory of the process.
# usage: R_LIBS=.rlib Rscript bench/markov.R [rows] [order] [ncore]
suppressMessages(library(Touchlane))
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args) > 0) as.integer(args[1]) else 1000000L
ord <- if (length(args) > 1) as.integer(args[2]) else 2L
ncore <- if (length(args) > 2) as.integer(args[3]) else 2L
set.seed(1)
ch <- c("display", "paid search", "email", "social", "organic", "affiliate", "direct", "tv",
        "radio", "print", "video", "referral")
len <- pmin(rgeom(n, 0.3) + 1, 20)
tokens <- sample(ch, sum(len), replace = TRUE, prob = c(5, 4, 3, 3, 2, 2, 2, 1, 1, 1, 1, 1))
paths <- vapply(split(tokens, rep.int(seq_len(n), len)), paste, "", collapse = " > ")
d <- data.frame(path = paths, conv = rpois(n, 0.4), nulls = 1 + rpois(n, 3),
                value = round(runif(n, 0, 100), 2))
peak_mb <- function() {
  x <- grep("VmHWM", readLines("/proc/self/status"), value = TRUE)
  as.numeric(gsub("[^0-9]", "", x)) / 1024
}
cat(sprintf("machine: %s, %d cores, load %s | commit %s\n", Sys.info()[["nodename"]],
            parallel::detectCores(), readLines("/proc/loadavg"),
            system("git rev-parse --short HEAD", intern = TRUE)))
cat(sprintf("%d journeys, %d touch points, order %d, ncore %d, peak %.0f MB before\n",
            n, sum(len), ord, ncore, peak_mb()))
run <- function(...) markov_model(d, conversions = "conv", value = "value", nulls = "nulls",
                                  order = ord, threads = ncore, seed = 1, ...)
t_build <- system.time(tm <- transition_matrix(d, conversions = "conv", nulls = "nulls",
                                               order = ord))[["elapsed"]]
cat(sprintf("reading + chain: %.2f s (%d transitions), peak %.0f MB\n", t_build,
            nrow(tm), peak_mb()))
t_re <- system.time(r <- run(kind = "removal"))[["elapsed"]]
cat(sprintf("removal effects: %.2f s (simulating %.2f s), peak %.0f MB\n", t_re, t_re - t_build,
            peak_mb()))
t_idx <- system.time(r <- run(kind = "conversion_rate"))[["elapsed"]]
cat(sprintf("index kind 1 with path attribution: %.2f s (attributing %.2f s, %d rows), peak %.0f MB\n",
            t_idx, t_idx - t_re, nrow(r$touchpoints), peak_mb()))
