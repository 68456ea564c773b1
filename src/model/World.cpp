#include "model/World.h"

#include "core/Configuration.h"
#include "core/GlobalFunctions.h"
#include "core/StateArchive.h"
#include "genetics/ChromosomesGenerator.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/DayObserver.h"
#include "model/Predator.h"
#include "model/Prey.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unordered_set>

namespace soilweb {

int World::DAYS = 0;
bool World::PREDATORS = false;
int World::PARALLEL = 0;
long World::soilThreadsStarted = 0;
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

World::World(const boost::property_tree::ptree& configuration, bool found, DayObserver* observer) {
  if (observer) observe(observer);
  const Configuration config(configuration);
  readSoilAndRunKeys(config);
  tell([](DayObserver& o) { o.stageReached(DayObserver::Stage::READING); });
  readAnimalSpeciesFromJSON(configuration);
  if (existingAnimalSpecies.size() < 2)
    throw Configuration::Error("'world.life.animals' must list at least two species (prey, then predators), got " +
                               std::to_string(existingAnimalSpecies.size()));
  warnAboutUndefinedTraits();
  checkStartingMemory();
  initCells(worldLength);
  if (found) initAnimals();
}

World::~World() = default;

void World::observe(DayObserver* observer, bool first) {
  observers.insert(first ? observers.begin() : observers.end(), observer);
}

template <class Tell>
void World::tell(Tell tell) const {
  for (DayObserver* observer : observers) tell(*observer);
}

namespace {
// Rough bytes one animal takes, with a margin: its record (some 550 bytes as
// measured) and its genome, two chromosomes a trait (26) of one allele index per locus, of
// 1, 2 or 4 bytes as the pools need. Measured founders take 790 bytes at 10
// loci and 3 130 at 100; this says 1 160 and 3 500, so that the bound, checked
// every day, stops a run before the machine's memory is gone, not long before.
double animalBytes(const AnimalSpecies& species) {
  const unsigned alleles = species.getNumberOfAlleles();
  const double width = alleles <= 0x100 ? 1 : alleles <= 0x10000 ? 2 : 4;
  const double markers = species.getNeutralLoci() > 0 ? 64 + 2.0 * species.getNeutralLoci() * width : 0;
  return 900 + 2.0 * NUMBER_OF_TRAITS * species.getNumberOfLoci() * width + markers;
}
}  // namespace

bool World::hasNeutralMarkers() const {
  for (const auto& species : existingAnimalSpecies)
    if (species->getNeutralLoci() > 0) return true;
  return false;
}

double World::heldBytes() const {
  double preys = 0, predators = 0;
  for (const auto& cell : cells) {
    preys += cell->getNumberOfAnimals(true);
    predators += cell->getNumberOfAnimals(false);
  }
  return 400.0 * worldLength + preys * animalBytes(*existingAnimalSpecies[0]) +
         predators * animalBytes(*existingAnimalSpecies[1]);
}

void World::checkStartingMemory() const {
  double bytes = 400.0 * worldLength;
  for (std::size_t k = 0; k < 2; ++k)
    bytes +=
        existingAnimalSpecies[k]->getInitialPopulation() * animalBytes(*existingAnimalSpecies[k]);
  if (bytes > MEMORY_BUDGET)
    throw Configuration::Error("the world would need about " + gibibytes(bytes) +
                               " of memory at the start, more than the " + gibibytes(MEMORY_BUDGET) +
                               " allowed (check simulation.worldLength, initialPopulation and numberOfLoci)");
}

// The temperature range of the world and the settings of each founding species.
void World::warnAboutUndefinedTraits() const {
  auto& warnings = Configuration::warnings;
  if (Cell::MIN_TEMPERATURE == Cell::MAX_TEMPERATURE) {
    std::string temperature;
    appendDouble(temperature, Cell::MIN_TEMPERATURE);
    warnings.push_back("'simulation.minTemperature' equals 'simulation.maxTemperature' (" + temperature +
                       "): the temperature factor makes the traits pheno, voracity, speed and search_area of every "
                       "animal infinite or NaN");
  }
  for (std::size_t k = 0; k < 2; ++k)
    for (auto& warning :
         existingAnimalSpecies[k]->undefinedTraitWarnings("world.life.animals[" + std::to_string(k) + "]"))
      warnings.push_back(std::move(warning));
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
  temperatureSeries = {};
  if (config.has("simulation.temperatureSeries"))
    temperatureSeries = TemperatureSeries::read(config, "simulation.temperatureSeries");
  warnAboutTemperaturesOutOfRange();
  // The ring is built and the founders are born at day 0's temperature.
  setTemperatureOf(0);
  Cell::increaseForChemostatEffect = config.real("world.soil.increaseForChemostatEffect");
  Cell::thresholdForChemostatEffect = config.real("world.soil.thresholdForChemostatEffect");

  simulationName = config.text("simulation.outputs.simulationName");

  DAYS = config.integer("simulation.days");
  stopWhen = StopWhen::ANY;
  if (config.has("simulation.stopWhen")) {
    const std::string rule = config.text("simulation.stopWhen");
    if (rule == "resource")
      stopWhen = StopWhen::RESOURCE;
    else if (rule == "never")
      stopWhen = StopWhen::NEVER;
    else if (rule != "any")
      config.fail("simulation.stopWhen", "must be any, resource or never, got " + jsonQuoted(rule));
  }
  PREDATORS = config.integer("simulation.predators") != 0;
  PARALLEL = config.integer("simulation.parallel");
  worldLength = config.integer("simulation.worldLength");
  if (!(worldLength == 1 || (worldLength >= 4 && worldLength % 2 == 0)))
    config.fail("simulation.worldLength",
                "must be 1 or an even number of at least 4, got " + std::to_string(worldLength));
}

void World::readAnimalSpeciesFromJSON(const boost::property_tree::ptree& root) {
  const Configuration config(root);
  int index = 0;
  for (const auto& node : config.child("world.life.animals")) {
    const Configuration entry(node.second, "world.life.animals[" + std::to_string(index++) + "]");
    addAnimalSpecies(AnimalSpecies::read(entry, MEMORY_BUDGET).release());
    const std::string nameAsWritten = entry.text("name");  // the species keeps it trimmed
    tell([&](DayObserver& o) { o.speciesRead(nameAsWritten); });
  }
}

void World::addAnimalSpecies(AnimalSpecies* species) {
  for (const auto& existing : existingAnimalSpecies)
    if (existing.get() == species)
      throw std::logic_error("the species " + species->getScientificName() + " was already added to this world");
  existingAnimalSpecies.emplace_back(species);
}

void World::initCells(int n) {
  tell([](DayObserver& o) { o.stageReached(DayObserver::Stage::BUILDING); });
  cells.clear();
  cells.resize(static_cast<std::size_t>(n));
  const int h = n / 2;
  const double span = h;
  auto makeCell = [&](int step) {
    const double biomass = linearInterpolate(step, 1, span, Cell::MIN_FUNGI, Cell::MAX_FUNGI);
    const double rate = linearInterpolate(step, 1, span, Cell::MIN_R, Cell::MAX_R);
    const double capacity = linearInterpolate(step, 1, span, Cell::MIN_K, Cell::MAX_K);
    return std::make_unique<Cell>(Cell::cellID++, biomass, rate, capacity);
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
    if (const ChromosomesGenerator* markers = species->getNeutralGenerator())
      animal->setNeutralGenome(markers->getChromosomes());
    if constexpr (std::is_same_v<Kind, Prey>)
      cell->addPrey(UNBORN, animal);
    else
      cell->addPredator(UNBORN, animal);
    animal->initTraits();
    animal->updateLimits();
  }
}

void World::initAnimals() {
  tell([](DayObserver& o) { o.stageReached(DayObserver::Stage::FOUNDING); });
  foundPopulation<Prey>(existingAnimalSpecies.at(0).get());
  for (auto& cell : cells) cell->interpolatePreysTraits();
  foundPopulation<Predator>(existingAnimalSpecies.at(1).get());
  for (auto& cell : cells) cell->interpolatePredatorsTraits();
}

void World::transferState(StateArchive& archive) {
  auto sameCount = [&](std::size_t here, const char* what) {
    std::uint64_t count = here;
    archive.io(count);
    archive.expect(count == here, "it holds " + std::to_string(count) + " " + what + ", this configuration makes " +
                                      std::to_string(here));
  };
  sameCount(existingAnimalSpecies.size(), "species");
  for (auto& species : existingAnimalSpecies) species->transferState(archive);
  sameCount(cells.size(), "cells");
  for (auto& cell : cells) cell->transferState(archive, existingAnimalSpecies);
}

// ---- The day ---------------------------------------------------------------------

template <class Each>
void World::alongCells(Each each) {
  for (auto& cell : cells) each(*cell);
}

void World::checkRegistryAfter(const char* phase) const {
  if (!CHECK_REGISTRY) return;
  const std::string fault = registryFault();
  if (!fault.empty()) throw std::logic_error(std::string("after ") + phase + ": " + fault);
}

void World::setTemperatureOf(int day) {
  if (!temperatureSeries.empty()) Cell::TEMPERATURE = temperatureSeries.at(day);
  Cell::MIN_R = growthRateAt(Cell::MIN_FUNGI);
  Cell::MAX_R = growthRateAt(Cell::MAX_FUNGI);
}

double World::temperatureOf(int day) const {
  return temperatureSeries.empty() ? Cell::TEMPERATURE : temperatureSeries.at(day);
}

void World::warnAboutTemperaturesOutOfRange() const {
  const double low = std::min(Cell::MIN_TEMPERATURE, Cell::MAX_TEMPERATURE);
  const double high = std::max(Cell::MIN_TEMPERATURE, Cell::MAX_TEMPERATURE);
  // Equal ends are warned about on their own.
  if (Cell::MIN_TEMPERATURE == Cell::MAX_TEMPERATURE) return;
  auto warn = [&](const std::string& what, double degrees) {
    if (degrees >= low && degrees <= high) return;
    std::string text, lowText, highText;
    appendDouble(text, degrees);
    appendDouble(lowText, Cell::MIN_TEMPERATURE);
    appendDouble(highText, Cell::MAX_TEMPERATURE);
    Configuration::warnings.push_back(what + text + ") lies outside 'simulation.minTemperature' " + lowText +
                                      " to 'simulation.maxTemperature' " + highText +
                                      ": the temperature factors of the traits extrapolate there");
  };
  if (temperatureSeries.empty()) {
    warn("'simulation.temperature' (", Cell::TEMPERATURE);
    return;
  }
  std::size_t k = 0;
  for (const auto& point : temperatureSeries.getPoints())
    warn("'simulation.temperatureSeries[" + std::to_string(k++) + "]' (day " + std::to_string(point.first) + ", ",
         point.second);
}

void World::runNextDay(int day) {
  setTemperatureOf(day);
  tell([&](DayObserver& o) { o.dayStarted(*this, day); });
  const double biomass = getTotalBiomass();
  tell([biomass](DayObserver& o) { o.biomassMeasured(biomass); });
  if (biomass < Cell::thresholdForChemostatEffect) addFungiFromChemostatEffectAlongCells();
  if (PARALLEL == 1)
    parallelGrowAndSpreadFungiAlongCells();
  else
    growAndSpreadFungiAlongCells();
  phaseEnded(nullptr);
  activateAndTuneAnimalsAlongCells(day);
  phaseEnded("activation");
  moveAnimalsForReproducingAlongCells(day);
  phaseEnded("movement for reproducing");
  if (PREDATORS)
    movePreysWithPredatorsAlongCells(day);
  else
    movePreysWithoutPredatorsAlongCells(day);
  phaseEnded("prey movement");
  feedAndMetabWithGrowthPreysAlongCells(day);
  phaseEnded("prey feeding and metabolism");
  diePredsFromBackgroundAlongCells(day);
  phaseEnded("background death");
  movePredatorsWithPredatorsAlongCells(day);
  phaseEnded("predator movement");
  assimAndMetabWithGrowthPredatorsAlongCells(day);
  phaseEnded("predator assimilation and metabolism");
  breedAnimalsAlongCells(day);
  phaseEnded("breeding");
  tell([&](DayObserver& o) { o.dayEnded(*this, day); });
}

void World::phaseEnded(const char* animalPhase) {
  if (animalPhase) checkRegistryAfter(animalPhase);
  tell([](DayObserver& o) { o.phaseEnded(); });
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
    if (rc) throw std::runtime_error("cannot start the soil thread: error " + std::to_string(rc));
    ++soilThreadsStarted;
    pthread_join(thread, nullptr);
  }
}

