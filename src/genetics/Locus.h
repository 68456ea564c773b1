// The pool of allele values one locus of a species can carry, drawn once when
// the species is built and fixed afterwards. Held by value by the species'
// chromosomes generator.
#pragma once

#include <utility>
#include <vector>

namespace soilweb {

class Locus {
 public:
  // randomnessMode 1: allele i is drawn within the i-th of n equal slices of
  // [0, 1); mode 0: each allele is drawn between a random low and high bound.
  Locus(int numberOfAlleles, int randomnessMode);
  // A pool of the given values (tests use it to build genomes of known alleles).
  explicit Locus(std::vector<double> alleles) : alleles(std::move(alleles)) {}

  int getAlleleIndexRandomly() const;  // the same draw, as the allele's index in the pool
  const std::vector<double>& getAlleles() const { return alleles; }

 private:
  std::vector<double> alleles;
};

}  // namespace soilweb
