#include "Fixtures.h"
#include "genetics/ChromosomesGenerator.h"
#include "genetics/Locus.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace soilweb;

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
    const int c = static_cast<int>(randomUniform() * 4);
    const auto child = Genome::make(1, genome->getLoci());
    seedRandom(seed);
    ChromosomesGenerator::getChromosomeForGamete(pair, 4, 0, *child, 0, 0);
    seedRandom(seed);
    ChromosomesGenerator::getChromosomeForGamete(pair, 4, 1, *child, 0, 1);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ((*child)[0].first.getAlleles()[k], k < c ? k + 1 : k + 5);
      EXPECT_EQ((*child)[0].second.getAlleles()[k], k < c ? k + 5 : k + 1);
    }
  }
  // One locus: the crossover is always 0, so side 0 copies the second chromosome.
  const auto single = fixtures::repeatedGenome(1, {1}, {2});
  const auto child = Genome::make(1, single->getLoci());
  ChromosomesGenerator::getChromosomeForGamete((*single)[0], 1, 0, *child, 0, 0);
  ChromosomesGenerator::getChromosomeForGamete((*single)[0], 1, 1, *child, 0, 1);
  EXPECT_EQ((*child)[0].first.getAlleles()[0], 2);
  EXPECT_EQ((*child)[0].second.getAlleles()[0], 1);
}

TEST(ChromosomesGenerator, GametesUseOneSidePerParentForEveryTrait) {
  // Parent 1 carries 0s on its first chromosomes and 1s on its second; with one
  // locus the crossover is always 0, so the side alone decides.
  const auto parents = fixtures::genomesOf(13, {{{0}, {1}}, {{2}, {3}}});
  const auto& parent1 = parents[0];
  const auto& parent2 = parents[1];
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
  const auto parents = fixtures::genomesOf(13, {{{1, 2, 3, 4}, {5, 6, 7, 8}}, {{11, 12, 13, 14}, {15, 16, 17, 18}}});
  const auto& parent1 = parents[0];
  const auto& parent2 = parents[1];
  for (long seed = 0; seed < 20; ++seed) {
    const auto draws = fixtures::drawsAfter(seed, 2 + 2 * 13);
    auto child = ChromosomesGenerator::getGametes(*parent1, *parent2, 13, 4);
    const int side1 = static_cast<int>(draws[0] * 2), side2 = static_cast<int>(draws[1] * 2);
    for (int t = 0; t < 13; ++t) {
      const int cut1 = static_cast<int>(draws[2 + 2 * t] * 4), cut2 = static_cast<int>(draws[3 + 2 * t] * 4);
      for (int k = 0; k < 4; ++k) {
        const bool head1 = k < cut1, head2 = k < cut2;
        EXPECT_EQ((*child)[t].first.getAlleles()[k], (head1 == (side1 == 0) ? 1 : 5) + k)
            << "seed " << seed << " trait " << t;
        EXPECT_EQ((*child)[t].second.getAlleles()[k], (head2 == (side2 == 0) ? 11 : 15) + k)
            << "seed " << seed << " trait " << t;
      }
    }
  }
}

// All of an animal's alleles share one block of pool indices: each chromosome
// must see its own loci, and nothing past the genome's end is read.
TEST(Genome, ChromosomesAreDisjointViewsAndNothingLiesPastTheEnd) {
  const auto made = fixtures::genomeOf({{0, 1}, {100, 101}, {200, 201}}, {{10, 11}, {110, 111}, {210, 211}});
  const Genome& genome = *made;
  for (std::size_t t = 0; t < 3; ++t) {
    EXPECT_EQ(genome[t].first.getAlleles().at(1), 100.0 * t + 1);
    EXPECT_EQ(genome[t].second.getAlleles().at(0), 100.0 * t + 10);
  }
  EXPECT_THROW(genome.at(3), std::out_of_range);
  EXPECT_THROW(genome[2].second.getAlleles().at(2), std::out_of_range);
  // Parents with fewer pairs or loci than asked for are refused, not read past.
  EXPECT_THROW(ChromosomesGenerator::getGametes(genome, genome, 4, 2), std::out_of_range);
  EXPECT_THROW(ChromosomesGenerator::getGametes(genome, genome, 3, 3), std::out_of_range);
}

// Pools of more than 256 (and 65 536) alleles need wider indices.
TEST(Genome, IndicesWidenWithThePools) {
  for (std::size_t alleles : {256u, 257u, 65536u, 65537u}) {
    std::vector<double> pool(alleles);
    for (std::size_t i = 0; i < alleles; ++i) pool[i] = 0.5 + static_cast<double>(i);
    const auto& loci = fixtures::poolsOf({pool, pool});
    const auto made = Genome::make(2, loci);
    Genome& genome = *made;
    for (std::size_t t = 0; t < 2; ++t)
      for (int side = 0; side < 2; ++side)
        for (std::size_t k = 0; k < 2; ++k)
          genome.setAllele(t, side, k, static_cast<std::uint32_t>(alleles - 1 - k - side));
    for (std::size_t t = 0; t < 2; ++t) {
      EXPECT_EQ(genome[t].first.getAlleles()[1], pool[alleles - 2]) << alleles;
      EXPECT_EQ(genome[t].second.getAlleles()[0], pool[alleles - 2]) << alleles;
      EXPECT_EQ(genome[t].second.getAlleles()[1], pool[alleles - 3]) << alleles;
    }
    // A crossover copies whole runs of indices: they keep their width.
    const auto child = Genome::make(2, loci);
    for (long seed = 0; seed < 8; ++seed) {
      seedRandom(seed);
      const std::size_t c = static_cast<std::size_t>(randomUniform() * 2);
      seedRandom(seed);
      ChromosomesGenerator::getChromosomeForGamete(genome[1], 2, 0, *child, 1, 0);
      for (std::size_t k = 0; k < 2; ++k)
        EXPECT_EQ((*child)[1].first.getAlleles()[k], pool[alleles - 1 - k - (k < c ? 0 : 1)]) << alleles;
    }
  }
}
