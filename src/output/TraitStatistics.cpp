#include "TraitStatistics.h"

#include "AnimalSpecies.h"
#include "Cell.h"
#include "GlobalFunctions.h"
#include "Predator.h"
#include "Prey.h"
#include "World.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {
// The stages of the living, as named in the file.
enum Stage { EGG, JUVENILE, ADULT, READY, NUMBER_OF_STAGES };
const char* const STAGE_NAMES[NUMBER_OF_STAGES] = {"egg", "juvenile", "adult", "reproducing"};
const int FIRST_ADULT_INSTAR = 4;

// The stage of a living animal; NUMBER_OF_STAGES for the dead.
Stage stageOf(const Animal& animal) {
  switch (animal.getState()) {
    case UNBORN:
      return EGG;
    case ACTIVE:
      return animal.getInstar() >= FIRST_ADULT_INSTAR ? ADULT : JUVENILE;
    case REPRODUCING:
      return READY;
    default:
      return NUMBER_OF_STAGES;
  }
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

const std::string TraitStatistics::HEADER = [] {
  std::string header = "day\tspecies\tstage\tcount";
  for (const TraitInfo& trait : TRAITS)
    for (const char* statistic : {"_mean", "_sd", "_min", "_max"}) header += std::string("\t") + trait.column + statistic;
  return header + "\n";
}();

void TraitStatistics::appendDay(const World& world, int day, std::string& out) {
  const auto& species = world.getSpecies();
  std::vector<std::array<Group, NUMBER_OF_STAGES>> groups(species.size());
  auto indexOf = [&species](const AnimalSpecies* of) {
    std::size_t k = 0;
    while (k < species.size() && species[k].get() != of) ++k;
    return k;
  };
  auto add = [&](const Animal& animal) {
    const Stage stage = stageOf(animal);
    if (stage != NUMBER_OF_STAGES) groups[indexOf(animal.getSpecies())][stage].add(animal);
  };
  for (const auto& cell : world.getCells())
    for (unsigned state : {UNBORN, ACTIVE, REPRODUCING}) {
      for (const Prey* prey : cell->getPreys(state)) add(*prey);
      for (const Predator* predator : cell->getPredators(state)) add(*predator);
    }
  for (std::size_t k = 0; k < species.size(); ++k)
    for (int stage = 0; stage < NUMBER_OF_STAGES; ++stage) {
      const Group& group = groups[k][stage];
      appendInt(out, day);
      out += '\t';
      out += species[k]->getScientificName();
      out += '\t';
      out += STAGE_NAMES[stage];
      out += '\t';
      appendInt(out, group.traits[0].n);
      for (const Running& trait : group.traits) trait.append(out);
      out += '\n';
    }
}
