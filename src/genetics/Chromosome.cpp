#include "genetics/Chromosome.h"

#include <stdexcept>
#include <string>

namespace soilweb {

std::uint32_t Alleles::indexAt(std::size_t k) const {
  if (k >= count)
    throw std::out_of_range("locus " + std::to_string(k) + " of a chromosome of " + std::to_string(count));
  return index(k);
}

double Alleles::at(std::size_t k) const { return loci[k].getAlleles().at(indexAt(k)); }

}  // namespace soilweb
