# The sample journeys under the heuristic rules, Markov, Shapley (of totals and
# of conversion rates) and logistic regression, side by side, and the chart of
# it written to a PNG file.
#   Rscript demo.R [journeys.csv] [chart.png]
args <- commandArgs(trailingOnly = TRUE)
file <- if (length(args) >= 1) args[1] else
  system.file("extdata", "journeys.csv", package = "Touchlane")
chart <- if (length(args) >= 2) args[2] else "touchlane-attribution.png"
library(Touchlane)

t0 <- Sys.time()
credit <- attribution(file = file, conversions = "total_conversions",
                      value = "total_conversion_value", nulls = "total_null", seed = 1)
# Shapley with conversion totals as worth equals linear touch by construction;
# the Shapley value of conversion rates is the one that differs.
rate <- shapley(file = file, conversions = "total_conversions", value = "total_conversion_value",
                nulls = "total_null", kind = "conversion_rate")
secs <- as.numeric(difftime(Sys.time(), t0, units = "secs"))

models <- unique(credit$model)
per_model <- function(col, scale = 1) {
  out <- data.frame(channel = credit$channel[credit$model == models[1]])
  for (m in models) out[[m]] <- round(scale * credit[[col]][credit$model == m], 1)
  out$shapley_rate <- round(scale * rate$channels[[col]][match(out$channel,
                                                              rate$channels$channel)], 1)
  out
}
cat(sprintf("Journeys: %s   models: %s   (%.1f s)\n\n", file,
            paste(models, collapse = ", "), secs))
cat("Conversions attributed to each channel\n")
print(per_model("conversions"), row.names = FALSE)
tot <- tapply(credit$conversions, credit$model, sum)[models]
cat("\nTotal per model:", paste(sprintf("%s %.0f", names(tot), tot), collapse = ", "), "\n")

cat("\nShare of the conversions (%)\n")
print(per_model("share", 100), row.names = FALSE)
cat("\nshapley equals linear: with conversion totals as worth both split each journey's",
    "conversions\nequally among its distinct channels. shapley_rate scores each set of",
    "channels by its\nconversion rate (shapley(kind = \"conversion_rate\")) and differs.\n")

png(chart, width = 900, height = 520)
plot(credit)
invisible(dev.off())
cat("\nChart written to", normalizePath(chart), "\n")
