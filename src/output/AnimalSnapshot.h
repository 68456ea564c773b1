// The lines of the daily animal and cell files, and their columns. An
// animal's line is built fast from the text kept for it (KeptLines): the
// columns whose value never changes once the animal is made are formatted once
// per animal, and a dead animal's whole line once, since its record no longer
// changes. Which columns those are comes from the column table (and, for the
// traits, from the trait table). The class holds no state of its own; its
// tables are constants made on first use.
#pragma once

#include "model/Animal.h"
#include "output/Column.h"
#include "output/KeptLines.h"

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace soilweb {

class Cell;

class AnimalSnapshot {
 public:
  // The columns of the animal files and of the cell files, in their order.
  static const Columns<Animal>& animalColumns();
  static const Columns<Cell>& cellColumns();

  // Appends animal's line, every field followed by a tab, and a newline, from
  // and into the text kept for it; without kept, the same line is built
  // afresh (for runs too large to hold their files).
  static void appendLine(const Animal& animal, std::string& out, KeptLines* kept = nullptr);

  // Where the line of a dead animal lies in a text, and the day it died.
  struct DeadLine {
    std::size_t from, to;
    int dateDeath;
  };
  using DeadLines = std::vector<DeadLine>;
  // Appends the lines of a cell's animals, by state, prey before predators.
  // deadLines, when given, receives where the lines of dead animals lie.
  static void appendAnimals(const Cell& cell, std::string& out, DeadLines* deadLines = nullptr,
                            KeptLines* kept = nullptr);
  // Appends the cell's line of the cell file: id, resource, active prey and predators.
  static void appendCell(const Cell& cell, std::string& out);

 private:
  static void formatFixedFields(const Animal& animal, std::string& into, KeptLines::Cuts& cuts);
};

// One animal's line without its newline.
std::ostream& operator<<(std::ostream& out, const Animal& animal);

}  // namespace soilweb
