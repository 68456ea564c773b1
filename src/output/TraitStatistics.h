// The daily trait statistics of a run (NAME_traits.tsv) and their genetic
// twin (NAME_genetics.tsv): for every species and
// every life stage of the living (eggs, active juveniles, active adults,
// adults ready to breed), the number of animals and the mean, standard
// deviation, minimum and maximum of each of the thirteen traits, as the
// day's end-of-day animal file would give them, but computed in the run, so
// that they exist every day whatever snapshots are written. The genetic ones
// describe what the animals inherited (their genetic values, made again from
// the genome) and add each trait's heterozygosity, and, when some species
// carries neutral markers, the neutral value's statistics with its observed
// and expected heterozygosity. No state; one block of lines per day.
#pragma once

#include "core/Traits.h"
#include "output/Column.h"

#include <string>

namespace soilweb {

class World;

// A statistic of one trait over a group of animals; DIVERSITY is the neutral
// markers' expected heterozygosity.
enum class Statistic { MEAN, SD, MIN, MAX, HET, DIVERSITY };
// The neutral value's place among the traits in a statistic's request.
constexpr unsigned NEUTRAL_VALUE = NUMBER_OF_TRAITS;

// The animals of one species and stage on one day, as a row of statistics shows them.
class TraitGroup {
 public:
  virtual ~TraitGroup() = default;
  virtual long long count() const = 0;
  // The statistic of the trait, or "NA" where there are too few animals.
  virtual FieldValue statistic(unsigned trait, Statistic which) const = 0;
};

struct StatisticsRow {
  long long day;
  const std::string* species;
  const char* stage;
  const TraitGroup* group;
};

class TraitStatistics {
 public:
  // The columns of the trait statistics and of the genetic statistics, in their order.
  static const Columns<StatisticsRow>& columns(bool genetic);

  // Appends the lines of day: species in the world's order, each with its four
  // stages. The standard deviation is the sample one (n - 1); statistics of
  // no animal, and the deviation of one, are written NA.
  static void appendDay(const World& world, int day, std::string& out);
  // The same over the genetic values, each trait followed by the mean
  // difference of its two allele sums (NA when there is no animal).
  static void appendGeneticDay(const World& world, int day, std::string& out);
};

}  // namespace soilweb
