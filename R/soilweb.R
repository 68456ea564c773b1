# Run soilweb and load its runs and sweeps as data frames, with base R and jsonlite (Debian:
# r-cran-jsonlite).
#
#   source("R/soilweb.R")
#   run <- soilweb_run("run_params", seed = 7, set = list("simulation.days" = 50))
#   run <- read_run("example")        # or a run's folder, named after simulationName
#   head(run$summary); head(run$animals_end); run$record$status
#   sweep <- soilweb_sweep("run_params", list("simulation.temperature" = c(15, 25)), replicates = 3)
#   sweep <- read_sweep("my-sweep")   # or a folder made by soilweb-sweep, after soilweb-sweep collect
#   head(sweep$summary)               # every finished run's summary, stacked
#
# The tables are those of the Python loader (python/soilweb): summary, animals_start,
# animals_end, cells, traits, genetics, pedigree, deaths, foodweb_nodes, foodweb_edges (NULL when
# the run did not write what a table needs), whatever the layout (daily files or tables),
# compression or thinning. A table is read when it is first used, and kept. run$record is the run
# record, read whole (status, seed, last_day, died_out, died_out_days: the day after which the
# resource, the prey and the predators were first found gone, NULL: never; configuration, as
# nested lists). genetics, pedigree and deaths are read from their files, or made from the
# snapshots as far as they allow (genetics and pedigree: the traits an animal keeps from birth and
# pheno, the others NA, with a message).

SOILWEB_TABLES <- c("summary", "animals_start", "animals_end", "cells", "traits", "genetics", "pedigree",
                    "deaths", "foodweb_nodes", "foodweb_edges")

# Every file, column and code of a run's results, as `soilweb --schema` prints it: installed beside
# this file, or in the source tree's Python package.
.soilweb_here <- tryCatch(dirname(normalizePath(sys.frame(1)$ofile)), error = function(e) getwd())
.soilweb_schema <- local({
  places <- c(file.path(.soilweb_here, "schema.json"),
              file.path(.soilweb_here, "..", "python", "soilweb", "schema.json"))
  found <- places[file.exists(places)]
  if (length(found) == 0) stop("soilweb.R: no schema.json beside it or in ../python/soilweb")
  jsonlite::fromJSON(found[1])
})
.soilweb_file <- function(id) .soilweb_schema$files[.soilweb_schema$files$id == id, ]
# A file's name after "NAME_" in the tables layout, and the folder of its daily files.
.soilweb_name <- function(id) sub("^.*/NAME_", "", .soilweb_file(id)$tables)
.soilweb_folder <- function(id) strsplit(.soilweb_file(id)$daily, "/")[[1]][2]
.soilweb_outputs <- .soilweb_folder("summary")
.soilweb_traits <- .soilweb_schema$traits$name  # as the configuration names them, as the tables do

# The loaders' names of a file's columns: each trait, and its statistics, as the configuration
# names it ("body" is "body_size", "body_mean" "body_size_mean"); the summary's DAY is "day".
# Files keep their own names.
.soilweb_loader_names <- function(columns, table = "") {
  names <- c(unlist(.soilweb_schema$loader_names$every_table), unlist(.soilweb_schema$loader_names$by_table[[table]]))
  suffixes <- .soilweb_schema$loader_names$statistic_suffixes
  vapply(columns, function(column) {
    if (column %in% names(names)) return(names[[column]])
    stem <- sub("_[^_]*$", "", column)
    suffix <- sub("^.*_", "", column)
    if (stem != column && suffix %in% suffixes && stem %in% names(names)) paste0(names[[stem]], "_", suffix) else column
  }, "", USE.NAMES = FALSE)
}

# A tab-separated file with a header, its columns in the loaders' names.
.soilweb_read <- function(path, table = "", ...) {
  frame <- read.delim(path, ...)
  names(frame) <- .soilweb_loader_names(names(frame), table)
  frame
}
.soilweb_stages <- .soilweb_schema$stages$name
.soilweb_fates <- with(.soilweb_schema$states[.soilweb_schema$states$final, ], setNames(fate, code))

