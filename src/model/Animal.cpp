#include "model/Animal.h"

#include "core/GlobalFunctions.h"
#include "core/StateArchive.h"
#include "genetics/ChromosomesGenerator.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace soilweb {

static_assert(std::tuple_size<Animal::Traits>::value == NUMBER_OF_TRAITS, "one value per trait");

int Animal::animalID = 0;

Animal::Animal(int id, std::unique_ptr<Genome> chromosomes, Cell* position, int date_egg, int g_numb_prt1,
               int g_numb_prt2, int ID_prt1, int ID_prt2, AnimalSpecies* species)
    : id(id),
      position(position),
      species(species),
      chromosomes(std::move(chromosomes)),
      date_egg(date_egg),
      g_numb_prt1(g_numb_prt1),
      g_numb_prt2(g_numb_prt2),
      ID_prt1(ID_prt1),
      ID_prt2(ID_prt2) {}

Animal::~Animal() = default;

double Animal::temperatureFactor(double q) {
  return linearInterpolate(Cell::TEMPERATURE, Cell::MIN_TEMPERATURE, Cell::MAX_TEMPERATURE, 1, q);
}

void Animal::initTraits() {
  AlleleSums halves;
  traits = rawGeneticValues(halves);
  keepAlleleSumGaps(halves);
}

Animal::Traits Animal::rawGeneticValues(AlleleSums& halves) const {
  const unsigned T = species->getNumberOfTraits();
  const unsigned L = species->getNumberOfLoci();
  const unsigned M = species->getNumberOfTraitsPerModule();
  const Genome& genome = *chromosomes;
  // Checked once here, so the loops below read alleles unchecked.
  if (genome.size() < T || genome.getLoci().size() < L)
    throw std::out_of_range("a genome smaller than its species' traits and loci");
  Traits raw{};
  auto add = [&](unsigned i, double first, double second) {
    raw[i] += first + second;
    halves.first[i] += first;
    halves.second[i] += second;
  };
  for (unsigned i = 0; i < T; ++i) {
    const unsigned module = i / M;
    const double own = species->getOwnLociPerModule().at(module);
    const unsigned first = i - (i % M);
    const bool followsFirst = species->getPositiveModule().at(module) == 1 || i == first;
    const ChromosomePair pair = genome[i];
    const Alleles& a = pair.first.getAlleles();
    const Alleles& b = pair.second.getAlleles();
    unsigned k = 0;
    for (; k < L && k < own; ++k) add(i, a[k], b[k]);
    // The remaining loci are shared with the module's first trait; in a negative
    // module the other traits take their complements and so move against it.
    const ChromosomePair firstPair = genome[first];
    const Alleles& fa = firstPair.first.getAlleles();
    const Alleles& fb = firstPair.second.getAlleles();
    for (; k < L; ++k) {
      if (followsFirst)
        add(i, fa[k], fb[k]);
      else
        add(i, 1 - fa[k], 1 - fb[k]);
    }
  }
  return raw;
}

double Animal::neutralValue() const {
  if (!neutral || neutral->getLoci().empty()) return std::numeric_limits<double>::quiet_NaN();
  const ChromosomePair pair = (*neutral)[0];
  double sum = 0;
  for (std::size_t k = 0; k < neutral->getLoci().size(); ++k)
    sum += pair.first.getAlleles()[k] + pair.second.getAlleles()[k];
  return sum / (2.0 * static_cast<double>(neutral->getLoci().size()));
}

double Animal::neutralHeterozygosity() const {
  if (!neutral || neutral->getLoci().empty()) return std::numeric_limits<double>::quiet_NaN();
  const ChromosomePair pair = (*neutral)[0];
  std::size_t differing = 0;
  for (std::size_t k = 0; k < neutral->getLoci().size(); ++k)
    differing += pair.first.getAlleles().index(k) != pair.second.getAlleles().index(k);
  return static_cast<double>(differing) / static_cast<double>(neutral->getLoci().size());
}

