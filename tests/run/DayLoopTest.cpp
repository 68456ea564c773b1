// The day loop driven without a process: the purge step, stop requests and
// the checkpoint cadence.
#include "Fixtures.h"
#include "model/World.h"
#include "io/BackgroundWriter.h"
#include "io/RunLayout.h"
#include "output/RunOutputs.h"
#include "run/DayLoop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace soilweb;

namespace {
const int CELLS = 4;

int deadIn(const World& world) {
  int dead = 0;
  for (int i = 0; i < CELLS; ++i) {
    const Cell* c = world.getCell(i);
    dead += c->getNumberOfStarvedPreys() + c->getNumberOfPredatedPreys() + c->getNumberOfSenescedPreys() +
            c->getNumberOfStarvedPredators() + c->getNumberOfPredatedPredators() + c->getNumberOfBackgroundPredators() +
            c->getNumberOfSenescedPredators();
  }
  return dead;
}

struct DayLoopTest : ::testing::Test {
  DayLoopTest() {
    seedRandom(11);
    world.observe(&outputs);
    settings.simulation = world.getSimulationName();
    settings.summary = "summary.txt";
  }
  fixtures::ScratchFolder scratch;
  World world{fixtures::validConfig(40, CELLS, 40, 8)};
  BackgroundWriter writer;
  RunOutputs outputs{world, {}, &writer};
  RunSettings settings;
};
}  // namespace

TEST_F(DayLoopTest, WithPurgingEveryDayEndsWithoutItsDead) {
  settings.purge = 1;
  int deadAfterPurge = 0, diedInAll = 0;
  DayLoop loop(
      world, outputs, settings, writer, [] { return false; }, [&](int) { deadAfterPurge += deadIn(world); });
  loop.run({}, false);
  EXPECT_EQ(deadAfterPurge, 0) << "the dead were not purged after their day's summary line";
  // The summary's dead columns: prey starved, predated, senesced; predators starved, predated, background, senesced.
  std::ifstream summary(settings.outputPath("summary.txt"));
  std::string line;
  std::getline(summary, line);  // the header
  while (std::getline(summary, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int column = 0; std::getline(fields, field, '\t'); ++column)
      if (column == 4 || column == 5 || column == 7 || (column >= 10 && column != 12)) diedInAll += std::stoi(field);
  }
  EXPECT_GT(diedInAll, 0) << "no animal died: the test shows nothing";
}

TEST_F(DayLoopTest, AStopRequestEndsTheDaysWithACheckpointOfTheLastDayRun) {
  settings.checkpointEvery = 4;
  int daysSeen = 0;
  DayLoop loop(
      world, outputs, settings, writer, [&] { return daysSeen == 6; }, [&](int) { ++daysSeen; });
  const auto& outcome = loop.run({}, false);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.lastDay, 5);
  EXPECT_EQ(outcome.checkpointDay, 5);  // after the periodic one of day 3
  EXPECT_TRUE(std::filesystem::exists(RunLayout::checkpointPath(settings.simulation)));
}

TEST_F(DayLoopTest, WithCheckpointsOnTheLastDayGetsOneBeforeTheClosingFiles) {
  settings.checkpointEvery = 7;
  DayLoop loop(world, outputs, settings, writer, [] { return false; });
  const auto& outcome = loop.run({}, false);
  ASSERT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.checkpointDay, outcome.lastDay);
  EXPECT_EQ(outcome.daysRun, outcome.lastDay + 1);
}