.soilweb_existing <- function(path) {
  for (candidate in c(path, paste0(path, ".gz"))) if (.soilweb_regular(candidate)) return(candidate)
  NULL
}

# Whether path is a regular file soilweb wrote (FALSE when absent); a link, a FIFO, a device or a
# folder there is refused in one line, never followed or opened (reading a FIFO would wait for
# ever), and so is a file larger than soilweb itself reads.
.soilweb_regular <- function(path, most = 256 * 2^20) {
  kind <- suppressWarnings(system2("stat", c("-c", "%F", shQuote(path)), stdout = TRUE, stderr = FALSE))
  if (!length(kind) || !is.null(attr(kind, "status"))) return(FALSE)
  if (!kind %in% c("regular file", "regular empty file"))
    stop(path, " is a ", kind, ", not a file soilweb wrote; move it away", call. = FALSE)
  if (file.size(path) > most) stop(path, " is larger than ", most / 2^20, " MiB, the most soilweb reads", call. = FALSE)
  TRUE
}

# A tab-separated file with a header; the daily animal files' trailing tab is dropped.
.soilweb_tsv <- function(path) {
  header <- strsplit(readLines(path, n = 1), "\t")[[1]]
  table <- read.delim(path, header = FALSE, skip = 1, quote = "",
                      stringsAsFactors = FALSE, colClasses = NA)
  table <- table[, seq_along(header), drop = FALSE]
  names(table) <- .soilweb_loader_names(header)
  table
}

.soilweb_day_of <- function(path) as.integer(sub(".*_day_([0-9]+)\\.txt(\\.gz)?$", "\\1", path))

.soilweb_snapshots <- function(folder, name, kind) {
  table <- .soilweb_existing(file.path(folder, .soilweb_outputs, paste0(name, "_", .soilweb_name(kind))))
  if (!is.null(table)) return(.soilweb_tsv(table))
  files <- list.files(file.path(folder, .soilweb_folder(kind)), pattern = "_day_[0-9]+\\.txt(\\.gz)?$",
                      full.names = TRUE)
  if (length(files) == 0) return(NULL)
  files <- files[order(.soilweb_day_of(files))]
  days <- lapply(files, function(path) {
    if (kind == "cells") {
      lines <- readLines(path)
      frame <- read.delim(text = lines[grepl("^[0-9]", lines)], header = FALSE,
                          col.names = .soilweb_file("cells")$columns[[1]]$name)
    } else {
      frame <- .soilweb_tsv(path)
    }
    cbind(day = .soilweb_day_of(path), frame)
  })
  do.call(rbind, days)
}

# The trait statistics of an end-of-day animal table, as the trait statistics file holds them.
soilweb_traits_of <- function(animals) {
  stages <- .soilweb_schema$stages
  living <- animals[animals$state %in% .soilweb_schema$states$code[!.soilweb_schema$states$final], ]
  living$stage <- NA_character_
  for (k in seq_len(nrow(stages))) {
    holds <- living$state == stages$state[k] & living$instar >= stages$from_instar[k] &
      (stages$below_instar[k] == 0 | living$instar < stages$below_instar[k])
    living$stage[holds & is.na(living$stage)] <- stages$name[k]
  }
  species <- unique(animals$species)
  grid <- expand.grid(stage = .soilweb_stages, species = species, day = sort(unique(animals$day)),
                      stringsAsFactors = FALSE)[, c("day", "species", "stage")]
  key <- paste(living$day, living$species, living$stage)
  wanted <- paste(grid$day, grid$species, grid$stage)
  grid$count <- as.integer(table(factor(key, levels = wanted)))
  for (trait in .soilweb_traits) {
    for (statistic in c("mean", "sd", "min", "max")) {
      f <- switch(statistic, mean = mean, sd = sd, min = min, max = max)
      values <- tapply(living[[trait]], factor(key, levels = wanted), f)
      grid[[paste0(trait, "_", statistic)]] <- as.numeric(values)
    }
  }
  grid
}

