#include "model/Cell.h"

#include "core/GlobalFunctions.h"
#include "core/StateArchive.h"
#include "genetics/ChromosomesGenerator.h"
#include "model/AnimalSpecies.h"
#include "model/Predator.h"
#include "model/Prey.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace soilweb {

double Cell::MIN_K = 0, Cell::MAX_K = 0, Cell::MIN_FUNGI = 0, Cell::MAX_FUNGI = 0, Cell::ZERO_FUNGI = 0;
double Cell::B_NORMALISATION = 0, Cell::E_ACTIVATION_ENERGY = 0, Cell::K_BOLZMANN = 0;
double Cell::TEMPERATURE = 0, Cell::MIN_TEMPERATURE = 0, Cell::MAX_TEMPERATURE = 0;
double Cell::MIN_R = 0, Cell::MAX_R = 0;
double Cell::increaseForChemostatEffect = 0;
double Cell::thresholdForChemostatEffect = 0;
int Cell::cellID = 0;

Cell::Cell(int id, double fungi, double rateOfIncrease, double capacity)
    : id(id), fungi(fungi), rateOfIncrease(rateOfIncrease), capacity(capacity) {}

Cell::~Cell() {
  for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
    for (Prey* prey : preys[s]) delete prey;
    for (Predator* predator : predators[s]) delete predator;
  }
}

template <>
Cell::Registry<Prey>& Cell::registry<Prey>() {
  return preys;
}
template <>
Cell::Registry<Predator>& Cell::registry<Predator>() {
  return predators;
}

// ---- Soil resource -------------------------------------------------------

void Cell::growFungi() {
  if (!(fungi > 0)) return;
  // The same law as the world's starting rates, but evaluated in another
  // order (E / (k (T + 273.15)), 1000 x biomass): the two orders can differ in
  // the last bit, and stored results depend on each. Do not unify them.
  const double a = std::exp(B_NORMALISATION - E_ACTIVATION_ENERGY / (K_BOLZMANN * (TEMPERATURE + 273.15)));
  rateOfIncrease = a / std::pow(1000 * fungi, 0.25);
  const double before = fungi;
  fungi = before + rateOfIncrease * before * (1 - before / capacity);
  // The overflow is measured from 99% of the capacity, yet the cell is filled to the brim.
  if (fungi >= 0.99 * capacity) {
    leakedFungi = fungi - 0.99 * capacity;
    fungi = capacity;
  }
}

void Cell::spreadFungi() {
  if (!(leakedFungi > 0)) return;
  Cell* receiver = nullptr;
  if (left->isFull()) {
    if (!right->isFull()) receiver = right;
  } else if (right->isFull()) {
    receiver = left;
  } else {
    receiver = right->fungi < left->fungi ? right : left;
  }
  if (receiver) receiver->addLeakedFungi(leakedFungi);
  leakedFungi = 0;
}

void Cell::addFungiFromChemostatEffect() { fungi = std::min(capacity, fungi + increaseForChemostatEffect * capacity); }

void Cell::addLeakedFungi(double amount) {
  fungi = fungi + amount;
  if (fungi > capacity) fungi = capacity;
}

void Cell::subtractFungi(double amount) {
  fungi = fungi - amount;
  if (fungi <= MIN_FUNGI / ZERO_FUNGI) fungi = 0;
}

void* Cell::thread_maker(void* arg) {
  auto* task = static_cast<CellTask*>(arg);
  for (Cell* cell : task->cells) (cell->*(task->operation))();
  return nullptr;
}

// ---- Registry --------------------------------------------------------------

void Cell::addPrey(unsigned state, Prey* prey) { preys.at(state).push_back(prey); }

void Cell::addPredator(unsigned state, Predator* predator) { predators.at(state).push_back(predator); }

std::size_t Cell::removePrey(unsigned state, std::size_t position) {
  auto& list = preys.at(state);
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(position));
  return position;
}

std::size_t Cell::removePredator(unsigned state, std::size_t position) {
  auto& list = predators.at(state);
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(position));
  return position;
}

