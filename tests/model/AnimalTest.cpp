#include "Fixtures.h"
#include "output/AnimalSnapshot.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace soilweb;

using fixtures::addAnimal;
using fixtures::makeSpecies;
using fixtures::Ring;

namespace {
// A genome whose trait t carries first[t] at every locus of its first
// chromosome and second[t] on its second.
std::unique_ptr<Genome> genomeOf(unsigned loci, std::vector<double> first, std::vector<double> second) {
  std::vector<std::vector<double>> firsts, seconds;
  for (int t = 0; t < 13; ++t) {
    firsts.emplace_back(loci, first[t]);
    seconds.emplace_back(loci, second[t]);
  }
  return fixtures::genomeOf(firsts, seconds);
}

struct AnimalTest : ::testing::Test {
  void SetUp() override {
    Cell::TEMPERATURE = 20;
    Cell::MIN_TEMPERATURE = 10;
    Cell::MAX_TEMPERATURE = 30;
    Cell::K_BOLZMANN = 8.617e-5;
  }
  Ring ring{3};
};
}  // namespace

TEST_F(AnimalTest, FreshAnimalStartsUnbornWithZeroTraits) {
  auto s = makeSpecies();
  Prey p(7, fixtures::uniformGenome(2), ring[0], 3, 0, 0, 0, 0, s.get());
  EXPECT_EQ(p.getState(), UNBORN);
  EXPECT_EQ(p.getInstar(), 1);
  EXPECT_EQ(p.getLastMovedDay(), -1);
  EXPECT_EQ(p.getTraits(), Animal::Traits{});
}

TEST_F(AnimalTest, RawTraitsAndHeterozygosityShareLociWithinModules) {
  const unsigned L = 4;
  std::vector<double> first(13), second(13);
  for (int t = 0; t < 13; ++t) {
    first[t] = 0.1 + 0.05 * t;
    second[t] = 0.2;
  }
  // Modules of 3 traits; module 0 positive with 1 own locus, module 1 negative
  // with 1 own locus, module 2 with all loci its own.
  auto s = makeSpecies("s", L, 3, {1, 1, 4, 0, 0}, {1, 0, 1, 0, 1});
  Prey p(0, genomeOf(L, first, second), ring[0], 0, 0, 0, 0, 0, s.get());
  p.initTraits();
  auto sum = [&](int t) { return first[t] + second[t]; };
  EXPECT_NEAR(p.getTrait(0), 4 * sum(0), 1e-12);                 // first trait: all its own
  EXPECT_NEAR(p.getTrait(1), sum(1) + 3 * sum(0), 1e-12);        // 1 own + 3 shared
  EXPECT_NEAR(p.getTrait(4), sum(4) + 3 * (2 - sum(3)), 1e-12);  // negative: complements
  EXPECT_NEAR(p.getTrait(3), 4 * sum(3), 1e-12);                 // a negative module's first trait
  EXPECT_NEAR(p.getTrait(7), 4 * sum(7), 1e-12);                 // rho 0: no sharing
  EXPECT_NEAR(p.getTrait(10), 4 * (2 - sum(9)), 1e-12);          // |rho| 1, negative
  EXPECT_NEAR(p.getTrait(12), 4 * sum(12), 1e-12);               // module 4 alone

  // Heterozygosity reads the same loci, one chromosome against the other:
  // complements in a negative module flip the sign, not the size. It is made
  // with the raw values (kept in single precision).
  auto gap = [&](int t) { return std::fabs(first[t] - second[t]); };
  const auto& het = p.heterozygosity();
  EXPECT_NEAR(het[0], 4 * gap(0), 1e-6);
  EXPECT_NEAR(het[1], std::fabs((first[1] - second[1]) + 3 * (first[0] - second[0])), 1e-6);
  EXPECT_NEAR(het[4], std::fabs((first[4] - second[4]) - 3 * (first[3] - second[3])), 1e-6);  // complements
  EXPECT_NEAR(het[7], 4 * gap(7), 1e-6);
  Prey same(1, genomeOf(L, first, first), ring[0], 0, 0, 0, 0, 0, s.get());
  same.initTraits();
  for (float h : same.heterozygosity()) EXPECT_EQ(h, 0);

  // Modules of one trait: every trait is its module's first and sums its own
  // pair at every locus, whatever the module settings say.
  auto single = makeSpecies("t", L, 1, std::vector<double>(13, 0), std::vector<int>(13, 0));
  Prey q(1, genomeOf(L, first, second), ring[0], 0, 0, 0, 0, 0, single.get());
  q.initTraits();
  for (int t = 0; t < 13; ++t) EXPECT_NEAR(q.getTrait(t), 4 * sum(t), 1e-12);
}