.soilweb_matrix_edges <- function(met, eaten) {
  pairs <- function(matrix, column) {
    m <- as.matrix(matrix[, -1, drop = FALSE])
    ones <- which(m > 0, arr.ind = TRUE)
    data.frame(victim = matrix[[1]][ones[, 1]], hunter = as.integer(colnames(m)[ones[, 2]]),
               value = rep(1L, nrow(ones)))
  }
  e <- pairs(met); p <- pairs(eaten)
  edges <- merge(e, p, by = c("victim", "hunter"), all = TRUE, suffixes = c(".e", ".p"))
  edges[is.na(edges)] <- 0L
  edges <- data.frame(hunter = edges$hunter, victim = edges$victim, encounters = as.integer(edges$value.e),
                      predations = as.integer(edges$value.p))
  edges[order(edges$victim, edges$hunter), , drop = FALSE]
}

# A snapshot table written with each dead animal once, as it reads with the dead repeated on every
# later day: a cell's dead never move or change, and each final state lists prey before predators,
# those that died earlier first.
.soilweb_every_day <- function(frame, predators) {
  final <- .soilweb_schema$states$code[.soilweb_schema$states$final]
  carried <- frame[0, , drop = FALSE]
  days <- list()
  for (day in unique(frame$day)) {
    rows <- frame[frame$day == day, , drop = FALSE]
    if (nrow(carried) > 0) carried$day <- day
    merged <- rbind(carried, rows)
    new <- c(rep(FALSE, nrow(carried)), rep(TRUE, nrow(rows)))
    merged <- merged[order(merged$position, merged$state, merged$species %in% predators, new, method = "radix"), ,
                     drop = FALSE]
    days[[length(days) + 1]] <- merged
    carried <- merged[merged$state %in% final, , drop = FALSE]
  }
  if (length(days) == 0) return(frame)
  out <- do.call(rbind, days)
  rownames(out) <- NULL
  out
}

