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
  void append(std::string& out) const {
    auto field = [&out](double x, bool known) {
      out += '\t';
      if (known)
        appendDouble(out, x);
      else
        out += "NA";
    };
    field(mean, n > 0);
    field(n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0, n > 1);
    field(min, n > 0);
    field(max, n > 0);
  }
};

// The traits of one species and stage, over the day's animals.
struct Group {
  std::array<Running, NUMBER_OF_TRAITS> traits;
  void add(const Animal& animal) {
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) traits[t].add(animal.getTraits()[t]);
  }
};
}  // namespace

void TraitStatistics::appendDay(const World& world, int day, std::string& out) {
  const auto& species = world.getSpecies();
  std::vector<std::array<Group, ResultSchema::NUMBER_OF_STAGES>> groups(species.size());
  auto indexOf = [&species](const AnimalSpecies* of) {
    std::size_t k = 0;
    while (k < species.size() && species[k].get() != of) ++k;
    return k;
  };
  auto add = [&](const Animal& animal) {
    const std::size_t stage = stageOf(animal);
    if (stage != ResultSchema::NUMBER_OF_STAGES) groups[indexOf(animal.getSpecies())][stage].add(animal);
  };
  for (const auto& cell : world.getCells())
    for (unsigned state : {UNBORN, ACTIVE, REPRODUCING}) {
      for (const Prey* prey : cell->getPreys(state)) add(*prey);
      for (const Predator* predator : cell->getPredators(state)) add(*predator);
    }
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
      for (const Running& trait : group.traits) trait.append(out);
      out += '\n';
    }
}

}  // namespace soilweb
