// The lines of the daily animal and cell files. An animal's line is built fast
// from text kept with the animal (Animal::KeptLine): the fields that never
// change after birth are formatted once per animal, and a dead animal's whole
// line once, since its record no longer changes. The class holds no state of
// its own.
#pragma once

#include "Animal.h"

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class Cell;

class AnimalSnapshot {
 public:
  // The header line of an animal file: the columns appendLine writes.
  static const std::string HEADER;

  // Appends animal's line, every field followed by a tab, and a newline. With
  // keep false, nothing new is kept with the animal (the same line, built
  // without its memory: for runs too large to hold their files).
  static void appendLine(const Animal& animal, std::string& out, bool keep = true);

  // Appends the lines of a cell's animals, by state, prey before predators.
  // deadLines, when given, receives where the lines of dead animals lie.
  using TextRanges = std::vector<std::pair<std::size_t, std::size_t>>;
  static void appendAnimals(const Cell& cell, std::string& out, TextRanges* deadLines = nullptr, bool keep = true);
  // Appends the cell's line of the cell file: id, resource, active prey and predators.
  static void appendCell(const Cell& cell, std::string& out);

 private:
  static void formatFixedFields(const Animal& animal, Animal::KeptLine& into);
};

// One animal's line without its newline.
std::ostream& operator<<(std::ostream& out, const Animal& animal);
