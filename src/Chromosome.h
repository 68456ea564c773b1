// One chromosome of one animal: an allele value per locus. A Chromosome is a
// view into the Genome that holds its alleles, and lives no longer than it.
#pragma once

#include <cstddef>
#include <ostream>

// The allele values of a chromosome, locus by locus (a read-only view).
class Alleles {
 public:
  Alleles(const double* values, std::size_t count) : values(values), count(count) {}
  std::size_t size() const { return count; }
  const double* data() const { return values; }
  double operator[](std::size_t k) const { return values[k]; }
  double at(std::size_t k) const;  // throws std::out_of_range past the last locus
  const double* begin() const { return values; }
  const double* end() const { return values + count; }

 private:
  const double* values;
  std::size_t count;
};

class Chromosome {
 public:
  Chromosome(const double* alleles, std::size_t loci) : alleles(alleles, loci) {}
  const Alleles& getAlleles() const { return alleles; }

 private:
  Alleles alleles;
};

// "(k)value " for each locus k in order.
std::ostream& operator<<(std::ostream& out, const Chromosome& chromosome);