# The tables of a run's folder: a list of data frames, and record. dead = "every day": a run
# written with deadAnimals "once" reads as one written with the default.
read_run <- function(folder, tables = SOILWEB_TABLES, dead = NULL) {
  if (!is.null(dead) && !identical(dead, "every day")) stop('dead must be NULL or "every day"')
  folder <- normalizePath(folder, mustWork = TRUE)
  name <- basename(folder)
  output <- function(file) .soilweb_existing(file.path(folder, .soilweb_outputs, paste0(name, "_", file)))
  record_path <- file.path(folder, .soilweb_outputs, paste0(name, "_", .soilweb_name("record")))
  record <- list()
  if (.soilweb_regular(record_path)) {
    record <- jsonlite::fromJSON(record_path)
    # The configuration as nested lists, as written: it can be run again (soilweb_run(run)).
    record$configuration <- jsonlite::fromJSON(record_path, simplifyVector = FALSE)$configuration
  }
  configured <- function(key) {
    value <- record$configuration$simulation$outputs[[key]]
    if (is.null(value)) "" else as.character(value)
  }
  matrix_of <- function(key) {
    file <- configured(key)
    path <- if (nzchar(file)) output(file) else NULL
    if (is.null(path)) NULL else read.delim(path, check.names = FALSE)
  }
  # A genetic table from its file, else from the snapshots: the traits an animal keeps from
  # birth and pheno (from pheno_ini), the others NA, as a message says.
  genetic <- function(id, from_animals) {
    path <- output(.soilweb_name(id))
    if (!is.null(path)) return(.soilweb_read(path, stringsAsFactors = FALSE))
    animals <- .soilweb_snapshots(folder, name, "animals_end")
    if (is.null(animals)) return(NULL)
    kept <- .soilweb_traits[.soilweb_schema$traits$after_birth == "inherited"]
    missing <- setdiff(.soilweb_traits, c(kept, "pheno"))
    message("soilweb.R: ", name, " has no ", .soilweb_name(id), "; ", id, " computed from the snapshots, ",
            "without the genetic values of ", paste(missing, collapse = ", "),
            " (a snapshot shows them only as expressed)")
    animals$pheno <- animals$pheno_ini
    for (trait in missing) animals[[trait]] <- NA_real_
    from_animals(animals)
  }
  with_dead <- function(frame) {
    purged <- !is.null(record$configuration$simulation$purgeDeadAnimals) &&
      record$configuration$simulation$purgeDeadAnimals != 0
    if (is.null(frame) || is.null(dead) || configured("deadAnimals") != "once" || purged) return(frame)
    animals <- record$configuration$world$life$animals
    predators <- unlist(lapply(animals, function(a) if (!identical(a$huntingMode, "does_not_hunt")) a$name))
    .soilweb_every_day(frame, predators)
  }
  read <- list(
    summary = function() {
      path <- output(configured("summaryFilename"))
      if (is.null(path)) NULL else .soilweb_read(path, "summary")
    },
    animals_start = function() with_dead(.soilweb_snapshots(folder, name, "animals_start")),
    animals_end = function() with_dead(.soilweb_snapshots(folder, name, "animals_end")),
    cells = function() .soilweb_snapshots(folder, name, "cells"),
    traits = function() {
      path <- output(.soilweb_name("traits"))
      if (!is.null(path)) return(.soilweb_read(path))
      animals <- .soilweb_snapshots(folder, name, "animals_end")
      if (is.null(animals)) NULL else soilweb_traits_of(animals)
    },
    genetics = function() genetic("genetics", function(animals) {
      table <- soilweb_traits_of(animals)
      for (trait in .soilweb_traits) table[[paste0(trait, "_het")]] <- NA_real_
      table[, c("day", "species", "stage", "count",
                unlist(lapply(.soilweb_traits, function(t) paste0(t, c("_mean", "_sd", "_min", "_max", "_het")))))]
    }),
    pedigree = function() {
      table <- genetic("pedigree", function(animals) {
        first <- animals[order(animals$day), ]
        first <- first[!duplicated(first$id), ]
        first <- first[order(first$id), ]
        names(first)[names(first) == "date_egg"] <- "birth_day"
        described <- .soilweb_file("pedigree")$columns[[1]]
        # The columns every pedigree has: not those only some keys add (the neutral markers').
        always <- if (is.null(described$when)) described$name else described$name[is.na(described$when)]
        first <- first[, .soilweb_loader_names(always)]
        rownames(first) <- NULL
        first
      })
      # Founders (the first animals made) have no parents: NA, never 0, which is an animal's id too.
      founders <- sum(vapply(head(record$configuration$world$life$animals, 2),
                             function(a) as.numeric(a$initialPopulation), numeric(1)))
      if (!is.null(table) && length(founders) == 1 && !is.na(founders))
        for (column in c("ID_prt1", "ID_prt2", "g_numb_prt1", "g_numb_prt2"))
          table[[column]][table$id < founders] <- NA_integer_
      table
    },
    deaths = function() {
      path <- output(.soilweb_name("deaths"))
      if (!is.null(path)) return(.soilweb_read(path, stringsAsFactors = FALSE))
      animals <- .soilweb_snapshots(folder, name, "animals_end")
      if (is.null(animals)) return(NULL)
      dead <- animals[!(animals$state %in% .soilweb_schema$states$code[!.soilweb_schema$states$final]), ]
      dead <- dead[!duplicated(dead$id), ]
      dead <- data.frame(death_day = dead$date_death, id = dead$id, species = dead$species,
                         fate = unname(.soilweb_fates[as.character(dead$state)]), stringsAsFactors = FALSE)
      dead[order(dead$death_day, dead$id), , drop = FALSE]
    },
    foodweb_nodes = function() {
      path <- output(.soilweb_name("foodweb_nodes"))
      if (!is.null(path)) return(.soilweb_read(path, stringsAsFactors = FALSE))
      listed <- matrix_of("nodesMatrixFilename")
      if (is.null(listed)) return(NULL)
      nodes <- data.frame(id = as.integer(sub("^X", "", listed$node)), category = listed$category)
      animals <- .soilweb_snapshots(folder, name, "animals_end")
      if (is.null(animals)) return(nodes)
      last <- animals[!duplicated(animals$id, fromLast = TRUE), ]  # each animal's last row
      at <- match(nodes$id, last$id)
      fate <- .soilweb_fates[as.character(last$state[at])]
      data.frame(id = nodes$id, species = last$species[at], category = nodes$category,
                 birth_day = last$date_egg[at], death_day = ifelse(is.na(fate), NA, last$date_death[at]),
                 fate = ifelse(is.na(fate), "alive", fate), stringsAsFactors = FALSE)
    },
    foodweb_edges = function() {
      path <- output(.soilweb_name("foodweb_edges"))
      if (!is.null(path)) return(.soilweb_read(path))
      met <- matrix_of("encountersMatrixFilename"); eaten <- matrix_of("predationsMatrixFilename")
      if (is.null(met) || is.null(eaten)) NULL else .soilweb_matrix_edges(met, eaten)
    })
  # A table the run was not asked to write reads as NULL, and says why.
  said <- lapply(names(read), function(table) {
    reader <- read[[table]]
    function() {
      value <- reader()
      why <- if (is.null(value)) .soilweb_unasked(record$configuration$simulation$outputs, table) else NULL
      if (!is.null(why)) message("soilweb.R: ", name, ": no ", table, " table: the run was not asked to write it (",
                                 why, ")")
      value
    }
  })
  names(said) <- names(read)
  .soilweb_lazy(list(record = record, folder = folder), said[tables], "soilweb_run")
}

