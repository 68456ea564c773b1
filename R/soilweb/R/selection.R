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
  traits <- intersect(.soilweb_traits(), names(pedigree))
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