void World::activateAndTuneAnimalsAlongCells(int day) {
  alongCells([day](Cell& c) {
    c.activateAnimals(day);
    c.tuneTraits();
  });
}

void World::moveAnimalsForReproducingAlongCells(int day) {
  alongCells([day](Cell& c) { c.moveAnimalsForReproducing(day); });
}

void World::movePreysWithPredatorsAlongCells(int day) {
  alongCells([](Cell& c) { c.prepareForPreyMovement(); });
  alongCells([day](Cell& c) { c.movePreysWithPredators(day); });
  alongCells([](Cell& c) { c.endPreyMovement(); });
}

void World::movePreysWithoutPredatorsAlongCells(int day) {
  alongCells([day](Cell& c) { c.movePreysWithoutPredators(day); });
}

void World::feedAndMetabWithGrowthPreysAlongCells(int day) {
  alongCells([day](Cell& c) { c.feedAndMetabolisePreys(day); });
}

void World::diePredsFromBackgroundAlongCells(int day) {
  alongCells([day](Cell& c) { c.diePredsFromBackground(day); });
}

void World::movePredatorsWithPredatorsAlongCells(int day) {
  alongCells([day](Cell& c) { c.movePredatorsWithPredators(day); });
}

void World::assimAndMetabWithGrowthPredatorsAlongCells(int day) {
  alongCells([day](Cell& c) { c.assimilateAndMetabolisePredators(day); });
}

