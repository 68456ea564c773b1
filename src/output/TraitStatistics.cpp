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

void field(std::string& out, double x, bool known) {
  out += '\t';
  if (known)
    appendDouble(out, x);
  else
    out += "NA";
}

// Running statistics of one trait (Welford's updates: steady, and no list of
// values kept, whatever the number of animals). The expressed traits' file has
// always been written from these.
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
    field(out, mean, n > 0);
    field(out, n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0, n > 1);
    field(out, min, n > 0);
    field(out, max, n > 0);
  }
};

// The expressed traits of one species and stage, over the day's animals.
struct ExpressedGroup {
  std::array<Running, NUMBER_OF_TRAITS> traits;
  long long count() const { return traits[0].n; }
  void add(const Animal& animal) {
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) traits[t].add(animal.getTraits()[t]);
  }
  void append(std::string& out) const {
    for (const Running& trait : traits) trait.append(out);
  }
};

// The genetic values of one species and stage, and the mean of each trait's
// heterozygosity. Sums of the deviations from the first animal's values: no
// division per value, trait by trait in step (which the compiler may do
// several at a time), and steady while the values lie close together, as
// genetic values do; the day's statistics of every living animal stay cheap.
struct GeneticGroup {
  long long n = 0;
  std::array<double, NUMBER_OF_TRAITS> shift{}, sum{}, squares{}, min{}, max{}, gaps{};
  long long count() const { return n; }
  void add(const Animal& animal) {
    const Animal::Traits values = animal.geneticValues();
    const auto& heterozygosity = animal.heterozygosity();
    if (n++ == 0) shift = min = max = values;
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
      const double d = values[t] - shift[t];
      sum[t] += d;
      squares[t] += d * d;
      min[t] = std::min(min[t], values[t]);
      max[t] = std::max(max[t], values[t]);
      gaps[t] += heterozygosity[t];
    }
  }
  void append(std::string& out) const {
    const double count = static_cast<double>(n);
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
      field(out, n > 0 ? shift[t] + sum[t] / count : 0, n > 0);
      field(out, n > 1 ? std::sqrt(std::max(0.0, (squares[t] - sum[t] * sum[t] / count) / (count - 1))) : 0, n > 1);
      field(out, min[t], n > 0);
      field(out, max[t], n > 0);
      field(out, n > 0 ? gaps[t] / count : 0, n > 0);
    }
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

// The lines of one day: every species with its four stages, each a Group of its animals.
template <class Group>
void appendGroups(const World& world, int day, std::string& out) {
  const auto& species = world.getSpecies();
  std::vector<std::array<Group, ResultSchema::NUMBER_OF_STAGES>> groups(species.size());
  auto indexOf = [&species](const AnimalSpecies* of) {
    std::size_t k = 0;
    while (k < species.size() && species[k].get() != of) ++k;
    return k;
  };
  eachLivingAnimal(world, [&](const Animal& animal) {
    const std::size_t stage = stageOf(animal);
    if (stage != ResultSchema::NUMBER_OF_STAGES) groups[indexOf(animal.getSpecies())][stage].add(animal);
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
      appendInt(out, group.count());
      group.append(out);
      out += '\n';
    }
}
}  // namespace

void TraitStatistics::appendDay(const World& world, int day, std::string& out) {
  appendGroups<ExpressedGroup>(world, day, out);
}

void TraitStatistics::appendGeneticDay(const World& world, int day, std::string& out) {
  appendGroups<GeneticGroup>(world, day, out);
}

}  // namespace soilweb
