#include "model/Prey.h"

#include "model/AnimalSpecies.h"
#include "model/Cell.h"

namespace soilweb {

void Prey::move(int day) {
  if (last_moved_day >= day) return;
  for (int step = 0; step < stepsAllowed(); ++step) moveOneStep();
  last_moved_day = day;
}

void Prey::moveOneStep() {
  const double here = position->getFungi();
  const double left = position->getLeft()->getFungi();
  const double right = position->getRight()->getFungi();
  if (here == 0 && left == 0 && right == 0)
    steps_today += randomJump();
  else if (stepTowardsBetterNeighbour(here, left, right, true))
    steps_today += 1;
}

void Prey::moveWithPredators(int day) {
  if (last_moved_day >= day) return;
  for (int step = 0; step < stepsAllowed(); ++step) {
    if (!isActive()) continue;  // eaten on the way: no further steps
    moveOneStepWithPredators();
    position->exposeToReadyHunters(this, day);
  }
  last_moved_day = day;
}

void Prey::moveOneStepWithPredators() {
  Cell* left = position->getLeft();
  Cell* right = position->getRight();
  if (position->getFungi() == 0 && left->getFungi() == 0 && right->getFungi() == 0)
    steps_today += randomJump();
  else if (stepTowardsBetterNeighbour(position->getHeldRateOfPredatorsFungi(),
                                      left->getHeldRateOfPredatorsFungi(), right->getHeldRateOfPredatorsFungi(),
                                      false))
    steps_today += 1;
}

void Prey::moveForReproducing(int day) { moveTowardsMates(day, &Cell::getNumberOfReproducingPreys); }

void Prey::feed() {
  if (!(traits[SEARCH_AREA] > 0)) return;  // a prey that makes no moves does not eat
  const double available = position->getFungi();
  double intake = traits[VORACITY];
  if (intake >= available) intake = available;
  if (intake < 0) intake = 0;
  if (available == 0) intake = 0;
  position->subtractFungi(intake);
  traits[ENERGY_TANK] += intake * traits[ASSIM];
}

std::vector<Prey*> Prey::breed(Prey* mate, unsigned day) { return asKind<Prey>(breedWith(*mate, day)); }

Animal* Prey::newOffspring(int id, std::unique_ptr<Genome> genome, int date_egg, int g_numb_prt1, int g_numb_prt2,
                           int ID_prt1, int ID_prt2) const {
  return new Prey(id, std::move(genome), position, date_egg, g_numb_prt1, g_numb_prt2, ID_prt1, ID_prt2, species);
}

}  // namespace soilweb