# Why a run's configured outputs left a table out (simulation.outputs.files or foodWeb "none"); NULL if they did not.
.soilweb_unasked <- function(outputs, table) {
  kinds <- .soilweb_schema$kinds
  listing <- vapply(kinds$files, function(files) table %in% files, logical(1)) & kinds$name != "snapshots"
  kind <- kinds$name[listing][1]
  if (identical(kind, "foodweb") && identical(outputs$foodWeb, "none")) return('simulation.outputs.foodWeb is "none"')
  files <- unlist(outputs$files)
  snapshot <- kind %in% kinds$files[[which(kinds$name == "snapshots")]] && "snapshots" %in% files
  if (!is.null(outputs$files) && !(kind %in% files) && !snapshot)
    return(paste("simulation.outputs.files leaves out", kind))
  NULL
}

# An environment holding values, and a binding per reader that reads its table when first used.
.soilweb_lazy <- function(values, readers, class) {
  tables <- new.env(parent = emptyenv())
  for (name in names(values)) assign(name, values[[name]], envir = tables)
  for (name in names(readers)) local({
    read <- readers[[name]]
    value <- NULL
    done <- FALSE
    makeActiveBinding(name, function() {
      if (!done) {
        value <<- read()
        done <<- TRUE
      }
      value
    }, tables)
  })
  class(tables) <- class
  tables
}

print.soilweb_run <- function(x, ...) {
  cat("soilweb run ", x$folder, ": ", if (is.null(x$record$status)) "no record" else x$record$status,
      "; tables (read when used): ", paste(setdiff(ls(x), c("record", "folder")), collapse = ", "), "\n", sep = "")
  invisible(x)
}

print.soilweb_sweep <- function(x, ...) {
  cat("soilweb sweep ", x$folder, ": ", nrow(x$record), " runs; tables (read when used): ",
      paste(setdiff(ls(x), c("record", "folder")), collapse = ", "), "\n", sep = "")
  invisible(x)
}

