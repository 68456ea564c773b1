# Load soilweb runs and sweeps as data frames, with base R and jsonlite (Debian: r-cran-jsonlite).
#
#   source("R/soilweb.R")
#   run <- read_run("example")        # the run's folder, named after simulationName
#   head(run$summary); head(run$animals_end); run$record$status
#   sweep <- read_sweep("my-sweep")   # a folder made by soilweb-sweep, after soilweb-sweep collect
#   head(sweep$summary)               # every finished run's summary, stacked
#
# The tables are those of the Python loader (python/soilweb): summary, animals_start,
# animals_end, cells, traits, foodweb_nodes, foodweb_edges (NULL when the run did not write
# what a table needs), whatever the layout (daily files or tables), compression or thinning.
# run$record holds the run record's top-level fields (status, seed, last_day, ...), and
# died_out_days (the day after which the resource, the prey and the predators were first found
# gone; NULL: never). genetics, pedigree and deaths are read from their files, or made from the
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
.soilweb_traits <- .soilweb_schema$traits$column
.soilweb_stages <- .soilweb_schema$stages$name
.soilweb_fates <- with(.soilweb_schema$states[.soilweb_schema$states$final, ], setNames(fate, code))

.soilweb_existing <- function(path) {
  for (candidate in c(path, paste0(path, ".gz"))) if (file.exists(candidate)) return(candidate)
  NULL
}

# A tab-separated file with a header; the daily animal files' trailing tab is dropped.
.soilweb_tsv <- function(path) {
  header <- strsplit(readLines(path, n = 1), "\t")[[1]]
  table <- read.delim(path, header = FALSE, skip = 1, quote = "",
                      stringsAsFactors = FALSE, colClasses = NA)
  table <- table[, seq_along(header), drop = FALSE]
  names(table) <- header
  table
}

# The value of a text field of the run record, wherever it stands ("" when absent).
.soilweb_record_text <- function(text, key) {
  found <- regmatches(text, regexec(paste0('"', key, '"\\s*:\\s*"([^"]*)"'), text))[[1]]
  if (length(found) == 2) found[2] else ""
}

