// The pedigree of a run: a row for every animal when it is made (NAME_pedigree.tsv:
// id, species, egg day, parents and their generation numbers, the genetic
// values) and a row for every death (NAME_deaths.tsv: death day, id, species,
// fate),
// each animal written once, so both grow linearly in animals. Newborns wait
// as eggs until at least the next day, so the eggs not yet written at the
// start and at the end of a day are all that is new; the dead join the ends
// of their cells' final-state lists, so only each list's tail is new. Owned by
// the run's outputs for the whole run.
#pragma once

#include "model/Animal.h"
#include "output/Column.h"

#include <array>
#include <string>
#include <vector>

namespace soilweb {

class World;

// An animal as its pedigree row shows it: a founder has no parents, and its genetic values.
struct PedigreeRow {
  const Animal* animal;
  bool founder;
  Animal::Traits genetic;
};

class Pedigree {
 public:
  // The columns of the pedigree and of the table of deaths, in their order.
  static const Columns<PedigreeRow>& pedigreeColumns();
  static const Columns<Animal>& deathColumns();

  // Appends a row for every animal made since the last call, in id order.
  void appendBirths(const World& world, std::string& out);
  // Appends a row for every animal that died since the last call.
  void appendDeaths(const World& world, std::string& out);
  // A resumed run: every animal made and dead so far was written before its checkpoint.
  void resumed(const World& world);
  // The dead were removed from their lists.
  void deadPurged();

 private:
  // Per cell, the entries of each final-state list already written: prey, then predators.
  using Seen = std::array<std::size_t, 8>;
  Seen sizesOf(const World& world, std::size_t cell) const;

  int nextId = 0;  // the first animal not yet written
  std::vector<Seen> seen;
};

}  // namespace soilweb
