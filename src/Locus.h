// The pool of allele values one locus of a species can carry, drawn once when
// the species is built and fixed afterwards. Held by value by the species'
// chromosomes generator.
#pragma once

#include <vector>

class Locus {
 public:
  // randomnessMode 1: allele i is drawn within the i-th of n equal slices of
  // [0, 1); mode 0: each allele is drawn between a random low and high bound.
  Locus(int numberOfAlleles, int randomnessMode);

  double getAlleleRandomly() const;  // one draw
  const std::vector<double>& getAlleles() const { return alleles; }

 private:
  std::vector<double> alleles;
};
