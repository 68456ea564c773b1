#include "ChromosomesGenerator.h"
#include "Fixtures.h"
#include "Locus.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(Locus, StratifiedPoolsLieInTheirSlices) {
  seedRandom(1);
  Locus locus(4, 1);
  ASSERT_EQ(locus.getAlleles().size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_GE(locus.getAlleles()[i], 0.25 * i);
    EXPECT_LT(locus.getAlleles()[i], 0.25 * (i + 1));
  }
}

TEST(Locus, RandomSpreadPoolsUseThreeDrawsPerAllele) {
  auto draws = fixtures::drawsAfter(5, 7);
  Locus locus(2, 0);
  const double lo = draws[0] * 0.5, hi = draws[1] * 0.5 + 0.5;
  EXPECT_DOUBLE_EQ(locus.getAlleles()[0], draws[2] * (hi - lo) + lo);
  EXPECT_EQ(randomUniform(), draws[6]);  // six draws for two alleles
  for (double allele : locus.getAlleles()) {
    EXPECT_GE(allele, 0);
    EXPECT_LE(allele, 1);
  }
}

TEST(ChromosomesGenerator, FounderGenomesComeFromTheSpeciesPools) {
  seedRandom(3);
  auto species = fixtures::makeSpecies("s", 6);
  auto genome = species->getChromosomesGenerator()->getChromosomes();
  ASSERT_EQ(genome->size(), 13u);
  const auto& loci = species->getChromosomesGenerator()->getLoci();
  for (std::size_t t = 0; t < genome->size(); ++t) {
    const ChromosomePair pair = (*genome)[t];
    ASSERT_NE(pair.first.getAlleles().data(), pair.second.getAlleles().data());
    for (const Chromosome& c : {pair.first, pair.second}) {
      ASSERT_EQ(c.getAlleles().size(), 6u);
      for (std::size_t k = 0; k < 6; ++k) {
        const auto& pool = loci[k].getAlleles();
        EXPECT_NE(std::find(pool.begin(), pool.end(), c.getAlleles()[k]), pool.end());
      }
    }
  }
}

// A founder's pair: for each trait two chromosomes are drawn, one allele per
// locus, and filed second-drawn first.
TEST(ChromosomesGenerator, FoundersFileTheSecondDrawnChromosomeFirst) {
  seedRandom(3);
  auto species = fixtures::makeSpecies("s", 3);
  const auto& loci = species->getChromosomesGenerator()->getLoci();
  const auto draws = fixtures::drawsAfter(11, 13 * 2 * 3);
  auto genome = species->getChromosomesGenerator()->getChromosomes();
  auto drawn = [&](unsigned trait, unsigned which, unsigned locus) {
    const auto& pool = loci[locus].getAlleles();
    return pool[static_cast<std::size_t>(draws[(trait * 2 + which) * 3 + locus] * pool.size())];
  };
  for (unsigned t = 0; t < 13; ++t)
    for (unsigned k = 0; k < 3; ++k) {
      EXPECT_EQ((*genome)[t].first.getAlleles()[k], drawn(t, 1, k)) << "trait " << t;
      EXPECT_EQ((*genome)[t].second.getAlleles()[k], drawn(t, 0, k)) << "trait " << t;
    }
}

TEST(ChromosomesGenerator, CrossoverTakesTheHeadFromOneSideAndTheTailFromTheOther) {
  const auto genome = fixtures::repeatedGenome(1, {1, 2, 3, 4}, {5, 6, 7, 8});
  const ChromosomePair pair = (*genome)[0];
  for (long seed = 0; seed < 50; ++seed) {
    seedRandom(seed);
    const int c = static_cast<int>(drand48() * 4);
    double side0[4], side1[4];
    seedRandom(seed);
    ChromosomesGenerator::getChromosomeForGamete(pair, 4, 0, side0);
    seedRandom(seed);
    ChromosomesGenerator::getChromosomeForGamete(pair, 4, 1, side1);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(side0[k], k < c ? k + 1 : k + 5);
      EXPECT_EQ(side1[k], k < c ? k + 5 : k + 1);
    }
  }
  // One locus: the crossover is always 0, so side 0 copies the second chromosome.
  const auto single = fixtures::repeatedGenome(1, {1}, {2});
  double allele = 0;
  ChromosomesGenerator::getChromosomeForGamete((*single)[0], 1, 0, &allele);
  EXPECT_EQ(allele, 2);
  ChromosomesGenerator::getChromosomeForGamete((*single)[0], 1, 1, &allele);
  EXPECT_EQ(allele, 1);
}