TEST_F(AnimalTest, FoundersMapOntoTheRestrictedRangeAndAllAlikeTakeTheMiddle) {
  auto s = makeSpecies("s", 2);
  for (const auto& name : AnimalSpecies::traitNames()) s->addTrait(name, 10, 20, 0, 1);
  s->computeRestrictedTraits();
  std::vector<double> low(13, 0.1), high(13, 0.4), mid(13, 0.3);
  low[2] = high[2] = mid[2] = 0.25;  // pheno alike in every founder
  std::vector<Prey*> founders;
  for (auto* alleles : {&mid, &low, &high}) {
    auto* p = new Prey(0, genomeOf(2, *alleles, *alleles), ring[0], 0, 0, 0, 0, 0, s.get());
    ring[0]->addPrey(UNBORN, p);
    p->initTraits();
    p->updateLimits();
    founders.push_back(p);
  }
  ring[0]->interpolatePreysTraits();
  EXPECT_DOUBLE_EQ(founders[1]->getTrait(GROWTH), 10);
  EXPECT_DOUBLE_EQ(founders[2]->getTrait(GROWTH), 20);
  EXPECT_NEAR(founders[0]->getTrait(GROWTH), 10 + 10 * (0.4 / 0.6), 1e-9);
  for (Prey* p : founders) EXPECT_TRUE(std::isfinite(p->getTrait(PHENO)));
}

TEST_F(AnimalTest, AdjustTraitsScalesDevelopmentAndSetsStartValues) {
  auto s = makeSpecies();
  s->setQ10phenology(2);  // temperature half-way: factor 1.5
  Prey p(0, fixtures::uniformGenome(2), ring[0], 3, 0, 0, 0, 0, s.get());
  p.setTrait(PHENO, 10.4);
  p.setTrait(ENERGY_TANK, 0.5);
  p.setTrait(BODY_SIZE, 2);
  p.setTrait(SPEED, 0.05);
  p.adjustTraits();
  EXPECT_EQ(p.getTrait(PHENO), 18);  // round(10 * 1.5) days after day 3
  EXPECT_DOUBLE_EQ(p.getTrait(ENERGY_TANK), 1);
  EXPECT_DOUBLE_EQ(p.getTrait(SPEED), std::pow(3, 0.05) * 1);

  Prey fast(1, fixtures::uniformGenome(2), ring[0], 0, 0, 0, 0, 0, s.get());
  fast.setTrait(BODY_SIZE, 1);
  fast.setTrait(SPEED, 0.35);
  fast.adjustTraits();
  EXPECT_DOUBLE_EQ(fast.getTrait(SPEED), 7);
  EXPECT_FALSE(fast.activateIfReady(-1));
  EXPECT_TRUE(fast.activateIfReady(0));
  EXPECT_EQ(fast.getState(), ACTIVE);
}

TEST_F(AnimalTest, TuningFollowsConditionFearAndTemperature) {
  Cell::TEMPERATURE = 10;  // every temperature factor is 1
  auto s = makeSpecies();
  s->setDeadlyTank(0.1);
  s->setAssignedForMetab(1);
  s->setMinCondition(0.2);
  s->setMaxEncountersT(4);
  for (unsigned t : {VORACITY, SPEED, SEARCH_AREA}) {
    s->getMinTraitLimits()[t] = 0;
    s->getMaxTraitLimits()[t] = 1;
  }
  Prey p(0, fixtures::uniformGenome(2), ring[0], 0, 0, 0, 0, 0, s.get());
  // Born with body 1, no reserve and exponents 1: mass 1 at tuning time below.
  p.setTrait(BODY_SIZE, 1);
  p.setTrait(ASSIM, 0.5);
  p.setTrait(VORACITY, 1);
  p.setTrait(SEARCH_AREA, 1);
  p.setTrait(SPEED, 1);
  p.adjustTraits();
  p.setTrait(ENERGY_TANK, 0.1);  // exactly at the starvation threshold: condition 1
  p.setTrait(BODY_SIZE, 0.9);
  p.setTrait(GROWTH, 1);
  p.tuneTraits();
  EXPECT_DOUBLE_EQ(p.getTrait(SEARCH_AREA), 10);  // round(1 * 1^1 * 10)
  EXPECT_DOUBLE_EQ(p.getTrait(VORACITY), 0.15);   // 0.5 * (1 + 1) * 0.15
  EXPECT_DOUBLE_EQ(p.getTrait(SPEED), 7);
  EXPECT_DOUBLE_EQ(p.getTrait(ASSIM), 0.5);

  for (int i = 0; i < 4; ++i) p.incrementEncounters_pred();  // at maxEncountersT: fear 0.1
  p.tuneTraits();
  EXPECT_DOUBLE_EQ(p.getTrait(ASSIM), 0.5 * 0.24);
  EXPECT_DOUBLE_EQ(p.getTrait(SEARCH_AREA), 1);  // round(10 * 0.1)
  EXPECT_NEAR(p.getTrait(VORACITY), 0.5 * 1.1 * 0.15, 1e-15);
  EXPECT_EQ(p.getEncountersPred(), 0);
}

