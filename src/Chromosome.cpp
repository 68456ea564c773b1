#include "Chromosome.h"

#include <stdexcept>
#include <string>

double Alleles::at(std::size_t k) const {
  if (k >= count) throw std::out_of_range("locus " + std::to_string(k) + " of a chromosome of " + std::to_string(count));
  return values[k];
}

std::ostream& operator<<(std::ostream& out, const Chromosome& chromosome) {
  const Alleles& alleles = chromosome.getAlleles();
  for (std::size_t k = 0; k < alleles.size(); ++k) out << "(" << k << ")" << alleles[k] << " ";
  return out;
}
