// A species' parameters: its entry of run_params read and checked (every message names the full
// key), its trait tables and the ranges its genetic values are mapped onto.
#include "Fixtures.h"
#include "core/Configuration.h"
#include "model/AnimalSpecies.h"
#include "model/World.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>

#include <functional>
#include <limits>

using namespace soilweb;

namespace pt = boost::property_tree;

namespace {
// The error reading the first species' valid entry changed by edit.
std::string errorAfter(const std::function<void(pt::ptree&)>& edit) {
  pt::ptree entry = fixtures::validConfig().get_child("world.life.animals").begin()->second;
  edit(entry);
  try {
    AnimalSpecies::read(Configuration(entry, "world.life.animals[0]"), World::MEMORY_BUDGET);
  } catch (const Configuration::Error& e) {
    return e.what();
  }
  return "no error";
}

pt::ptree arrayOf(std::initializer_list<const char*> values) {
  pt::ptree array;
  for (const char* v : values) array.push_back({"", pt::ptree(v)});
  return array;
}
}  // namespace

TEST(AnimalSpecies, RefusesAnEntryNoGenomeOrLifeCanBeBuiltFrom) {
  struct Case {
    std::function<void(pt::ptree&)> edit;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](pt::ptree& e) { e.put("genetics.numberOfTraits", 12); },
       "'world.life.animals[0].genetics.numberOfTraits' must be 13, got 12"},
      {[](pt::ptree& e) { e.put("genetics.numberOfTraitsPerModule", 0); },
       "'world.life.animals[0].genetics.numberOfTraitsPerModule' must make at most 5 modules of the 13 traits (at "
       "least 3 per module), got 0"},
      {[](pt::ptree& e) { e.put("genetics.numberOfTraitsPerModule", 2); },
       "'world.life.animals[0].genetics.numberOfTraitsPerModule' must make at most 5 modules of the 13 traits (at "
       "least 3 per module), got 2"},
      {[](pt::ptree& e) {
         e.put_child("genetics.positiveModule", arrayOf({"1", "1", "1", "1"}));
       },
       "'world.life.animals[0].genetics.positiveModule' must have 5 elements, got 4"},
      {[](pt::ptree& e) {
         e.put("genetics.numberOfTraitsPerModule", 7);
         e.put_child("genetics.correlationCoeficientRHOPerModule", arrayOf({"0", "0", "0", "0", "0", "0"}));
       },
       "'world.life.animals[0].genetics.correlationCoeficientRHOPerModule' must have between 2 and 5 elements, got 6"},
      {[](pt::ptree& e) { e.put_child("genetics.restrictPerTrait", arrayOf({"0.2"})); },
       "'world.life.animals[0].genetics.restrictPerTrait' must have 13 elements, got 1"},
      {[](pt::ptree& e) { e.put("genetics.randomnessMode", 2); },
       "'world.life.animals[0].genetics.randomnessMode' must be 0 or 1, got 2"},
      {[](pt::ptree& e) { e.put("genetics.numberOfAlleles", 0); },
       "'world.life.animals[0].genetics.numberOfAlleles' must be at least 1, got 0"},
      {[](pt::ptree& e) { e.put("maxTraitsRanges.Growth", 1); },
       "'world.life.animals[0].maxTraitsRanges' names an unknown trait 'Growth' (known: energy_tank, growth, pheno, "
       "body_size, assim, voracity, speed, search_area, met_rate, vorQ10, spdQ10, srchQ10, actE_met)"},
      {[](pt::ptree& e) {
         pt::ptree object;
         object.put("a", 1);
         e.put_child("genetics.positiveModule", object);
       },
       "'world.life.animals[0].genetics.positiveModule' must be a JSON array (it has a member named 'a')"},
      {[](pt::ptree& e) { e.put("initialPopulation", "-3"); },
       "'world.life.animals[0].initialPopulation' must be a whole number of at least 0, got '-3'"},
      {[](pt::ptree& e) { e.put("maxReproductionEvents", "2.5"); },
       "'world.life.animals[0].maxReproductionEvents' must be a whole number, got '2.5'"},
      {[](pt::ptree& e) { e.put("A", "one"); }, "'world.life.animals[0].A' must be a number, got 'one'"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorAfter(c.edit), c.message);
  EXPECT_EQ(errorAfter([](pt::ptree&) {}), "no error");
}

TEST(AnimalSpecies, TraitTablesAndRestrictedRanges) {
  auto s = fixtures::makeSpecies();
  EXPECT_TRUE(s->getMinTraitsRanges().empty());
  EXPECT_TRUE(s->isTraitName("actE_met"));
  EXPECT_FALSE(s->isTraitName("Growth"));
  s->addTraitMin("growth", 0.5);
  EXPECT_EQ(s->getMinTraitsRanges()[1], 0.5);
  EXPECT_EQ(s->getMinObservedTraits()[1], std::numeric_limits<double>::max());
  s->addTraitMax("pheno", 20);
  EXPECT_EQ(s->getMaxObservedTraits()[2], 0);

  auto restricted =
      std::make_unique<AnimalSpecies>("r", 13, 2, 2, std::vector<int>(5, 1),
                                      std::vector<double>{0.2, 0, 1, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2},
                                      std::vector<double>(5, 0), std::vector<double>(5, 2), 3, 1);
  for (const char* trait : {"energy_tank", "growth", "pheno"}) restricted->addTrait(trait, 0, 10, 0, 0);
  restricted->computeRestrictedTraits();
  EXPECT_DOUBLE_EQ(restricted->getMinRestrictedTraits()[0], 1);
  EXPECT_DOUBLE_EQ(restricted->getMaxRestrictedTraits()[0], 9);
  EXPECT_DOUBLE_EQ(restricted->getMinRestrictedTraits()[1], 0);
  EXPECT_DOUBLE_EQ(restricted->getMaxRestrictedTraits()[1], 10);
  EXPECT_DOUBLE_EQ(restricted->getMinRestrictedTraits()[2], 5);
  EXPECT_DOUBLE_EQ(restricted->getMaxRestrictedTraits()[2], 5);
  // A trait with no configured range gets the entry 0.
  EXPECT_EQ(restricted->getMinTraitsRanges().count(12), 1u);
  EXPECT_EQ(restricted->getMinRestrictedTraits()[12], 0);
}
