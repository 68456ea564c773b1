// An animal's genome: for each trait, in trait order, a pair of chromosomes,
// one allele per locus of the species, all in one block that lies just past
// the genome, in the same allocation. Each allele is held as its index in the
// locus' pool: one byte when no pool holds more than 256 alleles, two up to
// 65 536, four beyond. Made by the species' ChromosomesGenerator, whose pools
// outlive it; owned by its animal for the animal's whole life; its
// chromosomes are views into it.
#pragma once

#include "genetics/Chromosome.h"
#include "genetics/Locus.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace soilweb {

class StateArchive;

// The two chromosomes of one trait.
struct ChromosomePair {
  Chromosome first;
  Chromosome second;
};

class Genome {
 public:
  // traits pairs of chromosomes over loci (not owned; they must outlive the genome), its
  // alleles in the same allocation as the genome itself.
  static std::unique_ptr<Genome> make(std::size_t traits, const std::vector<Locus>& loci);
  static void operator delete(void* genome) { ::operator delete(genome); }
  Genome(const Genome&) = delete;
  Genome& operator=(const Genome&) = delete;

  std::size_t size() const { return traits; }  // number of pairs
  const std::vector<Locus>& getLoci() const { return *loci; }
  ChromosomePair operator[](std::size_t trait) const { return {chromosome(trait, 0), chromosome(trait, 1)}; }
  ChromosomePair at(std::size_t trait) const;  // throws std::out_of_range past the last trait
  // Sets the allele of one chromosome at locus k (side 0: the first of the pair) to the pool's index-th.
  void setAllele(std::size_t trait, int side, std::size_t k, std::uint32_t index);
  // Sets loci [begin, end) of one chromosome to those of `from`, a chromosome over the same pools.
  void copyAlleles(std::size_t trait, int side, const Alleles& from, std::size_t begin, std::size_t end);
  // Saves or loads the allele indices; loading refuses an index past its pool.
  void transferState(StateArchive& archive);

 private:
  Genome(std::size_t traits, const std::vector<Locus>& loci, unsigned width, std::uint8_t* block)
      : loci(&loci), traits(traits), width(width), block(block) {}
  Chromosome chromosome(std::size_t trait, int side) const {
    return Chromosome(
        Alleles(block + (2 * trait + side) * loci->size() * width, width, loci->data(), loci->size()));
  }

  const std::vector<Locus>* loci;
  std::size_t traits;
  unsigned width;        // bytes an index takes
  std::uint8_t* block;  // just past the genome, in its allocation
};

}  // namespace soilweb
