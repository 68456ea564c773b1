#include "World.h"

#include "ChromosomesGenerator.h"
#include "Configuration.h"
#include "DailySnapshots.h"
#include "FoodWebMatrices.h"
#include "GlobalFunctions.h"
#include "Predator.h"
#include "Prey.h"

#include <pthread.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <unordered_set>

int World::DAYS = 0;
bool World::PREDATORS = false;
int World::PARALLEL = 0;
#ifdef NDEBUG
bool World::CHECK_REGISTRY = false;
#else
bool World::CHECK_REGISTRY = true;  // debug builds check the registry after every phase
#endif
double World::MEMORY_BUDGET = 8.0 * (1 << 30);

namespace {
// Growth rate of the soil law at a biomass, at the run temperature, for the
// starting rates of the ring. A cell's daily growth evaluates the same law in
// another order, which can differ in the last bit; stored results depend on
// both orders, so they must stay as they are.
double growthRateAt(double biomass) {
  const double A = std::exp(Cell::B_NORMALISATION -
                            (1 / ((Cell::TEMPERATURE + 273.15) * Cell::K_BOLZMANN)) * Cell::E_ACTIVATION_ENERGY);
  return A / std::pow(biomass * 1000, 0.25);
}
}  // namespace

World::World(const boost::property_tree::ptree& configuration) {
  const Configuration config(configuration);
  readSoilAndRunKeys(config);
  snapshots = std::make_unique<DailySnapshots>(simulationName);
  std::cout << "Initializing..." << std::endl;
  readAnimalSpeciesFromJSON(configuration);
  if (existingAnimalSpecies.size() < 2)
    throw Configuration::Error("'world.life.animals' must list at least two species (prey, then predators), got " +
                               std::to_string(existingAnimalSpecies.size()));
  warnAboutUndefinedTraits();
  checkStartingMemory();
  initCells(worldLength);
  initAnimals();
}

World::~World() = default;

namespace {
std::string gibibytes(double bytes) {
  std::string text;
  appendDouble(text, bytes / (1 << 30));
  return text + " GiB";
}

// Rough bytes one animal takes: its record and its genome of 13 chromosome pairs.
double animalBytes(double loci) { return 700 + 26 * (64 + 8 * loci); }
}  // namespace

void World::checkStartingMemory() const {
  double bytes = 400.0 * worldLength;
  for (std::size_t k = 0; k < 2; ++k)
    bytes += existingAnimalSpecies[k]->getInitialPopulation() * animalBytes(existingAnimalSpecies[k]->getNumberOfLoci());
  if (bytes > MEMORY_BUDGET)
    throw Configuration::Error("the world would need about " + gibibytes(bytes) + " of memory at the start, more than the " +
                               gibibytes(MEMORY_BUDGET) +
                               " allowed (check simulation.worldLength, initialPopulation and numberOfLoci)");
}

namespace {
std::string shortest(double x) {
  std::string text;
  appendDouble(text, x);
  return text;
}
}  // namespace

// Divisions by zero that the model runs on with (its traits become infinite or
// NaN) are worth a word: such a run is rarely what was meant.
void World::warnAboutUndefinedTraits() const {
  auto& warnings = Configuration::warnings;
  if (Cell::MIN_TEMPERATURE == Cell::MAX_TEMPERATURE)
    warnings.push_back("'simulation.minTemperature' equals 'simulation.maxTemperature' (" +
                       shortest(Cell::MIN_TEMPERATURE) +
                       "): the temperature factor makes the traits pheno, voracity, speed and search_area of every "
                       "animal infinite or NaN");
  for (std::size_t k = 0; k < 2; ++k) {
    AnimalSpecies& s = *existingAnimalSpecies[k];
    const std::string entry = "'world.life.animals[" + std::to_string(k) + "]";
    for (unsigned trait : {VORACITY, SPEED, SEARCH_AREA})
      if (s.getMinTraitLimits()[trait] == s.getMaxTraitLimits()[trait])
        warnings.push_back(entry + ".minTraitLimits." + AnimalSpecies::traitNames()[trait] + "' equals its maxTraitLimits (" +
                           shortest(s.getMinTraitLimits()[trait]) + "): the trait " + AnimalSpecies::traitNames()[trait] +
                           " of every " + s.getScientificName() + " is infinite or NaN from its first day");
    if (s.getMaxEncountersT() == 0)
      warnings.push_back(entry + ".maxEncountersT' is 0: the trait search_area of every " + s.getScientificName() +
                         " is NaN from its first day");
    const std::pair<double, const char*> deviations[] = {
        {s.getSdSizeHunted(), "sdSizeHunted body_size"}, {s.getSdVorHunted(), "sdVorHunted voracity"},
        {s.getSdSizeHunter(), "sdSizeHunter body_size"},
        {s.getSdVorHunter(), "sdVorHunter voracity"}, {s.getSdSpdHunter(), "sdSpdHunter speed"},
        {s.getSdSearchAreaHunter(), "sdSearchAreaHunter search_area"}, {s.getSdSizeXSize(), "sdSizeXSize body_size"},
        {s.getSdVorXVor(), "sdVorXVor voracity"}, {s.getSdSpdRatio(), "sdSpdRatio speed"},
        {s.getSdSizeRatio(), "sdSizeRatio body_size"}};
    for (const auto& [deviation, names] : deviations) {
      if (deviation != 0) continue;
      const std::string both = names;
      const std::string key = both.substr(0, both.find(' ')), trait = both.substr(both.find(' ') + 1);
      warnings.push_back(entry + "." + key + "' is 0: the hunting scores of the trait " + trait + " of every " +
                         s.getScientificName() + " are infinite or NaN");
    }
  }
}

