#include "genetics/Locus.h"

#include "core/GlobalFunctions.h"

namespace soilweb {

Locus::Locus(int numberOfAlleles, int randomnessMode) {
  if (randomnessMode == 1) {
    const double slice = 1.0 / numberOfAlleles;
    for (int i = 0; i < numberOfAlleles; ++i) alleles.push_back(randomUniform(i * slice, slice + i * slice));
  } else if (randomnessMode == 0) {
    for (int i = 0; i < numberOfAlleles; ++i) {
      const double lo = randomUniform(0, 0.5);
      const double hi = randomUniform(0.5, 1);
      alleles.push_back(randomUniform(lo, hi));
    }
  }
}

int Locus::getAlleleIndexRandomly() const { return randomIndex(static_cast<int>(alleles.size())); }

}  // namespace soilweb
