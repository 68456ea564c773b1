#include "model/Predator.h"

#include "core/GlobalFunctions.h"
#include "core/StateArchive.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"

#include <algorithm>
#include <cmath>

namespace soilweb {

namespace {
double logistic(double z) { return std::min(1.0, std::max(0.0, 1 / (1 + std::exp(-z)))); }

// One draw, made even when p is 0.
bool succeeds(double p) { return p > randomUniform(); }
}  // namespace

void Predator::moveWithPredators(int day) {
  catch_cell = nullptr;
  if (last_moved_day >= day) return;
  const unsigned mode = species->getDefaultHuntingMode();
  for (int step = 0; step < stepsAllowed(); ++step) {
    if (!isActive() || days_digest != 0 || eating) continue;
    const bool hungry = traits[ENERGY_TANK] / traits[BODY_SIZE] < 0.3;
    if (mode == ACTIVE_HUNTING || (mode == SIT_AND_WAIT && hungry)) {
      moveOneStepWithPredators();
      position->exposeToPredators(this, day);
      if (isActive()) position->searchAnimals(this, day);
    }
  }
  last_moved_day = day;
}

void Predator::moveOneStepWithPredators() {
  Cell* left = position->getLeft();
  Cell* right = position->getRight();
  const double here = position->getRateOfPredatorsPrey();
  const double leftRate = left->getRateOfPredatorsPrey();
  const double rightRate = right->getRateOfPredatorsPrey();
  if (position->getNumberOfActivePreys() == 0 && left->getNumberOfActivePreys() == 0 &&
      right->getNumberOfActivePreys() == 0)
    steps_today += randomJump();
  else if (stepTowardsBetterNeighbour(here, leftRate, rightRate, false))
    steps_today += 1;
}

void Predator::moveForReproducing(int day) { moveTowardsMates(day, &Cell::getNumberOfReproducingPredators); }

void Predator::searchAnimal(Animal* target, int day) {
  if (target->getId() == id || !isActive() || eating || days_digest != 0) return;
  const unsigned mode = species->getDefaultHuntingMode();
  const double vh = target->getVor_hunted();
  const double vr = getVor_hunter();
  const double vx = target->confrontVor(traits[VORACITY]);
  const double sh = target->getSize_hunted();
  const double sr = getSize_hunter();
  const double sx = target->confrontSize(traits[BODY_SIZE]);
  double encounter = 0;
  if (mode == SIT_AND_WAIT)
    encounter = logistic(1 + 0.05 * vh + 0.2 * vr + 0.2 * vx + 0.05 * sr + 0.05 * sh + 0.05 * sx);
  else if (mode == ACTIVE_HUNTING)
    encounter = logistic(1 + 0.1 * (vh + vr + vx + sr + sh + sx));
  if (!succeeds(encounter)) return;

  target->addEncounterEventWith(id);
  target->incrementEncounters_pred();
  incrementEncounters_prey();

  if (succeeds(captureProbability(target, false))) eat(target, day);
}

void Predator::huntAnimal(Animal* target, int day, bool forced) {
  if (succeeds(captureProbability(target, forced))) eat(target, day);
}

double Predator::captureProbability(Animal* target, bool forced) const {
  const unsigned mode = species->getDefaultHuntingMode();
  const double h = getVor_hunter();
  const double r = target->getSpd_ratio(traits[SPEED]);
  const double q = target->getSize_ratio(traits[BODY_SIZE]);
  if (mode == ACTIVE_HUNTING || forced) return logistic(1 + 0.1 * r + 0.1 * h + 0.1 * q);
  if (mode == SIT_AND_WAIT) return logistic(1 + 0.3 * h + 0.001 * q);
  return 0;
}

void Predator::eat(Animal* target, int day) {
  target->addPredationEventWith(id);
  target->setState(PREDATED);
  target->setDate_death(day);
  eating = true;
  food_mass = target->turnIntoMass();
}

void Predator::dieFromBackground(int day) {
  const unsigned mode = species->getDefaultHuntingMode();
  const double v = getVor_hunter();
  const double a = getSearch_area_hunter();
  const double s = getSpd_hunter();
  const double z = getSize_hunter();
  const double t = species->getTuneDeathFromBackground();
  double p = 0;
  if (mode == SIT_AND_WAIT)
    p = t / (1 + std::exp(-(1 + 0.2 * v + 0.2 * a - 2 * s - 2 * z)));
  else if (mode == ACTIVE_HUNTING)
    p = t / (1 + std::exp(-(1 + v + a - s - z)));
  if (succeeds(p)) {
    state = BACKGROUND;
    date_death = day;
  }
}

void Predator::assimilation() {
  traits[ENERGY_TANK] += traits[ASSIM] * food_mass;
  if (eating) {
    auto& minLimits = species->getMinTraitLimits();
    auto& maxLimits = species->getMaxTraitLimits();
    const double k = linearInterpolate(voracity_ini, minLimits[VORACITY], maxLimits[VORACITY], 0.05, 0.15);
    // The meal divided by the untuned daily voracity.
    const int days = roundToInt(food_mass / (std::pow(traits[ENERGY_TANK] + traits[BODY_SIZE], voracity_ini) * k));
    days_digest = roundToInt(days * temperatureFactor(species->getQ10digestion()));
    eating = false;
    food_mass = 0;
  }
  if (days_digest > 0) --days_digest;
}

void Predator::recordCatch(Cell* cell, Animal* caught) {
  catch_cell = cell;
  victim = caught;
}

std::vector<Predator*> Predator::breed(Predator* mate, unsigned day) { return asKind<Predator>(breedWith(*mate, day)); }

Animal* Predator::newOffspring(int id, std::unique_ptr<Genome> genome, int date_egg, int g_numb_prt1, int g_numb_prt2,
                               int ID_prt1, int ID_prt2) const {
  return new Predator(id, std::move(genome), position, date_egg, g_numb_prt1, g_numb_prt2, ID_prt1, ID_prt2, species);
}

void Predator::transferState(StateArchive& archive) {
  Animal::transferState(archive);
  std::uint8_t digesting = eating;
  archive.io(digesting);
  archive.expect(digesting <= 1, "a predator's eating flag is neither 0 nor 1");
  eating = digesting == 1;
  archive.io(food_mass);
  archive.io(days_digest);
  catch_cell = nullptr;
  victim = nullptr;
}

}  // namespace soilweb
