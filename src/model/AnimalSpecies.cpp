#include "model/AnimalSpecies.h"

#include "core/Configuration.h"
#include "core/GlobalFunctions.h"
#include "core/StateArchive.h"
#include "genetics/ChromosomesGenerator.h"

#include <cmath>

#include <limits>
#include <stdexcept>
#include <utility>

namespace soilweb {

const std::vector<std::string>& AnimalSpecies::traitNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    all.reserve(TRAITS.size());
    for (const TraitInfo& trait : TRAITS) all.emplace_back(trait.name);
    return all;
  }();
  return names;
}

AnimalSpecies::AnimalSpecies(const std::string& name, unsigned numberOfTraits, unsigned numberOfLoci,
                             unsigned numberOfAlleles, std::vector<int> positiveModule,
                             std::vector<double> restrictPerTrait,
                             std::vector<double> correlationCoeficientRHOPerModule,
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
  chromosomesGenerator = std::make_unique<ChromosomesGenerator>(numberOfTraits, numberOfLoci, numberOfAlleles,
                                                                static_cast<int>(randomnessMode));
}

AnimalSpecies::~AnimalSpecies() = default;

void AnimalSpecies::setNeutralLoci(unsigned loci) {
  neutralLoci = loci;
  neutralGenerator.reset();
  if (loci > 0)
    neutralGenerator = std::make_unique<ChromosomesGenerator>(1, loci, numberOfAlleles,
                                                              static_cast<int>(randomnessMode), neutralDraws);
}

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

void AnimalSpecies::addTraitMinLimit(const std::string& name, double value) {
  minTraitLimits[traitIndex(name)] = value;
}

void AnimalSpecies::addTraitMaxLimit(const std::string& name, double value) {
  maxTraitLimits[traitIndex(name)] = value;
}

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

// ---- Reading a species from run_params ----------------------------------------

namespace {
// The elements of a genetics list, which must be a JSON array.
std::vector<const boost::property_tree::ptree*> listElements(const Configuration& entry, const std::string& key) {
  std::vector<const boost::property_tree::ptree*> elements;
  for (const auto& element : entry.child(key)) {
    if (!element.first.empty()) entry.fail(key, "must be a JSON array (it has a member named '" + element.first + "')");
    elements.push_back(&element.second);
  }
  return elements;
}

// The path of element k of the list at key, for warnings.
std::string elementPath(const Configuration& entry, const std::string& key, std::size_t k) {
  return entry.pathOf(key) + "[" + std::to_string(k) + "]";
}

void checkCount(const Configuration& entry, const std::string& key, std::size_t count, std::size_t least,
                std::size_t most) {
  if (count < least || count > most) {
    const std::string wanted =
        least == most ? std::to_string(least) : "between " + std::to_string(least) + " and " + std::to_string(most);
    entry.fail(key, "must have " + wanted + " elements, got " + std::to_string(count));
  }
}

const std::size_t MAX_MODULES = 5;

template <class Type>
Type readParameter(const Configuration& entry, const char* key);
template <>
double readParameter<double>(const Configuration& entry, const char* key) {
  return entry.strictReal(key);
}
template <>
int readParameter<int>(const Configuration& entry, const char* key) {
  return entry.strictInt(key);
}

template <class Add>
void readTraitObject(const Configuration& entry, const std::string& key, const AnimalSpecies& species, Add add) {
  for (const auto& member : entry.child(key)) {
    if (Configuration::isComment(member.first)) continue;
    if (!species.isTraitName(member.first)) {
      std::string known;
      for (const auto& name : AnimalSpecies::traitNames()) known += (known.empty() ? "" : ", ") + name;
      entry.fail(key, "names an unknown trait '" + member.first + "' (known: " + known + ")");
    }
    add(member.first, Configuration::lenientReal(member.second, entry.pathOf(key) + "." + member.first));
  }
}
}  // namespace

