#include "Fixtures.h"
#include "core/StateArchive.h"

#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include <cmath>

using namespace soilweb;

using fixtures::addAnimal;
using fixtures::makeSpecies;
using fixtures::Ring;

namespace {
const double LOGISTIC_1 = 1 / (1 + std::exp(-1.0));

struct PredatorTest : ::testing::Test {
  void SetUp() override {
    Cell::TEMPERATURE = Cell::MIN_TEMPERATURE = 10;
    Cell::MAX_TEMPERATURE = 30;
    preys->setMeanSizeHunted(1);
  }
  // A hunter with every trait 0 and a target with speed and body 1 score 0 everywhere.
  Predator* hunter(Cell* cell, unsigned mode, int id = 1) {
    species(mode)->setDefaultHuntingMode(mode);
    return addAnimal<Predator>(cell, species(mode), ACTIVE, id);
  }
  AnimalSpecies* species(unsigned mode) {
    auto& s = hunters[mode];
    if (!s) s = makeSpecies("predator");
    return s.get();
  }
  Ring ring{3};
  std::unique_ptr<AnimalSpecies> preys = makeSpecies("prey");
  std::unique_ptr<AnimalSpecies> hunters[3];
};
}  // namespace

TEST_F(PredatorTest, WithAllScoresZeroBothStagesUseLogisticOfOne) {
  for (unsigned mode : {SIT_AND_WAIT, ACTIVE_HUNTING}) {
    for (long seed = 0; seed < 40; ++seed) {
      Ring cells(1);
      auto* p = hunter(cells[0], mode);
      auto* target = addAnimal<Prey>(cells[0], preys.get(), ACTIVE, 0, {{SPEED, 1}, {BODY_SIZE, 1}});
      auto draws = fixtures::drawsAfter(seed, 3);
      p->searchAnimal(target, 2);
      const bool met = LOGISTIC_1 > draws[0];
      const bool caught = met && LOGISTIC_1 > draws[1];
      EXPECT_EQ(target->getEncounterEvents().size(), met ? 1u : 0u);
      EXPECT_EQ(p->getEncountersPrey(), met ? 1 : 0);
      EXPECT_EQ(target->getState(), caught ? PREDATED : ACTIVE);
      EXPECT_EQ(p->isEating(), caught);
      EXPECT_EQ(randomUniform(), draws[met ? 2 : 1]);  // one draw per stage tried
    }
  }
}

TEST_F(PredatorTest, ANonHunterNeverMeetsAnythingButSpendsADraw) {
  auto* p = hunter(ring[0], DOES_NOT_HUNT);
  auto* target = addAnimal<Prey>(ring[0], preys.get(), ACTIVE, 0, {{SPEED, 1}, {BODY_SIZE, 1}});
  auto draws = fixtures::drawsAfter(3, 2);
  p->searchAnimal(target, 0);
  EXPECT_EQ(target->getState(), ACTIVE);
  EXPECT_EQ(randomUniform(), draws[1]);
  // It never searches itself, and then draws nothing.
  auto again = fixtures::drawsAfter(3, 1);
  p->searchAnimal(p, 0);
  EXPECT_EQ(randomUniform(), again[0]);
}

TEST_F(PredatorTest, DigestsTheMealOverDaysSetByItsUntunedVoracity) {
  auto* p = hunter(ring[0], ACTIVE_HUNTING);
  auto* s = p->getSpecies();
  s->setMeanVorHunter(-1000);  // cannot miss
  s->getMinTraitLimits()[VORACITY] = -4.5;
  s->getMaxTraitLimits()[VORACITY] = -3.5;  // voracity 0 maps to 0.5 a day
  p->setTrait(ASSIM, 0.5);
  auto* meal = addAnimal<Prey>(ring[0], preys.get(), ACTIVE, 0, {{SPEED, 1}, {BODY_SIZE, 1.5}, {ENERGY_TANK, 0.5}});
  p->searchAnimal(meal, 3);
  ASSERT_TRUE(p->isEating());
  EXPECT_DOUBLE_EQ(p->getFoodMass(), 2);
  p->assimilation();
  EXPECT_DOUBLE_EQ(p->getTrait(ENERGY_TANK), 1);
  EXPECT_EQ(p->getDaysDigest(), 3);  // 4 days, counted down the same day
  EXPECT_FALSE(p->isEating());
  for (int day = 0; day < 3; ++day) p->assimilation();
  EXPECT_EQ(p->getDaysDigest(), 0);
  EXPECT_DOUBLE_EQ(p->getTrait(ENERGY_TANK), 1);
}

// A sit-and-wait hunter stays where it is while its reserve is at least 0.3
// of its body mass (no step, no draw) and goes hunting once it is below.
TEST_F(PredatorTest, ASitAndWaitHunterHuntsOnlyWhenHungry) {
  int id = 1;
  for (const auto& [reserve, hunts] : {std::pair{0.3, false}, std::pair{0.29, true}}) {
    auto* p = hunter(ring[0], SIT_AND_WAIT, id++);
    p->setTrait(BODY_SIZE, 1);
    p->setTrait(ENERGY_TANK, reserve);
    p->setTrait(SEARCH_AREA, 1);  // one step a day
    const auto draws = fixtures::drawsAfter(7, 1);
    p->moveWithPredators(4);
    EXPECT_EQ(randomUniform() != draws[0], hunts) << "reserve " << reserve << " of the body mass";
  }
}

