// An animal's genome: for each trait, in trait order, a pair of chromosomes of
// the same number of loci, all alleles in one block (one allocation per
// animal). Made by the species' ChromosomesGenerator, owned by its animal for
// the animal's whole life; its chromosomes are views into it.
#pragma once

#include "Chromosome.h"

#include <cstddef>
#include <memory>

// The two chromosomes of one trait.
struct ChromosomePair {
  Chromosome first;
  Chromosome second;
};

class Genome {
 public:
  Genome(std::size_t traits, std::size_t loci);

  std::size_t size() const { return traits; }  // number of pairs
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