namespace {
// The genetics of a species entry, in the order its keys are read.
struct Genetics {
  unsigned randomnessMode = 0, numberOfLoci = 0, numberOfAlleles = 0, numberOfTraits = 0, perModule = 0;
  unsigned neutralLoci = 0;
  std::size_t modules = 0;
  std::vector<int> positiveModule;
  std::vector<double> restrictPerTrait, rhoPerModule, ownLociPerModule;
};

// The sizes: randomness mode, loci, alleles (within the memory budget), traits and modules.
void readGeneticSizes(const Configuration& entry, double memoryBudget, Genetics& g) {
  g.randomnessMode = entry.strictUnsigned("genetics.randomnessMode");
  if (g.randomnessMode > 1)
    entry.fail("genetics.randomnessMode", "must be 0 or 1, got " + std::to_string(g.randomnessMode));
  g.numberOfLoci = entry.strictUnsigned("genetics.numberOfLoci");
  g.numberOfAlleles = entry.strictUnsigned("genetics.numberOfAlleles");
  if (g.numberOfAlleles == 0) entry.fail("genetics.numberOfAlleles", "must be at least 1, got 0");
  if (entry.has("genetics.neutralLoci")) g.neutralLoci = entry.strictUnsigned("genetics.neutralLoci");
  const double loci = static_cast<double>(g.numberOfLoci) + g.neutralLoci;
  const double poolBytes = 8.0 * g.numberOfAlleles * loci + 32.0 * loci;
  if (poolBytes > memoryBudget)
    entry.fail("genetics.numberOfAlleles",
               "with numberOfLoci " + std::to_string(g.numberOfLoci) +
                   (g.neutralLoci > 0 ? " and neutralLoci " + std::to_string(g.neutralLoci) : std::string()) +
                   " would need about " + gibibytes(poolBytes) + " of allele pools, more than the " +
                   gibibytes(memoryBudget) + " allowed");
  g.numberOfTraits = entry.strictUnsigned("genetics.numberOfTraits");
  if (g.numberOfTraits != NUMBER_OF_TRAITS)
    entry.fail("genetics.numberOfTraits",
               "must be " + std::to_string(NUMBER_OF_TRAITS) + ", got " + std::to_string(g.numberOfTraits));
  g.perModule = entry.strictUnsigned("genetics.numberOfTraitsPerModule");
  g.modules = g.perModule == 0 ? 0 : (g.numberOfTraits + g.perModule - 1) / g.perModule;
  if (g.perModule == 0 || g.modules > MAX_MODULES)
    entry.fail(
        "genetics.numberOfTraitsPerModule",
        "must make at most 5 modules of the " + std::to_string(NUMBER_OF_TRAITS) +
                   " traits (at least 3 per module), got " + std::to_string(g.perModule));
}

// The lists: each module's sign, each trait's restriction, each module's correlation.
void readGeneticLists(const Configuration& entry, Genetics& g) {
  const auto positiveElements = listElements(entry, "genetics.positiveModule");
  checkCount(entry, "genetics.positiveModule", positiveElements.size(), g.modules, MAX_MODULES);
  g.positiveModule.assign(MAX_MODULES, 0);
  for (std::size_t k = 0; k < positiveElements.size(); ++k)
    g.positiveModule[k] =
        Configuration::lenientInt(*positiveElements[k], elementPath(entry, "genetics.positiveModule", k));

  const auto restrictElements = listElements(entry, "genetics.restrictPerTrait");
  checkCount(entry, "genetics.restrictPerTrait", restrictElements.size(), g.numberOfTraits, g.numberOfTraits);
  g.restrictPerTrait.assign(g.numberOfTraits, 0.0);
  for (std::size_t k = 0; k < restrictElements.size(); ++k)
    g.restrictPerTrait[k] =
        Configuration::lenientReal(*restrictElements[k], elementPath(entry, "genetics.restrictPerTrait", k));

  const auto rhoElements = listElements(entry, "genetics.correlationCoeficientRHOPerModule");
  checkCount(entry, "genetics.correlationCoeficientRHOPerModule", rhoElements.size(), g.modules, MAX_MODULES);
  g.rhoPerModule.assign(MAX_MODULES, 0.0);
  g.ownLociPerModule.assign(MAX_MODULES, 0.0);
  for (std::size_t k = 0; k < rhoElements.size(); ++k) {
    g.rhoPerModule[k] = Configuration::lenientReal(*rhoElements[k],
                                                   elementPath(entry, "genetics.correlationCoeficientRHOPerModule", k));
    g.ownLociPerModule[k] = std::round((1 - std::fabs(g.rhoPerModule[k])) * g.numberOfLoci);
  }
}

unsigned readHuntingMode(const Configuration& entry) {
  const std::string word = entry.text("huntingMode");
  if (word == "does_not_hunt") return DOES_NOT_HUNT;
  if (word == "sit_and_wait") return SIT_AND_WAIT;
  if (word == "active_hunting") return ACTIVE_HUNTING;
  entry.fail("huntingMode", "must be does_not_hunt, sit_and_wait or active_hunting, got '" + word + "'");
}
}  // namespace

