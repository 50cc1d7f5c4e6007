# A user interrupt (here R's time limit, which the library sees the same
# way) during long native work returns control to R, also from worker
# threads. Runs in a child process: an entry point that never looks for
# interrupts would hang there until the timeout, not here.

test_that("long native work ends at an interrupt and R carries on", {
  calls <- c(
    markov = paste("markov_model(d, conversions = 'conv', simulations = 4e9, threads = 2, seed = 1,",
                   "method = 'simulation')"),
    exact = paste("markov_model(big, conversions = 'conv', method = 'exact', order = 4,",
                  "threads = 2, max_steps = 1e5)"),
    nba = paste("next_best_action_train(d, conversions = 'conv', nulls = 'n', simulations = 4e9,",
                "threads = 2)"),
    bootstrap = paste("attribution(big, models = 'linear', conversions = 'conv', bootstrap = 1e6,",
                      "threads = 2)"),
    hta = "hta_model(c(0, 5e5), cbind(a = c(0, 1e7), b = c(1e7, 0)), ctr = 0.9, simulations = 1e6)")
  lines <- c(
    "d <- data.frame(path = c('a > b', 'b > a > c', 'c'), conv = c(1, 1, 0), n = c(1, 2, 1))",
    "set.seed(1)",
    "big <- data.frame(path = replicate(20000, paste(sample(letters, 12, TRUE), collapse = '>')),",
    "                  conv = 1, n = 1)",
    sprintf(paste("res <- tryCatch({setTimeLimit(elapsed = 1, transient = TRUE); %s; 'finished'},",
                  "interrupt = function(e) 'interrupted', error = function(e) conditionMessage(e));",
                  "setTimeLimit(); cat('RESULT', '%s', res, '\\n')"), calls, names(calls)),
    "cat('ALIVE\\n')")
  out <- in_child(lines)
  for (nm in names(calls))
    expect_true(paste("RESULT", nm, "interrupted") %in% trimws(out), info = nm)
  expect_true("ALIVE" %in% out)
})
