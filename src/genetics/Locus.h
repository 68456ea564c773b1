// The pool of allele values one locus of a species can carry, drawn once when
// the species is built and fixed afterwards. Held by value by the species'
// chromosomes generator.
#pragma once

#include "core/GlobalFunctions.h"

#include <utility>
#include <vector>

namespace soilweb {

class Locus {
 public:
  // randomnessMode 1: allele i is drawn within the i-th of n equal slices of
  // [0, 1); mode 0: each allele is drawn between a random low and high bound.
  // Every draw comes from draws.
  Locus(int numberOfAlleles, int randomnessMode, UniformStream& draws = modelDraws);
  // A pool of the given values (tests use it to build genomes of known alleles).
  explicit Locus(std::vector<double> alleles) : alleles(std::move(alleles)) {}

  // One allele drawn from the pool, as its index in the pool.
  int getAlleleIndexRandomly(UniformStream& draws = modelDraws) const;
  const std::vector<double>& getAlleles() const { return alleles; }

 private:
  std::vector<double> alleles;
};

}  // namespace soilweb
