// One soil cell of the ring. It holds the fungal resource (growth, overflow,
// spreading, chemostat top-up, withdrawal by feeders) and the animals living in
// it, filed by life state, and it runs every daily phase on them. A cell owns
// the animals filed in it; the world owns the cells.
//
// Every random draw of a day follows the order of these lists, so no pass may change it.
// A pass whose animals read no list of their cell while they act (state passes,
// activation, prey movement) closes its list up as it walks it: those that stay keep their
// order, those that leave join the end of their new list in the order they leave, exactly
// as erasing each from an array would leave them, but each animal is moved once, so a
// crowded cell costs no more per animal than a sparse one. The passes whose animals do read
// their cell's lists (predators hunting in their own cell, animals counting mates) take the
// walker out and put it back in place, as the model defines. A prey moving among predators
// meets only the predators ready to hunt (see prepareForPreyMovement).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace soilweb {

class Animal;
class AnimalSpecies;
class StateArchive;
class Predator;
class Prey;

class Cell {
 public:
  template <class Kind>
  using Registry = std::array<std::vector<Kind*>, 7>;  // one list per life state

  Cell(int id, double fungi, double rateOfIncrease, double capacity);
  virtual ~Cell();
  Cell(const Cell&) = delete;
  Cell& operator=(const Cell&) = delete;

  // Soil and temperature parameters, set once from run_params.
  static double MIN_K, MAX_K, MIN_FUNGI, MAX_FUNGI, ZERO_FUNGI;
  static double B_NORMALISATION, E_ACTIVATION_ENERGY, K_BOLZMANN;
  static double TEMPERATURE, MIN_TEMPERATURE, MAX_TEMPERATURE;
  static double MIN_R, MAX_R;                 // growth rates at MIN_FUNGI and MAX_FUNGI
  static double increaseForChemostatEffect;   // share of capacity one top-up adds
  static double thresholdForChemostatEffect;  // total biomass below which it acts
  static int cellID;                          // number of the next cell made

  // Soil resource.
  void growFungi();
  void spreadFungi();
  void addFungiFromChemostatEffect();
  void addLeakedFungi(double amount);
  void subtractFungi(double amount);
  double getFungi() const { return fungi; }
  double getRateOfIncrease() const { return rateOfIncrease; }
  double getCapacity() const { return capacity; }
  double getLeakedFungi() const { return leakedFungi; }
  int getId() const { return id; }
  bool isFull() const { return fungi >= capacity; }
  void setFungi(double amount) { fungi = amount; }

  // Soil pass on a thread of its own: arg is a CellTask.
  static void* thread_maker(void* arg);

  // Registry.
  void addPrey(unsigned state, Prey* prey);
  void addPredator(unsigned state, Predator* predator);
  // Erase without deleting; returns the position of the entry that followed.
  std::size_t removePrey(unsigned state, std::size_t position);
  std::size_t removePredator(unsigned state, std::size_t position);
  const std::vector<Prey*>& getPreys(unsigned state) const { return preys.at(state); }
  const std::vector<Predator*>& getPredators(unsigned state) const { return predators.at(state); }

  // Every prey (or predator) filed here, whatever its state.
  int getNumberOfAnimals(bool ofPreys) const {
    int held = 0;
    for (unsigned state = 0; state < 7; ++state) held += ofPreys ? count(preys, state) : count(predators, state);
    return held;
  }
  int getNumberOfUnbornPreys() const { return count(preys, 0); }
  int getNumberOfActivePreys() const { return count(preys, 1); }
  int getNumberOfStarvedPreys() const { return count(preys, 2); }
  int getNumberOfPredatedPreys() const { return count(preys, 3); }
  int getNumberOfReproducingPreys() const { return count(preys, 4); }
  int getNumberOfSenescedPreys() const { return count(preys, 6); }
  int getNumberOfUnbornPredators() const { return count(predators, 0); }
  int getNumberOfActivePredators() const { return count(predators, 1); }
  int getNumberOfStarvedPredators() const { return count(predators, 2); }
  int getNumberOfPredatedPredators() const { return count(predators, 3); }
  int getNumberOfReproducingPredators() const { return count(predators, 4); }
  int getNumberOfBackgroundPredators() const { return count(predators, 5); }
  int getNumberOfSenescedPredators() const { return count(predators, 6); }

  Cell* getLeft() const { return left; }
  Cell* getRight() const { return right; }
  void setLeft(Cell* cell) { left = cell; }
  void setRight(Cell* cell) { right = cell; }

