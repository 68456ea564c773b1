// Small hand-made worlds for the unit tests: a species with neutral parameters,
// a ring of cells, animals with chosen traits, and a valid run_params tree.
#pragma once

#include "core/GlobalFunctions.h"
#include "model/Animal.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/RunState.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace soilweb::fixtures {

// A species whose standardised scores are all 0 for an animal with traits 0
// (means 0, sds 1), with one module of 13 traits unless told otherwise.
inline std::unique_ptr<AnimalSpecies> makeSpecies(const std::string& name = "prey", unsigned loci = 2,
                                                  unsigned perModule = 13, std::vector<double> own = {2, 2, 2, 2, 2},
                                                  std::vector<int> positive = {1, 1, 1, 1, 1}) {
  auto s = std::make_unique<AnimalSpecies>(name, 13, loci, 4, positive, std::vector<double>(13, 0.0),
                                           std::vector<double>(5, 0.0), own, perModule, 1);
#define SOILWEB_NEUTRAL(type, field, Name) s->set##Name(std::string(#field).rfind("sd", 0) == 0 ? 1 : 0);
  SOILWEB_SPECIES_PARAMETERS(SOILWEB_NEUTRAL)
#undef SOILWEB_NEUTRAL
  s->setA(1);
  s->setB(3);
  s->setMaxReproductionEvents(2);
  s->setMaxEncountersT(1);
  return s;
}

// A ring of n cells, each holding fungi out of capacity.
struct Ring {
  std::vector<std::unique_ptr<Cell>> cells;
  explicit Ring(int n, double fungi = 10, double capacity = 20) {
    for (int i = 0; i < n; ++i) cells.push_back(std::make_unique<Cell>(i, fungi, 0.1, capacity));
    for (int i = 0; i < n; ++i) {
      cells[i]->setRight(cells[(i + 1) % n].get());
      cells[i]->setLeft(cells[(i - 1 + n) % n].get());
    }
  }
  Cell* operator[](int i) const { return cells.at(i).get(); }
};

// Pools of the given values per locus, kept for the whole test process (genomes point to them).
inline const std::vector<Locus>& poolsOf(const std::vector<std::vector<double>>& values) {
  static std::deque<std::vector<Locus>> kept;
  std::vector<Locus> loci;
  for (const auto& pool : values) loci.emplace_back(pool);
  return kept.emplace_back(std::move(loci));
}

// A genome of `traits` pairs given per trait: first[t] and second[t] hold each
// chromosome's alleles, locus by locus.
inline std::unique_ptr<Genome> genomeOf(const std::vector<std::vector<double>>& first,
                                        const std::vector<std::vector<double>>& second) {
  // Locus k's pool holds every value any chromosome carries there.
  std::vector<std::vector<double>> values(first.at(0).size());
  for (const auto* side : {&first, &second})
    for (const auto& chromosome : *side)
      for (std::size_t k = 0; k < chromosome.size(); ++k) values[k].push_back(chromosome[k]);
  auto genome = Genome::make(first.size(), poolsOf(values));
  std::vector<std::uint32_t> next(values.size(), 0);
  for (int side = 0; side < 2; ++side)
    for (std::size_t t = 0; t < first.size(); ++t)
      for (std::size_t k = 0; k < values.size(); ++k) genome->setAllele(t, side, k, next[k]++);
  return genome;
}

// Genomes over one set of pools, as the animals of one species are: genome i
// has `traits` pairs, each the chromosomes pairs[i].first and pairs[i].second.
inline std::vector<std::unique_ptr<Genome>> genomesOf(
    std::size_t traits, const std::vector<std::pair<std::vector<double>, std::vector<double>>>& pairs) {
  std::vector<std::vector<double>> values(pairs.at(0).first.size());
  for (const auto& [first, second] : pairs)
    for (std::size_t k = 0; k < values.size(); ++k) {
      values[k].push_back(first.at(k));
      values[k].push_back(second.at(k));
    }
  const auto& loci = poolsOf(values);
  std::vector<std::unique_ptr<Genome>> genomes;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    auto genome = Genome::make(traits, loci);
    for (std::size_t t = 0; t < traits; ++t)
      for (int side = 0; side < 2; ++side)
        for (std::size_t k = 0; k < values.size(); ++k)
          genome->setAllele(t, side, k, static_cast<std::uint32_t>(2 * i + side));
    genomes.push_back(std::move(genome));
  }
  return genomes;
}