Animal::Traits Animal::geneticValues() const {
  Traits values = traits;  // a trait inherited and never changed holds its genetic value
  for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t)
    if (!showsGeneticValue(t)) values[t] = valueAtBirth(t);
  return values;
}

double Animal::valueAtBirth(unsigned trait) const {
  switch (trait) {
    case ENERGY_TANK:
      return energy_tank_ini;
    case PHENO:
      return pheno_ini;
    case BODY_SIZE:
      return body_size_ini;
    case ASSIM:
      return assim_ini;
    case VORACITY:
      return voracity_ini;
    case SPEED:
      return speed_ini;
    case SEARCH_AREA:
      return search_area_ini;
    default:
      throw std::logic_error(std::string("the trait ") + TRAITS[trait].name +
                             " changes after birth but the animal keeps no value of it from birth");
  }
}

void Animal::keepAlleleSumGaps(const AlleleSums& halves) {
  for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t)
    alleleSumGaps[t] = static_cast<float>(std::fabs(halves.first[t] - halves.second[t]));
}

void Animal::updateLimits() {
  auto& minObserved = species->getMinObservedTraits();
  auto& maxObserved = species->getMaxObservedTraits();
  for (unsigned i = 0; i < species->getNumberOfTraits(); ++i) {
    if (traits[i] < minObserved[i]) minObserved[i] = traits[i];
    if (traits[i] > maxObserved[i]) maxObserved[i] = traits[i];
  }
}

Animal::Traits Animal::mappedOntoRanges(Traits raw) const {
  auto& minObserved = species->getMinObservedTraits();
  auto& maxObserved = species->getMaxObservedTraits();
  auto& minRestricted = species->getMinRestrictedTraits();
  auto& maxRestricted = species->getMaxRestrictedTraits();
  for (unsigned i = 0; i < species->getNumberOfTraits(); ++i) {
    // All founders alike in a trait: no range to map from, so take the middle
    // of the restricted range rather than divide by zero.
    if (minObserved[i] == maxObserved[i])
      raw[i] = (minRestricted[i] + maxRestricted[i]) / 2;
    else
      raw[i] = linearInterpolate(raw[i], minObserved[i], maxObserved[i], minRestricted[i], maxRestricted[i]);
  }
  return raw;
}

void Animal::interpolateTraits() {
  traits = mappedOntoRanges(traits);
  adjustTraits();
}

void Animal::adjustTraits() {
  pheno_ini = traits[PHENO];
  const double days = std::round(traits[PHENO]);
  traits[PHENO] = std::round(days * temperatureFactor(species->getQ10phenology()));
  traits[PHENO] = date_egg + traits[PHENO];
  body_size_ini = traits[BODY_SIZE];
  energy_tank_ini = traits[ENERGY_TANK];
  speed_ini = traits[SPEED];
  assim_ini = traits[ASSIM];
  traits[ENERGY_TANK] = traits[ENERGY_TANK] * traits[BODY_SIZE];
  traits[SPEED] =
      std::pow(traits[BODY_SIZE] + traits[ENERGY_TANK], speed_ini) * linearInterpolate(speed_ini, 0.05, 0.35, 1, 7);
  voracity_ini = traits[VORACITY];
  search_area_ini = traits[SEARCH_AREA];
  forgetKeptFactors();
}

