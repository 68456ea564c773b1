#include "Genome.h"

#include <stdexcept>
#include <string>

// The block is left unset: every allele is written when the genome is made.
Genome::Genome(std::size_t traits, std::size_t loci)
    : traits(traits), loci(loci), block(new double[2 * traits * loci]) {}

ChromosomePair Genome::at(std::size_t trait) const {
  if (trait >= traits)
    throw std::out_of_range("trait " + std::to_string(trait) + " of a genome of " + std::to_string(traits));
  return (*this)[trait];
}