TEST(ChromosomesGenerator, GametesUseOneSidePerParentForEveryTrait) {
  // Parent 1 carries 0s on its first chromosomes and 1s on its second; with one
  // locus the crossover is always 0, so the side alone decides.
  const auto parent1 = fixtures::repeatedGenome(13, {0}, {1});
  const auto parent2 = fixtures::repeatedGenome(13, {2}, {3});
  for (long seed = 0; seed < 20; ++seed) {
    auto draws = fixtures::drawsAfter(seed, 2);
    auto child = ChromosomesGenerator::getGametes(*parent1, *parent2, 13, 1);
    const double fromParent1 = static_cast<int>(draws[0] * 2) == 0 ? 1 : 0;
    const double fromParent2 = static_cast<int>(draws[1] * 2) == 0 ? 3 : 2;
    for (std::size_t t = 0; t < child->size(); ++t) {
      EXPECT_EQ((*child)[t].first.getAlleles()[0], fromParent1);
      EXPECT_EQ((*child)[t].second.getAlleles()[0], fromParent2);
    }
  }
}

// After the two side draws, each trait draws parent 1's crossover and then
// parent 2's: the draws of the two parents interleave, trait by trait.
TEST(ChromosomesGenerator, CrossoversAreDrawnParentByParentWithinEachTrait) {
  const auto parent1 = fixtures::repeatedGenome(13, {1, 2, 3, 4}, {5, 6, 7, 8});
  const auto parent2 = fixtures::repeatedGenome(13, {11, 12, 13, 14}, {15, 16, 17, 18});
  for (long seed = 0; seed < 20; ++seed) {
    const auto draws = fixtures::drawsAfter(seed, 2 + 2 * 13);
    auto child = ChromosomesGenerator::getGametes(*parent1, *parent2, 13, 4);
    const int side1 = static_cast<int>(draws[0] * 2), side2 = static_cast<int>(draws[1] * 2);
    for (int t = 0; t < 13; ++t) {
      const int cut1 = static_cast<int>(draws[2 + 2 * t] * 4), cut2 = static_cast<int>(draws[3 + 2 * t] * 4);
      for (int k = 0; k < 4; ++k) {
        const bool head1 = k < cut1, head2 = k < cut2;
        EXPECT_EQ((*child)[t].first.getAlleles()[k], (head1 == (side1 == 0) ? 1 : 5) + k) << "seed " << seed << " trait " << t;
        EXPECT_EQ((*child)[t].second.getAlleles()[k], (head2 == (side2 == 0) ? 11 : 15) + k) << "seed " << seed << " trait " << t;
      }
    }
  }
}

// All of an animal's alleles share one block: each chromosome must see its own
// loci and nothing past the genome's end.
TEST(Genome, ChromosomesAreDisjointViewsAndNothingLiesPastTheEnd) {
  Genome genome(3, 2);
  for (std::size_t t = 0; t < 3; ++t)
    for (int side = 0; side < 2; ++side)
      for (int k = 0; k < 2; ++k) genome.alleles(t, side)[k] = 100.0 * t + 10 * side + k;
  for (std::size_t t = 0; t < 3; ++t) {
    EXPECT_EQ(genome[t].first.getAlleles().at(1), 100.0 * t + 1);
    EXPECT_EQ(genome[t].second.getAlleles().at(0), 100.0 * t + 10);
  }
  EXPECT_THROW(genome.at(3), std::out_of_range);
  EXPECT_THROW(genome[2].second.getAlleles().at(2), std::out_of_range);
  // Parents with fewer pairs than the species' traits are refused, not read past.
  EXPECT_THROW(ChromosomesGenerator::getGametes(genome, genome, 4, 2), std::out_of_range);
}

TEST(ChromosomesGenerator, ChromosomeTextForm) {
  std::ostringstream out;
  const double alleles[] = {0.5, 0.25};
  out << Chromosome(alleles, 2);
  EXPECT_EQ(out.str(), "(0)0.5 (1)0.25 ");
}