// State pass: an animal that changes state (or, moving, leaves the cell) joins the end of its
// new list, and the animals that stay close ranks behind it. What an animal does here reads no
// list of its cell, so the list is closed up as it is walked: each animal is moved once,
// instead of all those behind it at every change. Prey movement is such a pass too.
template <class Kind, class Act>
void Cell::statePass(unsigned state, Act act) {
  auto& list = registry<Kind>()[state];
  std::size_t kept = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    loadAhead(list, i);
    Kind* animal = list[i];
    act(animal);
    if (animal->getState() == state && animal->getPosition() == this)
      list[kept++] = animal;
    else
      animal->getPosition()->template registry<Kind>()[animal->getState()].push_back(animal);
  }
  list.resize(kept);
}

// Move pass: the animal is taken out before it acts, so it does not count
// itself in the cell it leaves; it goes back into its slot when it stayed put
// in the same state, else to the end of its new list in its new cell.
template <class Kind, class Act>
std::size_t Cell::moveOne(unsigned state, std::size_t position, Act act) {
  auto& list = registry<Kind>()[state];
  loadAhead(list, position);
  Kind* animal = list[position];
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(position));
  act(animal);
  if (animal->getState() == state && animal->getPosition() == this) {
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(position), animal);
    return position + 1;
  }
  animal->getPosition()->template registry<Kind>()[animal->getState()].push_back(animal);
  return position;
}

template <class Kind, class Act>
void Cell::movePass(unsigned state, Act act) {
  for (std::size_t i = 0; i < registry<Kind>()[state].size();) i = moveOne<Kind>(state, i, act);
}

// ---- Activation and tuning ---------------------------------------------------

void Cell::activateAnimals(int day) {
  auto activate = [&](auto& lists) {  // closed up as it is walked, as in a state pass
    auto& unborn = lists[UNBORN];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < unborn.size(); ++i) {
      loadAhead(unborn, i);
      if (unborn[i]->activateIfReady(day))
        lists[ACTIVE].push_back(unborn[i]);
      else
        unborn[kept++] = unborn[i];
    }
    unborn.resize(kept);
  };
  activate(preys);
  activate(predators);
}

void Cell::tuneTraits() {
  visitAll(preys[ACTIVE], [](Prey* prey) { prey->tuneTraits(); });
  visitAll(predators[ACTIVE], [](Predator* predator) { predator->tuneTraits(); });
}

void Cell::interpolatePreysTraits() {
  visitAll(preys[UNBORN], [](Prey* prey) { prey->interpolateTraits(); });
}

void Cell::interpolatePredatorsTraits() {
  visitAll(predators[UNBORN], [](Predator* predator) { predator->interpolateTraits(); });
}

// ---- Prey phases -------------------------------------------------------------

void Cell::movePreysWithoutPredators(int day) {
  statePass<Prey>(ACTIVE, [day](Prey* prey) { prey->move(day); });
}

void Cell::movePreysWithPredators(int day) {
  statePass<Prey>(ACTIVE, [day](Prey* prey) { prey->moveWithPredators(day); });
}

// First come, first served in list order: the cell does not share out. A prey's
// metabolism reads only its own record, so each prey's follows its meal at once
// (one walk over the records, the same numbers as feeding all, then all metabolising).
void Cell::feedAndMetabolisePreys(int day) {
  statePass<Prey>(ACTIVE, [day](Prey* prey) {
    prey->feed();
    prey->metabWithGrowth(day);
  });
}

// ---- Predator phases -----------------------------------------------------------

void Cell::diePredsFromBackground(int day) {
  statePass<Predator>(ACTIVE, [day](Predator* predator) { predator->dieFromBackground(day); });
}

void Cell::movePredatorsWithPredators(int day) {
  auto& walked = predators[ACTIVE];
  for (std::size_t i = 0; i < walked.size();) {
    Predator* hunter = walked[i];
    i = moveOne<Predator>(ACTIVE, i, [day](Predator* predator) { predator->moveWithPredators(day); });
    if (hunter->getCatchCell()) fileVictim(hunter, i);
  }
}

