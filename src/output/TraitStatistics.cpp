#include "output/TraitStatistics.h"

#include "core/GlobalFunctions.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "output/ResultSchema.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace soilweb {

namespace {
// The stage of a living animal, by its place in the schema's stages; their number for the dead.
std::size_t stageOf(const Animal& animal) {
  const auto& stages = ResultSchema::stages();
  for (std::size_t k = 0; k < stages.size(); ++k) {
    const ResultStage& stage = stages[k];
    if (animal.getState() == stage.state && animal.getInstar() >= stage.fromInstar &&
        (stage.belowInstar == 0 || animal.getInstar() < stage.belowInstar))
      return k;
  }
  return stages.size();
}

// Running statistics of one trait (Welford's updates: steady, and no list of
// values kept, whatever the number of animals).
struct Running {
  long long n = 0;
  double mean = 0, squares = 0;  // squares: of the deviations from the mean
  double min = 0, max = 0;
  void add(double x) {
    ++n;
    const double before = mean;
    mean += (x - before) / static_cast<double>(n);
    squares += (x - before) * (x - mean);
    min = n == 1 ? x : std::min(min, x);
    max = n == 1 ? x : std::max(max, x);
  }
  static void field(std::string& out, double x, bool known) {
    out += '\t';
    if (known)
      appendDouble(out, x);
    else
      out += "NA";
  }
  void appendMean(std::string& out) const { field(out, mean, n > 0); }
  void append(std::string& out) const {
    field(out, mean, n > 0);
    field(out, n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0, n > 1);
    field(out, min, n > 0);
    field(out, max, n > 0);
  }
};

// The traits of one species and stage, over the day's animals; with
// heterozygosity, also the mean difference of each trait's two allele sums.
struct Group {
  std::array<Running, NUMBER_OF_TRAITS> traits;
  std::array<Running, NUMBER_OF_TRAITS> heterozygosity;
  void add(const Animal::Traits& values) {
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) traits[t].add(values[t]);
  }
  void addHalves(const Animal::AlleleSums& halves) {
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t)
      heterozygosity[t].add(std::fabs(halves.first[t] - halves.second[t]));
  }
};

template <class Add>
void eachLivingAnimal(const World& world, Add add) {
  for (const auto& cell : world.getCells())
    for (unsigned state : {UNBORN, ACTIVE, REPRODUCING}) {
      for (const Prey* prey : cell->getPreys(state)) add(*prey);
      for (const Predator* predator : cell->getPredators(state)) add(*predator);
    }
}

// The lines of one day: every species with its four stages, from groups filled by fill.
template <class Fill>
void appendGroups(const World& world, int day, std::string& out, bool genetic, Fill fill) {
  const auto& species = world.getSpecies();
  std::vector<std::array<Group, ResultSchema::NUMBER_OF_STAGES>> groups(species.size());
  auto indexOf = [&species](const AnimalSpecies* of) {
    std::size_t k = 0;
    while (k < species.size() && species[k].get() != of) ++k;
    return k;
  };
  eachLivingAnimal(world, [&](const Animal& animal) {
    const std::size_t stage = stageOf(animal);
    if (stage != ResultSchema::NUMBER_OF_STAGES) fill(animal, groups[indexOf(animal.getSpecies())][stage]);
  });
  for (std::size_t k = 0; k < species.size(); ++k)
    for (std::size_t stage = 0; stage < ResultSchema::NUMBER_OF_STAGES; ++stage) {
      const Group& group = groups[k][stage];
      appendInt(out, day);
      out += '\t';
      out += species[k]->getScientificName();
      out += '\t';
      out += ResultSchema::stages()[stage].name;
      out += '\t';
      appendInt(out, group.traits[0].n);
      for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
        group.traits[t].append(out);
        if (genetic) group.heterozygosity[t].appendMean(out);
      }
      out += '\n';
    }
}
}  // namespace

void TraitStatistics::appendDay(const World& world, int day, std::string& out) {
  appendGroups(world, day, out, false, [](const Animal& animal, Group& group) { group.add(animal.getTraits()); });
}

void TraitStatistics::appendGeneticDay(const World& world, int day, std::string& out) {
  appendGroups(world, day, out, true, [](const Animal& animal, Group& group) {
    Animal::AlleleSums halves;
    group.add(animal.geneticValues(&halves));
    group.addHalves(halves);
  });
}

}  // namespace soilweb
