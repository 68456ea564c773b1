// One chromosome of one animal: an allele value per locus. A Chromosome is a
// view into the Genome that holds its alleles, and lives no longer than it.
// Each allele is held as its index in the locus' pool of the species, so the
// value read is exactly the pool's.
#pragma once

#include "genetics/Locus.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>

namespace soilweb {

// The alleles of a chromosome, locus by locus (a read-only view): indices of
// `width` bytes into the pools of loci.
class Alleles {
 public:
  Alleles(const std::uint8_t* indices, unsigned width, const Locus* loci, std::size_t count)
      : indices(indices), width(width), loci(loci), count(count) {}
  std::size_t size() const { return count; }
  // The index of locus k's allele in its pool.
  std::uint32_t index(std::size_t k) const {
    if (width == 1) return indices[k];
    if (width == 2) {
      std::uint16_t index;
      std::memcpy(&index, indices + 2 * k, 2);
      return index;
    }
    std::uint32_t index;
    std::memcpy(&index, indices + 4 * k, 4);
    return index;
  }
  double operator[](std::size_t k) const { return loci[k].getAlleles()[index(k)]; }
  double at(std::size_t k) const;              // throws std::out_of_range past the last locus
  std::uint32_t indexAt(std::size_t k) const;  // the same check
  unsigned indexWidth() const { return width; }
  // The indices of loci from `first` on, as stored (for whole-range copies).
  const std::uint8_t* indicesFrom(std::size_t first) const { return indices + first * width; }

 private:
  const std::uint8_t* indices;
  unsigned width;
  const Locus* loci;
  std::size_t count;
};

class Chromosome {
 public:
  explicit Chromosome(Alleles alleles) : alleles(alleles) {}
  const Alleles& getAlleles() const { return alleles; }

 private:
  Alleles alleles;
};

}  // namespace soilweb
