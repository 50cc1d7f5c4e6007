library(testthat)
library(Touchlane)
test_check("Touchlane")