void Animal::tuneTraits() {
  const double body = traits[BODY_SIZE];
  const double tank = traits[ENERGY_TANK];
  const double mass = body + tank;
  const double minCondition = species->getMinCondition();
  const double maxEncounters = species->getMaxEncountersT();
  const TuningScales& scale = tuningScalesOnce();

  // Body condition: 1 at the starvation threshold, falling to minCondition at
  // the reserve that would pay for the next moult.
  const double upper = conditionCeilingFor(body);
  const double raw = linearInterpolate(tank / body, species->getDeadlyTank(), upper, 1, minCondition);
  const double condition = std::max(minCondition, std::min(raw, 1.0));

  traits[SEARCH_AREA] = std::round(std::max(0.0, condition * std::pow(mass, search_area_ini) * scale.search));
  traits[VORACITY] = std::pow(mass, voracity_ini) * scale.voracity;
  traits[SPEED] = condition * std::pow(mass, speed_ini) * scale.speed;

  // Predator pressure.
  const double n = encounters_pred;
  double fear = linearInterpolate(n, 0, maxEncounters, 1, 0.1);
  fear = fear > 1 ? 1 : std::max(fear, 0.1);
  double loss = linearInterpolate(n, 0, maxEncounters, 0, 0.76);
  loss = std::min(std::max(loss, 0.0), 0.76);
  traits[ASSIM] = assim_ini - loss * assim_ini;
  traits[VORACITY] = 0.5 * (condition + fear) * traits[VORACITY];
  traits[SEARCH_AREA] = std::max(0.0, std::round(traits[SEARCH_AREA] * fear));

  // Temperature.
  traits[VORACITY] = scale.voracityTemperature * traits[VORACITY];
  traits[SEARCH_AREA] = std::round(scale.searchTemperature * traits[SEARCH_AREA]);
  traits[SPEED] = scale.speedTemperature * traits[SPEED];

  encounters_pred = 0;
  encounters_prey = 0;
}

const Animal::TuningScales& Animal::tuningScalesOnce() {
  // A temperature series changes the run temperature from day to day.
  if (!tuningScales.known || tuningScales.temperature != Cell::TEMPERATURE) {
    auto& minLimits = species->getMinTraitLimits();
    auto& maxLimits = species->getMaxTraitLimits();
    tuningScales = {true,
                    linearInterpolate(search_area_ini, minLimits[SEARCH_AREA], maxLimits[SEARCH_AREA], 1, 10),
                    linearInterpolate(voracity_ini, minLimits[VORACITY], maxLimits[VORACITY], 0.05, 0.15),
                    linearInterpolate(speed_ini, minLimits[SPEED], maxLimits[SPEED], 1, 7),
                    temperatureFactor(traits[SRCH_Q10]),
                    temperatureFactor(traits[VOR_Q10]),
                    temperatureFactor(traits[SPD_Q10]),
                    Cell::TEMPERATURE};
  }
  return tuningScales;
}

double Animal::conditionCeilingFor(double body) {
  if (!(conditionCeiling.body == body)) {
    const double A = species->getA();
    const double B = species->getB();
    const double len = std::pow((energy_tank_ini * body + body) * 0.3 / A, 1 / B);
    const double next = A * std::pow(len * traits[GROWTH], B);
    conditionCeiling = {body, (next / 0.3 / species->getAssignedForMetab() - body) / body};
  }
  return conditionCeiling.value;
}

double Animal::nextMoultMassFor(double body) {
  if (!(nextMoultMass.body == body)) {
    const double A = species->getA();
    const double B = species->getB();
    const double dry = species->getForControlingDryBodyMass();
    const double len = std::pow((energy_tank_ini * body + body) * dry / A, 1 / B);
    nextMoultMass = {body, A * std::pow(len * traits[GROWTH], B) / dry};
  }
  return nextMoultMass.value;
}

bool Animal::activateIfReady(int day) {
  if (day >= truncateToInt(traits[PHENO])) {
    state = ACTIVE;
    return true;
  }
  return false;
}

