#include "Fixtures.h"
#include "output/AnimalSnapshot.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace soilweb;

using fixtures::addAnimal;

TEST(AnimalSnapshot, LinesByStateThenPreysBeforePredators) {
  std::unique_ptr<AnimalSpecies> species = fixtures::makeSpecies();
  fixtures::Ring ring{3};
  auto* active = addAnimal<Prey>(ring[1], species.get(), ACTIVE, 1);
  auto* unbornPredator = addAnimal<Predator>(ring[1], species.get(), UNBORN, 2);
  auto* unborn = addAnimal<Prey>(ring[1], species.get(), UNBORN, 3);
  std::string out;
  std::ostringstream expected;
  AnimalSnapshot::appendAnimals(*ring[1], out);
  expected << *unborn << '\n' << *unbornPredator << '\n' << *active << '\n';
  EXPECT_EQ(out, expected.str());
  std::string cell;
  AnimalSnapshot::appendCell(*ring[1], cell);
  EXPECT_EQ(cell, "1\t10\t1\t0\n");
}