// A genome of `traits` pairs, each the chromosomes first and second.
inline std::unique_ptr<Genome> repeatedGenome(std::size_t traits, const std::vector<double>& first,
                                              const std::vector<double>& second) {
  return std::move(genomesOf(traits, {{first, second}})[0]);
}

// A genome whose every allele is value.
inline std::unique_ptr<Genome> uniformGenome(unsigned loci, double value = 0.5) {
  return repeatedGenome(13, std::vector<double>(loci, value), std::vector<double>(loci, value));
}

// An animal filed in cell under state, with all traits 0 but those given.
template <class Kind>
Kind* addAnimal(Cell* cell, AnimalSpecies* species, unsigned state, int id,
                std::vector<std::pair<unsigned, double>> traits = {}) {
  Kind* animal = new Kind(id, uniformGenome(species->getNumberOfLoci()), cell, 0, 0, 0, 0, 0, species);
  animal->setState(static_cast<int>(state));
  for (auto [index, value] : traits) animal->setTrait(index, value);
  if constexpr (std::is_same_v<Kind, Prey>)
    cell->addPrey(state, animal);
  else
    cell->addPredator(state, animal);
  return animal;
}

// Draws that randomUniform() will return after seeding with seed.
inline std::vector<double> drawsAfter(long seed, int n) {
  seedRandom(seed);
  std::vector<double> draws;
  for (int i = 0; i < n; ++i) draws.push_back(randomUniform());
  seedRandom(seed);
  return draws;
}