std::unique_ptr<AnimalSpecies> AnimalSpecies::read(const Configuration& entry, double memoryBudget) {
  Genetics g;
  readGeneticSizes(entry, memoryBudget, g);
  readGeneticLists(entry, g);
  const std::string name = entry.name("name", true);
  if (const auto first = name.find_first_not_of(' ');
      first != std::string::npos && std::string("=+-@").find(name[first]) != std::string::npos)
    Configuration::warnings.push_back("'" + entry.pathOf("name") + "' starts with '" + name[first] +
                                      "': a spreadsheet opening the tables may take the name for a formula");
  const unsigned initialPopulation = entry.strictUnsigned("initialPopulation");
  const unsigned huntingMode = readHuntingMode(entry);

  auto species = std::make_unique<AnimalSpecies>(name, g.numberOfTraits, g.numberOfLoci, g.numberOfAlleles,
                                                 g.positiveModule, g.restrictPerTrait, g.rhoPerModule,
                                                 g.ownLociPerModule, g.perModule, g.randomnessMode);
  species->setInitialPopulation(initialPopulation);
  species->setDefaultHuntingMode(huntingMode);
  species->setNeutralLoci(g.neutralLoci);

  AnimalSpecies& s = *species;
  readTraitObject(entry, "minTraitsRanges", s, [&](const std::string& t, double v) { s.addTraitMin(t, v); });
  readTraitObject(entry, "maxTraitsRanges", s, [&](const std::string& t, double v) { s.addTraitMax(t, v); });
  readTraitObject(entry, "minTraitLimits", s, [&](const std::string& t, double v) { s.addTraitMinLimit(t, v); });
  readTraitObject(entry, "maxTraitLimits", s, [&](const std::string& t, double v) { s.addTraitMaxLimit(t, v); });
  s.computeRestrictedTraits();

#define SOILWEB_READ_PARAMETER(type, field, Name) s.set##Name(readParameter<type>(entry, #field));
  SOILWEB_SPECIES_PARAMETERS(SOILWEB_READ_PARAMETER)
#undef SOILWEB_READ_PARAMETER

  return species;
}

// Divisions by zero that the model runs on with (its traits become infinite or
// NaN) are worth a word: such a run is rarely what was meant.
std::vector<std::string> AnimalSpecies::undefinedTraitWarnings(const std::string& entryPath) {
  std::vector<std::string> warnings;
  const std::string entry = "'" + entryPath;
  const std::string every = " of every " + getScientificName();
  for (unsigned trait : {VORACITY, SPEED, SEARCH_AREA})
    if (minTraitLimits[trait] == maxTraitLimits[trait]) {
      std::string limit;
      appendDouble(limit, minTraitLimits[trait]);
      warnings.push_back(entry + ".minTraitLimits." + traitNames()[trait] + "' equals its maxTraitLimits (" + limit +
                         "): the trait " + traitNames()[trait] + every + " is infinite or NaN from its first day");
    }
  if (maxEncountersT == 0)
    warnings.push_back(entry + ".maxEncountersT' is 0: the trait search_area" + every + " is NaN from its first day");
  const std::pair<double, const char*> deviations[] = {
      {sdSizeHunted, "sdSizeHunted body_size"}, {sdVorHunted, "sdVorHunted voracity"},
      {sdSizeHunter, "sdSizeHunter body_size"}, {sdVorHunter, "sdVorHunter voracity"},
      {sdSpdHunter, "sdSpdHunter speed"},       {sdSearchAreaHunter, "sdSearchAreaHunter search_area"},
      {sdSizeXSize, "sdSizeXSize body_size"},   {sdVorXVor, "sdVorXVor voracity"},
      {sdSpdRatio, "sdSpdRatio speed"},         {sdSizeRatio, "sdSizeRatio body_size"}};
  for (const auto& [deviation, names] : deviations) {
    if (deviation != 0) continue;
    const std::string both = names;
    const std::string key = both.substr(0, both.find(' ')), trait = both.substr(both.find(' ') + 1);
    warnings.push_back(entry + "." + key + "' is 0: the hunting scores of the trait " + trait + every +
                       " are infinite or NaN");
  }
  return warnings;
}

void AnimalSpecies::transferState(StateArchive& archive) {
  for (unsigned i = 0; i < numberOfTraits; ++i) {
    archive.io(minObservedTraits[i]);
    archive.io(maxObservedTraits[i]);
  }
}

}  // namespace soilweb