void World::readSoilAndRunKeys(const Configuration& config) {
  Cell::MIN_K = config.real("world.soil.minCarryingCapacity");
  Cell::MAX_K = config.real("world.soil.maxCarryingCapacity");
  Cell::MIN_FUNGI = config.real("world.soil.rateForMinFungiBiomass") * Cell::MIN_K;
  Cell::MAX_FUNGI = config.real("world.soil.rateForMaxFungiBiomass") * Cell::MAX_K;
  Cell::ZERO_FUNGI = config.real("world.soil.rateForZeroFungi");
  Cell::B_NORMALISATION = config.real("world.soil.bNormalisationConstant");
  Cell::E_ACTIVATION_ENERGY = config.real("world.soil.eActivationEnergy");
  Cell::K_BOLZMANN = config.real("world.soil.kBolzmann");
  Cell::TEMPERATURE = config.real("simulation.temperature");
  Cell::MIN_TEMPERATURE = config.real("simulation.minTemperature");
  Cell::MAX_TEMPERATURE = config.real("simulation.maxTemperature");
  Cell::MIN_R = growthRateAt(Cell::MIN_FUNGI);
  Cell::MAX_R = growthRateAt(Cell::MAX_FUNGI);
  Cell::increaseForChemostatEffect = config.real("world.soil.increaseForChemostatEffect");
  Cell::thresholdForChemostatEffect = config.real("world.soil.thresholdForChemostatEffect");

  const std::string nameKey = "simulation.outputs.simulationName";
  simulationName = config.text(nameKey);
  // The name is the run's folder and the prefix of every file in it.
  if (simulationName.empty() || simulationName == "." || simulationName == ".." ||
      simulationName.find('/') != std::string::npos)
    config.fail(nameKey, "must be a plain folder name (not empty, '.' or '..', no '/'), got '" + simulationName + "'");

  DAYS = config.integer("simulation.days");
  PREDATORS = config.integer("simulation.predators") != 0;
  PARALLEL = config.integer("simulation.parallel");
  worldLength = config.integer("simulation.worldLength");
  if (!(worldLength == 1 || (worldLength >= 4 && worldLength % 2 == 0)))
    config.fail("simulation.worldLength", "must be 1 or an even number of at least 4, got " + std::to_string(worldLength));
}

namespace {
// The elements of a genetics list, which must be a JSON array.
std::vector<const boost::property_tree::ptree*> listElements(const Configuration& entry, const std::string& key) {
  std::vector<const boost::property_tree::ptree*> elements;
  for (const auto& element : entry.child(key)) {
    if (!element.first.empty())
      entry.fail(key, "must be a JSON array (it has a member named '" + element.first + "')");
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
    const std::string wanted = least == most ? std::to_string(least)
                                             : "between " + std::to_string(least) + " and " + std::to_string(most);
    entry.fail(key, "must have " + wanted + " elements, got " + std::to_string(count));
  }
}

const std::size_t MAX_MODULES = 5;

template <class Type>
Type readParameter(const Configuration& entry, const char* key);
template <>
double readParameter<double>(const Configuration& entry, const char* key) { return entry.strictReal(key); }
template <>
int readParameter<int>(const Configuration& entry, const char* key) { return entry.strictInt(key); }

template <class Add>
void readTraitObject(const Configuration& entry, const std::string& key, const AnimalSpecies& species, Add add) {
  for (const auto& member : entry.child(key)) {
    if (!species.isTraitName(member.first)) {
      std::string known;
      for (const auto& name : AnimalSpecies::traitNames()) known += (known.empty() ? "" : ", ") + name;
      entry.fail(key, "names an unknown trait '" + member.first + "' (known: " + known + ")");
    }
    add(member.first, Configuration::lenientReal(member.second, entry.pathOf(key) + "." + member.first));
  }
}
}  // namespace