void Animal::metabWithGrowth(int day) {
  const double E = traits[ACTE_MET];
  const double x = traits[MET_RATE];
  const double mass = traits[ENERGY_TANK] + traits[BODY_SIZE];
  const double rate =
      std::exp(43.966 * E - 7.2945 + x * std::log(mass) - E / (Cell::K_BOLZMANN * (Cell::TEMPERATURE + 273.15)));
  const double stress = linearInterpolate(encounters_pred, 0, species->getMaxEncountersT(), 0, 0.407);
  const double activity =
      0.5 * (steps_today / species->getMaxSearchAreaT() + traits[VORACITY] / species->getMaxVoracityT());
  steps_today = 0;
  // The inactive share of the day runs at the stressed resting rate, the active
  // share at three times the resting rate.
  traits[ENERGY_TANK] =
      traits[ENERGY_TANK] - (1 - activity) * rate * (1 + stress) * 24 / 7 - 3 * rate * activity * 24 / 7;

  if (species->getDeadlyTank() > traits[ENERGY_TANK] / traits[BODY_SIZE]) {
    date_death = day;
    state = STARVED;
    return;
  }
  if (instar <= 3) {
    const double available = (traits[ENERGY_TANK] + traits[BODY_SIZE]) * species->getAssignedForMetab();
    const double next = nextMoultMassFor(traits[BODY_SIZE]);
    if (available >= next) {
      traits[BODY_SIZE] = next / (1 + energy_tank_ini);
      traits[ENERGY_TANK] = available - next + energy_tank_ini * traits[BODY_SIZE];
      ++instar;
    }
  } else if ((traits[ENERGY_TANK] + traits[BODY_SIZE]) * species->getAssignedForReproduction() >=
             2 * traits[BODY_SIZE]) {
    traits[SEARCH_AREA] = 100;  // steps of tomorrow's search for a mate
    state = REPRODUCING;
  }
}

int Animal::preBreeding() {
  const double keep = species->getDeadlyTank() * traits[BODY_SIZE] * species->getKeepForSurv();
  const double egg = body_size_ini * (1 + energy_tank_ini);
  const int share = roundToInt((traits[ENERGY_TANK] - keep) / egg);
  traits[ENERGY_TANK] = keep;
  fecundity += share;
  return share;
}

void Animal::postBreeding(unsigned day) {
  ++rep_count;
  if (rep_count == 1) age_first_rep = static_cast<int>(day);
  if (rep_count >= species->getMaxReproductionEvents()) {
    date_death = static_cast<int>(day);
    state = SENESCED;
  } else {
    state = ACTIVE;
  }
}

double Animal::turnIntoMass() const { return traits[ENERGY_TANK] + traits[BODY_SIZE]; }

double Animal::getVor_hunted() const {
  return (traits[VORACITY] - species->getMeanVorHunted()) / species->getSdVorHunted();
}
double Animal::getVor_hunter() const {
  return (traits[VORACITY] - species->getMeanVorHunter()) / species->getSdVorHunter();
}
double Animal::confrontVor(double voracity) const {
  return (voracity * traits[VORACITY] - species->getMeanVorXVor()) / species->getSdVorXVor();
}
double Animal::getSize_hunted() const {
  return (traits[BODY_SIZE] - species->getMeanSizeHunted()) / species->getSdSizeHunted();
}
double Animal::getSize_hunter() const {
  return (traits[BODY_SIZE] - species->getMeanSizeHunter()) / species->getSdSizeHunter();
}
double Animal::confrontSize(double size) const {
  return (size * traits[BODY_SIZE] - species->getMeanSizeXSize()) / species->getSdSizeXSize();
}
double Animal::getSpd_ratio(double speed) const {
  return (speed / traits[SPEED] - species->getMeanSpdRatio()) / species->getSdSpdRatio();
}
double Animal::getSize_ratio(double size) const {
  return (size / traits[BODY_SIZE] - species->getMeanSizeRatio()) / species->getSdSizeRatio();
}
double Animal::getSearch_area_hunter() const {
  return (traits[SEARCH_AREA] - species->getMeanSearchAreaHunter()) / species->getSdSearchAreaHunter();
}
double Animal::getSpd_hunter() const {
  return (traits[SPEED] - species->getMeanSpdHunter()) / species->getSdSpdHunter();
}

void Animal::incrementEncounters_pred() {
  ++encounters_pred;
  ++global_pred_encs;
}

void Animal::incrementEncounters_prey() {
  ++encounters_prey;
  ++global_prey_encs;
}

