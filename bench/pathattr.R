# new_paths_attribution_R on 1,000,000 journeys (about 3.5 touch points
# each, 12 channels of which 2 unknown to the weight table): touch points
# per second, rows returned to R and rows written to a file.
# Run: R_LIBS=.rlib Rscript bench/pathattr.R
library(Touchlane)
set.seed(1)
n <- 1e6
ch <- c(paste0("channel_", 1:10), "new_a", "new_b")
len <- sample(1:6, n, replace = TRUE)
tok <- sample(ch, sum(len), replace = TRUE)
paths <- vapply(split(tok, rep.int(seq_len(n), len)), paste, "", collapse = " > ")
d <- data.frame(path = paths, conv = sample(0:3, n, replace = TRUE), value = runif(n, 0, 100))
# Offsets of the mask, read off by unmasking zeros.
zero <- .Call("new_paths_attribution_R", 0, "", d[0, ], "path", "conv", "",
              data.frame(channel = rep("z", 12), index = 0), "channel", "index", ";", ">",
              0, 0, "", 0, PACKAGE = "Touchlane")
params <- data.frame(channel = c(ch[1:10], "(other)"), index = c(runif(10), 0.5) - zero$vindex)
touch <- sum(len[d$conv > 0])
cat(sprintf("%s, %s; %d journeys, %d converting touch points\n", R.version.string,
            system("git rev-parse --short HEAD", intern = TRUE), n, touch))
for (target in c("vectors", "file")) {
  out <- if (target == "file") tempfile() else ""
  t <- system.time(r <- .Call("new_paths_attribution_R", 0, "", d, "path", "conv", "value",
                              params, "channel", "index", ";", ">", 0, 0, out, 0,
                              PACKAGE = "Touchlane"))[["elapsed"]]
  cat(sprintf("rows to %-7s: %.2f s, %.2f million touch points per second\n", target, t,
              touch / t / 1e6))
}