void World::readAnimalSpeciesFromJSON(const boost::property_tree::ptree& root) {
  const Configuration config(root);
  int index = 0;
  for (const auto& node : config.child("world.life.animals")) {
    const Configuration entry(node.second, "world.life.animals[" + std::to_string(index++) + "]");

    const unsigned randomnessMode = entry.strictUnsigned("genetics.randomnessMode");
    if (randomnessMode > 1) entry.fail("genetics.randomnessMode", "must be 0 or 1, got " + std::to_string(randomnessMode));
    const unsigned numberOfLoci = entry.strictUnsigned("genetics.numberOfLoci");
    const unsigned numberOfAlleles = entry.strictUnsigned("genetics.numberOfAlleles");
    if (numberOfAlleles == 0) entry.fail("genetics.numberOfAlleles", "must be at least 1, got 0");
    const double poolBytes = 8.0 * numberOfAlleles * numberOfLoci + 32.0 * numberOfLoci;
    if (poolBytes > MEMORY_BUDGET)
      entry.fail("genetics.numberOfAlleles", "with numberOfLoci " + std::to_string(numberOfLoci) + " would need about " +
                                                 gibibytes(poolBytes) + " of allele pools, more than the " +
                                                 gibibytes(MEMORY_BUDGET) + " allowed");
    const unsigned numberOfTraits = entry.strictUnsigned("genetics.numberOfTraits");
    if (numberOfTraits != NUMBER_OF_TRAITS)
      entry.fail("genetics.numberOfTraits", "must be 13, got " + std::to_string(numberOfTraits));
    const unsigned perModule = entry.strictUnsigned("genetics.numberOfTraitsPerModule");
    const std::size_t modules = perModule == 0 ? 0 : (numberOfTraits + perModule - 1) / perModule;
    if (perModule == 0 || modules > MAX_MODULES)
      entry.fail("genetics.numberOfTraitsPerModule",
                 "must make at most 5 modules of the 13 traits (at least 3 per module), got " + std::to_string(perModule));

    const auto positiveElements = listElements(entry, "genetics.positiveModule");
    checkCount(entry, "genetics.positiveModule", positiveElements.size(), modules, MAX_MODULES);
    std::vector<int> positiveModule(MAX_MODULES, 0);
    for (std::size_t k = 0; k < positiveElements.size(); ++k)
      positiveModule[k] = Configuration::lenientInt(*positiveElements[k], elementPath(entry, "genetics.positiveModule", k));

    const auto restrictElements = listElements(entry, "genetics.restrictPerTrait");
    checkCount(entry, "genetics.restrictPerTrait", restrictElements.size(), numberOfTraits, numberOfTraits);
    std::vector<double> restrictPerTrait(numberOfTraits, 0.0);
    for (std::size_t k = 0; k < restrictElements.size(); ++k)
      restrictPerTrait[k] = Configuration::lenientReal(*restrictElements[k], elementPath(entry, "genetics.restrictPerTrait", k));

    const auto rhoElements = listElements(entry, "genetics.correlationCoeficientRHOPerModule");
    checkCount(entry, "genetics.correlationCoeficientRHOPerModule", rhoElements.size(), modules, MAX_MODULES);
    std::vector<double> rhoPerModule(MAX_MODULES, 0.0), ownLociPerModule(MAX_MODULES, 0.0);
    for (std::size_t k = 0; k < rhoElements.size(); ++k) {
      rhoPerModule[k] =
          Configuration::lenientReal(*rhoElements[k], elementPath(entry, "genetics.correlationCoeficientRHOPerModule", k));
      ownLociPerModule[k] = std::round((1 - std::fabs(rhoPerModule[k])) * numberOfLoci);
    }

    const std::string name = entry.text("name");
    const unsigned initialPopulation = entry.strictUnsigned("initialPopulation");
    const std::string huntingWord = entry.text("huntingMode");
    unsigned huntingMode = DOES_NOT_HUNT;
    if (huntingWord == "does_not_hunt")
      huntingMode = DOES_NOT_HUNT;
    else if (huntingWord == "sit_and_wait")
      huntingMode = SIT_AND_WAIT;
    else if (huntingWord == "active_hunting")
      huntingMode = ACTIVE_HUNTING;
    else
      entry.fail("huntingMode", "must be does_not_hunt, sit_and_wait or active_hunting, got '" + huntingWord + "'");

    auto species = std::make_unique<AnimalSpecies>(name, numberOfTraits, numberOfLoci, numberOfAlleles, positiveModule,
                                                   restrictPerTrait, rhoPerModule, ownLociPerModule, perModule,
                                                   randomnessMode);
    species->setInitialPopulation(initialPopulation);
    std::cout << "Read Animal Species. Scientific name: " << name << std::endl;
    species->setDefaultHuntingMode(huntingMode);

    AnimalSpecies& s = *species;
    readTraitObject(entry, "minTraitsRanges", s, [&](const std::string& t, double v) { s.addTraitMin(t, v); });
    readTraitObject(entry, "maxTraitsRanges", s, [&](const std::string& t, double v) { s.addTraitMax(t, v); });
    readTraitObject(entry, "minTraitLimits", s, [&](const std::string& t, double v) { s.addTraitMinLimit(t, v); });
    readTraitObject(entry, "maxTraitLimits", s, [&](const std::string& t, double v) { s.addTraitMaxLimit(t, v); });
    s.computeRestrictedTraits();

#define SOILWEB_READ_PARAMETER(type, field, Name) s.set##Name(readParameter<type>(entry, #field));
    SOILWEB_SPECIES_PARAMETERS(SOILWEB_READ_PARAMETER)
#undef SOILWEB_READ_PARAMETER

    addAnimalSpecies(species.release());
  }
}

