// The line of one animal in the daily animal files, and the text an animal
// keeps so that its lines are built fast: the fields that never change after
// birth are formatted once per animal, and a dead animal's whole line once,
// since its record no longer changes. The class holds no state of its own; the
// kept text lives in each animal (AnimalSnapshot::Text) and goes with it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class Animal;

class AnimalSnapshot {
 public:
  // What an animal keeps for its lines.
  struct Text {
    std::string fixed;                    // the fields fixed at birth, in five runs
    std::array<std::uint32_t, 6> cuts{};  // where the runs start and end in fixed
    std::string frozen;                   // a dead animal's whole line, once written
    // The fields fixed at birth have changed (they are final only once the
    // animal's traits are adjusted at birth).
    void forget() { fixed.clear(); }
  };

  // The header line of an animal file: the columns appendLine writes.
  static const char* const HEADER;

  // Appends animal's line, every field followed by a tab, and a newline.
  static void appendLine(const Animal& animal, std::string& out);

 private:
  static void formatFixedFields(const Animal& animal);
};
