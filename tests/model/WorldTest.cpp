#include "core/Configuration.h"
#include "core/GlobalFunctions.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "output/ConsoleReport.h"
#include "output/DailySnapshots.h"
#include "io/OutputFile.h"
#include "output/RunOutputs.h"
#include "output/TraitStatistics.h"

#include "WorldFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

using namespace soilweb;

namespace pt = boost::property_tree;

namespace {

std::string constructionError(const pt::ptree& tree) {
  try {
    World world(tree);
  } catch (const Configuration::Error& e) {
    return e.what();
  }
  return "no error";
}

// The error for the valid document changed by edit.
std::string errorAfter(const std::function<void(pt::ptree&)>& edit) {
  auto tree = fixtures::validConfig();
  edit(tree);
  return constructionError(tree);
}

pt::ptree& species(pt::ptree& tree, int index) {
  auto it = tree.get_child("world.life.animals").begin();
  std::advance(it, index);
  return it->second;
}

pt::ptree arrayOf(std::initializer_list<const char*> values) {
  pt::ptree array;
  for (const char* v : values) array.push_back({"", pt::ptree(v)});
  return array;
}
}  // namespace

TEST_F(WorldTest, ReadsSoilAndRunKeysLenientlyAndDerivesTheGrowthRates) {
  auto tree = fixtures::validConfig();
  tree.put("simulation.days", "10");
  tree.put("simulation.predators", "2");
  tree.put("simulation.parallel", "2");
  tree.put("simulation.temperature", "20.5abc");
  tree.put("world.soil.rateForZeroFungi", "7");
  World world(tree);
  EXPECT_EQ(World::DAYS, 10);
  EXPECT_TRUE(World::PREDATORS);
  EXPECT_EQ(World::PARALLEL, 2);
  EXPECT_DOUBLE_EQ(Cell::TEMPERATURE, 20.5);
  EXPECT_EQ(Cell::ZERO_FUNGI, 7);
  EXPECT_DOUBLE_EQ(Cell::MIN_FUNGI, 5);   // 0.5 of capacity 10
  EXPECT_DOUBLE_EQ(Cell::MAX_FUNGI, 16);  // 0.8 of capacity 20

  auto worked = fixtures::validConfig();
  worked.put("simulation.temperature", 20);
  worked.put("world.soil.kBolzmann", 8.617e-5);
  worked.put("world.soil.bNormalisationConstant", 10);
  worked.put("world.soil.eActivationEnergy", 0.65);
  worked.put("world.soil.minCarryingCapacity", 10);
  worked.put("world.soil.rateForMinFungiBiomass", 1);
  worked.put("simulation.days", "ten");
  World other(worked);
  EXPECT_NEAR(Cell::MIN_R, 1.47176e-8, 1e-13);
  EXPECT_EQ(World::DAYS, 0);
}

TEST_F(WorldTest, ReportsTheFirstMissingKeyInReadingOrder) {
  EXPECT_EQ(errorAfter([](pt::ptree& t) {
              t.get_child("world.soil").erase("kBolzmann");
              t.get_child("simulation").erase("days");
            }),
            "missing key 'world.soil.kBolzmann'");
  EXPECT_EQ(errorAfter([](pt::ptree& t) { t.get_child("simulation").erase("days"); }), "missing key 'simulation.days'");
  EXPECT_EQ(errorAfter([](pt::ptree& t) { species(t, 1).erase("tuneDeathFromBackground"); }),
            "missing key 'world.life.animals[1].tuneDeathFromBackground'");
  EXPECT_EQ(errorAfter([](pt::ptree& t) { species(t, 0).get_child("genetics").erase("numberOfLoci"); }),
            "missing key 'world.life.animals[0].genetics.numberOfLoci'");
}