void World::addAnimalSpecies(AnimalSpecies* species) {
  for (const auto& existing : existingAnimalSpecies) {
    if (existing.get() == species) {
      std::cerr << "Error, the " << species->getScientificName() << " was already added to this world ... EXITING"
                << std::endl;
      std::exit(-1);
    }
  }
  existingAnimalSpecies.emplace_back(species);
}

void World::initCells(int n) {
  std::cout << "Building the world..." << std::endl;
  cells.clear();
  cells.resize(static_cast<std::size_t>(n));
  const int h = n / 2;
  const double span = h;
  auto makeCell = [&](int step) {
    const double biomass = linearInterpolate(step, 1, span, Cell::MIN_FUNGI, Cell::MAX_FUNGI);
    const double rate = linearInterpolate(step, 1, span, Cell::MIN_R, Cell::MAX_R);
    const double capacity = linearInterpolate(step, 1, span, Cell::MIN_K, Cell::MAX_K);
    return std::make_unique<Cell>(Cell::cellID++, biomass, rate, capacity, this);
  };
  auto link = [&](std::size_t p) {
    cells[p]->setLeft(cells[p - 1].get());
    cells[p - 1]->setRight(cells[p].get());
  };
  // A tent: rising over the first half, falling over the second.
  cells[0] = makeCell(1);
  for (int x = 2; x <= h; ++x) {
    cells[static_cast<std::size_t>(x - 1)] = makeCell(x);
    link(static_cast<std::size_t>(x - 1));
  }
  if (h >= 1) {
    for (int p = n - h, x = h; p <= n - 1; ++p, --x) {
      cells[static_cast<std::size_t>(p)] = makeCell(x);
      link(static_cast<std::size_t>(p));
    }
  }
  cells.front()->setLeft(cells.back().get());
  cells.back()->setRight(cells.front().get());
}

template <class Kind>
void World::foundPopulation(AnimalSpecies* species) {
  for (unsigned i = 0; i < species->getInitialPopulation(); ++i) {
    const int id = Animal::animalID++;
    Cell* cell = cells[static_cast<std::size_t>(randomIndex(static_cast<int>(cells.size())))].get();
    Kind* animal = new Kind(id, species->getChromosomesGenerator()->getChromosomes(), cell, 0, 0, 0, 0, 0, species);
    if constexpr (std::is_same_v<Kind, Prey>)
      cell->addPrey(UNBORN, animal);
    else
      cell->addPredator(UNBORN, animal);
    animal->initTraits();
    animal->updateLimits();
  }
}

