#include "Fixtures.h"
#include "model/AnimalSpecies.h"

#include <gtest/gtest.h>

#include <limits>

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
