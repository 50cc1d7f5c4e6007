# Heuristic attribution of the bundled sample journeys, totals per channel.
args <- commandArgs(trailingOnly = TRUE)
file <- if (length(args)) args[1] else system.file("extdata", "journeys.csv", package = "Touchlane")
library(Touchlane)
res <- heuristic_models(file = file, var_path = "path", var_conv = "total_conversions",
                        var_value = "total_conversion_value", row_sep = ";", cha_sep = ">",
                        verbose = 1)
tot <- function(x) tapply(x, res$vpath_channel, sum)
out <- data.frame(first_touch_conversions = tot(res$vpath_attr_convs_first),
                  last_touch_conversions = tot(res$vpath_attr_convs_last),
                  linear_touch_conversions = tot(res$vpath_attr_convs_linear),
                  first_touch_value = tot(res$vpath_attr_value_first),
                  last_touch_value = tot(res$vpath_attr_value_last),
                  linear_touch_value = tot(res$vpath_attr_value_linear))
out <- out[order(-out$linear_touch_conversions), ]
cat("\nPer-channel totals\n")
print(round(out, 2))
cat(sprintf("\nTotal conversions: %.0f (first) %.0f (last) %.2f (linear)\n",
            sum(out$first_touch_conversions), sum(out$last_touch_conversions),
            sum(out$linear_touch_conversions)))
