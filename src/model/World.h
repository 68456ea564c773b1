// The whole simulation: the ring of cells, the species taking part and the run
// parameters. Built from run_params (which it validates as it reads), it places
// the founders and runs one day at a time through the phases in their fixed
// order, telling its observers as it goes (what is printed and written of it is
// theirs to do). Owned by the run driver for the whole run; it owns its cells
// (which own the animals) and its species.
#pragma once

#include "core/TemperatureSeries.h"

#include <boost/property_tree/ptree_fwd.hpp>

#include <memory>
#include <string>
#include <vector>

namespace soilweb {

class AnimalSpecies;
class Cell;
class Configuration;
class DayObserver;
class StateArchive;

class World {
 public:
  // Reads the soil, run and species keys, builds the ring and, unless found is
  // false (a run resumed from a checkpoint), founds the populations; observer
  // (not owned; may be null) hears of it from the start.
  explicit World(const boost::property_tree::ptree& configuration, bool found = true, DayObserver* observer = nullptr);
  virtual ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  static int DAYS;        // number of the last simulated day
  static bool PREDATORS;  // prey move with exposure to predators
  static int PARALLEL;    // 1: the soil step runs on threads
  // Threads started for the threaded soil step so far (the tests check that the step is taken).
  static long soilThreadsStarted;

  // When set (by default in debug builds), every phase of a day ends with a
  // check of the animal registry (each animal filed once, in its cell, under
  // its state); a fault throws.
  static bool CHECK_REGISTRY;

  // The most memory, in bytes, a configuration may make the world need at the
  // start (allele pools, founders, cells), and its animals after any day; more
  // is refused, or stops the run, with a message instead of exhausting the machine.
  static double MEMORY_BUDGET;

  void readAnimalSpeciesFromJSON(const boost::property_tree::ptree& root);
  void addAnimalSpecies(AnimalSpecies* species);  // takes ownership
  void initCells(int n);
  void initAnimals();

  // Runs day, at its temperature (from simulation.temperatureSeries when given).
  void runNextDay(int day);
  // The temperature day runs at.
  double temperatureOf(int day) const;
  // Whether the temperature follows simulation.temperatureSeries.
  bool hasTemperatureSeries() const { return !temperatureSeries.empty(); }
  // Whether any species carries neutral markers (genetics.neutralLoci above 0).
  bool hasNeutralMarkers() const;
  // When a run ends before its last day (simulation.stopWhen): at the first
  // of the resource, the prey and the predators gone (ANY, the default); only
  // when the resource is gone or no animal is left (RESOURCE); only when no
  // animal is left (NEVER).
  enum class StopWhen { ANY, RESOURCE, NEVER };
  // Whether the run ends here, under its stopWhen.
  bool isExtinguished() const;
  // What has run out when the run ends here, e.g. "the predators" or "the prey
  // and the predators"; "" while the run goes on.
  std::string whatDiedOut() const;
  // What is gone now: no resource left, no prey or no predator unborn or active.
  struct Gone {
    bool resource, prey, predators;
    std::string names() const;  // "the prey and the predators", "" when nothing is
  };
  Gone whatIsGone() const;
  double getTotalBiomass() const;
  // Roughly what the cells and every animal they hold (the dead kept too) take, in bytes.
  double heldBytes() const;

  void addFungiFromChemostatEffectAlongCells();
  void growAndSpreadFungiAlongCells();
  void parallelGrowAndSpreadFungiAlongCells();
  void activateAndTuneAnimalsAlongCells(int day);
  void moveAnimalsForReproducingAlongCells(int day);
  void movePreysWithPredatorsAlongCells(int day);
  void movePreysWithoutPredatorsAlongCells(int day);
  void feedAndMetabWithGrowthPreysAlongCells(int day);
  void diePredsFromBackgroundAlongCells(int day);
  void movePredatorsWithPredatorsAlongCells(int day);
  void assimAndMetabWithGrowthPredatorsAlongCells(int day);
  void breedAnimalsAlongCells(int day);
  void purgeDeadAnimalsAlongCells();

  // Adds an observer (not owned), told of everything from now on after those
  // added before, or, first, before them.
  void observe(DayObserver* observer, bool first = false);

  // Saves or loads the species' observed ranges and every cell with its
  // animals; loading refuses a state this configuration's world cannot hold.
  void transferState(StateArchive& archive);

  // First registry fault of the whole world, "" when there is none.
  std::string registryFault() const;

  const std::string& getSimulationName() const { return simulationName; }
  Cell* getCell(int index) const { return cells.at(static_cast<std::size_t>(index)).get(); }
  int getNumberOfCells() const { return static_cast<int>(cells.size()); }
  const std::vector<std::unique_ptr<Cell>>& getCells() const { return cells; }
  const std::vector<std::unique_ptr<AnimalSpecies>>& getSpecies() const { return existingAnimalSpecies; }

 private:
  void readSoilAndRunKeys(const Configuration& config);
  // Adds a configuration warning for every setting that makes founders' traits infinite or NaN.
  void warnAboutUndefinedTraits() const;
  // Refuses a world whose cells and founders would need more than MEMORY_BUDGET.
  void checkStartingMemory() const;
  // Adds a configuration warning for every temperature outside the range of the temperature factors.
  void warnAboutTemperaturesOutOfRange() const;
  // Sets the run temperature of day and the soil rates that hang on it.
  void setTemperatureOf(int day);
  void checkRegistryAfter(const char* phase) const;
  // A step of the day is over: the registry is checked after an animal phase
  // (null: the soil's step) and the observers are told.
  void phaseEnded(const char* animalPhase);
  // Applies each to every cell in ring order.
  template <class Each>
  void alongCells(Each each);
  template <class Kind>
  void foundPopulation(AnimalSpecies* species);
  // Tells every observer, in the order they were added.
  template <class Tell>
  void tell(Tell tell) const;

  std::string simulationName;
  int worldLength = 0;
  std::vector<std::unique_ptr<Cell>> cells;                           // index = position on the ring
  std::vector<std::unique_ptr<AnimalSpecies>> existingAnimalSpecies;  // 0 founds prey, 1 predators
  std::vector<DayObserver*> observers;                                // not owned
  StopWhen stopWhen = StopWhen::ANY;
  TemperatureSeries temperatureSeries;  // empty: simulation.temperature throughout
};

}  // namespace soilweb