void World::initAnimals() {
  std::cout << "Giving life to animals..." << std::endl << std::endl;
  foundPopulation<Prey>(existingAnimalSpecies.at(0).get());
  for (auto& cell : cells) cell->interpolatePreysTraits();
  foundPopulation<Predator>(existingAnimalSpecies.at(1).get());
  for (auto& cell : cells) cell->interpolatePredatorsTraits();
}

// ---- The day ---------------------------------------------------------------------

template <class Each>
void World::alongCells(Each each) {
  for (auto& cell : cells) each(*cell);
}

template <class Each>
void World::alongCellsChangingAnimals(Each each) {
  snapshots->animalsChanged();
  for (auto& cell : cells) each(*cell);
}

void World::checkRegistryAfter(const char* phase) const {
  if (!CHECK_REGISTRY) return;
  const std::string fault = registryFault();
  if (!fault.empty()) throw std::logic_error(std::string("after ") + phase + ": " + fault);
}

void World::runNextDay(int day) {
  std::cout << "Running day " << day << " - ";
  printAnimalsAlongCells(day, 0);
  const double biomass = getTotalBiomass();
  std::cout << "Total biomass: " << biomass << " ";
  if (biomass < Cell::thresholdForChemostatEffect) addFungiFromChemostatEffectAlongCells();
  if (PARALLEL == 1)
    parallelGrowAndSpreadFungiAlongCells();
  else
    growAndSpreadFungiAlongCells();
  std::cout << ".";
  activateAndTuneAnimalsAlongCells(day);
  checkRegistryAfter("activation");
  std::cout << ".";
  moveAnimalsForReproducingAlongCells(day);
  checkRegistryAfter("movement for reproducing");
  std::cout << ".";
  if (PREDATORS)
    movePreysWithPredatorsAlongCells(day);
  else
    movePreysWithoutPredatorsAlongCells(day);
  checkRegistryAfter("prey movement");
  std::cout << ".";
  feedAndMetabWithGrowthPreysAlongCells(day);
  checkRegistryAfter("prey feeding and metabolism");
  std::cout << ".";
  diePredsFromBackgroundAlongCells(day);
  checkRegistryAfter("background death");
  std::cout << ".";
  movePredatorsWithPredatorsAlongCells(day);
  checkRegistryAfter("predator movement");
  std::cout << ".";
  assimAndMetabWithGrowthPredatorsAlongCells(day);
  checkRegistryAfter("predator assimilation and metabolism");
  std::cout << ".";
  breedAnimalsAlongCells(day);
  checkRegistryAfter("breeding");
  std::cout << ".";
  printAnimalsAlongCells(day, 1);
  printCellAlongCells(day);
  std::cout << " finished." << std::endl;
}

double World::getTotalBiomass() const {
  double total = 0.0;
  for (const auto& cell : cells) total += cell->getFungi();
  return total;
}

void World::addFungiFromChemostatEffectAlongCells() {
  alongCells([](Cell& c) { c.addFungiFromChemostatEffect(); });
}

void World::growAndSpreadFungiAlongCells() {
  alongCells([](Cell& c) { c.growFungi(); });
  alongCells([](Cell& c) { c.spreadFungi(); });
}

void World::parallelGrowAndSpreadFungiAlongCells() {
  // One thread per pass, joined before the next pass starts: the cells are
  // handled in ring order exactly as in the serial step.
  CellTask task;
  for (auto& cell : cells) task.cells.push_back(cell.get());
  for (auto operation : {&Cell::growFungi, &Cell::spreadFungi}) {
    task.operation = operation;
    pthread_t thread;
    const int rc = pthread_create(&thread, nullptr, &Cell::thread_maker, &task);
    if (rc) {
      std::cout << "Error:unable to create thread," << rc << std::endl;
      std::exit(-1);
    }
    pthread_join(thread, nullptr);
  }
}

void World::activateAndTuneAnimalsAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) {
    c.activateAnimals(day);
    c.tuneTraits();
  });
}

void World::moveAnimalsForReproducingAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) { c.moveAnimalsForReproducing(day); });
}

void World::movePreysWithPredatorsAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) { c.movePreysWithPredators(day); });
}

void World::movePreysWithoutPredatorsAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) { c.movePreysWithoutPredators(day); });
}

void World::feedAndMetabWithGrowthPreysAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) {
    c.feedPreys();
    c.metabWithGrowthPreys(day);
  });
}

void World::diePredsFromBackgroundAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) { c.diePredsFromBackground(day); });
}

void World::movePredatorsWithPredatorsAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) { c.movePredatorsWithPredators(day); });
}

void World::assimAndMetabWithGrowthPredatorsAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) {
    c.assimPreds();
    c.metabWithGrowthPredators(day);
  });
}

void World::breedAnimalsAlongCells(int day) {
  alongCellsChangingAnimals([day](Cell& c) { c.breedAnimals(day); });
}

void World::purgeDeadAnimalsAlongCells() {
  alongCells([](Cell& c) { c.purgeDeadAnimals(); });
  snapshots->deadPurged();
}

bool World::isExtinguished() const { return !whatDiedOut().empty(); }

std::string World::whatDiedOut() const {
  if (cells.empty()) return "the world";
  double biomass = 0, preys = 0, predators = 0;
  for (const auto& c : cells) {
    biomass += c->getFungi();
    preys += c->getNumberOfUnbornPreys() + c->getNumberOfActivePreys();
    predators += c->getNumberOfUnbornPredators() + c->getNumberOfActivePredators();
  }
  std::string gone;
  auto add = [&](const char* what) { gone += (gone.empty() ? "" : " and ") + std::string(what); };
  if (biomass == 0) add("the soil resource");
  if (preys == 0) add("the prey");
  if (predators == 0) add("the predators");
  return gone;
}

std::string World::registryFault() const {
  std::unordered_set<const Animal*> seen;
  for (const auto& cell : cells)
    if (auto fault = cell->registryFault(seen); !fault.empty()) return fault;
  return "";
}

// ---- Outputs ---------------------------------------------------------------------

const char* const World::SUMMARY_HEADER =
    "DAY\tBIOMASS\tPREY_UNBORN\tPREY_ACTIVE\tPREY_STARVED\tPREY_PREDATED\tPREY_REPRODUCING\tPREY_SENESCED\t"
    "PREDATOR_UNBORN\tPREDATOR_ACTIVE\tPREDATOR_STARVED\tPREDATOR_PREDATED\tPREDATOR_REPRODUCING\t"
    "PREDATOR_BACKGROUND\tPREDATOR_SENESCED\n";

void World::printDailySummary(std::string& out, int day) const {
  double biomass = 0.0;
  long counts[13] = {};
  for (const auto& c : cells) {
    biomass += c->getFungi();
    const int cellCounts[13] = {c->getNumberOfUnbornPreys(),        c->getNumberOfActivePreys(),
                                c->getNumberOfStarvedPreys(),       c->getNumberOfPredatedPreys(),
                                c->getNumberOfReproducingPreys(),   c->getNumberOfSenescedPreys(),
                                c->getNumberOfUnbornPredators(),    c->getNumberOfActivePredators(),
                                c->getNumberOfStarvedPredators(),   c->getNumberOfPredatedPredators(),
                                c->getNumberOfReproducingPredators(), c->getNumberOfBackgroundPredators(),
                                c->getNumberOfSenescedPredators()};
    for (int k = 0; k < 13; ++k) counts[k] += cellCounts[k];
  }
  appendInt(out, day);
  out += '\t';
  appendDouble(out, biomass);
  for (long count : counts) {
    out += '\t';
    appendInt(out, count);
  }
  out += '\n';
}

bool World::hasOutputFailed() const { return snapshots->hasFailed(); }

void World::writeInBackground(BackgroundWriter* writer) {
  this->writer = writer;
  snapshots->writeInBackground(writer);
}

void World::printAnimalsAlongCells(int day, int selector) { snapshots->writeAnimals(cells, day, selector); }

void World::printCellAlongCells(int day) { snapshots->writeCells(cells, day); }

void World::printEncountersPredationsAndNodesMatrices(OutputFile& encounters, OutputFile& predations,
                                                      OutputFile& nodes) const {
  const long founders = static_cast<long>(existingAnimalSpecies.at(0)->getInitialPopulation()) +
                        existingAnimalSpecies.at(1)->getInitialPopulation();
  FoodWebMatrices::write(cells, static_cast<int>(founders), encounters, predations, nodes, writer);
}
