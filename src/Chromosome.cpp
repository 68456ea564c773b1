#include "Chromosome.h"

std::ostream& operator<<(std::ostream& out, const Chromosome& chromosome) {
  const auto& alleles = chromosome.getAlleles();
  for (std::size_t k = 0; k < alleles.size(); ++k) out << "(" << k << ")" << alleles[k] << " ";
  return out;
}
