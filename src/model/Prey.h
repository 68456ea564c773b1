// An animal that eats the soil resource and is eaten by predators. It forages
// along the ring towards richer (or, with predators about, safer) cells, feeds
// on its cell's fungi and breeds with another reproducing prey of its cell.
#pragma once

#include "model/Animal.h"

#include <vector>

namespace soilweb {

class Prey : public Animal {
 public:
  using Animal::Animal;

  void move(int day);
  void moveOneStep();
  void moveWithPredators(int day);
  void moveOneStepWithPredators() override;
  void moveForReproducing(int day);
  void feed();
  // The offspring of this prey and mate, filed by the caller.
  std::vector<Prey*> breed(Prey* mate, unsigned day);

 protected:
  Animal* newOffspring(int id, std::unique_ptr<Genome> genome, int date_egg, int g_numb_prt1, int g_numb_prt2,
                       int ID_prt1, int ID_prt2) const override;
};

}  // namespace soilweb