// Files the animal a predator caught while moving as eaten in the cell where it
// was caught, so that no later predator of the phase meets it again.
void Cell::fileVictim(Predator* hunter, std::size_t& position) {
  Cell* where = hunter->getCatchCell();
  Animal* victim = hunter->getVictim();
  if (auto* prey = dynamic_cast<Prey*>(victim)) {
    auto& active = where->preys[ACTIVE];
    where->preys[PREDATED].push_back(prey);
    active.erase(std::remove(active.begin(), active.end(), prey), active.end());
    return;
  }
  auto* predator = static_cast<Predator*>(victim);
  auto& active = where->predators[ACTIVE];
  where->predators[PREDATED].push_back(predator);
  active.erase(std::remove(active.begin(), active.end(), predator), active.end());
  if (where == this) {
    // The walked list lost an entry: carry on after the hunter.
    auto found = std::find(active.begin(), active.end(), hunter);
    if (found != active.end()) position = static_cast<std::size_t>(found - active.begin()) + 1;
  }
}

// Like the prey's, a predator's metabolism reads only its own record.
void Cell::assimilateAndMetabolisePredators(int day) {
  statePass<Predator>(ACTIVE, [day](Predator* predator) {
    predator->assimilation();
    predator->metabWithGrowth(day);
  });
}

void Cell::searchAnimals(Predator* predator, int day) {
  // Prey first: a predator turns on other predators only when no prey fell to it.
  auto& activePreys = preys[ACTIVE];
  for (std::size_t i = 0; i < activePreys.size() && !predator->isEating(); ++i) {
    loadAhead(activePreys, i);
    Prey* prey = activePreys[i];
    const unsigned before = prey->getState();
    predator->searchAnimal(prey, day);
    if (prey->getState() != before) predator->recordCatch(this, prey);
  }
  auto& activePredators = predators[ACTIVE];
  for (std::size_t i = 0; i < activePredators.size() && predator->isActive() && !predator->isEating(); ++i) {
    Predator* other = activePredators[i];
    const unsigned before = other->getState();
    if (other->getId() != predator->getId() && other->getDaysDigest() == 0) {
      predator->searchAnimal(other, day);
      if (!predator->isEating()) other->huntAnimal(predator, day, true);  // it strikes back
    }
    if (other->getState() != before) predator->recordCatch(this, other);
  }
}

void Cell::exposeToPredators(Animal* animal, int day) {
  auto& hunters = predators[ACTIVE];
  for (std::size_t i = 0; i < hunters.size() && animal->isActive(); ++i) hunters[i]->searchAnimal(animal, day);
}

void Cell::prepareForPreyMovement() {
  heldRateOfPredatorsFungi = getRateOfPredatorsFungi();
  readyHunters.clear();
  for (Predator* predator : predators[ACTIVE])
    if (predator->canHunt()) readyHunters.push_back(predator);
}

