test_that("a run soilweb refuses signals soilweb's own line and its exit status", {
  here <- temporary_folder()
  config <- example_config(here)
  failure <- tryCatch(soilweb_run(config, set = list("simulation.days" = "many"), progress = FALSE,
                                  binary = binary()),
                      soilweb_error = function(e) e)
  expect_s3_class(failure, "soilweb_error")
  expect_gt(failure$status, 0)
  expect_match(failure$soilweb_message, "simulation.days")
  expect_match(conditionMessage(failure), "\\(exit status [0-9]+\\)$")
})

test_that("a missing soilweb is said with how to get one", {
  nowhere <- file.path("", "nowhere", "soilweb")
  failure <- tryCatch(soilweb_run("run_params", binary = nowhere), soilweb_error = function(e) e)
  expect_identical(failure$soilweb_message, "no soilweb at /nowhere/soilweb")
  with_variables(c(SOILWEB_SWEEP = "", PATH = file.path("", "nowhere")), {
    failure <- tryCatch(soilweb_sweep("base.json", "grid.json", binary = binary()), soilweb_error = function(e) e)
  })
  expect_match(failure$soilweb_message, "^no soilweb-sweep: build it from soilweb's source tree with scripts/setup.sh")
})

test_that("a run repeats from its record, byte for byte", {
  here <- temporary_folder()
  first <- tiny_run(here, "first", days = 5)
  again <- soilweb_run(first, folder = file.path(here, "again"), progress = FALSE, binary = binary())
  expect_identical(again$summary, first$summary)
  expect_identical(again$record$seed, first$record$seed)
})
