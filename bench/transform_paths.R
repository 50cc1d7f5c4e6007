# Timing of transform_paths() on 1,000,000 journey rows over 6 channels
# (every transform on), CPU and wall time. Floor: the plain split of the
# same paths into channels (strsplit), which any rewrite has to do.
# Usage: R_LIBS=.rlib Rscript bench/transform_paths.R [rows]
suppressMessages(library(Touchlane))
args <- commandArgs(TRUE)
n <- if (length(args)) as.numeric(args[1]) else 1e6
set.seed(20261207)
ch <- c("direct", "search", "email", "social", "display", "affiliate")
len <- sample(1:6, n, TRUE)
tok <- sample(ch, sum(len), TRUE)
paths <- vapply(split(tok, rep(seq_len(n), len)), paste, "", collapse = " > ")
d <- data.frame(path = paths, conversions = rpois(n, 1), nulls = rpois(n, 3))
cat(sprintf("machine: %s, %d cores; R %s; commit %s\n", Sys.info()[["nodename"]],
            parallel::detectCores(), getRversion(),
            system("git rev-parse --short HEAD", intern = TRUE)))
cat(sprintf("rows: %s, touches: %s\n", format(n, big.mark = ","), format(sum(len), big.mark = ",")))
floor_t <- system.time(strsplit(paths, ">", fixed = TRUE))
t <- system.time(r <- transform_paths(d, drop_unless_alone = "direct",
                                      drop_last_unless_alone = "email", remove_loops = TRUE,
                                      keep_last = 3))
cat(sprintf("transform_paths: %.2f s CPU (%.2f s wall), %d paths out\n",
            t[["user.self"]] + t[["sys.self"]], t[["elapsed"]], nrow(r)))
cat(sprintf("floor (strsplit): %.2f s CPU; ratio %.1f\n", floor_t[["user.self"]],
            (t[["user.self"]] + t[["sys.self"]]) / max(floor_t[["user.self"]], 1e-3)))