  // Daily phases.
  void activateAnimals(int day);
  void tuneTraits();
  void interpolatePreysTraits();
  void interpolatePredatorsTraits();
  void moveAnimalsForReproducing(int day);
  void movePreysWithoutPredators(int day);
  void movePreysWithPredators(int day);
  void feedAndMetabolisePreys(int day);
  void diePredsFromBackground(int day);
  void movePredatorsWithPredators(int day);
  void assimilateAndMetabolisePredators(int day);
  void breedAnimals(int day);
  void purgeDeadAnimals();

  // Predation within this cell.
  void searchAnimals(Predator* predator, int day);
  void exposeToPredators(Animal* animal, int day);
  double getRateOfPredatorsPrey() const;
  double getRateOfPredatorsFungi() const;

  // While prey move among predators, nothing eats fungi, no predator moves, changes state or
  // finishes digesting: a cell's fungi and active predators stay as they are for the whole
  // phase. So before it each cell computes its crowding rate once (the same double a prey
  // would compute at every step) and holds the active predators ready to hunt (neither
  // eating nor digesting), in list order. A predator left out would have turned down every
  // prey of the phase before any draw (it can only go from ready to eating, never back), so
  // the prey meet the same predators in the same order and the same draws are made; a prey's
  // step costs the predators that can hunt, not all of the cell's. For the same reason a
  // predator that eats during the phase leaves the held list.
  void prepareForPreyMovement();
  void endPreyMovement() { readyHunters.clear(); }
  double getHeldRateOfPredatorsFungi() const { return heldRateOfPredatorsFungi; }
  // A prey's step among the held predators (prey movement only).
  void exposeToReadyHunters(Prey* prey, int day);

  // Animals lie scattered on the heap, so a pass over a list would wait on
  // memory at every animal: each step starts loading the record a few places
  // ahead, as far as the fields the daily passes read (the lineage and lists
  // behind them are left where they are). Only a hint to the processor;
  // nothing is read early.
  static constexpr std::size_t LOAD_AHEAD = 4;
  template <class Kind>
  static void loadAhead(const std::vector<Kind*>& list, std::size_t position) {
    if (position + LOAD_AHEAD >= list.size()) return;
    const Kind* animal = list[position + LOAD_AHEAD];
    const char* end = animal->dailyFieldsEnd();  // an address, not a read
    for (const char* at = reinterpret_cast<const char*>(animal); at < end; at += 64) __builtin_prefetch(at);
    __builtin_prefetch(end - 1);
  }
  // Visits every animal of a list that the visit does not change.
  template <class Kind, class Visit>
  static void visitAll(const std::vector<Kind*>& list, Visit visit) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      loadAhead(list, i);
      visit(list[i]);
    }
  }

  // Saves or loads the soil and every animal filed here, in filing order;
  // species: the run's, which the animals' species are indices into.
  using SpeciesList = std::vector<std::unique_ptr<AnimalSpecies>>;
  void transferState(StateArchive& archive, const SpeciesList& species);

  // First registry fault found, "" when every animal filed here sits in this
  // cell under its own state and has not been seen before (seen collects them
  // over the whole world).
  std::string registryFault(std::unordered_set<const Animal*>& seen) const;

 private:
  template <class Kind>
  Registry<Kind>& registry();
  template <class Kind, class Act>
  void statePass(unsigned state, Act act);
  template <class Kind, class Act>
  void movePass(unsigned state, Act act);
  // Moves the animal at position of the state's list; returns the next position.
  template <class Kind, class Act>
  std::size_t moveOne(unsigned state, std::size_t position, Act act);
  template <class Kind>
  void pairAndBreed(int day);
  template <class Kind>
  void transferRegistry(StateArchive& archive, const SpeciesList& species);
  template <class Kind>
  static int count(const Registry<Kind>& lists, unsigned state) {
    return static_cast<int>(lists[state].size());
  }
  void fileVictim(Predator* hunter, std::size_t& position);

  int id;
  double fungi;
  double rateOfIncrease;  // growth rate of the latest growth step
  double capacity;
  double leakedFungi = 0;  // overflow waiting to be spread into a neighbour
  double heldRateOfPredatorsFungi = 0;  // set before each prey-movement phase
  std::vector<Predator*> readyHunters;  // likewise
  Registry<Prey> preys;
  Registry<Predator> predators;
  Cell* left = nullptr;
  Cell* right = nullptr;
};

// What one soil thread runs: the growth or the spreading step of each cell, in ring order.
struct CellTask {
  std::vector<Cell*> cells;
  void (Cell::*operation)();
};

}  // namespace soilweb
