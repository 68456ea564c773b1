# The tables of every finished run of a sweep, stacked, with run, replicate and the swept
# parameters first; record has one row per run. Reads SWEEP/tables/runs.tsv, which
# soilweb-sweep collect writes.
read_sweep <- function(folder, tables = SOILWEB_TABLES) {
  runs_path <- file.path(folder, "tables", "runs.tsv")
  if (!.soilweb_regular(runs_path)) stop("no ", runs_path, ": run soilweb-sweep collect ", folder, " first")
  runs <- read.delim(runs_path, check.names = FALSE, stringsAsFactors = FALSE)
  outcomes <- grep("_(died_out|quasi_extinct)_day$", names(runs), value = TRUE)
  first <- setdiff(names(runs), c("seed", "status", "last_day", outcomes))
  finished <- runs[runs$status %in% c("completed", "extinct"), ]
  stack <- function(table) function() {
    frames <- lapply(seq_len(nrow(finished)), function(k) {
      run <- finished[k, ]
      frame <- read_run(file.path(folder, "runs", run$run, run$run), table)[[table]]
      if (is.null(frame) || nrow(frame) == 0) return(NULL)
      cbind(run[rep(1, nrow(frame)), first, drop = FALSE], frame, row.names = NULL)
    })
    frames <- Filter(Negate(is.null), frames)
    if (length(frames)) do.call(rbind, frames) else NULL
  }
  .soilweb_lazy(list(record = runs, folder = normalizePath(folder)), setNames(lapply(tables, stack), tables),
                "soilweb_sweep")
}

print.soilweb_sweep <- function(x, ...) {
  cat("soilweb sweep ", x$folder, ": ", nrow(x$record), " runs; tables (read when used): ",
      paste(setdiff(ls(x), c("record", "folder")), collapse = ", "), "\n", sep = "")
  invisible(x)
}

# Runs a sweep as `soilweb-sweep run` does and returns the loaded sweep (read_sweep). base: the base
# configuration (a list, a path, or a loaded run or its record); grid: a named list of dotted keys and
# vectors of values (or list(min = a, max = b) with design "lhs", "sobol", "morris" or "saltelli"), or a path; out: the
# sweep's folder (default sweep-DATE-TIME; an earlier sweep's folder resumes it).
soilweb_sweep <- function(base, grid, out = NULL, design = "grid", replicates = 1, jobs = NULL, seed = NULL,
                          samples = NULL, levels = NULL, lenient = FALSE, progress = TRUE, binary = NULL) {
  binary <- .soilweb_program("soilweb", binary)
  script <- .soilweb_program("soilweb-sweep")
  if (is.null(out)) out <- format(Sys.time(), "sweep-%Y%m%d-%H%M%S")
  files <- character(0)
  base <- .soilweb_configuration(base)
  if (is.list(base)) files <- c(files, base <- .soilweb_json_file(base, "base"))
  # Values stay lists in the JSON even when there is one of them.
  if (is.list(grid)) {
    values <- lapply(grid, function(v) if (is.atomic(v)) I(v) else v)
    files <- c(files, grid <- .soilweb_json_file(values, "grid"))
  }
  on.exit(unlink(dirname(files), recursive = TRUE), add = TRUE)
  args <- c("run", base, grid, out, "--binary", binary, "--replicates", replicates, "--design", design)
  for (option in c("jobs", "seed", "samples", "levels")) {
    value <- get(option)
    if (!is.null(value)) args <- c(args, paste0("--", option), format(value, scientific = FALSE))
  }
  if (lenient) args <- c(args, "--lenient")
  result <- .soilweb_system(script, args, progress)
  if (result$status != 0) stop(.soilweb_failure(result))
  read_sweep(out)
}