TEST_F(WorldTest, RejectsWhatNoRunCanUse) {
  struct Case {
    std::function<void(pt::ptree&)> edit;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](pt::ptree& t) { t.put("simulation.worldLength", 3); },
       "'simulation.worldLength' must be 1 or an even number of at least 4, got 3"},
      {[](pt::ptree& t) { t.put("simulation.worldLength", 2); },
       "'simulation.worldLength' must be 1 or an even number of at least 4, got 2"},
      {[](pt::ptree& t) { t.put("simulation.worldLength", 0); },
       "'simulation.worldLength' must be 1 or an even number of at least 4, got 0"},
      {[](pt::ptree& t) {
         auto& list = t.get_child("world.life.animals");
         list.erase(std::next(list.begin()));
       },
       "'world.life.animals' must list at least two species (prey, then predators), got 1"},
      {[](pt::ptree& t) { species(t, 1).put("huntingMode", "Active_hunting"); },
       "'world.life.animals[1].huntingMode' must be does_not_hunt, sit_and_wait or active_hunting, got "
       "'Active_hunting'"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorAfter(c.edit), c.message);
}

TEST_F(WorldTest, SpeciesAreAnnouncedAsWrittenAndKeptTrimmed) {
  auto tree = fixtures::validConfig();
  species(tree, 0).put("name", "  prey ");
  species(tree, 0).put("genetics.numberOfLoci", 10);
  species(tree, 0).put_child("genetics.correlationCoeficientRHOPerModule",
                             arrayOf({"0.25", "-0.25", "1", "0", "0.55"}));
  species(tree, 0).put_child("genetics.positiveModule", arrayOf({"true", "1", "1", "1", "1"}));
  tree.get_child("world.life.animals").push_back({"", species(tree, 1)});
  ConsoleReport report;
  World world(tree, true, &report);
  const auto& all = world.getSpecies();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0]->getScientificName(), "prey");
  EXPECT_EQ(all[2]->getID(), 2);
  // (1 - |rho|) x 10 loci, halves away from zero: 7.5 gives 8.
  EXPECT_EQ(all[0]->getOwnLociPerModule(), (std::vector<double>{8, 8, 0, 10, 5}));
  EXPECT_EQ(all[0]->getPositiveModule()[0], 0);  // only the integer 1 is positive
  int thirdSpeciesAnimals = 0;
  for (int i = 0; i < world.getNumberOfCells(); ++i)
    for (unsigned s = 0; s < NUMBER_OF_STATES; ++s)
      for (const Predator* p : world.getCell(i)->getPredators(s))
        thirdSpeciesAnimals += p->getSpecies() == all[2].get();
  EXPECT_EQ(thirdSpeciesAnimals, 0);
  EXPECT_NE(console.str().find("Read Animal Species. Scientific name:   prey \n"), std::string::npos);
}

TEST_F(WorldTest, BuildsASymmetricTentClosedIntoARing) {
  for (int n : {1, 4, 6}) {
    fixtures::freshProcess();
    World world(fixtures::validConfig(3, n));
    ASSERT_EQ(world.getNumberOfCells(), n);
    for (int p = 0; p < n; ++p) {
      Cell* cell = world.getCell(p);
      EXPECT_EQ(cell->getId(), p);
      EXPECT_EQ(cell->getRight(), world.getCell((p + 1) % n));
      EXPECT_EQ(cell->getLeft(), world.getCell((p - 1 + n) % n));
    }
    EXPECT_EQ(world.getCell(0)->getCapacity(), Cell::MIN_K);
    EXPECT_EQ(world.getCell(n - 1)->getCapacity(), Cell::MIN_K);
    EXPECT_EQ(world.getCell(0)->getRateOfIncrease(), Cell::MIN_R);
    if (n == 6) {
      const double expected[6] = {5, 10.5, 16, 16, 10.5, 5};
      for (int p = 0; p < 6; ++p) EXPECT_DOUBLE_EQ(world.getCell(p)->getFungi(), expected[p]);
      EXPECT_EQ(world.getCell(2)->getCapacity(), Cell::MAX_K);
    }
  }
}

