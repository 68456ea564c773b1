// The daily trait statistics of a run (NAME_traits.tsv): for every species and
// every life stage of the living (eggs, active juveniles, active adults,
// adults ready to breed), the number of animals and the mean, standard
// deviation, minimum and maximum of each of the thirteen traits, as the
// day's end-of-day animal file would give them, but computed in the run, so
// that they exist every day whatever snapshots are written. No state; one
// block of lines per day.
#pragma once

#include <string>

namespace soilweb {

class World;

class TraitStatistics {
 public:
  // Appends the lines of day: species in the world's order, each with its four
  // stages. The standard deviation is the sample one (n - 1); statistics of
  // no animal, and the deviation of one, are written NA.
  static void appendDay(const World& world, int day, std::string& out);
};

}  // namespace soilweb
