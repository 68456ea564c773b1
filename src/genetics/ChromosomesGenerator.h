// Makes genomes for one species: it holds the species' allele pools (one Locus
// per locus), draws founder genomes from them and recombines two parents'
// genomes into an offspring's. Created and owned by the species whose genomes
// it makes. A species has two: one for its traits, drawing from the model's
// generator, and one for its neutral markers (when it has any), drawing from
// theirs.
#pragma once

#include "genetics/Genome.h"
#include "genetics/Locus.h"

#include <memory>
#include <vector>

namespace soilweb {

class ChromosomesGenerator {
 public:
  // Pools of alleles for numberOfLoci loci; genomes of numberOfTraits chromosome
  // pairs; every draw, of the pools and of genomes, from draws.
  ChromosomesGenerator(unsigned numberOfTraits, unsigned numberOfLoci, unsigned numberOfAlleles, int randomnessMode,
                       UniformStream& draws = modelDraws);

  // One chromosome drawn from the pools into side of trait's pair of genome: one draw per locus.
  void getChromosome(Genome& genome, std::size_t trait, int side) const;
  // A founder's genome: per trait two chromosomes, the second drawn listed first.
  std::unique_ptr<Genome> getChromosomes() const;

  // An offspring's genome: in every pair the first chromosome recombines parent 1's
  // pair, the second parent 2's; each parent's side is drawn once for all traits.
  static std::unique_ptr<Genome> getGametes(const Genome& parent1, const Genome& parent2, unsigned numberOfTraits,
                                            unsigned numberOfLoci, UniformStream& draws = modelDraws);
  // Single-point crossover of a pair into intoSide of trait's pair of into; side 0
  // starts with the first chromosome.
  static void getChromosomeForGamete(const ChromosomePair& pair, unsigned numberOfLoci, int side, Genome& into,
                                     std::size_t trait, int intoSide, UniformStream& draws = modelDraws);
  // An offspring's genome drawn from this generator's own draws.
  std::unique_ptr<Genome> getGametes(const Genome& parent1, const Genome& parent2) const {
    return getGametes(parent1, parent2, numberOfTraits, static_cast<unsigned>(loci.size()), *draws);
  }

  const std::vector<Locus>& getLoci() const { return loci; }

 private:
  std::vector<Locus> loci;
  unsigned numberOfTraits;
  UniformStream* draws;
};

}  // namespace soilweb
