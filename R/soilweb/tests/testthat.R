library(testthat)
library(soilweb)

test_check("soilweb")
