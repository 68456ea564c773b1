#include "ChromosomesGenerator.h"

#include "AnimalSpecies.h"
#include "GlobalFunctions.h"

ChromosomesGenerator::ChromosomesGenerator(AnimalSpecies* species) : species(species) {
  loci.reserve(species->getNumberOfLoci());
  for (unsigned k = 0; k < species->getNumberOfLoci(); ++k)
    loci.emplace_back(static_cast<int>(species->getNumberOfAlleles()), static_cast<int>(species->getRandomnessMode()));
}

std::unique_ptr<Chromosome> ChromosomesGenerator::getChromosome() const {
  std::vector<double> alleles;
  alleles.reserve(loci.size());
  for (const Locus& locus : loci) alleles.push_back(locus.getAlleleRandomly());
  return std::make_unique<Chromosome>(std::move(alleles));
}

std::unique_ptr<Genome> ChromosomesGenerator::getChromosomes() const {
  auto genome = std::make_unique<Genome>();
  genome->reserve(species->getNumberOfTraits());
  for (unsigned t = 0; t < species->getNumberOfTraits(); ++t) {
    auto first = getChromosome();
    auto second = getChromosome();
    genome->emplace_back(std::move(second), std::move(first));
  }
  return genome;
}

std::unique_ptr<Genome> ChromosomesGenerator::getGametes(const Genome& parent1, const Genome& parent2,
                                                         unsigned numberOfTraits, unsigned numberOfLoci) {
  auto genome = std::make_unique<Genome>(numberOfTraits);
  const int side1 = randomIndex(2);
  const int side2 = randomIndex(2);
  for (unsigned t = 0; t < numberOfTraits; ++t) {
    (*genome)[t].first = getChromosomeForGamete(parent1.at(t), numberOfLoci, side1);
    (*genome)[t].second = getChromosomeForGamete(parent2.at(t), numberOfLoci, side2);
  }
  return genome;
}

std::unique_ptr<Chromosome> ChromosomesGenerator::getChromosomeForGamete(const ChromosomePair& pair,
                                                                         unsigned numberOfLoci, int side) {
  const unsigned crossover = static_cast<unsigned>(randomIndex(static_cast<int>(numberOfLoci)));
  const auto& first = pair.first->getAlleles();
  const auto& second = pair.second->getAlleles();
  // Side 0: loci before the crossover from the first chromosome, the rest from
  // the second; side 1 the other way round.
  const auto& head = side == 0 ? first : second;
  const auto& tail = side == 0 ? second : first;
  std::vector<double> alleles(numberOfLoci);
  for (unsigned k = 0; k < numberOfLoci; ++k) alleles[k] = k < crossover ? head.at(k) : tail.at(k);
  return std::make_unique<Chromosome>(std::move(alleles));
}
