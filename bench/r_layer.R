# Cost of the analyst layer: the R journey checks and model objects next to the
# bare entry-point calls on 1,000,000 generated journeys (ratios to the .Call).
# usage: R_LIBS=.rlib Rscript bench/r_layer.R
suppressMessages(library(Touchlane))
set.seed(1)
n <- 1e6
ch <- c("display", "paid search", "email", "social", "organic", "affiliate", "direct", "tv")
len <- rpois(n, 2.5) + 1
tokens <- sample(ch, sum(len), replace = TRUE)
paths <- vapply(split(tokens, rep.int(seq_len(n), len)), paste, "", collapse = " > ")
d <- data.frame(path = paths, conv = rpois(n, 0.5), value = round(runif(n, 0, 100), 2), nulls = rpois(n, 3))
tm <- function(e) system.time(e)[["elapsed"]]
t_chk <- tm(j <- Touchlane:::journey_args(d, NULL, "path", "conv", "value", "nulls", ">", ";"))
t_raw <- tm(r <- .Call("heuristic_models_R", 0, "", d, "path", "conv", "value", ";", ">", 0, "", 0, 0, PACKAGE = "Touchlane"))
t_obj <- tm(h <- heuristic_models(d, conversions = "conv", value = "value"))
t_lin <- tm(a <- attribution(d, models = "linear", conversions = "conv", value = "value"))
cat(sprintf("%d journeys, %d touch points\n", n, sum(len)))
cat(sprintf("journey checks (R):               %.2f s\n", t_chk))
cat(sprintf("heuristic_models_R via .Call:     %.2f s (1.00x)\n", t_raw))
cat(sprintf("heuristic_models() model object: %.2f s (%.2fx)\n", t_obj, t_obj / t_raw))
cat(sprintf("attribution(models = 'linear'):   %.2f s (%.2fx)\n", t_lin, t_lin / t_raw))
m1 <- tm(.Call("markov_model_R", 0, "", d, "path", "conv", "", "nulls", ";", ">", 0, 1, 1e5, 0, 1, 10, 1, 0.05, 1.5, 0, 0, "", 0, 0, PACKAGE = "Touchlane"))
m2 <- tm(markov_model(d, conversions = "conv", nulls = "nulls", seed = 1))
cat(sprintf("markov_model_R via .Call:         %.2f s (1.00x)\n", m1))
cat(sprintf("markov_model() model object:      %.2f s (%.2fx)\n", m2, m2 / m1))
