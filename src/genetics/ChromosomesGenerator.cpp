#include "genetics/ChromosomesGenerator.h"

namespace soilweb {

ChromosomesGenerator::ChromosomesGenerator(unsigned numberOfTraits, unsigned numberOfLoci, unsigned numberOfAlleles,
                                           int randomnessMode, UniformStream& draws)
    : numberOfTraits(numberOfTraits), draws(&draws) {
  loci.reserve(numberOfLoci);
  for (unsigned k = 0; k < numberOfLoci; ++k)
    loci.emplace_back(static_cast<int>(numberOfAlleles), randomnessMode, draws);
}

void ChromosomesGenerator::getChromosome(Genome& genome, std::size_t trait, int side) const {
  for (std::size_t k = 0; k < loci.size(); ++k)
    genome.setAllele(trait, side, k, static_cast<std::uint32_t>(loci[k].getAlleleIndexRandomly(*draws)));
}

std::unique_ptr<Genome> ChromosomesGenerator::getChromosomes() const {
  auto genome = Genome::make(numberOfTraits, loci);
  for (unsigned t = 0; t < numberOfTraits; ++t) {
    getChromosome(*genome, t, 1);  // the first drawn is filed second
    getChromosome(*genome, t, 0);
  }
  return genome;
}

std::unique_ptr<Genome> ChromosomesGenerator::getGametes(const Genome& parent1, const Genome& parent2,
                                                         unsigned numberOfTraits, unsigned numberOfLoci,
                                                         UniformStream& draws) {
  auto genome = Genome::make(numberOfTraits, parent1.getLoci());
  const int side1 = draws.index(2);
  const int side2 = draws.index(2);
  for (unsigned t = 0; t < numberOfTraits; ++t) {
    getChromosomeForGamete(parent1.at(t), numberOfLoci, side1, *genome, t, 0, draws);
    getChromosomeForGamete(parent2.at(t), numberOfLoci, side2, *genome, t, 1, draws);
  }
  return genome;
}

void ChromosomesGenerator::getChromosomeForGamete(const ChromosomePair& pair, unsigned numberOfLoci, int side,
                                                  Genome& into, std::size_t trait, int intoSide,
                                                  UniformStream& draws) {
  const unsigned crossover = static_cast<unsigned>(draws.index(static_cast<int>(numberOfLoci)));
  const Alleles& first = pair.first.getAlleles();
  const Alleles& second = pair.second.getAlleles();
  // Side 0: loci before the crossover from the first chromosome, the rest from
  // the second; side 1 the other way round.
  const Alleles& head = side == 0 ? first : second;
  const Alleles& tail = side == 0 ? second : first;
  into.copyAlleles(trait, intoSide, head, 0, crossover);
  into.copyAlleles(trait, intoSide, tail, crossover, numberOfLoci);
}

}  // namespace soilweb
