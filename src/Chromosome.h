// One chromosome of one animal: an allele value per locus. A Chromosome is a
// view into the genome that holds it; the Genome owns every allele of an
// animal in one block, two chromosomes per trait, and lives as long as its
// animal (or, for a newborn's, until the animal takes it over).
#pragma once

#include <cstddef>
#include <memory>
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

// The two chromosomes of one trait.
struct ChromosomePair {
  Chromosome first;
  Chromosome second;
};

// An animal's genome: for each trait, in trait order, a pair of chromosomes of
// `loci` alleles each, all in one block (one allocation per animal).
class Genome {
 public:
  Genome(std::size_t traits, std::size_t loci);

  std::size_t size() const { return traits; }  // number of pairs
  std::size_t getLoci() const { return loci; }
  ChromosomePair operator[](std::size_t trait) const { return {chromosome(trait, 0), chromosome(trait, 1)}; }
  ChromosomePair at(std::size_t trait) const;  // throws std::out_of_range past the last trait
  // Where the alleles of one chromosome are written: side 0 the first of the pair, 1 the second.
  double* alleles(std::size_t trait, int side) { return block.get() + (2 * trait + side) * loci; }

 private:
  Chromosome chromosome(std::size_t trait, int side) const {
    return Chromosome(block.get() + (2 * trait + side) * loci, loci);
  }

  std::size_t traits;
  std::size_t loci;
  std::unique_ptr<double[]> block;
};
