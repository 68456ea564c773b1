# The schema of a run's results (every file, column and code, as `soilweb --schema` prints it),
# installed with the package; read once, when the package is loaded.
.soilweb_state <- new.env(parent = emptyenv())

.onLoad <- function(libname, pkgname) {
  path <- system.file("schema.json", package = pkgname, lib.loc = libname)
  if (!nzchar(path)) stop("soilweb: the package was installed without its schema.json")
  .soilweb_state$schema <- jsonlite::fromJSON(path)
}

.soilweb_schema <- function() .soilweb_state$schema
.soilweb_file <- function(id) .soilweb_schema()$files[.soilweb_schema()$files$id == id, ]
# A file's name after "NAME_" in the tables layout, and the folder of its daily files.
.soilweb_name <- function(id) sub("^.*/NAME_", "", .soilweb_file(id)$tables)
.soilweb_folder <- function(id) strsplit(.soilweb_file(id)$daily, "/")[[1]][2]
.soilweb_outputs <- function() .soilweb_folder("summary")
# The traits, as the configuration names them and as the tables do.
.soilweb_traits <- function() .soilweb_schema()$traits$name
.soilweb_stages <- function() .soilweb_schema()$stages$name
.soilweb_fates <- function() {
  final <- .soilweb_schema()$states[.soilweb_schema()$states$final, ]
  setNames(final$fate, final$code)
}

# The loaders' names of a file's columns: each trait, and its statistics, as the configuration
# names it ("body" is "body_size", "body_mean" "body_size_mean"); the summary's DAY is "day".
# Files keep their own names.
.soilweb_loader_names <- function(columns, table = "") {
  given <- .soilweb_schema()$loader_names
  names <- c(unlist(given$every_table), unlist(given$by_table[[table]]))
  suffixes <- given$statistic_suffixes
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

# The genetic traits every animal carries, in the order of the tables' columns, as the
# configuration names them.
soilweb_traits <- function() .soilweb_traits()
