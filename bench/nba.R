# Next-best-action training on up to 100,000 distinct generated journeys,
# max_order 3: wall time per order (from the progress lines' timing).
# usage: R_LIBS=.rlib Rscript bench/nba.R
suppressMessages(library(Touchlane))
set.seed(3)
ch <- c("display", "paid search", "email", "social", "organic", "affiliate", "direct",
        "tv", "radio", "video", "push", "sms")
n <- 400000
len <- rpois(n, 3) + 1
tokens <- sample(ch, sum(len), replace = TRUE)
paths <- vapply(split(tokens, rep.int(seq_len(n), len)), paste, "", collapse = " > ")
d <- data.frame(path = paths, conv = rpois(n, 0.3), nulls = rpois(n, 3))
d <- aggregate(cbind(conv, nulls) ~ path, d, sum)
d <- head(d[d$conv + d$nulls > 0, ], 100000)
cat(sprintf("commit %s | %d distinct journeys, %d cores\n",
            system("git rev-parse --short HEAD", intern = TRUE), nrow(d), parallel::detectCores()))
for (k in 2:3) {
  for (ncore in c(1, 2)) {
    t <- system.time(r <- next_best_action_train(d, conversions = "conv", nulls = "nulls",
                                                 max_order = k, threads = ncore, seed = 1,
                                                 tolerance = 0.05))
    cat(sprintf("max_order %d, ncore %d: %.2f s, %d rows\n", k, ncore, t[["elapsed"]],
                nrow(r$table)))
  }
}