// A small valid run_params document.
inline std::string validConfigText(int days = 3, int worldLength = 4, int preys = 20, int predators = 4) {
  std::ostringstream species;
  auto entry = [&](const char* name, int population, const char* mode) {
    species << R"({"name": ")" << name << R"(", "initialPopulation": )" << population << R"(, "huntingMode": ")" << mode
            << R"(",
      "genetics": {"randomnessMode": 1, "numberOfLoci": 4, "numberOfAlleles": 4, "numberOfTraits": 13,
        "numberOfTraitsPerModule": 3, "positiveModule": [1, 0, 1, 1, 1],
        "restrictPerTrait": [0.2,0.2,0.2,0.2,0.2,0.2,0.2,0.2,0.2,0.2,0.2,0.2,0.2],
        "correlationCoeficientRHOPerModule": [0.25, 0.5, 0.25, 0.25, 0.25]},
      "minTraitsRanges": {"energy_tank": 0.3, "growth": 1.1, "pheno": 1, "body_size": 0.15, "assim": 0.6,
        "voracity": 0.2, "speed": 0.05, "search_area": 0.1, "met_rate": 0.7, "vorQ10": 1.5, "spdQ10": 1.5,
        "srchQ10": 1.5, "actE_met": 0.55},
      "maxTraitsRanges": {"energy_tank": 0.5, "growth": 1.2, "pheno": 3, "body_size": 0.3, "assim": 0.8,
        "voracity": 0.5, "speed": 0.35, "search_area": 0.5, "met_rate": 0.8, "vorQ10": 2.5, "spdQ10": 2.5,
        "srchQ10": 2.5, "actE_met": 0.65},
      "minTraitLimits": {"voracity": 0.2, "speed": 0.05, "search_area": 0.1},
      "maxTraitLimits": {"voracity": 0.5, "speed": 0.35, "search_area": 0.5},
      "Q10phenology": 0.8, "Q10digestion": 1, "deadlyTank": 0.1, "assignedForMetab": 0.95, "minCondition": 0.4,
      "maxEncountersT": 5, "maxSearchAreaT": 10, "meanSizeHunted": 0.3, "sdSizeHunted": 0.1,
      "meanVorHunted": 0.06, "sdVorHunted": 0.03, "meanSpdHunted": 1.5, "sdSpdHunted": 1,
      "meanSizeHunter": 0.3, "sdSizeHunter": 0.1, "meanVorHunter": 0.06, "sdVorHunter": 0.03,
      "meanSpdHunter": 1.5, "sdSpdHunter": 1, "meanSearchAreaHunter": 3, "sdSearchAreaHunter": 2,
      "meanSizeXSize": 0.2, "sdSizeXSize": 0.1, "meanVorXVor": 0.01, "sdVorXVor": 0.01,
      "meanSpdRatio": 1.5, "sdSpdRatio": 1, "meanSizeRatio": 1, "sdSizeRatio": 0.5, "A": 1, "B": 3,
      "maxVoracityT": 1, "keepForSurv": 2, "maxReproductionEvents": 3, "assignedForReproduction": 0.9,
      "forControlingDryBodyMass": 0.3, "tuneDeathFromBackground": 0.01})";
  };
  entry("prey", preys, "does_not_hunt");
  species << ",\n";
  entry("predator", predators, "active_hunting");
  std::ostringstream text;
  text << R"({"simulation": {"seed": 7, "days": )" << days << R"(, "predators": 1, "parallel": 0, "worldLength": )"
       << worldLength << R"(,
    "temperature": 20, "minTemperature": 10, "maxTemperature": 30, "purgeDeadAnimals": 0,
    "outputs": {"simulationName": "run1", "summaryFilename": "summary.txt",
      "encountersMatrixFilename": "encounters.txt", "predationsMatrixFilename": "predations.txt",
      "nodesMatrixFilename": "nodes.txt"}},
  "world": {"soil": {"minCarryingCapacity": 10, "maxCarryingCapacity": 20, "rateForMinFungiBiomass": 0.5,
    "rateForMaxFungiBiomass": 0.8, "rateForZeroFungi": 1000, "bNormalisationConstant": 26.8,
    "eActivationEnergy": 0.65, "kBolzmann": 8.617e-5, "increaseForChemostatEffect": 0.1,
    "thresholdForChemostatEffect": 20},
   "life": {"animals": [)"
       << species.str() << "]}}}";
  return text.str();
}

inline boost::property_tree::ptree parse(const std::string& text) {
  std::istringstream in(text);
  boost::property_tree::ptree tree;
  boost::property_tree::read_json(in, tree);
  return tree;
}

inline boost::property_tree::ptree validConfig(int days = 3, int worldLength = 4, int preys = 20, int predators = 4) {
  return parse(validConfigText(days, worldLength, preys, predators));
}

// A fresh working folder with the output tree of the run named run1; the
// previous working folder is restored and the scratch removed on destruction.
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/soilweb-test-XXXXXX";
    path = mkdtemp(pattern);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(path);
    for (const char* sub : {"run1/outputs", "run1/animals_each_day_start", "run1/animals_each_day_end", "run1/cells"})
      std::filesystem::create_directories(sub);
  }
  ~ScratchFolder() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(path);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

 private:
  std::filesystem::path path, previous;
};

// What standard error receives while it lives, kept in sink instead of printed.
struct SilencedErrors {
  SilencedErrors() : saved(std::cerr.rdbuf(sink.rdbuf())) {}
  ~SilencedErrors() { std::cerr.rdbuf(saved); }
  SilencedErrors(const SilencedErrors&) = delete;
  SilencedErrors& operator=(const SilencedErrors&) = delete;
  std::ostringstream sink;
  std::streambuf* saved;
};

// The whole text of the file at path ("" when there is none).
inline std::string contentOf(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Resets the process-wide counters so that a test sees a fresh process.
inline void freshProcess() { RunState::resetCounters(); }

}  // namespace soilweb::fixtures
