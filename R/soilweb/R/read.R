# The tables soilweb's runs are read into, as the Python package names them.
SOILWEB_TABLES <- c("summary", "animals_start", "animals_end", "cells", "traits", "genetics", "pedigree",
                    "deaths", "foodweb_nodes", "foodweb_edges")

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
  table <- .soilweb_existing(file.path(folder, .soilweb_outputs(), paste0(name, "_", .soilweb_name(kind))))
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
  stages <- .soilweb_schema()$stages
  living <- animals[animals$state %in% .soilweb_schema()$states$code[!.soilweb_schema()$states$final], ]
  living$stage <- NA_character_
  for (k in seq_len(nrow(stages))) {
    holds <- living$state == stages$state[k] & living$instar >= stages$from_instar[k] &
      (stages$below_instar[k] == 0 | living$instar < stages$below_instar[k])
    living$stage[holds & is.na(living$stage)] <- stages$name[k]
  }
  species <- unique(animals$species)
  grid <- expand.grid(stage = .soilweb_stages(), species = species, day = sort(unique(animals$day)),
                      stringsAsFactors = FALSE)[, c("day", "species", "stage")]
  key <- paste(living$day, living$species, living$stage)
  wanted <- paste(grid$day, grid$species, grid$stage)
  grid$count <- as.integer(table(factor(key, levels = wanted)))
  for (trait in .soilweb_traits()) {
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
  e <- pairs(met)
  p <- pairs(eaten)
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
  final <- .soilweb_schema()$states$code[.soilweb_schema()$states$final]
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
  output <- function(file) .soilweb_existing(file.path(folder, .soilweb_outputs(), paste0(name, "_", file)))
  record_path <- file.path(folder, .soilweb_outputs(), paste0(name, "_", .soilweb_name("record")))
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
    kept <- .soilweb_traits()[.soilweb_schema()$traits$after_birth == "inherited"]
    missing <- setdiff(.soilweb_traits(), c(kept, "pheno"))
    message("soilweb: ", name, " has no ", .soilweb_name(id), "; ", id, " computed from the snapshots, ",
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
      for (trait in .soilweb_traits()) table[[paste0(trait, "_het")]] <- NA_real_
      table[, c("day", "species", "stage", "count",
                unlist(lapply(.soilweb_traits(), function(t) paste0(t, c("_mean", "_sd", "_min", "_max", "_het")))))]
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
      dead <- animals[!(animals$state %in% .soilweb_schema()$states$code[!.soilweb_schema()$states$final]), ]
      dead <- dead[!duplicated(dead$id), ]
      dead <- data.frame(death_day = dead$date_death, id = dead$id, species = dead$species,
                         fate = unname(.soilweb_fates()[as.character(dead$state)]), stringsAsFactors = FALSE)
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
      fate <- .soilweb_fates()[as.character(last$state[at])]
      data.frame(id = nodes$id, species = last$species[at], category = nodes$category,
                 birth_day = last$date_egg[at], death_day = ifelse(is.na(fate), NA, last$date_death[at]),
                 fate = ifelse(is.na(fate), "alive", fate), stringsAsFactors = FALSE)
    },
    foodweb_edges = function() {
      path <- output(.soilweb_name("foodweb_edges"))
      if (!is.null(path)) return(.soilweb_read(path))
      met <- matrix_of("encountersMatrixFilename")
      eaten <- matrix_of("predationsMatrixFilename")
      if (is.null(met) || is.null(eaten)) NULL else .soilweb_matrix_edges(met, eaten)
    })
  # A table the run was not asked to write reads as NULL, and says why.
  said <- lapply(names(read), function(table) {
    reader <- read[[table]]
    function() {
      value <- reader()
      why <- if (is.null(value)) .soilweb_unasked(record$configuration$simulation$outputs, table) else NULL
      if (!is.null(why)) message("soilweb: ", name, ": no ", table, " table: the run was not asked to write it (",
                                 why, ")")
      value
    }
  })
  names(said) <- names(read)
  .soilweb_lazy(list(record = record, folder = folder), said[tables], "soilweb_run")
}

# Why a run's configured outputs left a table out (simulation.outputs.files or foodWeb "none"); NULL if they did not.
.soilweb_unasked <- function(outputs, table) {
  kinds <- .soilweb_schema()$kinds
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
