// What one animal costs in memory, part by part, as glibc's allocator counts it
// (each block takes its usable size plus an 8-byte header): a founder with 8
// loci and pools of 4 alleles, its traits adjusted and one snapshot line written.
#include "Fixtures.h"
#include "genetics/ChromosomesGenerator.h"
#include "output/AnimalSnapshot.h"

#include <malloc.h>

#include <cstdio>

#include <cstdlib>
#include <new>

using namespace soilweb;

namespace {
std::size_t block(const void* p) { return p ? malloc_usable_size(const_cast<void*>(p)) + 8 : 0; }
std::size_t allocated = 0;  // bytes of the blocks made through new, as block() counts them
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  allocated += block(p);
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main() {
  const unsigned loci = 8;
  fixtures::Ring ring(1);
  auto species = fixtures::makeSpecies("prey", loci);
  const std::size_t beforeGenome = allocated;
  auto genome = species->getChromosomesGenerator()->getChromosomes();  // a founder's, from the species' pools
  const std::size_t genomeBytes = allocated - beforeGenome;
  auto* prey = new Prey(1, std::move(genome), ring[0], 0, 0, 0, 0, 0, species.get());
  ring[0]->addPrey(ACTIVE, prey);
  prey->setState(ACTIVE);
  prey->setTrait(BODY_SIZE, 1);
  prey->adjustTraits();
  std::string line;
  line.reserve(1024);
  const std::size_t before = allocated;
  KeptLines kept;
  AnimalSnapshot::appendLine(*prey, line, &kept);  // formats and keeps the fields fixed at birth
  const std::size_t text = allocated - before;

  const std::size_t record = block(prey);
  const std::size_t registry = sizeof(Prey*);
  std::printf("part                          bytes\n");
  std::printf("record with its 13 traits (sizeof Prey %zu) %5zu\n", sizeof(Prey), record);
  std::printf("genome (object and 26 x 8 allele indices) %5zu\n", genomeBytes);
  std::printf("kept snapshot text            %5zu\n", text);
  std::printf("registry pointer              %5zu\n", registry);
  std::printf("total                         %5zu\n", record + genomeBytes + text + registry);
}
