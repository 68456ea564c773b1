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
struct FoodWebMatricesTest : WorldTest {};
// The three food-web files as the world writes them.
std::vector<std::string> matricesOf(World& world) {
  {
    OutputFile e("e.txt"), p("p.txt"), n("n.txt");
    RunOutputs(world, {}, nullptr).printEncountersPredationsAndNodesMatrices(e, p, n);
    for (OutputFile* file : {&e, &p, &n}) file->commit();
  }
  std::vector<std::string> texts;
  for (const char* name : {"e.txt", "p.txt", "n.txt"}) {
    std::ifstream in(name);
    std::ostringstream text;
    text << in.rdbuf();
    texts.push_back(text.str());
  }
  return texts;
}

}  // namespace

TEST_F(FoodWebMatricesTest, FoodWebMatricesOfTheFounders) {
  World world(fixtures::validConfig(3, 1, 1, 1));
  Cell* cell = world.getCell(0);
  Prey* prey = cell->getPreys(UNBORN).at(0);
  Predator* predator = cell->getPredators(UNBORN).at(0);
  prey->addEncounterEventWith(1);
  prey->addEncounterEventWith(1);
  prey->addPredationEventWith(1);
  predator->addEncounterEventWith(7);  // an offspring's id: left out
  EXPECT_EQ(matricesOf(world), (std::vector<std::string>{"\t0\t1\n0\t0\t1\n1\t0\t0\n", "\t0\t1\n0\t0\t1\n1\t0\t0\n",
                                                         "node\tcategory\nX0\tinvertebrate\nX1\tvert.ecto\n"}));
  World empty(fixtures::validConfig(3, 1, 0, 0));
  EXPECT_EQ(matricesOf(empty), (std::vector<std::string>{"\n", "\n", "node\tcategory\n"}));
}
