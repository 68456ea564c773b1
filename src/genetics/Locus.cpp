#include "genetics/Locus.h"

namespace soilweb {

Locus::Locus(int numberOfAlleles, int randomnessMode, UniformStream& draws) {
  if (randomnessMode == 1) {
    const double slice = 1.0 / numberOfAlleles;
    for (int i = 0; i < numberOfAlleles; ++i) alleles.push_back(draws.between(i * slice, slice + i * slice));
  } else if (randomnessMode == 0) {
    for (int i = 0; i < numberOfAlleles; ++i) {
      const double lo = draws.between(0, 0.5);
      const double hi = draws.between(0.5, 1);
      alleles.push_back(draws.between(lo, hi));
    }
  }
}

int Locus::getAlleleIndexRandomly(UniformStream& draws) const {
  return draws.index(static_cast<int>(alleles.size()));
}

}  // namespace soilweb
