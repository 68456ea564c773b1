#include "core/Configuration.h"
#include "model/World.h"
#include "output/DailySnapshots.h"
#include "io/OutputFile.h"
#include "output/RunOutputs.h"

#include "WorldFixture.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace soilweb;

namespace {
struct DailySnapshotsTest : WorldTest {};
}  // namespace

// An animal text too large to hold is written in parts as it is built, and the
// next start of day built afresh: the files hold the same lines as when the text
// is held and reused, in both layouts.
TEST_F(DailySnapshotsTest, AnimalFilesTooLargeToHoldAreStreamedLineForLine) {
  World world(fixtures::validConfig(40, 4, 60, 12));
  std::filesystem::create_directories("run2/outputs");
  SnapshotChoice tables;
  tables.tables = true;
  DailySnapshots held("run1", World::DAYS), streamed("run1", World::DAYS, 200);
  DailySnapshots heldTable("run1", World::DAYS), streamedTable("run2", World::DAYS, 200);
  heldTable.choose(tables);
  streamedTable.choose(tables);
  ASSERT_TRUE(heldTable.openTables({}, false) && streamedTable.openTables({}, false));
  const auto read = [](const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  };
  const auto both = [&](int day, int selector) {
    const std::string path = "run1/" + std::string(selector ? "animals_each_day_start" : "animals_each_day_end") +
                             "/run1_animals_day_" + std::to_string(day) + ".txt";
    held.writeAnimals(world.getCells(), day, selector);
    const std::string whole = read(path);
    streamed.writeAnimals(world.getCells(), day, selector);
    EXPECT_EQ(read(path), whole) << "day " << day << (selector ? " end" : " start");
    EXPECT_GT(whole.size(), 600u) << "a file of fewer than three parts shows little";
    heldTable.writeAnimals(world.getCells(), day, selector);
    streamedTable.writeAnimals(world.getCells(), day, selector);
  };
  for (int day = 0; day < 20 && !world.isExtinguished(); ++day) {
    world.runNextDay(day);
    both(day, 1);
    if (day % 2) {
      world.purgeDeadAnimalsAlongCells();
      for (DailySnapshots* snapshots : {&held, &streamed, &heldTable, &streamedTable}) snapshots->deadPurged();
    }
    both(day + 1, 0);  // the held one reuses the end of the day, the streamed one builds it again
  }
  ASSERT_TRUE(heldTable.commitTables() && streamedTable.commitTables());
  EXPECT_FALSE(held.hasFailed() || streamed.hasFailed());
  for (const char* table : {"_animals_start.tsv", "_animals_end.tsv"})
    EXPECT_EQ(read(std::string("run2/outputs/run2") + table), read(std::string("run1/outputs/run1") + table)) << table;
}

TEST_F(DailySnapshotsTest, TheReusedStartOfDaySnapshotEqualsAFreshOne) {
  World world(fixtures::validConfig(40, 4, 60, 12));
  RunOutputs outputs(world, {}, nullptr);
  world.observe(&outputs);
  auto startOfDay = [&](int day) {
    outputs.printAnimalsAlongCells(day, 0);
    std::ifstream in("run1/animals_each_day_end/run1_animals_day_" + std::to_string(day) + ".txt");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  };
  int purgedDays = 0;
  for (int day = 0; day < 40 && !world.isExtinguished(); ++day) {
    world.runNextDay(day);
    int dead = 0;
    for (int i = 0; i < 4; ++i)
      dead += world.getCell(i)->getNumberOfPredatedPreys() + world.getCell(i)->getNumberOfStarvedPreys();
    if (day % 2) {
      world.purgeDeadAnimalsAlongCells();
      purgedDays += dead > 0;
    }
    const std::string reused = startOfDay(day + 1);
    Cell::increaseForChemostatEffect = 0;
    world
        .addFungiFromChemostatEffectAlongCells();  // a phase that changes nothing, so the next snapshot is built afresh
    ASSERT_EQ(reused, startOfDay(day + 1)) << "day " << day;
  }
  EXPECT_GT(purgedDays, 0);
}
