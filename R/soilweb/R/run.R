# Running soilweb from R. The binary: the one given, else $SOILWEB_BINARY, else the first on the
# PATH; soilweb-sweep and soilweb-calibrate likewise ($SOILWEB_SWEEP, $SOILWEB_CALIBRATE, the PATH).
# scripts/setup.sh of soilweb's source tree puts all three on the PATH (or in a virtual environment's bin).
.soilweb_program <- function(name, given = NULL) {
  variable <- toupper(gsub("-", "_", if (name == "soilweb") "soilweb-binary" else name))
  candidates <- if (!is.null(given)) given else c(Sys.getenv(variable), Sys.which(name))
  for (candidate in candidates)
    if (nzchar(candidate) && file.exists(candidate) && file.access(candidate, 1) == 0) return(normalizePath(candidate))
  how <- if (!is.null(given)) paste0(" at ", given) else
    paste0(": build it from soilweb's source tree with scripts/setup.sh, which puts it on the PATH, or set ", variable,
           if (name == "soilweb") " or give binary =")
  stop(.soilweb_error(paste0("no ", name, how), 1, ""))
}

# The error soilweb_run and soilweb_sweep signal: its message is soilweb's one line and the exit
# status; e$status, e$soilweb_message and e$stderr hold them apart.
.soilweb_error <- function(message, status, stderr) {
  structure(class = c("soilweb_error", "error", "condition"),
            list(message = paste0(message, " (exit status ", status, ")"), call = NULL, status = status,
                 soilweb_message = message, stderr = stderr))
}

# Runs a program; its standard error is passed on as it comes when progress, and kept.
.soilweb_system <- function(program, args, progress, dir = NULL) {
  err <- tempfile("soilweb-err-")
  out <- tempfile("soilweb-out-")
  on.exit(unlink(c(err, out)), add = TRUE)
  line <- paste(shQuote(c(program, args)), collapse = " ")
  if (!is.null(dir)) line <- paste("cd", shQuote(dir), "&&", line)
  script <- sprintf("%s 2>&1 >%s | tee %s %s; exit ${PIPESTATUS[0]}", line, shQuote(out), shQuote(err),
                    if (progress) ">&2" else ">/dev/null")
  status <- system2("bash", c("-c", shQuote(script)))
  lines <- if (file.exists(err)) readLines(err, warn = FALSE) else character(0)
  list(status = status, lines = sub("^.*\r", "", lines))
}

.soilweb_failure <- function(result) {
  said <- result$lines[nzchar(result$lines)]
  said_wrong <- said[!grepl(": (warning|note): ", said)]
  message <- if (length(said_wrong)) said_wrong[1] else if (length(said)) said[length(said)] else "ended without a word"
  .soilweb_error(message, result$status, paste(result$lines, collapse = "\n"))
}

# What a run, a sweep or a calibration is given to run: a configuration (a list) or a path as they are; a
# loaded run or its record gives the configuration it ran with.
.soilweb_configuration <- function(config) {
  if (inherits(config, "soilweb_run")) config <- config$record
  if (is.list(config) && !is.null(config$configuration) && is.null(config$simulation)) config <- config$configuration
  config
}

.soilweb_json_file <- function(value, name) {
  path <- file.path(tempfile(paste0("soilweb-", name, "-")), "run_params")
  dir.create(dirname(path))
  writeLines(jsonlite::toJSON(value, auto_unbox = TRUE, digits = NA, pretty = TRUE, null = "null"), path)
  path
}

# Runs soilweb on config (a list, as jsonlite reads run_params with simplifyVector = FALSE; a path;
# or a loaded run or its record, which repeats that run) and returns the loaded run (read_run).
# seed overrides simulation.seed; set is a named list of dotted keys and values (as --set); folder
# is where the run's folder goes (--output-dir); progress passes soilweb's progress line and
# messages on as they come; other arguments are soilweb's options (overwrite = TRUE,
# checkpoint_every = 10, ...). A refusal or failure signals a "soilweb_error" condition.
soilweb_run <- function(config, seed = NULL, set = NULL, folder = NULL, progress = TRUE, binary = NULL, ...) {
  binary <- .soilweb_program("soilweb", binary)
  config <- .soilweb_configuration(config)
  # A written configuration is run in its own folder as ./run_params, so that soilweb's messages
  # name it so; the run's folder still goes where it would.
  written <- NULL
  if (is.list(config)) {
    written <- dirname(.soilweb_json_file(config, "run"))
    on.exit(unlink(written, recursive = TRUE), add = TRUE)
    if (is.null(folder)) folder <- getwd()
  }
  args <- if (is.null(written)) config else "run_params"
  if (!is.null(seed)) args <- c(args, "--seed", format(seed, scientific = FALSE))
  for (key in names(set)) {
    value <- set[[key]]
    text <- if (is.character(value)) value else as.character(jsonlite::toJSON(value, auto_unbox = TRUE, digits = NA))
    args <- c(args, "--set", paste0(key, "=", text))
  }
  options <- list(...)
  if (!is.null(options$resume)) {
    options$resume <- normalizePath(options$resume, mustWork = FALSE)
  } else if (!is.null(folder)) {
    dir.create(folder, showWarnings = FALSE, recursive = TRUE)
    args <- c(args, "--output-dir", normalizePath(folder))
  }
  for (name in names(options)) {
    flag <- paste0("--", gsub("_", "-", name))
    value <- options[[name]]
    if (isTRUE(value)) args <- c(args, flag)
    else if (!is.null(value) && !identical(value, FALSE)) args <- c(args, flag, as.character(value))
  }
  # The run's folder comes from the path of its record that soilweb writes (--record-path), never
  # from what it printed, which a run's name could forge.
  told <- tempfile("soilweb-record-")
  on.exit(unlink(told), add = TRUE)
  args <- c(args, "--record-path", told)
  result <- .soilweb_system(binary, c(args, if (progress) "--progress" else "--no-progress"), progress, written)
  if (result$status != 0) stop(.soilweb_failure(result))
  record <- if (file.exists(told)) readChar(told, file.size(told), useBytes = TRUE) else ""
  if (!length(record) || !nzchar(record))
    stop(.soilweb_error("soilweb ended without saying where its results are", 0, ""))
  read_run(dirname(dirname(record)))
}
