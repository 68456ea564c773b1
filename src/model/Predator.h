// An animal that hunts: it moves by its species' hunting mode, meets and
// catches prey and other predators in the cells it passes, strikes back when
// attacked, digests its meal over several days and may die of background
// mortality. Owned by the cell it is filed in, like every animal.
#pragma once

#include "model/Animal.h"

#include <vector>

namespace soilweb {

class Predator : public Animal {
 public:
  using Animal::Animal;

  void moveWithPredators(int day);
  void moveOneStepWithPredators() override;
  void moveForReproducing(int day);
  // Encounter, then capture; records both on the target.
  void searchAnimal(Animal* target, int day);
  // Capture without the encounter stage and without guards (counter-attack).
  void huntAnimal(Animal* target, int day, bool forced);
  void dieFromBackground(int day);
  void assimilation();
  std::vector<Predator*> breed(Predator* mate, unsigned day);

  bool isEating() const { return eating; }
  // Active, not eating and not digesting: it would search the animals it meets.
  bool canHunt() const { return isActive() && !eating && days_digest == 0; }
  int getDaysDigest() const { return days_digest; }
  // The hunting fields follow the animal's, so the daily passes read a predator's whole record.
  const char* dailyFieldsEnd() const { return reinterpret_cast<const char*>(this) + sizeof(Predator); }
  double getFoodMass() const { return food_mass; }
  Cell* getCatchCell() const { return catch_cell; }
  Animal* getVictim() const { return victim; }
  // Called by a cell's search when this predator changed another animal's state there.
  void recordCatch(Cell* cell, Animal* caught);
  // Adds the meal being digested; the day's catch is not kept (each day's movement starts without one).
  void transferState(StateArchive& archive) override;

 protected:
  Animal* newOffspring(int id, std::unique_ptr<Genome> genome, int date_egg, int g_numb_prt1, int g_numb_prt2,
                       int ID_prt1, int ID_prt2) const override;

 private:
  double captureProbability(Animal* target, bool forced) const;
  void eat(Animal* target, int day);

  bool eating = false;         // caught an animal not yet assimilated
  double food_mass = 0;        // food value of that animal
  int days_digest = 0;         // days left before it can hunt again
  Cell* catch_cell = nullptr;  // where today's movement changed another animal's state
  Animal* victim = nullptr;    // that animal
};

}  // namespace soilweb
