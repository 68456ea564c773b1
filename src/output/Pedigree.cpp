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
#include <tuple>

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
  const bool markers = world.hasNeutralMarkers();
  for (const Animal* animal : born)
    appendRow(out, pedigreeColumns(), PedigreeRow{animal, animal->getId() < founders, animal->geneticValues()},
              markers);
  nextId = Animal::animalID;
}

const Columns<PedigreeRow>& Pedigree::pedigreeColumns() {
  static const Columns<PedigreeRow> columns = [] {
    Columns<PedigreeRow> made = {
        {{"id", "integer", "", "animal id"}, [](const PedigreeRow& r) { return FieldValue::of(r.animal->getId() * 1LL); }},
        {{"species", "text", "", "species name"},
         [](const PedigreeRow& r) { return FieldValue::of(r.animal->getSpecies()->getScientificName()); }},
        {{"birth_day", "integer", "day", "the day its egg was laid (0 for founders)"},
         [](const PedigreeRow& r) { return FieldValue::of(r.animal->getDateEgg() * 1LL); }}};
    // Getters' order: the parents' generation numbers, then their ids.
    const std::tuple<const char*, const char*, int> lineage[] = {
        {"ID_prt1", "id of its first parent", 2},
        {"ID_prt2", "id of its second parent", 3},
        {"g_numb_prt1", "generation number along the first parent's line", 0},
        {"g_numb_prt2", "generation number along the second parent's line", 1}};
    for (const auto& [name, meaning, k] : lineage)
      made.push_back({{name, "integer", "", std::string(meaning) + " (empty, NA, for founders)"},
                      [k = k](const PedigreeRow& r) {
                        // Founders have no parents: left empty (NA), never 0, which is an animal too.
                        return r.founder ? FieldValue::of("") : FieldValue::of(r.animal->getParents()[k] * 1LL);
                      }});
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t)
      made.push_back({{TRAITS[t].column, "real", "",
                       std::string("genetic value of ") + TRAITS[t].column +
                           ": the allele sum mapped onto the species' range, before the adjustments at birth"},
                      [t](const PedigreeRow& r) { return FieldValue::of(r.genetic[t]); }});
    // NA for an animal whose species has no markers, in a run where another has.
    auto marker = [](double (Animal::*of)() const) {
      return [of](const PedigreeRow& r) {
        return FieldValue::realOrNA((r.animal->*of)(), r.animal->getNeutralGenome() != nullptr);
      };
    };
    made.push_back({{"neutral", "real", "allele value",
                     "neutral value: the mean of its neutral alleles on both chromosomes, read by nothing in the model",
                     NEUTRAL_MARKERS},
                    marker(&Animal::neutralValue)});
    made.push_back({{"neutral_het", "real", "share of loci", "share of its neutral loci whose two alleles differ",
                     NEUTRAL_MARKERS},
                    marker(&Animal::neutralHeterozygosity)});
    return made;
  }();
  return columns;
}

const Columns<Animal>& Pedigree::deathColumns() {
  static const Columns<Animal> columns = {
      {{"death_day", "integer", "day", "the day it died"},
       [](const Animal& a) { return FieldValue::of(a.getDateDeath() * 1LL); }},
      {{"id", "integer", "", "animal id"}, [](const Animal& a) { return FieldValue::of(a.getId() * 1LL); }},
      {{"species", "text", "", "species name"},
       [](const Animal& a) { return FieldValue::of(a.getSpecies()->getScientificName()); }},
      {{"fate", "text", "", "starved, predated, background or senesced"},
       [](const Animal& a) { return FieldValue::of(ResultSchema::fateOf(a.getState())); }}};
  return columns;
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
  for (const Animal* animal : dead) appendRow(out, deathColumns(), *animal);
}

void Pedigree::resumed(const World& world) {
  nextId = Animal::animalID;
  seen.resize(world.getCells().size());
  for (std::size_t c = 0; c < seen.size(); ++c) seen[c] = sizesOf(world, c);
}

void Pedigree::deadPurged() { std::fill(seen.begin(), seen.end(), Seen{}); }

}  // namespace soilweb
