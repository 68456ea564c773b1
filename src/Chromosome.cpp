#include "Chromosome.h"

#include <stdexcept>
#include <string>

double Alleles::at(std::size_t k) const {
  if (k >= count) throw std::out_of_range("locus " + std::to_string(k) + " of a chromosome of " + std::to_string(count));
  return values[k];
}

// The block is left unset: every allele is written when the genome is made.
Genome::Genome(std::size_t traits, std::size_t loci)
    : traits(traits), loci(loci), block(new double[2 * traits * loci]) {}

ChromosomePair Genome::at(std::size_t trait) const {
  if (trait >= traits)
    throw std::out_of_range("trait " + std::to_string(trait) + " of a genome of " + std::to_string(traits));
  return (*this)[trait];
}

std::ostream& operator<<(std::ostream& out, const Chromosome& chromosome) {
  const Alleles& alleles = chromosome.getAlleles();
  for (std::size_t k = 0; k < alleles.size(); ++k) out << "(" << k << ")" << alleles[k] << " ";
  return out;
}
