#include "Fixtures.h"
#include "model/Species.h"

#include <gtest/gtest.h>


using namespace soilweb;

TEST(Species, TrimsItsNameAndNumbersItselfInOrderOfCreation) {
  Species::speciesCounter = 0;
  Species a("  Aus bus  ");
  Species b("\tAus  bus\n");
  auto c = std::make_unique<Species>(" \t\n ");
  EXPECT_EQ(a.getScientificName(), "Aus bus");
  EXPECT_EQ(b.getScientificName(), "Aus  bus");
  EXPECT_EQ(c->getScientificName(), "");
  EXPECT_EQ(a.getID(), 0);
  EXPECT_EQ(b.getID(), 1);
  EXPECT_EQ(c->getID(), 2);
  c.reset();
  Species d("d");
  EXPECT_EQ(d.getID(), 3);
  EXPECT_EQ(Species::speciesCounter, 4);
}