TEST_F(WorldTest, FoundersAreNumberedPreyFirstAndPlacedUnborn) {
  World world(fixtures::validConfig(3, 4, 3, 2));
  std::vector<int> preyIds, predatorIds;
  for (int i = 0; i < 4; ++i) {
    for (const Prey* p : world.getCell(i)->getPreys(UNBORN)) preyIds.push_back(p->getId());
    for (const Predator* p : world.getCell(i)->getPredators(UNBORN)) predatorIds.push_back(p->getId());
  }
  std::sort(preyIds.begin(), preyIds.end());
  std::sort(predatorIds.begin(), predatorIds.end());
  EXPECT_EQ(preyIds, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(predatorIds, (std::vector<int>{3, 4}));
  EXPECT_EQ(Animal::animalID, 5);
  EXPECT_EQ(world.registryFault(), "");
}

TEST_F(WorldTest, ASingleFounderGetsFiniteTraits) {
  World world(fixtures::validConfig(3, 1, 1, 1));
  for (double trait : world.getCell(0)->getPreys(UNBORN).at(0)->getTraits()) EXPECT_TRUE(std::isfinite(trait));
}

// Whole days with simulation.parallel 1 take the threaded soil step (two
// threads a day, counted) and give the serial days' soil.
TEST_F(WorldTest, ThreadedSoilStepGivesTheSerialResult) {
  auto tree = fixtures::validConfig(3, 6, 0, 0);
  World serial(tree);
  World threaded(tree);
  const long threadsBefore = World::soilThreadsStarted;
  for (int day = 0; day < 30; ++day) {
    World::PARALLEL = 0;
    serial.runNextDay(day);
    World::PARALLEL = 1;
    threaded.runNextDay(day);
    for (int i = 0; i < 6; ++i) ASSERT_EQ(serial.getCell(i)->getFungi(), threaded.getCell(i)->getFungi());
  }
  World::PARALLEL = 0;
  EXPECT_EQ(World::soilThreadsStarted - threadsBefore, 60);
}

TEST_F(WorldTest, ChemostatTopsUpOnlyBelowTheThreshold) {
  auto tree = fixtures::validConfig(3, 4, 0, 0);
  tree.put("world.soil.increaseForChemostatEffect", 0.25);
  World atThreshold(tree);
  World below(tree);
  World reference(tree);
  Cell::thresholdForChemostatEffect = reference.getTotalBiomass();
  atThreshold.runNextDay(0);
  reference.growAndSpreadFungiAlongCells();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(atThreshold.getCell(i)->getFungi(), reference.getCell(i)->getFungi());
  Cell::thresholdForChemostatEffect = below.getTotalBiomass() + 1;
  below.runNextDay(0);
  // 5 + 0.25 * 10 before growth: more than the untouched cell reached.
  EXPECT_GT(below.getCell(0)->getFungi(), reference.getCell(0)->getFungi());
  EXPECT_LE(below.getCell(0)->getFungi(), below.getCell(0)->getCapacity());
}

TEST_F(WorldTest, ExtinctionCountsOnlyUnbornAndActiveAnimals) {
  World world(fixtures::validConfig(3, 4, 2, 2));
  EXPECT_FALSE(world.isExtinguished());
  for (int i = 0; i < 4; ++i)
    for (std::size_t k = world.getCell(i)->getPreys(UNBORN).size(); k > 0; --k) {
      Prey* p = world.getCell(i)->getPreys(UNBORN)[0];
      world.getCell(i)->removePrey(UNBORN, 0);
      p->setState(REPRODUCING);
      world.getCell(i)->addPrey(REPRODUCING, p);
    }
  EXPECT_TRUE(world.isExtinguished());

  World noFood(fixtures::validConfig(3, 4, 2, 2));
  for (int i = 0; i < 4; ++i) noFood.getCell(i)->setFungi(0);
  EXPECT_TRUE(noFood.isExtinguished());
  noFood.getCell(2)->setFungi(NAN);
  EXPECT_FALSE(noFood.isExtinguished());
}

TEST_F(WorldTest, EveryAnimalStaysFiledOnceThroughEveryPhaseOfManyDays) {
  // The registry is checked after each phase; a fault throws.
  const bool checking = World::CHECK_REGISTRY;
  World::CHECK_REGISTRY = true;
  auto tree = fixtures::validConfig(80, 6, 60, 12);
  World world(tree);
  int breeders = 0, predated = 0;
  for (int day = 0; day <= World::DAYS && !world.isExtinguished(); ++day) {
    ASSERT_NO_THROW(world.runNextDay(day));
    for (int i = 0; i < 6; ++i) {
      breeders += world.getCell(i)->getNumberOfReproducingPreys();
      predated += world.getCell(i)->getNumberOfPredatedPreys();
    }
    if (day % 7 == 0) world.purgeDeadAnimalsAlongCells();
    ASSERT_EQ(world.registryFault(), "");
  }
  World::CHECK_REGISTRY = checking;
  EXPECT_GT(predated, 0);
  EXPECT_GT(breeders, 0);
}

// ---- What animals inherit, temperature over time, runs past an extinction -------

namespace {
template <class Visit>
void everyAnimal(const World& world, Visit visit) {
  for (const auto& cell : world.getCells())
    for (unsigned state = 0; state < NUMBER_OF_STATES; ++state) {
      for (const Prey* prey : cell->getPreys(state)) visit(*prey);
      for (const Predator* predator : cell->getPredators(state)) visit(*predator);
    }
}

pt::ptree seriesOf(const std::vector<std::pair<int, double>>& points) {
  pt::ptree series;
  for (const auto& [day, degrees] : points) {
    pt::ptree pair, d, t;
    d.put_value(day);
    t.put_value(degrees);
    pair.push_back({"", d});
    pair.push_back({"", t});
    series.push_back({"", pair});
  }
  return series;
}

// Counts the steps of each day.
struct PhaseCounter : DayObserver {
  int phases = 0;
  void phaseEnded() override { ++phases; }
};
}  // namespace

// The genetic values made again from the genome are the values the trait
// pipeline mapped at birth: every egg (founder or offspring) still holds them
// as the adjustments at birth left them, and every animal keeps the traits
// that never change and its raw development time.
TEST_F(WorldTest, GeneticValuesAreTheTraitsAsMappedAtBirth) {
  World world(fixtures::validConfig(30, 4, 40, 8));
  for (int day = 0; day <= 30; ++day) world.runNextDay(day);
  int eggsLaid = 0, animals = 0;
  everyAnimal(world, [&](const Animal& animal) {
    ++animals;
    const Animal::Traits g = animal.geneticValues();
    const Animal::Traits& t = animal.getTraits();
    EXPECT_EQ(animal.getPhenoIni(), g[PHENO]);
    for (unsigned fixed : {GROWTH, MET_RATE, VOR_Q10, SPD_Q10, SRCH_Q10, ACTE_MET}) EXPECT_EQ(t[fixed], g[fixed]);
    if (animal.getState() != UNBORN) return;
    eggsLaid += animal.getDateEgg() > 0;
    for (unsigned kept : {BODY_SIZE, ASSIM, VORACITY, SEARCH_AREA}) EXPECT_EQ(t[kept], g[kept]) << kept;
    EXPECT_EQ(t[ENERGY_TANK], g[ENERGY_TANK] * g[BODY_SIZE]);
    EXPECT_EQ(t[SPEED],
              std::pow(g[BODY_SIZE] + t[ENERGY_TANK], g[SPEED]) * linearInterpolate(g[SPEED], 0.05, 0.35, 1, 7));
  });
  EXPECT_GT(eggsLaid, 0) << "no offspring: the test shows nothing of inheritance";

  // The day's genetic statistics are those of these values: the prey's eggs.
  std::string lines;
  TraitStatistics::appendGeneticDay(world, 30, lines);
  long count = 0;
  double energy = 0, heterozygosity = 0;
  for (const auto& cell : world.getCells())
    for (const Prey* prey : cell->getPreys(UNBORN)) {
      energy += prey->geneticValues()[ENERGY_TANK];
      heterozygosity += prey->heterozygosity()[ENERGY_TANK];
      ++count;
    }
  ASSERT_GT(count, 0);
  std::istringstream row(lines.substr(0, lines.find('\n')));
  std::vector<std::string> fields;
  for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
  ASSERT_EQ(fields.size(), 4u + 13 * 5);
  EXPECT_EQ(fields[2], "egg");
  EXPECT_EQ(std::stol(fields[3]), count);
  EXPECT_NEAR(std::stod(fields[4]), energy / static_cast<double>(count), 1e-5);          // energy_mean
  EXPECT_NEAR(std::stod(fields[8]), heterozygosity / static_cast<double>(count), 1e-5);  // energy_het
}

// A warming ramp sets each day's temperature before the soil grows, and the
// day's growth rate follows the law at that temperature.
TEST_F(WorldTest, ATemperatureSeriesSetsEachDaysTemperatureForTheSoil) {
  pt::ptree config = fixtures::validConfig(14, 4, 0, 0);
  config.put_child("simulation.temperatureSeries", seriesOf({{2, 10}, {12, 30}}));
  config.put("world.soil.thresholdForChemostatEffect", 0);
  config.put("simulation.stopWhen", "never");
  World world(config);
  for (int day = 0; day <= 14; ++day) {
    const double biomass = world.getCell(0)->getFungi();
    world.runNextDay(day);
    const double T = day <= 2 ? 10 : day >= 12 ? 30 : 10 + 2.0 * (day - 2);
    EXPECT_DOUBLE_EQ(Cell::TEMPERATURE, T) << day;
    EXPECT_DOUBLE_EQ(world.temperatureOf(day), T);
    const double a = std::exp(Cell::B_NORMALISATION - Cell::E_ACTIVATION_ENERGY / (Cell::K_BOLZMANN * (T + 273.15)));
    EXPECT_DOUBLE_EQ(world.getCell(0)->getRateOfIncrease(), a / std::pow(1000 * biomass, 0.25)) << day;
  }
}

TEST_F(WorldTest, ATemperatureSeriesMustBePairsOfIncreasingDays) {
  const std::pair<std::string, std::string> cases[] = {
      {"[[0, 10], [0, 12]]", "'simulation.temperatureSeries[1]' has day 0 after day 0; the days must increase"},
      {"[[0.5, 10]]", "'simulation.temperatureSeries[0]' must start with a whole day, got '0.5'"},
      {"[[0, \"warm\"]]", "'simulation.temperatureSeries[0]' must end with degrees Celsius, got 'warm'"},
      {"[[0, 10, 3]]",
       "'simulation.temperatureSeries[0]' must be a list of [day, degrees] pairs, got an element of 3 values"},
      {"[]", "'simulation.temperatureSeries' must be a list of [day, degrees] pairs, got an empty list"},
      {"15", "'simulation.temperatureSeries' must be a list of [day, degrees] pairs, got '15'"},
  };
  for (const auto& [series, message] : cases) {
    std::string text = fixtures::validConfigText();
    text.replace(text.find("\"simulation\": {") + 15, 0, "\"temperatureSeries\": " + series + ",");
    try {
      World world(fixtures::parse(text));
      ADD_FAILURE() << series << " was accepted";
    } catch (const Configuration::Error& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

// With stopWhen "never" a world without predators is not over: its days run
// every phase, as they did while predators lived; "any" ends it, "resource"
// only once no animal at all is left.
TEST_F(WorldTest, StopWhenDecidesWhichExtinctionEndsTheRun) {
  pt::ptree config = fixtures::validConfig(5, 4, 20, 0);
  for (const auto& [rule, ends] : {std::pair{"any", true}, std::pair{"resource", false}, std::pair{"never", false}}) {
    config.put("simulation.stopWhen", rule);
    World world(config);
    EXPECT_TRUE(world.whatIsGone().predators);
    EXPECT_EQ(world.isExtinguished(), ends) << rule;
    if (ends) {
      EXPECT_EQ(world.whatDiedOut(), "the predators");
    }
    PhaseCounter counter;
    world.observe(&counter);
    world.runNextDay(0);
    EXPECT_EQ(counter.phases, 9) << "the soil's step and the eight animal phases";
  }
}
