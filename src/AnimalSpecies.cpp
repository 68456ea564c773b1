#include "AnimalSpecies.h"

#include "ChromosomesGenerator.h"

#include <limits>
#include <stdexcept>
#include <utility>

const std::vector<std::string>& AnimalSpecies::traitNames() {
  static const std::vector<std::string> names = {"energy_tank", "growth", "pheno",   "body_size", "assim",
                                                 "voracity",    "speed",  "search_area", "met_rate", "vorQ10",
                                                 "spdQ10",      "srchQ10", "actE_met"};
  return names;
}

AnimalSpecies::AnimalSpecies(const std::string& name, unsigned numberOfTraits, unsigned numberOfLoci,
                             unsigned numberOfAlleles, std::vector<int> positiveModule,
                             std::vector<double> restrictPerTrait, std::vector<double> correlationCoeficientRHOPerModule,
                             std::vector<double> ownLociPerModule, unsigned numberOfTraitsPerModule,
                             unsigned randomnessMode)
    : Species(name),
      randomnessMode(randomnessMode),
      numberOfTraits(numberOfTraits),
      numberOfLoci(numberOfLoci),
      numberOfAlleles(numberOfAlleles),
      numberOfTraitsPerModule(numberOfTraitsPerModule),
      positiveModule(std::move(positiveModule)),
      restrictPerTrait(std::move(restrictPerTrait)),
      correlationCoeficientRHOPerModule(std::move(correlationCoeficientRHOPerModule)),
      ownLociPerModule(std::move(ownLociPerModule)) {
  const auto& names = traitNames();
  for (unsigned i = 0; i < names.size(); ++i) traitIndexByName[names[i]] = i;
  chromosomesGenerator = std::make_unique<ChromosomesGenerator>(this);
}

AnimalSpecies::~AnimalSpecies() = default;

bool AnimalSpecies::isTraitName(const std::string& name) const { return traitIndexByName.count(name) != 0; }

unsigned AnimalSpecies::traitIndex(const std::string& name) const {
  auto found = traitIndexByName.find(name);
  if (found == traitIndexByName.end()) throw std::invalid_argument("unknown trait name '" + name + "'");
  return found->second;
}

void AnimalSpecies::addTraitMin(const std::string& name, double value) {
  const unsigned i = traitIndex(name);
  minTraitsRanges[i] = value;
  minObservedTraits[i] = std::numeric_limits<double>::max();
}

void AnimalSpecies::addTraitMax(const std::string& name, double value) {
  const unsigned i = traitIndex(name);
  maxTraitsRanges[i] = value;
  maxObservedTraits[i] = 0;
}

void AnimalSpecies::addTraitMinLimit(const std::string& name, double value) { minTraitLimits[traitIndex(name)] = value; }

void AnimalSpecies::addTraitMaxLimit(const std::string& name, double value) { maxTraitLimits[traitIndex(name)] = value; }

void AnimalSpecies::addTrait(const std::string& name, double min, double max, double minLimit, double maxLimit) {
  addTraitMin(name, min);
  addTraitMax(name, max);
  addTraitMinLimit(name, minLimit);
  addTraitMaxLimit(name, maxLimit);
}

void AnimalSpecies::computeRestrictedTraits() {
  for (unsigned i = 0; i < numberOfTraits; ++i) {
    const double lo = minTraitsRanges[i];
    const double hi = maxTraitsRanges[i];
    const double cut = (hi - lo) * 0.5 * restrictPerTrait.at(i);
    minRestrictedTraits[i] = lo + cut;
    maxRestrictedTraits[i] = hi - cut;
  }
}