# The tables of every finished run of a sweep, stacked, with run, replicate and the swept
# parameters first; record has one row per run. Reads SWEEP/tables/runs.tsv, which
# soilweb-sweep collect writes.
read_sweep <- function(folder, tables = SOILWEB_TABLES) {
  runs_path <- file.path(folder, "tables", "runs.tsv")
  if (!.soilweb_regular(runs_path)) stop("no ", runs_path, ": run soilweb-sweep collect ", folder, " first")
  runs <- read.delim(runs_path, check.names = FALSE, stringsAsFactors = FALSE)
  first <- setdiff(names(runs), c("seed", "status", "last_day", grep("_(died_out|quasi_extinct)_day$", names(runs), value = TRUE)))
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

# Running soilweb from R. The binary: the one given, else $SOILWEB_BINARY, else the one beside this
# file (the source tree's build/, an installation's bin/), else the first on the PATH; soilweb-sweep and
# soilweb-calibrate likewise ($SOILWEB_SWEEP, $SOILWEB_CALIBRATE, the source tree's scripts/ or the
# installation's bin/).
.soilweb_program <- function(name, given, beside) {
  candidates <- if (!is.null(given)) given else
    c(Sys.getenv(if (name == "soilweb") "SOILWEB_BINARY" else toupper(gsub("-", "_", name))),
      file.path(.soilweb_here, beside), file.path(.soilweb_here, "..", "..", "..", "bin", name), Sys.which(name))
  for (candidate in candidates)
    if (nzchar(candidate) && file.exists(candidate) && file.access(candidate, 1) == 0) return(normalizePath(candidate))
  stop(.soilweb_error(paste0("no ", name, if (!is.null(given)) paste0(" at ", given) else
    ": build it (scripts/test.sh), put it on the PATH or give binary ="), 1, ""))
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
  binary <- .soilweb_program("soilweb", binary, file.path("..", "build", "soilweb"))
  if (inherits(config, "soilweb_run")) config <- config$record
  if (is.list(config) && !is.null(config$configuration) && is.null(config$simulation)) config <- config$configuration
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

# Runs a sweep as `soilweb-sweep run` does and returns the loaded sweep (read_sweep). base: the base
# configuration (a list, a path, or a loaded run or its record); grid: a named list of dotted keys and vectors of values (or
# list(min = a, max = b) with design "lhs", "sobol", "morris" or "saltelli"), or a path; out: the
# sweep's folder (default sweep-DATE-TIME; an earlier sweep's folder resumes it).
soilweb_sweep <- function(base, grid, out = NULL, design = "grid", replicates = 1, jobs = NULL, seed = NULL,
                          samples = NULL, levels = NULL, lenient = FALSE, progress = TRUE, binary = NULL) {
  binary <- .soilweb_program("soilweb", binary, file.path("..", "build", "soilweb"))
  script <- .soilweb_program("soilweb-sweep", NULL, file.path("..", "scripts", "soilweb-sweep"))
  if (is.null(out)) out <- format(Sys.time(), "sweep-%Y%m%d-%H%M%S")
  files <- character(0)
  if (inherits(base, "soilweb_run")) base <- base$record
  if (is.list(base) && !is.null(base$configuration) && is.null(base$simulation)) base <- base$configuration
  if (is.list(base)) files <- c(files, base <- .soilweb_json_file(base, "base"))
  # Values stay lists in the JSON even when there is one of them.
  if (is.list(grid)) files <- c(files, grid <- .soilweb_json_file(lapply(grid, function(v) if (is.atomic(v)) I(v) else v),
                                                                  "grid"))
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
  cat("soilweb calibration ", x$folder, ": ", length(x$keys), " keys, ", nrow(x$generations), " generations\n", sep = "")
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
  binary <- .soilweb_program("soilweb", binary, file.path("..", "build", "soilweb"))
  script <- .soilweb_program("soilweb-calibrate", NULL, file.path("..", "scripts", "soilweb-calibrate"))
  if (is.null(out)) out <- format(Sys.time(), "calibration-%Y%m%d-%H%M%S")
  files <- character(0)
  if (inherits(base, "soilweb_run")) base <- base$record
  if (is.list(base) && !is.null(base$configuration) && is.null(base$simulation)) base <- base$configuration
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
    for (name in names(pairs[[option]])) args <- c(args, paste0("--", option), paste0(name, "=", pairs[[option]][[name]]))
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

# Selection on the genetic values from a run's pedigree, per species and birth cohort (windows of `window`
# birth days), as soilweb.selection() gives it in Python: n, those alive at the end, mean lifetime
# reproductive success (LRS: offspring an animal was a parent of), the opportunity for selection (variance
# of relative fitness w = LRS / mean LRS); per trait, on values standardised within the cohort, the selection
# differential (w regressed on the trait alone) and the Lande-Arnold gradient (w regressed on every genetic
# value together), each with its standard error; the response (mean of the cohort's offspring, each once
# per parent in the cohort, minus the cohort's mean, in its sd) and the realised heritability. The neutral
# value, when the run has markers, is one of the traits: the control whose gradient should be 0.
# run: read_run()'s list, or a run's folder.
soilweb_selection <- function(run, window = 20) {
  if (window < 1) stop("window must be at least 1 day, got ", window, call. = FALSE)
  if (is.character(run)) run <- read_run(run, tables = c("pedigree", "deaths"))
  pedigree <- run$pedigree
  if (is.null(pedigree)) stop("no pedigree: run it with simulation.outputs.pedigree \"true\"", call. = FALSE)
  traits <- intersect(.soilweb_traits, names(pedigree))
  if ("neutral" %in% names(pedigree) && any(!is.na(pedigree$neutral))) traits <- c(traits, "neutral")
  parents <- c(pedigree$ID_prt1, pedigree$ID_prt2)
  parents <- parents[!is.na(parents)]
  pedigree$lrs <- as.numeric(table(factor(parents, levels = pedigree$id)))
  pedigree$alive <- !(pedigree$id %in% run$deaths$id)
  fit <- function(w, z) {  # slopes and standard errors of w on the columns of z, NA when not separable
    none <- list(b = rep(NA_real_, ncol(z)), se = rep(NA_real_, ncol(z)))
    if (nrow(z) <= ncol(z) + 1 || any(!is.finite(w))) return(none)
    model <- lm(w ~ z)
    if (any(is.na(coef(model)))) return(none)
    s <- summary(model)$coefficients
    list(b = s[-1, 1], se = s[-1, 2])
  }
  rows <- list()
  for (kind in unique(pedigree$species)) {
    own <- pedigree[pedigree$species == kind, ]
    own$cohort <- (own$birth_day %/% window) * window
    for (start in sort(unique(own$cohort))) {
      members <- own[own$cohort == start, ]
      n <- nrow(members)
      w <- if (mean(members$lrs) > 0) members$lrs / mean(members$lrs) else rep(NA_real_, n)
      values <- as.matrix(members[, traits])
      mean_ <- colMeans(values)
      sd_ <- if (n > 1) apply(values, 2, sd) else rep(NA_real_, length(traits))
      varies <- is.finite(sd_) & sd_ > 0 & all(is.finite(w))
      z <- scale(values[, varies, drop = FALSE], center = mean_[varies], scale = sd_[varies])
      gradient <- gradient_se <- rep(NA_real_, length(traits))
      if (any(varies)) {
        together <- fit(w, z)
        gradient[varies] <- together$b
        gradient_se[varies] <- together$se
      }
      offspring <- pedigree[c(which(pedigree$ID_prt1 %in% members$id), which(pedigree$ID_prt2 %in% members$id)), ]
      for (k in seq_along(traits)) {
        differential <- differential_se <- response <- NA_real_
        if (varies[k]) {
          alone <- fit(w, z[, which(which(varies) == k), drop = FALSE])
          differential <- alone$b
          differential_se <- alone$se
          if (nrow(offspring) > 0) response <- (mean(offspring[[traits[k]]]) - mean_[k]) / sd_[k]
        }
        rows[[length(rows) + 1]] <- data.frame(
          species = kind, cohort = start, cohort_end = start + window - 1, n = n,
          alive_at_end = sum(members$alive), mean_lrs = mean(members$lrs),
          opportunity = if (n > 1) var(w) else NA_real_, trait = traits[k], mean = unname(mean_[k]),
          sd = unname(sd_[k]), differential = unname(differential), differential_se = unname(differential_se),
          gradient = gradient[k], gradient_se = gradient_se[k], response = unname(response),
          heritability = if (!is.na(differential) && differential != 0) unname(response / differential) else NA_real_)
      }
    }
  }
  do.call(rbind, rows)
}
