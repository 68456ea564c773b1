#include "genetics/Genome.h"

#include "core/StateArchive.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace soilweb {

namespace {
// Bytes an index into the largest of the pools needs.
unsigned widthFor(const std::vector<Locus>& loci) {
  std::size_t largest = 0;
  for (const Locus& locus : loci) largest = std::max(largest, locus.getAlleles().size());
  return largest <= 0x100 ? 1 : largest <= 0x10000 ? 2 : 4;
}
}  // namespace

// The block is left unset: every allele is written when the genome is made.
std::unique_ptr<Genome> Genome::make(std::size_t traits, const std::vector<Locus>& loci) {
  const unsigned width = widthFor(loci);
  void* memory = ::operator new(sizeof(Genome) + 2 * traits * loci.size() * width);
  auto* block = static_cast<std::uint8_t*>(memory) + sizeof(Genome);
  return std::unique_ptr<Genome>(new (memory) Genome(traits, loci, width, block));
}

ChromosomePair Genome::at(std::size_t trait) const {
  if (trait >= traits)
    throw std::out_of_range("trait " + std::to_string(trait) + " of a genome of " + std::to_string(traits));
  return (*this)[trait];
}

void Genome::setAllele(std::size_t trait, int side, std::size_t k, std::uint32_t index) {
  std::uint8_t* at = block + ((2 * trait + side) * loci->size() + k) * width;
  if (width == 1) {
    *at = static_cast<std::uint8_t>(index);
  } else if (width == 2) {
    const auto narrow = static_cast<std::uint16_t>(index);
    std::memcpy(at, &narrow, 2);
  } else {
    std::memcpy(at, &index, 4);
  }
}

void Genome::copyAlleles(std::size_t trait, int side, const Alleles& from, std::size_t begin, std::size_t end) {
  if (end > loci->size() || end > from.size() || from.indexWidth() != width)
    throw std::out_of_range("loci up to " + std::to_string(end) + " copied into a chromosome of " +
                            std::to_string(loci->size()));
  if (begin >= end) return;
  std::memcpy(block + ((2 * trait + side) * loci->size() + begin) * width, from.indicesFrom(begin),
              (end - begin) * width);
}

void Genome::transferState(StateArchive& archive) {
  archive.ioBytes(block, 2 * traits * loci->size() * width);
  if (!archive.isLoading()) return;
  for (std::size_t trait = 0; trait < traits; ++trait)
    for (int side = 0; side < 2; ++side) {
      const Chromosome held = chromosome(trait, side);
      for (std::size_t k = 0; k < loci->size(); ++k)
        archive.expect(held.getAlleles().index(k) < (*loci)[k].getAlleles().size(),
                       "an allele index lies past its pool");
    }
}

}  // namespace soilweb
