#include "Fixtures.h"

#include <gtest/gtest.h>

using namespace soilweb;

using fixtures::addAnimal;
using fixtures::makeSpecies;
using fixtures::Ring;

namespace {
struct PreyTest : ::testing::Test {
  void SetUp() override {
    Cell::MIN_FUNGI = 1;
    Cell::ZERO_FUNGI = 10;  // exhaustion threshold 0.1
  }
  std::unique_ptr<AnimalSpecies> species = makeSpecies();
};

// Where a prey in the middle of three cells holding left, here, right steps to.
int stepFrom(double left, double here, double right) {
  Ring ring(3);
  ring[0]->setFungi(left);
  ring[1]->setFungi(here);
  ring[2]->setFungi(right);
  auto* prey = addAnimal<Prey>(ring[1], makeSpecies().release(), ACTIVE, 0);
  std::unique_ptr<AnimalSpecies> owner(prey->getSpecies());
  prey->moveOneStep();
  return prey->getPosition()->getId();
}
}  // namespace

TEST_F(PreyTest, StepsTowardsTheRicherNeighbourTiesGoingLeft) {
  EXPECT_EQ(stepFrom(7, 5, 7), 0);
  EXPECT_EQ(stepFrom(7, 5, 9), 2);
  EXPECT_EQ(stepFrom(4, 5, 5), 1);
  EXPECT_EQ(stepFrom(5, 5, 5), 1);
}

TEST_F(PreyTest, JumpsAtLeastTwoCellsWhenNothingAroundHoldsFood) {
  Ring ring(7, 0);
  auto* prey = addAnimal<Prey>(ring[3], species.get(), ACTIVE, 0, {{SEARCH_AREA, 0}});
  auto draws = fixtures::drawsAfter(11, 2);
  prey->moveOneStep();
  EXPECT_EQ(prey->getPosition()->getId(), draws[1] >= 0.5 ? 5 : 1);
  EXPECT_EQ(prey->getStepsToday(), 2);
}

TEST_F(PreyTest, EatenOnItsSecondStepItMakesNoThird) {
  // Food rises to the right, so the prey walks 0 -> 1 -> 2, where a predator
  // that cannot miss waits.
  Ring ring(5);
  const double fungi[5] = {1, 2, 19, 4, 0.5};
  for (int i = 0; i < 5; ++i) ring[i]->setFungi(fungi[i]);
  auto hunters = makeSpecies("predator");
  hunters->setDefaultHuntingMode(ACTIVE_HUNTING);
  hunters->setMeanVorHunter(-1000);
  addAnimal<Predator>(ring[2], hunters.get(), ACTIVE, 1);
  auto* prey = addAnimal<Prey>(ring[0], species.get(), ACTIVE, 0, {{SEARCH_AREA, 3}, {SPEED, 1}, {BODY_SIZE, 1}});
  for (int i = 0; i < 5; ++i) ring[i]->prepareForPreyMovement();  // as the world does before the phase
  ring[0]->movePreysWithPredators(6);
  EXPECT_EQ(prey->getState(), PREDATED);
  EXPECT_EQ(prey->getDateDeath(), 6);
  EXPECT_EQ(prey->getPosition(), ring[2]);
  EXPECT_EQ(prey->getStepsToday(), 2);
  EXPECT_EQ(prey->getLastMovedDay(), 6);
  EXPECT_EQ(ring[2]->getPreys(PREDATED), std::vector<Prey*>{prey});
  EXPECT_TRUE(ring[0]->getPreys(ACTIVE).empty());
  EXPECT_EQ(prey->getPredationEvents(), std::vector<int>{1});
}

TEST_F(PreyTest, FeedsFirstComeFirstServedDownToTheExhaustionThreshold) {
  Ring ring(1);
  ring[0]->setFungi(1.5);
  auto* first = addAnimal<Prey>(ring[0], species.get(), ACTIVE, 0, {{VORACITY, 2}, {ASSIM, 0.5}, {SEARCH_AREA, 1}});
  auto* second = addAnimal<Prey>(ring[0], species.get(), ACTIVE, 1, {{VORACITY, 2}, {ASSIM, 0.5}, {SEARCH_AREA, 1}});
  first->feed();
  second->feed();
  EXPECT_DOUBLE_EQ(first->getTrait(ENERGY_TANK), 0.75);
  EXPECT_DOUBLE_EQ(second->getTrait(ENERGY_TANK), 0);
  EXPECT_EQ(ring[0]->getFungi(), 0);

  ring[0]->setFungi(1);
  auto* still = addAnimal<Prey>(ring[0], species.get(), ACTIVE, 2, {{VORACITY, 0.9}, {ASSIM, 1}, {SEARCH_AREA, 0}});
  still->feed();  // makes no moves, so it does not eat
  EXPECT_EQ(ring[0]->getFungi(), 1);
  still->setTrait(SEARCH_AREA, 1);
  still->feed();  // leaves 0.1, the threshold: the cell is exhausted
  EXPECT_EQ(ring[0]->getFungi(), 0);
  EXPECT_DOUBLE_EQ(still->getTrait(ENERGY_TANK), 0.9);
}

TEST_F(PreyTest, BreedingMakesConsecutiveOffspringInTheFirstParentsCell) {
  Ring ring(2);
  species->setDeadlyTank(0);
  auto* a = addAnimal<Prey>(ring[1], species.get(), REPRODUCING, 10, {{BODY_SIZE, 1}});
  auto* b = addAnimal<Prey>(ring[1], species.get(), REPRODUCING, 11, {{BODY_SIZE, 1}});
  for (Prey* parent : {a, b}) parent->adjustTraits();  // egg of mass 1
  a->setTrait(ENERGY_TANK, 3);
  b->setTrait(ENERGY_TANK, 2);
  Animal::animalID = 100;
  auto brood = a->breed(b, 4);
  ASSERT_EQ(brood.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(brood[k]->getId(), 100 + k);
    EXPECT_EQ(brood[k]->getPosition(), ring[1]);
    EXPECT_EQ(brood[k]->getState(), UNBORN);
    ring[1]->addPrey(UNBORN, brood[k]);
  }
  EXPECT_EQ(a->getState(), ACTIVE);
  EXPECT_EQ(b->getFecundity(), 2);
}
