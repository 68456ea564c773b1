#include "output/Pedigree.h"

#include "core/GlobalFunctions.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "output/ResultSchema.h"

#include <algorithm>
#include <stdexcept>

namespace soilweb {

void Pedigree::appendBirths(const World& world, std::string& out) {
  std::vector<const Animal*> born;
  for (const auto& cell : world.getCells()) {
    for (const Prey* prey : cell->getPreys(UNBORN))
      if (prey->getId() >= nextId) born.push_back(prey);
    for (const Predator* predator : cell->getPredators(UNBORN))
      if (predator->getId() >= nextId) born.push_back(predator);
  }
  if (static_cast<long>(born.size()) != static_cast<long>(Animal::animalID) - nextId)
    throw std::logic_error("the pedigree found " + std::to_string(born.size()) + " newborn eggs of " +
                           std::to_string(Animal::animalID - nextId) + " animals made");
  std::sort(born.begin(), born.end(), [](const Animal* a, const Animal* b) { return a->getId() < b->getId(); });
  // Founders are the first animals made; they have no parents, and their
  // parents and generations are left empty (NA), never 0, which is an animal too.
  long founders = 0;
  for (std::size_t k = 0; k < 2 && k < world.getSpecies().size(); ++k)
    founders += world.getSpecies()[k]->getInitialPopulation();
  for (const Animal* animal : born) {
    const auto [generation1, generation2, parent1, parent2] = animal->getParents();
    appendInt(out, animal->getId());
    out += '\t';
    out += animal->getSpecies()->getScientificName();
    out += '\t';
    appendInt(out, animal->getDateEgg());
    const bool founder = animal->getId() < founders;
    for (long long field : {parent1, parent2, generation1, generation2}) {
      out += '\t';
      if (!founder) appendInt(out, field);
    }
    for (double value : animal->geneticValues()) {
      out += '\t';
      appendDouble(out, value);
    }
    out += '\n';
  }
  nextId = Animal::animalID;
}

Pedigree::Seen Pedigree::sizesOf(const World& world, std::size_t cell) const {
  const Cell& c = *world.getCells()[cell];
  Seen sizes{};
  for (std::size_t k = 0; k < 4; ++k) {
    sizes[k] = c.getPreys(FINAL_STATES[k]).size();
    sizes[4 + k] = c.getPredators(FINAL_STATES[k]).size();
  }
  return sizes;
}

void Pedigree::appendDeaths(const World& world, std::string& out) {
  const auto& cells = world.getCells();
  seen.resize(cells.size());
  std::vector<const Animal*> dead;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    for (std::size_t k = 0; k < 4; ++k) {
      const auto& preys = cells[c]->getPreys(FINAL_STATES[k]);
      for (std::size_t i = seen[c][k]; i < preys.size(); ++i) dead.push_back(preys[i]);
      const auto& predators = cells[c]->getPredators(FINAL_STATES[k]);
      for (std::size_t i = seen[c][4 + k]; i < predators.size(); ++i) dead.push_back(predators[i]);
    }
    seen[c] = sizesOf(world, c);
  }
  std::sort(dead.begin(), dead.end(), [](const Animal* a, const Animal* b) { return a->getId() < b->getId(); });
  for (const Animal* animal : dead) {
    appendInt(out, animal->getDateDeath());
    out += '\t';
    appendInt(out, animal->getId());
    out += '\t';
    out += animal->getSpecies()->getScientificName();
    out += '\t';
    out += ResultSchema::fateOf(animal->getState());
    out += '\n';
  }
}

void Pedigree::resumed(const World& world) {
  nextId = Animal::animalID;
  seen.resize(world.getCells().size());
  for (std::size_t c = 0; c < seen.size(); ++c) seen[c] = sizesOf(world, c);
}

void Pedigree::deadPurged() { std::fill(seen.begin(), seen.end(), Seen{}); }

}  // namespace soilweb
