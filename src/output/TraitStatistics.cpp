#include "output/TraitStatistics.h"

#include "core/GlobalFunctions.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "output/ResultSchema.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <type_traits>
#include <vector>

namespace soilweb {

namespace {
// The stage of a living animal, by its place in the schema's stages; their number for the dead.
std::size_t stageOf(const Animal& animal) {
  const auto& stages = ResultSchema::stages();
  for (std::size_t k = 0; k < stages.size(); ++k) {
    const ResultStage& stage = stages[k];
    if (animal.getState() == stage.state && animal.getInstar() >= stage.fromInstar &&
        (stage.belowInstar == 0 || animal.getInstar() < stage.belowInstar))
      return k;
  }
  return stages.size();
}

// Running statistics of one trait (Welford's updates: steady, and no list of
// values kept, whatever the number of animals). The expressed traits' file has
// always been written from these.
struct Running {
  long long n = 0;
  double mean = 0, squares = 0;  // squares: of the deviations from the mean
  double min = 0, max = 0;
  void add(double x) {
    ++n;
    const double before = mean;
    mean += (x - before) / static_cast<double>(n);
    squares += (x - before) * (x - mean);
    min = n == 1 ? x : std::min(min, x);
    max = n == 1 ? x : std::max(max, x);
  }
  FieldValue statistic(Statistic which) const {
    switch (which) {
      case Statistic::MEAN:
        return FieldValue::realOrNA(mean, n > 0);
      case Statistic::SD:
        return FieldValue::realOrNA(n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0, n > 1);
      case Statistic::MIN:
        return FieldValue::realOrNA(min, n > 0);
      case Statistic::MAX:
        return FieldValue::realOrNA(max, n > 0);
      default:
        return FieldValue::of("NA");
    }
  }
};

// The expressed traits of one species and stage, over the day's animals.
struct ExpressedGroup : TraitGroup {
  std::array<Running, NUMBER_OF_TRAITS> traits;
  long long count() const override { return traits[0].n; }
  void add(const Animal& animal) {
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) traits[t].add(animal.getTraits()[t]);
  }
  FieldValue statistic(unsigned trait, Statistic which) const override { return traits[trait].statistic(which); }
};

// The neutral markers of one species and stage: their values' statistics, the
// mean share of heterozygous loci, and the alleles at each locus, from which
// the expected heterozygosity (gene diversity) is counted when asked for.
struct NeutralMarkers {
  Running value;
  double heterozygous = 0;
  std::vector<std::vector<std::uint32_t>> alleles;  // per locus, every copy's index in the pool
  void add(const Animal& animal) {
    const Genome* genome = animal.getNeutralGenome();
    if (genome == nullptr) return;
    value.add(animal.neutralValue());
    heterozygous += animal.neutralHeterozygosity();
    const ChromosomePair pair = (*genome)[0];
    alleles.resize(genome->getLoci().size());
    for (std::size_t k = 0; k < alleles.size(); ++k) {
      alleles[k].push_back(pair.first.getAlleles().index(k));
      alleles[k].push_back(pair.second.getAlleles().index(k));
    }
  }
  // 1 - the sum of the squared allele frequencies, the mean over loci; the
  // unbiased form would divide by 2n - 1, this one is what decays by 1/(2 Ne)
  // a generation.
  double diversity() const {
    double total = 0;
    for (std::vector<std::uint32_t> copies : alleles) {
      std::sort(copies.begin(), copies.end());
      double squares = 0;
      for (std::size_t i = 0; i < copies.size();) {
        std::size_t j = i;
        while (j < copies.size() && copies[j] == copies[i]) ++j;
        const double p = static_cast<double>(j - i) / static_cast<double>(copies.size());
        squares += p * p;
        i = j;
      }
      total += 1 - squares;
    }
    return total / static_cast<double>(alleles.size());
  }
  FieldValue statistic(Statistic which) const {
    if (which == Statistic::HET)
      return FieldValue::realOrNA(value.n > 0 ? heterozygous / static_cast<double>(value.n) : 0, value.n > 0);
    if (which == Statistic::DIVERSITY) return FieldValue::realOrNA(value.n > 0 ? diversity() : 0, value.n > 0);
    return value.statistic(which);
  }
};

// The genetic values of one species and stage, and the mean of each trait's
// heterozygosity. Sums of the deviations from the first animal's values: no
// division per value, trait by trait in step (which the compiler may do
// several at a time), and steady while the values lie close together, as
// genetic values do; the day's statistics of every living animal stay cheap.
struct GeneticGroup : TraitGroup {
  long long n = 0;
  std::array<double, NUMBER_OF_TRAITS> shift{}, sum{}, squares{}, min{}, max{}, gaps{};
  NeutralMarkers markers;
  long long count() const override { return n; }
  void add(const Animal& animal) {
    const Animal::Traits values = animal.geneticValues();
    const auto& heterozygosity = animal.heterozygosity();
    if (n++ == 0) shift = min = max = values;
    for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
      const double d = values[t] - shift[t];
      sum[t] += d;
      squares[t] += d * d;
      min[t] = std::min(min[t], values[t]);
      max[t] = std::max(max[t], values[t]);
      gaps[t] += heterozygosity[t];
    }
    markers.add(animal);
  }
  FieldValue statistic(unsigned t, Statistic which) const override {
    if (t == NEUTRAL_VALUE) return markers.statistic(which);
    const double count = static_cast<double>(n);
    switch (which) {
      case Statistic::MEAN:
        return FieldValue::realOrNA(n > 0 ? shift[t] + sum[t] / count : 0, n > 0);
      case Statistic::SD:
        return FieldValue::realOrNA(
            n > 1 ? std::sqrt(std::max(0.0, (squares[t] - sum[t] * sum[t] / count) / (count - 1))) : 0, n > 1);
      case Statistic::MIN:
        return FieldValue::realOrNA(min[t], n > 0);
      case Statistic::MAX:
        return FieldValue::realOrNA(max[t], n > 0);
      case Statistic::HET:
        return FieldValue::realOrNA(n > 0 ? gaps[t] / count : 0, n > 0);
      default:
        return FieldValue::of("NA");
    }
  }
};