void World::breedAnimalsAlongCells(int day) {
  alongCells([day](Cell& c) { c.breedAnimals(day); });
}

void World::purgeDeadAnimalsAlongCells() {
  alongCells([](Cell& c) { c.purgeDeadAnimals(); });
  tell([](DayObserver& o) { o.deadPurged(); });
}

bool World::isExtinguished() const { return !whatDiedOut().empty(); }

World::Gone World::whatIsGone() const {
  Gone gone{cells.empty(), cells.empty(), cells.empty()};
  if (cells.empty()) return gone;
  double biomass = 0, preys = 0, predators = 0;
  for (const auto& c : cells) {
    biomass += c->getFungi();
    preys += c->getNumberOfUnbornPreys() + c->getNumberOfActivePreys();
    predators += c->getNumberOfUnbornPredators() + c->getNumberOfActivePredators();
  }
  return {biomass == 0, preys == 0, predators == 0};
}

std::string World::whatDiedOut() const {
  if (cells.empty()) return "the world";
  const Gone gone = whatIsGone();
  const bool noAnimal = gone.prey && gone.predators;
  const bool ends = stopWhen == StopWhen::ANY        ? gone.resource || gone.prey || gone.predators
                    : stopWhen == StopWhen::RESOURCE ? gone.resource || noAnimal
                                                     : noAnimal;
  return ends ? gone.names() : "";
}

std::string World::Gone::names() const {
  std::string text;
  auto add = [&](const char* what) { text += (text.empty() ? "" : " and ") + std::string(what); };
  if (resource) add("the soil resource");
  if (prey) add("the prey");
  if (predators) add("the predators");
  return text;
}

std::string World::registryFault() const {
  std::unordered_set<const Animal*> seen;
  for (const auto& cell : cells)
    if (auto fault = cell->registryFault(seen); !fault.empty()) return fault;
  return "";
}

}  // namespace soilweb
