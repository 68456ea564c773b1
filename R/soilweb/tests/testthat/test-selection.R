# A pedigree of founders whose offspring counts rise with z1 and not with z2, and their offspring.
synthetic_run <- function(n = 3000, beta = 0.15) {
  set.seed(11)
  z1 <- rnorm(n)
  z2 <- rnorm(n)
  lrs <- rpois(n, exp(log(2) + beta * z1 - beta^2 / 2))
  parents <- rep(seq_len(n) - 1, lrs)
  children <- length(parents)
  founders <- data.frame(id = seq_len(n) - 1, species = "prey", birth_day = 0, ID_prt1 = NA, ID_prt2 = NA,
                         body_size = z1, voracity = z2)
  offspring <- data.frame(id = n - 1 + seq_len(children), species = "prey", birth_day = 40, ID_prt1 = parents,
                          ID_prt2 = NA, body_size = z1[parents + 1], voracity = z2[parents + 1])
  list(pedigree = rbind(founders, offspring), deaths = data.frame(id = seq_len(n) - 1))
}

test_that("selection differentials and gradients recover a known selection", {
  table <- soilweb_selection(synthetic_run(), window = 20)
  founders <- table[table$cohort == 0, ]
  body <- founders[founders$trait == "body_size", ]
  other <- founders[founders$trait == "voracity", ]
  expect_equal(body$n, 3000)
  expect_lt(abs(body$gradient - 0.15), 3 * body$gradient_se)
  expect_lt(abs(other$gradient), 3 * other$gradient_se)
  # The offspring carry their parent's values: the response is the differential, h2 is 1.
  expect_equal(body$heritability, 1, tolerance = 0.01)
})

test_that("a window under a day and a run without a pedigree are refused", {
  expect_error(soilweb_selection(synthetic_run(100), window = 0), "window must be at least 1 day, got 0")
  expect_error(soilweb_selection(list(pedigree = NULL)), "no pedigree")
})
