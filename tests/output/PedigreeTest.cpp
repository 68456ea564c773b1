// The pedigree and the table of deaths: every animal once, in id order, each column holding the
// field its header names, founders without parents.
#include "Fixtures.h"
#include "WorldFixture.h"
#include "model/World.h"
#include "output/Pedigree.h"
#include "output/ResultSchema.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace soilweb;

namespace {
std::vector<std::vector<std::string>> rowsOf(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    rows.push_back(fields);
  }
  return rows;
}

std::string text(double x) {
  std::string out;
  appendDouble(out, x);
  return out;
}

std::map<int, const Animal*> everyAnimal(const World& world) {
  std::map<int, const Animal*> animals;
  for (const auto& cell : world.getCells())
    for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
      for (const Prey* prey : cell->getPreys(s)) animals[prey->getId()] = prey;
      for (const Predator* predator : cell->getPredators(s)) animals[predator->getId()] = predator;
    }
  return animals;
}
}  // namespace

TEST_F(WorldTest, PedigreeRowsHoldTheFieldsTheirHeaderNamesAndDeathsComeOnce) {
  World world(fixtures::validConfig(30, 4, 60, 12));
  Pedigree pedigree;
  std::string births, deaths;
  pedigree.appendBirths(world, births);
  for (int day = 0; day <= 30; ++day) {
    world.runNextDay(day);
    pedigree.appendBirths(world, births);
    pedigree.appendDeaths(world, deaths);
  }
  const auto header = rowsOf(ResultSchema::header("pedigree"))[0];
  const auto animals = everyAnimal(world);
  const auto rows = rowsOf(births);
  ASSERT_EQ(rows.size(), animals.size()) << "every animal made, once";
  const int founders = 72;
  int offspring = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), header.size());
    std::map<std::string, std::string> field;
    for (std::size_t k = 0; k < header.size(); ++k) field[header[k]] = row[k];
    const Animal& a = *animals.at(std::stoi(field["id"]));
    EXPECT_EQ(field["species"], a.getSpecies()->getScientificName());
    EXPECT_EQ(field["birth_day"], std::to_string(a.getDateEgg()));
    const auto parents = a.getParents();
    const bool founder = a.getId() < founders;
    offspring += !founder;
    EXPECT_EQ(field["g_numb_prt1"], founder ? "" : std::to_string(parents[0]));
    EXPECT_EQ(field["g_numb_prt2"], founder ? "" : std::to_string(parents[1]));
    EXPECT_EQ(field["ID_prt1"], founder ? "" : std::to_string(parents[2]));
    EXPECT_EQ(field["ID_prt2"], founder ? "" : std::to_string(parents[3]));
    const Animal::Traits genetic = a.geneticValues();
    EXPECT_EQ(field["energy"], text(genetic[ENERGY_TANK]));
    EXPECT_EQ(field["body"], text(genetic[BODY_SIZE]));
    EXPECT_EQ(field["pheno"], text(a.getPhenoIni()));
    EXPECT_EQ(field["growth"], text(a.getTraits()[GROWTH]));
    EXPECT_EQ(field["e_met"], text(a.getTraits()[ACTE_MET]));
  }
  EXPECT_GT(offspring, 0) << "the test needs a world that breeds";

  int dead = 0;
  for (const auto& [id, animal] : animals) dead += isFinalState(animal->getState());
  const auto died = rowsOf(deaths);
  ASSERT_EQ(died.size(), static_cast<std::size_t>(dead));
  ASSERT_GT(dead, 0);
  for (const auto& row : died) {
    const Animal& a = *animals.at(std::stoi(row[1]));
    EXPECT_EQ(row[0], std::to_string(a.getDateDeath()));
    EXPECT_EQ(row[2], a.getSpecies()->getScientificName());
    EXPECT_EQ(row[3], ResultSchema::fateOf(a.getState()));
  }
}