// The columns of the statistics of the traits by species and stage; genetic: of the genetic
// values, each trait with its heterozygosity.
Columns<StatisticsRow> makeColumns(bool genetic) {
  Columns<StatisticsRow> columns = {
      {{"day", "integer", "day", "the day"}, [](const StatisticsRow& r) { return FieldValue::of(r.day); }},
      {{"species", "text", "", "the species' name"}, [](const StatisticsRow& r) { return FieldValue::of(*r.species); }},
      {{"stage", "text", "", "stage of the living: egg, juvenile, adult or reproducing"},
       [](const StatisticsRow& r) { return FieldValue::of(r.stage); }},
      {{"count", "integer", "animals", "number of such animals"},
       [](const StatisticsRow& r) { return FieldValue::of(r.group->count()); }}};
  const std::tuple<const char*, const char*, Statistic> statistics[] = {
      {"_mean", "mean", Statistic::MEAN},
      {"_sd", "sample standard deviation (n - 1)", Statistic::SD},
      {"_min", "minimum", Statistic::MIN},
      {"_max", "maximum", Statistic::MAX}};
  const std::string of = genetic ? " of the genetic value of " : " of ";
  for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
    const TraitInfo& trait = TRAITS[t];
    auto value = [t](Statistic which) {
      return [t, which](const StatisticsRow& r) { return r.group->statistic(t, which); };
    };
    for (const auto& [suffix, what, which] : statistics)
      columns.push_back({{std::string(trait.column) + suffix, "real", genetic ? "" : trait.unit,
                          what + of + trait.column + " over those animals (NA when there is none)"},
                         value(which)});
    if (genetic)
      columns.push_back({{std::string(trait.column) + "_het", "real", "allele sum",
                          std::string("mean over those animals of the difference between the sums of the ") +
                              trait.column + " alleles on the first and on the second chromosomes (NA when none)"},
                         value(Statistic::HET)});
  }
  if (!genetic) return columns;
  auto neutral = [](Statistic which) {
    return [which](const StatisticsRow& r) { return r.group->statistic(NEUTRAL_VALUE, which); };
  };
  for (const auto& [suffix, what, which] : statistics)
    columns.push_back({{std::string("neutral") + suffix, "real", "allele value",
                        what + std::string(" of the neutral value over those animals (NA when there is none)"),
                        NEUTRAL_MARKERS},
                       neutral(which)});
  columns.push_back({{"neutral_het", "real", "share of loci",
                      "observed heterozygosity: the mean over those animals of the share of their neutral loci "
                      "whose two alleles differ (NA when none)",
                      NEUTRAL_MARKERS},
                     neutral(Statistic::HET)});
  columns.push_back({{"neutral_he", "real", "share of loci",
                      "expected heterozygosity (gene diversity): 1 - the sum of the squared frequencies of the "
                      "neutral alleles among those animals, the mean over loci (NA when none)",
                      NEUTRAL_MARKERS},
                     neutral(Statistic::DIVERSITY)});
  return columns;
}

template <class Add>
void eachLivingAnimal(const World& world, Add add) {
  for (const auto& cell : world.getCells())
    for (unsigned state : {UNBORN, ACTIVE, REPRODUCING}) {
      for (const Prey* prey : cell->getPreys(state)) add(*prey);
      for (const Predator* predator : cell->getPredators(state)) add(*predator);
    }
}

// The lines of one day: every species with its four stages, each a Group of its animals.
template <class Group>
void appendGroups(const World& world, int day, std::string& out) {
  const auto& species = world.getSpecies();
  std::vector<std::array<Group, ResultSchema::NUMBER_OF_STAGES>> groups(species.size());
  auto indexOf = [&species](const AnimalSpecies* of) {
    std::size_t k = 0;
    while (k < species.size() && species[k].get() != of) ++k;
    return k;
  };
  eachLivingAnimal(world, [&](const Animal& animal) {
    const std::size_t stage = stageOf(animal);
    if (stage != ResultSchema::NUMBER_OF_STAGES) groups[indexOf(animal.getSpecies())][stage].add(animal);
  });
  const bool genetic = std::is_same<Group, GeneticGroup>::value;
  const Columns<StatisticsRow>& columns = TraitStatistics::columns(genetic);
  const bool markers = genetic && world.hasNeutralMarkers();
  for (std::size_t k = 0; k < species.size(); ++k)
    for (std::size_t stage = 0; stage < ResultSchema::NUMBER_OF_STAGES; ++stage)
      appendRow(out, columns,
                StatisticsRow{day, &species[k]->getScientificName(), ResultSchema::stages()[stage].name,
                              &groups[k][stage]},
                markers);
}
}  // namespace

const Columns<StatisticsRow>& TraitStatistics::columns(bool genetic) {
  static const Columns<StatisticsRow> expressed = makeColumns(false), inherited = makeColumns(true);
  return genetic ? inherited : expressed;
}

void TraitStatistics::appendDay(const World& world, int day, std::string& out) {
  appendGroups<ExpressedGroup>(world, day, out);
}

void TraitStatistics::appendGeneticDay(const World& world, int day, std::string& out) {
  appendGroups<GeneticGroup>(world, day, out);
}

}  // namespace soilweb