// A search area that no int holds (infinite, NaN, or simply too large) allows
// no step, as every other such conversion does: a day never costs more than
// the animals' finite traits ask.
int Animal::stepsAllowed() const { return std::max(truncateToInt(traits[SEARCH_AREA]), 0); }

int Animal::randomJump() {
  const int distance = roundToInt(randomUniform(2, traits[SEARCH_AREA] + 2));
  const bool right = randomUniform() >= 0.5;
  Cell* cell = position;
  for (int i = 0; i < distance; ++i) cell = right ? cell->getRight() : cell->getLeft();
  moveTo(cell);
  return distance;
}

bool Animal::stepTowardsBetterNeighbour(double here, double left, double right, bool higherIsBetter) {
  auto better = [&](double a, double b) { return higherIsBetter ? a > b : a < b; };
  auto notWorse = [&](double a, double b) { return higherIsBetter ? a >= b : a <= b; };
  if (better(left, here) && notWorse(left, right)) {
    moveTo(position->getLeft());
    return true;
  }
  if (better(right, here) && notWorse(right, left)) {
    moveTo(position->getRight());
    return true;
  }
  return false;
}

void Animal::moveTowardsMates(int day, Census census) {
  if (last_moved_day >= day) return;
  for (int step = 0; step < stepsAllowed(); ++step) stepTowardsMates(census);
  last_moved_day = day;
}

void Animal::stepTowardsMates(Census census) {
  const double here = (position->*census)();
  const double left = (position->getLeft()->*census)();
  const double right = (position->getRight()->*census)();
  if (here == 0 && left == 0 && right == 0)
    randomJump();  // these moves do not count as activity
  else
    stepTowardsBetterNeighbour(here, left, right, true);
}

std::vector<Animal*> Animal::breedWith(Animal& mate, unsigned day) {
  const int offspring = preBreeding() + mate.preBreeding();
  std::vector<Animal*> brood;
  for (int k = 0; k < offspring; ++k) {
    auto genome = ChromosomesGenerator::getGametes(*chromosomes, *mate.chromosomes, species->getNumberOfTraits(),
                                                   species->getNumberOfLoci());
    const int childId = animalID++;
    Animal* child = newOffspring(childId, std::move(genome), static_cast<int>(day), g_numb_prt1 + 1,
                                 mate.g_numb_prt2 + 1, id, mate.id);
    // The markers segregate and recombine by the same rules, drawn from their own stream.
    if (const ChromosomesGenerator* markers = species->getNeutralGenerator())
      child->neutral = markers->getGametes(*neutral, *mate.neutral);
    child->initTraits();
    child->interpolateTraits();
    brood.push_back(child);
  }
  postBreeding(day);
  mate.postBreeding(day);
  return brood;
}

void Animal::transferState(StateArchive& archive) {
  archive.io(id);
  archive.expect(id >= 0, "an animal's id is negative");
  archive.io(traits);
  chromosomes->transferState(archive);
  if (const ChromosomesGenerator* markers = species->getNeutralGenerator()) {
    if (!neutral) neutral = Genome::make(1, markers->getLoci());
    neutral->transferState(archive);
  }
  archive.io(state);
  archive.expect(state < NUMBER_OF_STATES, "an animal's state is not one of the seven");
  archive.io(encounterEvents);
  archive.io(predationEvents);
  for (int* field : {&steps_today, &encounters_prey, &encounters_pred, &global_prey_encs, &global_pred_encs, &instar,
                     &date_death, &date_egg, &last_moved_day, &g_numb_prt1, &g_numb_prt2, &ID_prt1, &ID_prt2,
                     &rep_count, &fecundity, &age_first_rep})
    archive.io(*field);
  for (double* field :
       {&pheno_ini, &body_size_ini, &energy_tank_ini, &speed_ini, &assim_ini, &voracity_ini, &search_area_ini})
    archive.io(*field);
  if (archive.isLoading()) {
    forgetKeptFactors();
    AlleleSums halves;
    rawGeneticValues(halves);
    keepAlleleSumGaps(halves);
  }
}

}  // namespace soilweb