// The hunters' records are read again by every prey of the cell, so they stay
// cached: no loading ahead here. A hunter that eats turns down every later prey
// before any draw, so it leaves the list at once.
void Cell::exposeToReadyHunters(Prey* prey, int day) {
  for (std::size_t i = 0; i < readyHunters.size() && prey->isActive();) {
    Predator* hunter = readyHunters[i];
    hunter->searchAnimal(prey, day);
    if (hunter->canHunt())
      ++i;
    else
      readyHunters.erase(readyHunters.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

namespace {
// 0.01 with nobody (or nothing) there, 1 at top, linear beyond.
double crowding(double n, double top) { return linearInterpolate(n, 0, top, 0.01, 1); }
}  // namespace

double Cell::getRateOfPredatorsPrey() const {
  return crowding(getNumberOfActivePredators(), 100) / crowding(getNumberOfActivePreys(), 100);
}

double Cell::getRateOfPredatorsFungi() const {
  return crowding(getNumberOfActivePredators(), 100) / crowding(fungi, capacity);
}

// ---- Reproduction ----------------------------------------------------------------

void Cell::moveAnimalsForReproducing(int day) {
  movePass<Prey>(REPRODUCING, [day](Prey* prey) { prey->moveForReproducing(day); });
  movePass<Predator>(REPRODUCING, [day](Predator* predator) { predator->moveForReproducing(day); });
}

template <class Kind>
void Cell::pairAndBreed(int day) {
  auto& lists = registry<Kind>();
  auto& ready = lists[REPRODUCING];
  // The shuffle's generator is not seeded: it repeats from run to run.
  for (std::size_t i = 1; i < ready.size(); ++i) {
    const std::size_t j = static_cast<std::size_t>(shuffleDraw()) % (i + 1);
    std::swap(ready[i], ready[j]);
  }
  // The list is a queue: pairs are taken from the front, and a parent still ready after
  // breeding joins its end; the pairs taken are dropped once, at the end.
  std::size_t front = 0;
  while (ready.size() - front >= 2) {
    Kind* first = ready[front];
    Kind* second = ready[front + 1];
    std::vector<Kind*> brood = first->breed(second, static_cast<unsigned>(day));
    lists[first->getState()].push_back(first);
    lists[second->getState()].push_back(second);
    front += 2;
    lists[UNBORN].insert(lists[UNBORN].end(), brood.begin(), brood.end());
  }
  ready.erase(ready.begin(), ready.begin() + static_cast<std::ptrdiff_t>(front));
}

void Cell::breedAnimals(int day) {
  pairAndBreed<Prey>(day);
  pairAndBreed<Predator>(day);
}

void Cell::purgeDeadAnimals() {
  for (unsigned state : FINAL_STATES) {
    for (Prey* prey : preys[state]) delete prey;
    preys[state].clear();
    for (Predator* predator : predators[state]) delete predator;
    predators[state].clear();
  }
}

// ---- Checkpoints -----------------------------------------------------------------

void Cell::transferState(StateArchive& archive, const SpeciesList& species) {
  int savedId = id;
  archive.io(savedId);
  archive.expect(savedId == id, "its cells are not in ring order");
  for (double* field : {&fungi, &rateOfIncrease, &capacity, &leakedFungi}) archive.io(*field);
  transferRegistry<Prey>(archive, species);
  transferRegistry<Predator>(archive, species);
}

template <class Kind>
void Cell::transferRegistry(StateArchive& archive, const SpeciesList& species) {
  for (unsigned state = 0; state < NUMBER_OF_STATES; ++state) {
    auto& list = registry<Kind>()[state];
    const std::uint64_t count = archive.ioCount(list.size(), sizeof(std::uint32_t) + sizeof(int));
    if (!archive.isLoading()) {
      for (Kind* animal : list) {
        auto index =
            static_cast<std::uint32_t>(std::find_if(species.begin(), species.end(),
                                                    [&](const auto& s) { return s.get() == animal->getSpecies(); }) -
                                       species.begin());
        archive.io(index);
        animal->transferState(archive);
      }
      continue;
    }
    list.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t k = 0; k < count; ++k) {
      std::uint32_t index = 0;
      archive.io(index);
      archive.expect(index < species.size(), "an animal's species is not one of the run's");
      AnimalSpecies* of = species[index].get();
      auto genome = Genome::make(of->getNumberOfTraits(), of->getChromosomesGenerator()->getLoci());
      list.push_back(new Kind(0, std::move(genome), this, 0, 0, 0, 0, 0, of));  // the cell owns it from here
      list.back()->transferState(archive);
      archive.expect(list.back()->getState() == state, "an animal is filed under another state than its own");
    }
  }
}

std::string Cell::registryFault(std::unordered_set<const Animal*>& seen) const {
  auto check = [&](const Animal* animal, unsigned state) -> std::string {
    const std::string who = "animal " + std::to_string(animal->getId()) + " filed in cell " + std::to_string(id);
    if (!seen.insert(animal).second) return who + " is filed more than once";
    if (animal->getPosition() != this)
      return who + " has its position in cell " + std::to_string(animal->getPosition()->getId());
    if (animal->getState() != state)
      return who + " under state " + std::to_string(state) + " is in state " + std::to_string(animal->getState());
    return "";
  };
  for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
    for (const Prey* prey : preys[s])
      if (auto fault = check(prey, s); !fault.empty()) return fault;
    for (const Predator* predator : predators[s])
      if (auto fault = check(predator, s); !fault.empty()) return fault;
  }
  return "";
}

}  // namespace soilweb