TEST_F(AnimalTest, MetabolismCostsStarvesAndMoults) {
  Cell::TEMPERATURE = 20;
  auto s = makeSpecies();
  s->setMaxSearchAreaT(1);
  s->setMaxVoracityT(1);
  s->setDeadlyTank(0.1);
  s->setAssignedForMetab(1);
  s->setForControlingDryBodyMass(1);
  auto* p = addAnimal<Prey>(ring[0], s.get(), ACTIVE, 0, {{BODY_SIZE, 1}, {ENERGY_TANK, 5}, {GROWTH, 1.0}});
  const double rate = std::exp(-7.2945);  // E = 0, met exponent 0
  p->metabWithGrowth(4);
  // No activity: cost rate * 24 / 7; growth by a factor 1 costs (1 + 0) * 1.
  EXPECT_NEAR(p->getTrait(ENERGY_TANK), 5 - rate * 24 / 7, 1e-12);
  EXPECT_EQ(p->getInstar(), 2);
  EXPECT_DOUBLE_EQ(p->getTrait(BODY_SIZE), 1);

  auto* hungry = addAnimal<Prey>(ring[0], s.get(), ACTIVE, 1, {{BODY_SIZE, 1}, {ENERGY_TANK, 0.1}});
  hungry->metabWithGrowth(9);
  EXPECT_EQ(hungry->getState(), STARVED);
  EXPECT_EQ(hungry->getDateDeath(), 9);
}

TEST_F(AnimalTest, AdultsTurnReproducingAndBreedingSharesTheReserve) {
  auto s = makeSpecies();
  s->setMaxSearchAreaT(1);
  s->setMaxVoracityT(1);
  s->setAssignedForReproduction(1);
  s->setDeadlyTank(0.1);
  s->setKeepForSurv(2);
  s->setMaxReproductionEvents(1);
  s->setAssignedForMetab(1);
  s->setForControlingDryBodyMass(1);
  auto* p = addAnimal<Prey>(ring[0], s.get(), ACTIVE, 0, {{BODY_SIZE, 1}, {ENERGY_TANK, 2}, {GROWTH, 1.0}});
  for (int day = 0; day < 3; ++day) p->metabWithGrowth(day);
  EXPECT_EQ(p->getInstar(), 4);
  EXPECT_EQ(p->getState(), ACTIVE);  // the day it moults it does not turn reproducing
  p->metabWithGrowth(3);
  EXPECT_EQ(p->getState(), REPRODUCING);
  EXPECT_EQ(p->getTrait(SEARCH_AREA), 100);

  // Egg: body at birth 0 here, so give the share a known size instead.
  Prey parent(5, fixtures::uniformGenome(2), ring[0], 0, 0, 0, 0, 0, s.get());
  parent.setTrait(BODY_SIZE, 0.5);
  parent.adjustTraits();  // body_size_ini 0.5, energy_tank_ini 0: egg 0.5
  parent.setTrait(ENERGY_TANK, 1.6);
  EXPECT_EQ(parent.preBreeding(), 3);  // round((1.6 - 0.1) / 0.5)
  EXPECT_DOUBLE_EQ(parent.getTrait(ENERGY_TANK), 0.1);
  parent.postBreeding(12);
  EXPECT_EQ(parent.getState(), SENESCED);
  EXPECT_EQ(parent.getDateDeath(), 12);
  EXPECT_EQ(parent.getRepCount(), 1);
  EXPECT_EQ(parent.getFecundity(), 3);
  EXPECT_DOUBLE_EQ(parent.turnIntoMass(), 0.6);
}

TEST_F(AnimalTest, SnapshotLineHasEveryFieldFollowedByATab) {
  auto s = makeSpecies("Aus bus");
  auto* p = addAnimal<Prey>(ring[2], s.get(), ACTIVE, 42, {{BODY_SIZE, 1234567}, {ENERGY_TANK, 0.5}});
  std::ostringstream out;
  out << *p;
  EXPECT_EQ(out.str(),
            "42\tAus bus\t2\t1\t1\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t"
            "0.5\t0\t0\t1.23457e+06\t0\t0\t0\t0\t0\t0\t0\t0\t0\t");
}
