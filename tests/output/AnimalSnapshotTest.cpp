#include "Fixtures.h"
#include "WorldFixture.h"
#include "core/Traits.h"
#include "model/World.h"
#include "output/AnimalSnapshot.h"
#include "output/ResultSchema.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

namespace {
std::string text(long long n) {
  std::string out;
  appendInt(out, n);
  return out;
}
std::string text(double x) {
  std::string out;
  appendDouble(out, x);
  return out;
}
std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
    fields.push_back(line.substr(from, tab - from));
  if (from < line.size()) fields.push_back(line.substr(from));
  return fields;
}

// An animal's fields by their names in the files, read from its getters here, apart from the
// writer's column table: a column whose value is taken from the wrong field fails by name.
std::map<std::string, std::string> byName(const Animal& a) {
  const auto parents = a.getParents();
  const Animal::Traits& t = a.getTraits();
  return {{"id", text(a.getId() * 1LL)},
          {"species", a.getSpecies()->getScientificName()},
          {"position", text(a.getPosition()->getId() * 1LL)},
          {"state", text(a.getState() * 1LL)},
          {"instar", text(a.getInstar() * 1LL)},
          {"pheno_ini", text(a.getPhenoIni())},
          {"date_egg", text(a.getDateEgg() * 1LL)},
          {"age_first_rep", text(a.getAgeFirstRep() * 1LL)},
          {"rep_count", text(a.getRepCount() * 1LL)},
          {"fecundity", text(a.getFecundity() * 1LL)},
          {"date_death", text(a.getDateDeath() * 1LL)},
          {"g_numb_prt1", text(parents[0] * 1LL)},
          {"g_numb_prt2", text(parents[1] * 1LL)},
          {"ID_prt1", text(parents[2] * 1LL)},
          {"ID_prt2", text(parents[3] * 1LL)},
          {"encounters_prey", text(a.getEncountersPrey() * 1LL)},
          {"encounters_pred", text(a.getEncountersPred() * 1LL)},
          {"global_prey_encs", text(a.getGlobalPreyEncs() * 1LL)},
          {"global_pred_encs", text(a.getGlobalPredEncs() * 1LL)},
          {"energy", text(t[ENERGY_TANK])},
          {"growth", text(t[GROWTH])},
          {"pheno", text(t[PHENO])},
          {"body", text(t[BODY_SIZE])},
          {"assim", text(t[ASSIM])},
          {"vor", text(t[VORACITY])},
          {"speed", text(t[SPEED])},
          {"search", text(t[SEARCH_AREA])},
          {"met", text(t[MET_RATE])},
          {"vorQ10", text(t[VOR_Q10])},
          {"spdQ10", text(t[SPD_Q10])},
          {"srchQ10", text(t[SRCH_Q10])},
          {"e_met", text(t[ACTE_MET])}};
}
}  // namespace

// Every column of every animal's line, built afresh and from the kept text over days of a
// world that breeds, hunts and dies, holds the field its header names; and the header is the
// files' own, which stored files and scripts read by position.
TEST_F(WorldTest, EveryColumnOfAnAnimalsLineHoldsTheFieldItsHeaderNames) {
  const std::string header = ResultSchema::header("animals_end");
  EXPECT_EQ(header,
            "id\tspecies\tposition\tstate\tinstar\tpheno_ini\tdate_egg\tage_first_rep\trep_count\tfecundity\t"
            "date_death\tg_numb_prt1\tg_numb_prt2\tID_prt1\tID_prt2\tencounters_prey\tencounters_pred\t"
            "global_prey_encs\tglobal_pred_encs\tenergy\tgrowth\tpheno\tbody\tassim\tvor\tspeed\tsearch\tmet\t"
            "vorQ10\tspdQ10\tsrchQ10\te_met\n");
  const std::vector<std::string> names = fieldsOf(header.substr(0, header.size() - 1));
  World world(fixtures::validConfig(40, 4, 60, 12));
  KeptLines kept;
  // The pairs of columns seen to differ on some line: only those could not swap unseen.
  std::set<std::pair<std::size_t, std::size_t>> differing;
  for (int day = 0; day <= 40; ++day) {
    world.runNextDay(day);
    if (day == 40) {  // the parents' lines seldom part within 40 days: an egg whose lines do
      AnimalSpecies* prey = world.getSpecies()[0].get();
      auto* egg = new Prey(Animal::animalID++, fixtures::uniformGenome(prey->getNumberOfLoci()), world.getCell(1), 40,
                           3, 5, 1, 2, prey);
      world.getCell(1)->addPrey(UNBORN, egg);
    }
    if (day % 8 != 0) continue;
    kept.buildStarting();
    for (const auto& cell : world.getCells())
      for (unsigned s = 0; s < NUMBER_OF_STATES; ++s)
        for (const std::vector<const Animal*>& animals :
             {std::vector<const Animal*>(cell->getPreys(s).begin(), cell->getPreys(s).end()),
              std::vector<const Animal*>(cell->getPredators(s).begin(), cell->getPredators(s).end())})
          for (const Animal* animal : animals) {
            std::string fresh, fromKept;
            AnimalSnapshot::appendLine(*animal, fresh);
            AnimalSnapshot::appendLine(*animal, fromKept, &kept);
            ASSERT_EQ(fromKept, fresh);
            ASSERT_EQ(fresh.back(), '\n');
            const std::vector<std::string> fields = fieldsOf(fresh.substr(0, fresh.size() - 1));
            ASSERT_EQ(fields.size(), names.size()) << fresh;
            const auto expected = byName(*animal);
            for (std::size_t k = 0; k < names.size(); ++k) {
              ASSERT_EQ(fields[k], expected.at(names[k])) << names[k] << " of animal " << animal->getId();
              for (std::size_t j = k + 1; j < names.size(); ++j)
                if (fields[j] != fields[k]) differing.emplace(k, j);
            }
          }
    kept.buildEnded();
  }
  for (std::size_t k = 0; k < names.size(); ++k)
    for (std::size_t j = k + 1; j < names.size(); ++j)
      EXPECT_TRUE(differing.count({k, j})) << names[k] << " and " << names[j] << " never differed: a swap would pass";
}
