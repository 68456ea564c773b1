# What the tests share: the soilweb binary (skipping the tests that run it when there is none) and
# tiny runs of the bundled example, made with soilweb_run.

binary <- function() {
  found <- c(Sys.getenv("SOILWEB_BINARY"), Sys.which("soilweb"))
  found <- found[nzchar(found) & file.exists(found)]
  if (length(found) == 0) skip("no soilweb binary: set SOILWEB_BINARY")
  found[1]
}

# The bundled example, as soilweb --init writes it, in a folder of its own.
example_config <- function(here) {
  path <- file.path(here, "run_params")
  if (!file.exists(path)) system2(binary(), c("--init", shQuote(path)), stdout = FALSE)
  path
}

# The example, small (6 cells, 30 prey and 5 predators), for days days, with more keys set.
tiny_run <- function(here, name, days = 8, set = list()) {
  folder <- file.path(here, name)
  dir.create(folder, showWarnings = FALSE)
  small <- list("simulation.days" = days, "simulation.worldLength" = 6,
                "world.life.animals.0.initialPopulation" = 30, "world.life.animals.1.initialPopulation" = 5)
  soilweb_run(example_config(here), seed = 3, set = c(small, set), folder = folder, progress = FALSE,
              binary = binary())
}

without_rownames <- function(frame) {
  rownames(frame) <- NULL
  frame
}

# A new empty folder, removed when the test that asked for it ends.
temporary_folder <- function(env = parent.frame()) {
  path <- tempfile("soilweb-test-")
  dir.create(path)
  do.call("on.exit", list(bquote(unlink(.(path), recursive = TRUE)), TRUE), envir = env)
  normalizePath(path)
}

# code evaluated with environment variables set, then restored.
with_variables <- function(variables, code) {
  before <- Sys.getenv(names(variables), unset = NA)
  on.exit(for (name in names(before)) {
    if (is.na(before[[name]])) Sys.unsetenv(name) else do.call(Sys.setenv, as.list(before[name]))
  })
  do.call(Sys.setenv, as.list(variables))
  code
}
