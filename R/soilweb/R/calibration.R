# A calibration made by soilweb-calibrate: its record (calibration.json) and its tables, as the
# Python side reads them: particles (every generation), generations and posterior (the last
# population). summary holds each key's weighted posterior median and 90 % interval.
read_calibration <- function(folder) {
  record_path <- file.path(folder, "calibration.json")
  if (!.soilweb_regular(record_path)) stop("no ", record_path, ": ", folder, " holds no calibration")
  table <- function(name) read.delim(file.path(folder, "tables", paste0(name, ".tsv")), check.names = FALSE,
                                     stringsAsFactors = FALSE)
  record <- jsonlite::fromJSON(record_path, simplifyVector = FALSE)
  posterior <- table("posterior")
  keys <- names(record$priors)
  quantiles <- function(values, weights, q) {
    order <- order(values)
    v <- values[order]
    w <- weights[order]
    cumulative <- (cumsum(w) - 0.5 * w) / sum(w)
    approx(cumulative, v, xout = q, rule = 2, ties = "ordered")$y
  }
  summary <- do.call(rbind, lapply(keys, function(key) {
    q <- quantiles(posterior[[key]], posterior$weight, c(0.5, 0.05, 0.95))
    data.frame(key = key, median = q[1], low = q[2], high = q[3])
  }))
  structure(list(folder = normalizePath(folder), record = record, keys = keys, particles = table("particles"),
                 generations = table("generations"), posterior = posterior, summary = summary),
            class = "soilweb_calibration")
}

print.soilweb_calibration <- function(x, ...) {
  cat("soilweb calibration ", x$folder, ": ", length(x$keys), " keys, ", nrow(x$generations), " generations\n",
      sep = "")
  print(x$summary, row.names = FALSE)
  invisible(x)
}

# Calibrates base's keys named in priors (a named list of list(min =, max =[, scale = "log"]) or
# list(mean =, sd =), or a path) to observed (a data frame with a day column, or a path), as
# soilweb-calibrate run does, and returns read_calibration(out). targets, scale, weight, transform
# and truth are named lists (e.g. targets = list("predators:died_out" = 120)); other arguments are
# the command's options (alpha = 0.3, max_runs = 3000, keep_runs = TRUE, ...).
soilweb_calibrate <- function(base, priors, observed, out = NULL, population = 200, generations = NULL,
                              tolerance = NULL, replicates = 1, jobs = NULL, seed = NULL, targets = NULL,
                              scale = NULL, weight = NULL, transform = NULL, truth = NULL, progress = TRUE,
                              binary = NULL, ...) {
  binary <- .soilweb_program("soilweb", binary)
  script <- .soilweb_program("soilweb-calibrate")
  if (is.null(out)) out <- format(Sys.time(), "calibration-%Y%m%d-%H%M%S")
  files <- character(0)
  base <- .soilweb_configuration(base)
  if (is.list(base)) files <- c(files, base <- .soilweb_json_file(base, "base"))
  if (is.list(priors) && !is.data.frame(priors)) files <- c(files, priors <- .soilweb_json_file(priors, "priors"))
  if (is.data.frame(observed)) {
    path <- file.path(tempfile("soilweb-observed-"), "observed.tsv")
    dir.create(dirname(path))
    write.table(observed, path, sep = "\t", quote = FALSE, row.names = FALSE, na = "NA")
    files <- c(files, observed <- path)
  }
  on.exit(unlink(dirname(files), recursive = TRUE), add = TRUE)
  args <- c("run", base, priors, observed, out, "--binary", binary, "--population", population,
            "--replicates", replicates)
  given <- list(generations = generations, "min-tolerance" = tolerance, jobs = jobs, seed = seed)
  for (option in names(given))
    if (!is.null(given[[option]])) args <- c(args, paste0("--", option), format(given[[option]], scientific = FALSE))
  pairs <- list(target = targets, scale = scale, weight = weight, transform = transform, truth = truth)
  for (option in names(pairs))
    for (name in names(pairs[[option]]))
      args <- c(args, paste0("--", option), paste0(name, "=", pairs[[option]][[name]]))
  options <- list(...)
  for (name in names(options)) {
    flag <- paste0("--", gsub("_", "-", name))
    if (isTRUE(options[[name]])) args <- c(args, flag)
    else if (!isFALSE(options[[name]]) && !is.null(options[[name]])) args <- c(args, flag, options[[name]])
  }
  result <- .soilweb_system(script, args, progress)
  if (result$status != 0) stop(.soilweb_failure(result))
  read_calibration(out)
}
