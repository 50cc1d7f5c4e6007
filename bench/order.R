# choose_order_R with max_order 10 and nfold 10 on 1,000,000 journeys over
# 12 channels (lengths 1 to 12, geometric), wall time and peak memory.
#   R_LIBS=.rlib Rscript bench/order.R [njourneys]
library(Touchlane)
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args)) as.integer(args[1]) else 1000000L
set.seed(20261206)
ch <- sprintf("ch%02d", 1:12)
len <- pmin(rgeom(n, 0.25) + 1L, 12L)
idx <- sample.int(12L, sum(len), replace = TRUE)
paths <- vapply(split(ch[idx], rep.int(seq_len(n), len)), paste, "", collapse = " > ")
conv <- rbinom(n, 2, 0.2)
d <- data.frame(path = unname(paths), conv = conv, null = rbinom(n, 3, 0.6))
rm(idx, paths)
invisible(gc())
hwm <- function() {
  s <- readLines("/proc/self/status")
  as.numeric(sub("[^0-9]*([0-9]+).*", "\\1", s[grepl("^VmHWM", s)])) / 1024
}
cat(sprintf("%s, R %s, commit %s\n", Sys.info()[["nodename"]], getRversion(),
            system("git rev-parse --short HEAD", intern = TRUE)))
cat(sprintf("journeys %d, distinct paths %d, peak RSS before the call %.0f MB\n", n,
            length(unique(d$path)), hwm()))
t <- system.time(r <- .Call("choose_order_R", 0, "", d, "path", "conv", "null", ";", 10, ">",
                            100, 10, 0.3, 1, 0.05, "auc-roc", 1, PACKAGE = "Touchlane"))
cat(sprintf("choose_order_R wall time %.1f s, peak RSS after %.0f MB\n", t[["elapsed"]], hwm()))
print(data.frame(order = r$order, auc = round(r$auc, 4)))
cat("best order", r$best_order, "\n")
