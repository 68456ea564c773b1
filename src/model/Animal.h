// One individual, prey or predator: its record, life state, genome and trait
// pipeline (raw genetic values, mapping onto the species' ranges, birth-time
// adjustments, daily tuning), its energetics and life cycle, and the
// standardised scores through which hunters and hunted meet. An animal is
// owned by the cell it is filed in and owns its genome, and its neutral
// markers' genome when its species has them.
#pragma once

#include "core/Traits.h"
#include "genetics/Genome.h"

#include <array>
#include <limits>
#include <memory>
#include <vector>

namespace soilweb {

class AnimalSpecies;
class Cell;
class StateArchive;

// Life states; 2, 3, 5 and 6 are final and go with the day of death.
enum AnimalState : unsigned {
  UNBORN = 0,
  ACTIVE = 1,
  STARVED = 2,
  PREDATED = 3,
  REPRODUCING = 4,
  BACKGROUND = 5,
  SENESCED = 6,
  NUMBER_OF_STATES = 7
};
constexpr AnimalState FINAL_STATES[] = {STARVED, PREDATED, BACKGROUND, SENESCED};
constexpr bool isFinalState(unsigned state) {
  return state == STARVED || state == PREDATED || state == BACKGROUND || state == SENESCED;
}

class Animal {
 public:
  Animal(int id, std::unique_ptr<Genome> chromosomes, Cell* position, int date_egg, int g_numb_prt1, int g_numb_prt2,
         int ID_prt1, int ID_prt2, AnimalSpecies* species);
  virtual ~Animal();
  Animal(const Animal&) = delete;
  Animal& operator=(const Animal&) = delete;

  // Id of the next animal made; founders and offspring take it in creation order.
  static int animalID;

  // Trait pipeline.
  void initTraits();
  void updateLimits();
  void interpolateTraits();
  void adjustTraits();
  void tuneTraits();

  // What the animal inherited: its raw values mapped onto the species' ranges,
  // as at birth before the one-off adjustments. The pipeline keeps each of
  // them (the values fixed at birth, the traits that never change), so they
  // are gathered, not made again from the genome.
  std::array<double, NUMBER_OF_TRAITS> geneticValues() const;
  // The value a trait that changes after birth had when the animal was made.
  double valueAtBirth(unsigned trait) const;
  // Per trait, |first - second|: the sums over the loci the trait reads of the
  // first and of the second chromosomes (complements in a negative module).
  const std::array<float, NUMBER_OF_TRAITS>& heterozygosity() const { return alleleSumGaps; }

  // Neutral markers: a genome of one chromosome pair that nothing in the model reads.
  void setNeutralGenome(std::unique_ptr<Genome> genome) { neutral = std::move(genome); }
  const Genome* getNeutralGenome() const { return neutral.get(); }
  // The mean of its neutral alleles' values, over both chromosomes (NaN without markers).
  double neutralValue() const;
  // The share of its neutral loci whose two alleles differ (NaN without markers).
  double neutralHeterozygosity() const;

  // Energetics and life cycle.
  bool activateIfReady(int day);
  void metabWithGrowth(int day);
  int preBreeding();
  void postBreeding(unsigned day);
  double turnIntoMass() const;
  void setDate_death(int day) { date_death = day; }

  // One movement step in a run with predators.
  virtual void moveOneStepWithPredators() = 0;

  // Standardised scores (value - mean) / sd with the pairs of this animal's species.
  double getVor_hunted() const;
  double getVor_hunter() const;
  double confrontVor(double voracity) const;
  double getSize_hunted() const;
  double getSize_hunter() const;
  double confrontSize(double size) const;
  double getSpd_ratio(double speed) const;
  double getSize_ratio(double size) const;
  double getSearch_area_hunter() const;
  double getSpd_hunter() const;

  int getId() const { return id; }
  // Where the fields that the daily passes read end: the cells load only these ahead.
  const char* dailyFieldsEnd() const { return reinterpret_cast<const char*>(&chromosomes); }
  const Genome* getChromosomes() const { return chromosomes.get(); }
  AnimalSpecies* getSpecies() const { return species; }
  unsigned getState() const { return state; }
  void setState(int newState) { state = static_cast<unsigned>(newState); }
  bool isActive() const { return state == ACTIVE; }
  Cell* getPosition() const { return position; }
  void moveTo(Cell* cell) { position = cell; }
  double getTrait(unsigned index) const { return traits.at(index); }
  void setTrait(unsigned index, double value) {
    traits.at(index) = value;
    forgetKeptFactors();
  }
  using Traits = std::array<double, NUMBER_OF_TRAITS>;  // one value per Trait, in its order
  const Traits& getTraits() const { return traits; }
  int getInstar() const { return instar; }
  double getPhenoIni() const { return pheno_ini; }
  int getDateEgg() const { return date_egg; }
  int getAgeFirstRep() const { return age_first_rep; }
  // Parents' generation numbers and ids (0 for founders).
  std::array<int, 4> getParents() const { return {g_numb_prt1, g_numb_prt2, ID_prt1, ID_prt2}; }
  int getGlobalPreyEncs() const { return global_prey_encs; }
  int getGlobalPredEncs() const { return global_pred_encs; }
  int getDateDeath() const { return date_death; }
  int getStepsToday() const { return steps_today; }
  int getLastMovedDay() const { return last_moved_day; }
  int getEncountersPred() const { return encounters_pred; }
  int getEncountersPrey() const { return encounters_prey; }
  int getRepCount() const { return rep_count; }
  int getFecundity() const { return fecundity; }
  const std::vector<int>& getEncounterEvents() const { return encounterEvents; }
  const std::vector<int>& getPredationEvents() const { return predationEvents; }