// A checkpoint keeps a predator's meal: loaded into a fresh predator, it
// digests the same days.
TEST_F(PredatorTest, DaysOfDigestionSurviveACheckpoint) {
  auto* p = hunter(ring[0], ACTIVE_HUNTING);
  p->getSpecies()->setMeanVorHunter(-1000);  // cannot miss
  p->getSpecies()->getMinTraitLimits()[VORACITY] = -4.5;
  p->getSpecies()->getMaxTraitLimits()[VORACITY] = -3.5;
  auto* meal = addAnimal<Prey>(ring[0], preys.get(), ACTIVE, 0, {{SPEED, 1}, {BODY_SIZE, 1.5}, {ENERGY_TANK, 0.5}});
  p->searchAnimal(meal, 3);
  p->assimilation();
  ASSERT_EQ(p->getDaysDigest(), 3);
  std::FILE* file = std::tmpfile();
  const int fd = fileno(file);
  {
    StateArchive saving(fd, StateArchive::SAVING);
    p->transferState(saving);
    ASSERT_TRUE(saving.flush());
  }
  auto* copy = hunter(ring[1], ACTIVE_HUNTING, 2);
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  StateArchive loading(fd, StateArchive::LOADING);
  copy->transferState(loading);
  EXPECT_EQ(copy->getDaysDigest(), 3);
  std::fclose(file);
}

TEST_F(PredatorTest, BackgroundDeathScaledToZeroNeverKills) {
  auto* p = hunter(ring[0], ACTIVE_HUNTING);
  for (int day = 0; day < 200; ++day) p->dieFromBackground(day);
  EXPECT_EQ(p->getState(), ACTIVE);
  p->getSpecies()->setTuneDeathFromBackground(1);
  p->getSpecies()->setMeanVorHunter(-1000);  // probability 1
  p->dieFromBackground(7);
  EXPECT_EQ(p->getState(), BACKGROUND);
  EXPECT_EQ(p->getDateDeath(), 7);
}

TEST_F(PredatorTest, AMissedPredatorStrikesBackAndIsThenEating) {
  auto* searcher = hunter(ring[0], DOES_NOT_HUNT, 1);
  searcher->setTrait(SPEED, 1);
  searcher->setTrait(BODY_SIZE, 1);
  auto* other = hunter(ring[0], ACTIVE_HUNTING, 2);
  other->getSpecies()->setMeanVorHunter(-1000);
  ring[0]->removePredator(ACTIVE, 0);  // the searcher is moving: filed nowhere
  ring[0]->searchAnimals(searcher, 5);
  EXPECT_EQ(searcher->getState(), PREDATED);
  EXPECT_TRUE(other->isEating());
  EXPECT_EQ(searcher->getCatchCell(), nullptr);  // the other one's state did not change
  ring[0]->addPredator(PREDATED, searcher);
}

TEST_F(PredatorTest, AVictimCaughtWhileMovingIsFiledEatenWhereItWasCaught) {
  Ring one(1);
  auto* p = hunter(one[0], ACTIVE_HUNTING, 1);
  p->getSpecies()->setMeanVorHunter(-1000);
  p->setTrait(SEARCH_AREA, 1);
  auto* prey = addAnimal<Prey>(one[0], preys.get(), ACTIVE, 0, {{SPEED, 1}, {BODY_SIZE, 1}});
  one[0]->movePredatorsWithPredators(0);
  EXPECT_EQ(one[0]->getPreys(PREDATED), std::vector<Prey*>{prey});
  EXPECT_TRUE(one[0]->getPreys(ACTIVE).empty());
  EXPECT_EQ(p->getVictim(), prey);
}

TEST_F(PredatorTest, AfterCatchingAPredatorAheadOfItInTheListTheWalkGoesOnAfterTheHunter) {
  Ring one(1);
  auto* idle = hunter(one[0], DOES_NOT_HUNT, 1);
  auto* p = hunter(one[0], ACTIVE_HUNTING, 2);
  auto* last = hunter(one[0], DOES_NOT_HUNT, 3);
  idle->setTrait(SPEED, 1);
  idle->setTrait(BODY_SIZE, 1);
  p->getSpecies()->setMeanVorHunter(-1000);
  p->setTrait(SEARCH_AREA, 1);
  one[0]->movePredatorsWithPredators(0);
  EXPECT_EQ(idle->getState(), PREDATED);
  EXPECT_EQ(one[0]->getPredators(PREDATED), std::vector<Predator*>{idle});
  EXPECT_EQ(one[0]->getPredators(ACTIVE), (std::vector<Predator*>{p, last}));
  EXPECT_EQ(last->getLastMovedDay(), 0);  // the walk did not skip it
  std::unordered_set<const Animal*> seen;
  EXPECT_EQ(one[0]->registryFault(seen), "");
}