# The record's top-level fields that are numbers, text, true, false or null.
.soilweb_record <- function(text) {
  lines <- strsplit(text, "\n")[[1]]
  top <- regmatches(lines, regexec('^  "([^"]+)": (.*?),?$', lines))
  record <- list()
  for (field in top) {
    if (length(field) != 3) next
    value <- field[3]
    if (grepl('^".*"$', value)) record[[field[2]]] <- gsub('^"|"$', "", value)
    else if (value %in% c("true", "false")) record[[field[2]]] <- value == "true"
    else if (value == "null") record[field[2]] <- list(NULL)
    else if (!is.na(suppressWarnings(as.numeric(value)))) record[[field[2]]] <- as.numeric(value)
  }
  record
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

# The tables of a run's folder: a list of data frames, and record.
read_run <- function(folder, tables = SOILWEB_TABLES) {
  folder <- normalizePath(folder, mustWork = TRUE)
  name <- basename(folder)
  output <- function(file) .soilweb_existing(file.path(folder, .soilweb_outputs, paste0(name, "_", file)))
  record_path <- file.path(folder, .soilweb_outputs, paste0(name, "_", .soilweb_name("record")))
  text <- if (file.exists(record_path)) paste(readLines(record_path, warn = FALSE), collapse = "\n") else ""
  matrix_of <- function(key) {
    file <- .soilweb_record_text(text, key)
    path <- if (nzchar(file)) output(file) else NULL
    if (is.null(path)) NULL else read.delim(path, check.names = FALSE)
  }
  run <- list(record = .soilweb_record(text))
  if (nzchar(text)) run$record$died_out_days <- jsonlite::fromJSON(text)$died_out_days
  # A genetic table from its file, else from the snapshots: the traits an animal keeps from
  # birth and pheno (from pheno_ini), the others NA, as a message says.
  genetic <- function(id, from_animals) {
    path <- output(.soilweb_name(id))
    if (!is.null(path)) return(read.delim(path, stringsAsFactors = FALSE))
    animals <- .soilweb_snapshots(folder, name, "animals_end")
    if (is.null(animals)) return(NULL)
    kept <- .soilweb_traits[c(2, 9:13)]
    missing <- setdiff(.soilweb_traits, c(kept, "pheno"))
    message("soilweb.R: ", name, " has no ", .soilweb_name(id), "; ", id, " computed from the snapshots, ",
            "without the genetic values of ", paste(missing, collapse = ", "),
            " (a snapshot shows them only as expressed)")
    animals$pheno <- animals$pheno_ini
    for (trait in missing) animals[[trait]] <- NA_real_
    from_animals(animals)
  }
  read <- list(
    summary = function() {
      path <- output(.soilweb_record_text(text, "summaryFilename"))
      if (is.null(path)) NULL else read.delim(path)
    },
    animals_start = function() .soilweb_snapshots(folder, name, "animals_start"),
    animals_end = function() .soilweb_snapshots(folder, name, "animals_end"),
    cells = function() .soilweb_snapshots(folder, name, "cells"),
    traits = function() {
      path <- output(.soilweb_name("traits"))
      if (!is.null(path)) return(read.delim(path))
      animals <- .soilweb_snapshots(folder, name, "animals_end")
      if (is.null(animals)) NULL else soilweb_traits_of(animals)
    },
    genetics = function() genetic("genetics", function(animals) {
      table <- soilweb_traits_of(animals)
      for (trait in .soilweb_traits) table[[paste0(trait, "_het")]] <- NA_real_
      table[, c("day", "species", "stage", "count",
                unlist(lapply(.soilweb_traits, function(t) paste0(t, c("_mean", "_sd", "_min", "_max", "_het")))))]
    }),
    pedigree = function() genetic("pedigree", function(animals) {
      first <- animals[order(animals$day), ]
      first <- first[!duplicated(first$id), ]
      first <- first[order(first$id), ]
      names(first)[names(first) == "date_egg"] <- "birth_day"
      first <- first[, .soilweb_file("pedigree")$columns[[1]]$name]
      rownames(first) <- NULL
      first
    }),
    deaths = function() {
      path <- output(.soilweb_name("deaths"))
      if (!is.null(path)) return(read.delim(path, stringsAsFactors = FALSE))
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
      if (!is.null(path)) return(read.delim(path, stringsAsFactors = FALSE))
      listed <- matrix_of("nodesMatrixFilename")
      if (is.null(listed)) return(NULL)
      nodes <- data.frame(id = as.integer(sub("^X", "", listed$node)), category = listed$category)
      animals <- .soilweb_snapshots(folder, name, "animals_end")
      if (is.null(animals)) return(nodes)
      last <- animals[animals$day == max(animals$day), ]
      at <- match(nodes$id, last$id)
      fate <- .soilweb_fates[as.character(last$state[at])]
      data.frame(id = nodes$id, species = last$species[at], category = nodes$category,
                 birth_day = last$date_egg[at], death_day = ifelse(is.na(fate), NA, last$date_death[at]),
                 fate = ifelse(is.na(fate), "alive", fate), stringsAsFactors = FALSE)
    },
    foodweb_edges = function() {
      path <- output(.soilweb_name("foodweb_edges"))
      if (!is.null(path)) return(read.delim(path))
      met <- matrix_of("encountersMatrixFilename"); eaten <- matrix_of("predationsMatrixFilename")
      if (is.null(met) || is.null(eaten)) NULL else .soilweb_matrix_edges(met, eaten)
    })
  for (table in tables) run[table] <- list(read[[table]]())
  run
}

# The tables of every finished run of a sweep, stacked, with run, replicate and the swept
# parameters first; record has one row per run. Reads SWEEP/tables/runs.tsv, which
# soilweb-sweep collect writes.
read_sweep <- function(folder, tables = SOILWEB_TABLES) {
  runs_path <- file.path(folder, "tables", "runs.tsv")
  if (!file.exists(runs_path)) stop("no ", runs_path, ": run soilweb-sweep collect ", folder, " first")
  runs <- read.delim(runs_path, check.names = FALSE, stringsAsFactors = FALSE)
  first <- setdiff(names(runs), c("seed", "status", "last_day", grep("_died_out_day$", names(runs), value = TRUE)))
  sweep <- list(record = runs)
  finished <- runs[runs$status %in% c("completed", "extinct"), ]
  for (table in tables) {
    frames <- lapply(seq_len(nrow(finished)), function(k) {
      run <- finished[k, ]
      frame <- read_run(file.path(folder, "runs", run$run, run$run), table)[[table]]
      if (is.null(frame) || nrow(frame) == 0) return(NULL)
      cbind(run[rep(1, nrow(frame)), first, drop = FALSE], frame, row.names = NULL)
    })
    frames <- Filter(Negate(is.null), frames)
    sweep[table] <- list(if (length(frames)) do.call(rbind, frames) else NULL)
  }
  sweep
}
