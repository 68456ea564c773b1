test_that("every layout gives the same tables, in the configuration's names", {
  here <- temporary_folder()
  daily <- tiny_run(here, "daily", set = list("simulation.outputs.snapshotEvery" = 3))
  tables <- tiny_run(here, "tables", set = list("simulation.outputs.snapshotEvery" = 3,
                                                "simulation.outputs.layout" = "tables",
                                                "simulation.outputs.compression" = "gzip",
                                                "simulation.outputs.foodWeb" = "edges"))
  for (name in c("summary", "animals_start", "animals_end", "cells"))
    expect_identical(without_rownames(daily[[name]]), without_rownames(tables[[name]]), label = name)
  expect_equal(sort(unique(daily$animals_end$day)), c(0, 3, 6, 8))
  expect_identical(names(daily$summary)[1], "day")
  for (frame in list(daily$animals_end, tables$pedigree)) {
    expect_true(all(c("body_size", "voracity", "actE_met") %in% names(frame)))
    expect_false(any(c("body", "vor", "e_met", "DAY") %in% names(frame)))
  }
  # The daily run wrote no trait statistics: they are made from its snapshots, as written ones.
  written <- tables$traits[tables$traits$day %in% c(0, 3, 6, 8), ]
  expect_equal(without_rownames(daily$traits), without_rownames(written), tolerance = 1e-4)
  expect_identical(names(tables$genetics)[1:4], c("day", "species", "stage", "count"))
  expect_true(all(paste0(soilweb_traits(), "_het") %in% names(tables$genetics)))
})

test_that("genetics made from snapshots say which traits they lack", {
  here <- temporary_folder()
  run <- tiny_run(here, "daily")
  expect_message(genetics <- run$genetics, "computed from the snapshots, without the genetic values of")
  expect_true(all(is.na(genetics$body_size_mean)))
  expect_false(all(is.na(genetics$pheno_mean)))
})

test_that("a table the run was not asked to write reads as NULL and says why", {
  here <- temporary_folder()
  run <- tiny_run(here, "lean", set = list("simulation.outputs.layout" = "tables",
                                           "simulation.outputs.files" = list("summary")))
  expect_message(traits <- run$traits, "no traits table: the run was not asked to write it")
  expect_null(traits)
  expect_true(nrow(run$summary) == 9)
})

test_that("dead animals written once read as written every day", {
  here <- temporary_folder()
  tables <- list("simulation.outputs.layout" = "tables")
  every <- tiny_run(here, "every", days = 12, set = tables)
  once <- tiny_run(here, "once", days = 12, set = c(tables, "simulation.outputs.deadAnimals" = "once"))
  again <- read_run(once$folder, dead = "every day")
  expect_lt(nrow(once$animals_end), nrow(every$animals_end))
  expect_identical(without_rownames(again$animals_end), without_rownames(every$animals_end))
  expect_error(read_run(once$folder, dead = "always"), "dead must be NULL or \"every day\"")
})

test_that("a link or a FIFO where a result file should be is refused in one line, never followed", {
  here <- temporary_folder()
  run <- tiny_run(here, "run", days = 2)
  summary <- list.files(run$folder, pattern = "_summary", recursive = TRUE, full.names = TRUE)[1]
  elsewhere <- file.path(here, "elsewhere.txt")
  file.rename(summary, elsewhere)
  file.symlink(elsewhere, summary)
  expect_error(read_run(run$folder)$summary, "is a symbolic link, not a file soilweb wrote; move it away")
  unlink(summary)
  system2("mkfifo", shQuote(summary))
  expect_error(read_run(run$folder)$summary, "is a fifo, not a file soilweb wrote")
})

test_that("a folder without a sweep or a calibration is refused in one line", {
  here <- temporary_folder()
  expect_error(read_sweep(here), "run soilweb-sweep collect")
  expect_error(read_calibration(here), "holds no calibration")
})

test_that("the trait names come from the installed schema", {
  expect_length(soilweb_traits(), 13)
  expect_true(all(c("body_size", "voracity", "actE_met") %in% soilweb_traits()))
  expect_true(all(c("summary", "pedigree", "foodweb_edges") %in% SOILWEB_TABLES))
})
