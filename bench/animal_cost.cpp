// What one animal costs in memory, part by part, as glibc's allocator counts it
// (each block takes its usable size plus an 8-byte header): a founder with 8
// loci, its traits adjusted and one snapshot line written.
#include "Fixtures.h"

#include <malloc.h>

#include <cstdio>

namespace {
std::size_t block(const void* p) { return p ? malloc_usable_size(const_cast<void*>(p)) + 8 : 0; }
}  // namespace

int main() {
  const unsigned loci = 8;
  fixtures::Ring ring(1);
  auto species = fixtures::makeSpecies("prey", loci);
  auto* prey = fixtures::addAnimal<Prey>(ring[0], species.get(), ACTIVE, 1, {{BODY_SIZE, 1}});
  prey->adjustTraits();
  std::string line;
  line.reserve(1024);
  const std::size_t before = mallinfo2().uordblks;
  prey->appendSnapshotLine(line);  // formats and keeps the fields fixed at birth
  const std::size_t text = mallinfo2().uordblks - before;

  const Genome& genome = *prey->getChromosomes();
  std::size_t chromosomes = 0, alleles = 0;
  for (const auto& pair : genome)
    for (const Chromosome* c : {pair.first.get(), pair.second.get()}) {
      chromosomes += block(c);
      alleles += block(c->getAlleles().data());
    }
  const std::size_t record = block(prey);
  const std::size_t traits = block(prey->getTraits().data());
  const std::size_t pairs = block(genome.data()) + block(&genome);
  const std::size_t registry = sizeof(Prey*);
  std::printf("part                          bytes\n");
  std::printf("record (sizeof Prey %zu)        %5zu\n", sizeof(Prey), record);
  std::printf("traits (13 doubles)           %5zu\n", traits);
  std::printf("genome: pair list             %5zu\n", pairs);
  std::printf("genome: 26 chromosome objects %5zu\n", chromosomes);
  std::printf("genome: 26 allele arrays      %5zu\n", alleles);
  std::printf("kept snapshot text             %5zu\n", text);
  std::printf("registry pointer              %5zu\n", registry);
  std::printf("total                         %5zu\n", record + traits + pairs + chromosomes + alleles + text + registry);
}