  void incrementEncounters_pred();
  void incrementEncounters_prey();
  void addEncounterEventWith(int predatorId) { encounterEvents.push_back(predatorId); }
  void addPredationEventWith(int predatorId) { predationEvents.push_back(predatorId); }

  // Saves or loads all that the rest of the run depends on; the caller keeps
  // its cell and species. The kept factors are made again when needed.
  virtual void transferState(StateArchive& archive);

 protected:
  // The sums of allele values the genome gives each trait; halves receives
  // each trait's sums over the first and over the second chromosomes.
  struct AlleleSums {
    Traits first{}, second{};
  };
  Traits rawGeneticValues(AlleleSums& halves) const;
  // Sets alleleSumGaps from the halves of the raw values.
  void keepAlleleSumGaps(const AlleleSums& halves);
  // Raw values mapped from the founders' observed ranges onto the restricted ones.
  Traits mappedOntoRanges(Traits raw) const;
  // Factor of a rate at the run temperature: 1 at the minimum temperature, q at the maximum.
  static double temperatureFactor(double q);
  // Number of whole steps trait 7 allows (0 below one step).
  int stepsAllowed() const;
  // Jumps 2 or more cells along the ring in a random direction; returns the distance.
  int randomJump();
  // Moves to the neighbour whose value is better than here and not worse than the
  // other neighbour's (ties between neighbours go left); returns whether it moved.
  bool stepTowardsBetterNeighbour(double here, double left, double right, bool higherIsBetter);
  // The day's search for mates: steps towards the neighbour with more reproducing
  // animals of this kind (counted by census), or a jump when none is near.
  using Census = int (Cell::*)() const;
  void moveTowardsMates(int day, Census census);
  void stepTowardsMates(Census census);
  // Makes the offspring of this animal and mate, prey and predators alike: as
  // many as both reserves pay for, each with a recombinant genome; the caller
  // files them.
  std::vector<Animal*> breedWith(Animal& mate, unsigned day);
  // A newborn of this animal's kind and species, in its cell.
  virtual Animal* newOffspring(int id, std::unique_ptr<Genome> genome, int date_egg, int g_numb_prt1, int g_numb_prt2,
                               int ID_prt1, int ID_prt2) const = 0;
  // The same animals as their own kind.
  template <class Kind>
  static std::vector<Kind*> asKind(const std::vector<Animal*>& animals) {
    std::vector<Kind*> kind;
    kind.reserve(animals.size());
    for (Animal* animal : animals) kind.push_back(static_cast<Kind*>(animal));
    return kind;
  }

  // A value that hangs on body size alone (and on traits fixed at birth), and
  // so changes only at a moult: computed once per body size, not every day.
  struct MoultThreshold {
    double body = std::numeric_limits<double>::quiet_NaN();  // the body size it was computed for
    double value = 0;
  };
  void forgetKeptFactors() {
    conditionCeiling = nextMoultMass = MoultThreshold{};
    tuningScales.known = false;
  }
  // The factors of daily tuning that hang on traits fixed at birth, the
  // species' limits and the day's temperature alone.
  struct TuningScales {
    bool known = false;
    double search, voracity, speed;                                   // by the limits of each trait
    double searchTemperature, voracityTemperature, speedTemperature;  // by each trait's Q10
    double temperature;                                               // the temperature they were made at
  };
  const TuningScales& tuningScalesOnce();
  // The reserve share at which body condition bottoms out (daily tuning).
  double conditionCeilingFor(double body);
  // The mass that pays for the next moult (daily growth).
  double nextMoultMassFor(double body);

  // The record opens with what the daily passes read and write (up to dailyFieldsEnd);
  // what only breeding and the output read follows it.
  int id;
  unsigned state = UNBORN;
  Cell* position;
  AnimalSpecies* species;
  Traits traits{};      // held in the record: read by every daily phase
  int steps_today = 0;  // cells moved since the last metabolism step
  int last_moved_day = -1;
  int encounters_prey = 0;  // encounters as a hunter since the last tuning
  int encounters_pred = 0;  // encounters as the hunted since the last tuning
  int instar = 1;
  int date_death = 0;
  double body_size_ini = 0;
  double energy_tank_ini = 0;  // reserve at birth as a fraction of body mass
  double speed_ini = 0;        // genetic exponents and coefficients kept from birth
  double assim_ini = 0;
  double voracity_ini = 0;
  double search_area_ini = 0;
  MoultThreshold conditionCeiling;
  MoultThreshold nextMoultMass;
  TuningScales tuningScales;

  std::unique_ptr<Genome> chromosomes;
  std::vector<int> encounterEvents;  // ids of predators that met this animal
  std::vector<int> predationEvents;  // ids of predators that ate it
  int global_prey_encs = 0;
  int global_pred_encs = 0;
  double pheno_ini = 0;  // raw development time before rounding and scaling
  int date_egg;
  int g_numb_prt1;
  int g_numb_prt2;
  int ID_prt1;
  int ID_prt2;
  int rep_count = 0;
  int fecundity = 0;
  int age_first_rep = 0;  // the day of the first breeding
  std::array<float, NUMBER_OF_TRAITS> alleleSumGaps{};  // heterozygosity(), made with the raw values (not saved: made again)
  std::unique_ptr<Genome> neutral;                      // null when its species has no neutral loci
};

}  // namespace soilweb
