// The lines of the daily animal and cell files. An animal's line is built fast
// from the text kept for it (KeptLines): the fields that never change after
// birth are formatted once per animal, and a dead animal's whole line once,
// since its record no longer changes. The class holds no state of its own.
#pragma once

#include "model/Animal.h"
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
  // Appends animal's line, every field followed by a tab, and a newline, from
  // and into the text kept for it; without kept, the same line is built
  // afresh (for runs too large to hold their files).
  static void appendLine(const Animal& animal, std::string& out, KeptLines* kept = nullptr);

  // Appends the lines of a cell's animals, by state, prey before predators.
  // deadLines, when given, receives where the lines of dead animals lie.
  using TextRanges = std::vector<std::pair<std::size_t, std::size_t>>;
  static void appendAnimals(const Cell& cell, std::string& out, TextRanges* deadLines = nullptr,
                            KeptLines* kept = nullptr);
  // Appends the cell's line of the cell file: id, resource, active prey and predators.
  static void appendCell(const Cell& cell, std::string& out);

 private:
  static void formatFixedFields(const Animal& animal, std::string& into, KeptLines::Cuts& cuts);
};

// One animal's line without its newline.
std::ostream& operator<<(std::ostream& out, const Animal& animal);

}  // namespace soilweb
