// What a run is told to write: the layouts' defaults, the output keys, the list of result kinds
// and their contradictions, and the files a run may write in its folder.
#include "Fixtures.h"
#include "core/Configuration.h"
#include "model/World.h"
#include "run/RunSettings.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>

#include <string>

using namespace soilweb;

namespace {
// The settings of the valid configuration with output keys set (each "key": JSON value).
RunSettings settingsWith(const std::vector<std::pair<std::string, std::string>>& outputs, int purge = 0) {
  boost::property_tree::ptree tree = fixtures::validConfig();
  tree.put("simulation.purgeDeadAnimals", purge);
  for (const auto& [key, value] : outputs)
    tree.put_child("simulation.outputs." + key, Configuration::parse("{\"v\": " + value + "}").get_child("v"));
  return RunSettings::read(Configuration(tree), tree);
}

std::string errorWith(const std::vector<std::pair<std::string, std::string>>& outputs, int purge = 0) {
  try {
    settingsWith(outputs, purge);
  } catch (const Configuration::Error& e) {
    return e.what();
  }
  return "";
}

// What is written, in one word per kind.
std::string written(const RunSettings& s) {
  std::string kinds;
  for (const auto& [on, kind] : {std::pair{s.traitStatistics, "traits"}, std::pair{s.geneticStatistics, "genetics"},
                                 std::pair{s.pedigree, "pedigree"}, std::pair{s.snapshots.animalsStart, "start"},
                                 std::pair{s.snapshots.animalsEnd, "end"}, std::pair{s.snapshots.cells, "cells"},
                                 std::pair{!s.foodWebFiles().empty(), "foodweb"}})
    if (on) kinds += (kinds.empty() ? "" : " ") + std::string(kind);
  return kinds;
}
}  // namespace

TEST(RunSettings, TheListOfKindsWritesExactlyWhatItNamesWithTheOtherKeysAsDefaults) {
  fixtures::freshProcess();
  EXPECT_EQ(written(settingsWith({})), "start end cells foodweb");
  EXPECT_EQ(written(settingsWith({{"layout", "\"tables\""}})), "traits genetics pedigree start end cells foodweb");
  EXPECT_EQ(written(settingsWith({}, 1)), "start end cells");
  EXPECT_EQ(written(settingsWith({{"files", "[\"summary\"]"}})), "");
  EXPECT_EQ(written(settingsWith({{"files", "[\"summary\", \"traits\", \"cells\", \"foodweb\"]"}})),
            "traits cells foodweb");
  // "snapshots" keeps the kinds the snapshots key chooses.
  EXPECT_EQ(written(settingsWith({{"files", "[\"summary\", \"snapshots\"]"}, {"snapshots", "[\"cells\"]"}})), "cells");
  EXPECT_EQ(written(settingsWith({{"foodWeb", "\"none\""}})), "start end cells");
  // A key that agrees with the list is no contradiction.
  EXPECT_EQ(written(settingsWith({{"files", "[\"summary\", \"genetics\"]"}, {"geneticStatistics", "\"true\""},
                                  {"traitStatistics", "\"false\""}})),
            "genetics");
  // The matrices' names are needed only when the food web is written.
  boost::property_tree::ptree tree = fixtures::validConfig();
  tree.get_child("simulation.outputs").erase("nodesMatrixFilename");
  tree.put_child("simulation.outputs.files", Configuration::parse("{\"v\": [\"summary\"]}").get_child("v"));
  EXPECT_NO_THROW(RunSettings::read(Configuration(tree), tree));
}

TEST(RunSettings, AKindTheListAndAnotherKeyDisagreeOnIsRefused) {
  fixtures::freshProcess();
  EXPECT_EQ(errorWith({{"files", "[\"summary\", \"pedigree\"]"}, {"pedigree", "\"false\""}}),
            "'simulation.outputs.files' lists pedigree, but 'simulation.outputs.pedigree' leaves it out; change one "
            "of them");
  EXPECT_EQ(errorWith({{"files", "[\"summary\"]"}, {"foodWeb", "\"edges\""}}),
            "'simulation.outputs.files' leaves out foodweb, but 'simulation.outputs.foodWeb' asks for it; change one "
            "of them");
  EXPECT_EQ(errorWith({{"files", "[\"summary\", \"cells\", \"cells\"]"}}), "");
  EXPECT_EQ(errorWith({{"files", "[[\"summary\"]]"}}),
            "'simulation.outputs.files' must list only summary, traits, genetics, pedigree, snapshots, animals_start, "
            "animals_end, cells, foodweb, got ''");
}

// A run writes only the files it is told to (and so --overwrite replaces only those).
TEST(RunSettings, ARunMayWriteOnlyItsOwnFiles) {
  fixtures::freshProcess();
  World::DAYS = 3;
  const RunSettings lean = settingsWith({{"layout", "\"tables\""}, {"files", "[\"summary\", \"genetics\"]"}});
  EXPECT_TRUE(lean.mayWrite("outputs/run1_summary.txt"));
  EXPECT_TRUE(lean.mayWrite("outputs/run1_genetics.tsv"));
  EXPECT_TRUE(lean.mayWrite("outputs/run1_run_info.json.partial"));
  EXPECT_TRUE(lean.mayWrite("checkpoint/run1_checkpoint.bin"));
  EXPECT_FALSE(lean.mayWrite("outputs/run1_traits.tsv"));
  EXPECT_FALSE(lean.mayWrite("outputs/run1_animals_end.tsv"));
  EXPECT_FALSE(lean.mayWrite("outputs/run1_encounters.txt"));

  const RunSettings daily = settingsWith({{"compression", "\"gzip\""}});
  EXPECT_TRUE(daily.mayWrite("animals_each_day_start/run1_animals_day_3.txt.gz"));
  EXPECT_FALSE(daily.mayWrite("animals_each_day_start/run1_animals_day_4.txt.gz"));
  EXPECT_FALSE(daily.mayWrite("animals_each_day_start/run1_animals_day_03.txt.gz"));
  EXPECT_FALSE(daily.mayWrite("animals_each_day_start/run1_animals_day_3.txt"));
  EXPECT_TRUE(daily.mayWrite("outputs/run1_run_info.json"));
}
