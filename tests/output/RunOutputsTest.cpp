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
struct RunOutputsTest : WorldTest {};
}  // namespace

TEST_F(RunOutputsTest, SummaryLineHasTheDayBiomassAndThirteenCounts) {
  World world(fixtures::validConfig(3, 4, 3, 2));
  for (int i = 0; i < 4; ++i) world.getCell(i)->setFungi(i == 0 ? 1234567 : 0);
  std::string out;
  RunOutputs(world, {}, nullptr).printDailySummary(out, 5);
  EXPECT_EQ(out, "5\t1.23457e+06\t3\t0\t0\t0\t0\t0\t2\t0\t0\t0\t0\t0\t0\n");
}

// Every count different, so that two columns swapped cannot pass: the k-th
// count of the line, in the order of the summary's header, holds k animals.
TEST_F(RunOutputsTest, SummaryColumnsFollowTheHeader) {
  World world(fixtures::validConfig(0, 4, 0, 0));
  for (int i = 0; i < 4; ++i) world.getCell(i)->setFungi(0);
  AnimalSpecies* prey = world.getSpecies()[0].get();
  AnimalSpecies* predator = world.getSpecies()[1].get();
  int id = 0, count = 0;
  for (unsigned state : {UNBORN, ACTIVE, STARVED, PREDATED, REPRODUCING, SENESCED}) {
    ++count;
    for (int n = 0; n < count; ++n, ++id) fixtures::addAnimal<Prey>(world.getCell(id % 4), prey, state, id);
  }
  for (unsigned state : {UNBORN, ACTIVE, STARVED, PREDATED, REPRODUCING, BACKGROUND, SENESCED}) {
    ++count;
    for (int n = 0; n < count; ++n, ++id) fixtures::addAnimal<Predator>(world.getCell(id % 4), predator, state, id);
  }
  std::string out;
  RunOutputs(world, {}, nullptr).printDailySummary(out, 5);
  EXPECT_EQ(out, "5\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\n");
}
