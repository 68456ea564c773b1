// The daily trait statistics of a run (NAME_traits.tsv) and their genetic
// twin (NAME_genetics.tsv): for every species and
// every life stage of the living (eggs, active juveniles, active adults,
// adults ready to breed), the number of animals and the mean, standard
// deviation, minimum and maximum of each of the thirteen traits, as the
// day's end-of-day animal file would give them, but computed in the run, so
// that they exist every day whatever snapshots are written. The genetic ones
// describe what the animals inherited (their genetic values, made again from
// the genome) and add each trait's heterozygosity. No state; one block of
// lines per day.
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
  // The same over the genetic values, each trait followed by the mean
  // difference of its two allele sums (NA when there is no animal).
  static void appendGeneticDay(const World& world, int day, std::string& out);
};

}  // namespace soilweb
