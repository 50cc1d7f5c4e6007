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
run <- function(...) markov_model(d, var_path = "path", var_conv = "conv", var_value = "value",
                                  var_null = "nulls", order = ord, ncore = ncore, seed = 1,
                                  verbose = 0, ...)
t_build <- system.time(r <- run(flg_out_tran_mtx = 2))[["elapsed"]]
cat(sprintf("reading + chain: %.2f s (%d transitions), peak %.0f MB\n", t_build,
            length(r$vtran_prob_mtx), peak_mb()))
t_re <- system.time(r <- run(type = 0))[["elapsed"]]
cat(sprintf("removal effects: %.2f s (simulating %.2f s), peak %.0f MB\n", t_re, t_re - t_build,
            peak_mb()))
t_idx <- system.time(r <- run(type = 1))[["elapsed"]]
cat(sprintf("index kind 1 with path attribution: %.2f s (attributing %.2f s, %d rows), peak %.0f MB\n",
            t_idx, t_idx - t_re, length(r$vpath_attr_convs), peak_mb()))
