#include "output/FoodWebMatrices.h"
#include "output/ResultSchema.h"

#include "core/GlobalFunctions.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "io/BackgroundWriter.h"
#include "io/OutputFile.h"

#include <string>
#include <vector>

namespace soilweb {

namespace {
// Per founder, the columns of its rows that hold a 1 (repeats allowed) and its node category.
struct FounderRows {
  explicit FounderRows(int founders)
      : N(founders), met(static_cast<std::size_t>(N)), eaten(met.size()), categories(met.size(), "undefined") {}

  void add(const Animal& animal) {
    const int id = animal.getId();
    if (id >= N) return;
    categories[id] = FoodWebMatrices::categoryOf(animal.getSpecies()->getScientificName());
    for (int hunter : animal.getEncounterEvents())
      if (hunter < N) met[id].push_back(hunter);
    for (int hunter : animal.getPredationEvents())
      if (hunter < N) eaten[id].push_back(hunter);
  }

  const int N;  // rows and columns
  std::vector<std::vector<int>> met, eaten;
  std::vector<std::string> categories;
};

}  // namespace

const char* FoodWebMatrices::categoryOf(const std::string& species) {
  return species == "prey" ? "invertebrate" : species == "predator" ? "vert.ecto" : "undefined";
}

namespace {
FounderRows rowsOf(const World& world) {
  const auto& species = world.getSpecies();
  FounderRows rows(static_cast<int>(static_cast<long>(species.at(0)->getInitialPopulation()) +
                                    species.at(1)->getInitialPopulation()));
  for (const auto& cell : world.getCells())
    for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
      for (const Prey* prey : cell->getPreys(s)) rows.add(*prey);
      for (const Predator* predator : cell->getPredators(s)) rows.add(*predator);
    }
  return rows;
}
}  // namespace

void FoodWebMatrices::write(const World& world, OutputFile& encounters, OutputFile& predations, OutputFile& nodes,
                            BackgroundWriter* writer) {
  const FounderRows rows = rowsOf(world);
  const int N = rows.N;
  const auto& met = rows.met;
  const auto& eaten = rows.eaten;
  const auto& categories = rows.categories;

  // Blocks of text go to the background writer when there is one, so that
  // writing one block overlaps formatting the next.
  auto emit = [writer](OutputFile& out, std::string& block) {
    if (writer)
      writer->append(out, std::move(block));
    else
      out.append(block);
    block.clear();
  };
  const std::size_t BLOCK = std::size_t(1) << 20;
  std::string zeros;  // a row's cells, all 0
  for (int j = 0; j < N; ++j) zeros += "\t0";
  auto writeMatrix = [&](OutputFile& out, const std::vector<std::vector<int>>& ones) {
    std::string block;
    for (int j = 0; j < N; ++j) {
      block += '\t';
      appendInt(block, j);
    }
    block += '\n';
    for (int i = 0; i < N; ++i) {
      appendInt(block, i);
      const std::size_t row = block.size();
      block += zeros;
      for (int j : ones[i]) block[row + 2 * static_cast<std::size_t>(j) + 1] = '1';
      block += '\n';
      if (block.size() >= BLOCK) emit(out, block);
    }
    emit(out, block);
  };
  writeMatrix(encounters, met);
  writeMatrix(predations, eaten);
  std::string text = ResultSchema::header("nodes");
  for (int i = 0; i < N; ++i) appendRow(text, nodeColumns(), FoodWebNode{i, categories[i].c_str()});
  emit(nodes, text);
}

const Columns<FoodWebNode>& FoodWebMatrices::nodeColumns() {
  static const Columns<FoodWebNode> columns = {
      {{"node", "text", "", "X followed by the founder's id"},
       [](const FoodWebNode& n) {
         thread_local std::string name;  // the value is read before the next node's is made
         name = "X" + std::to_string(n.id);
         return FieldValue::of(name);
       }},
      {{"category", "text", "", "invertebrate for a species named prey, vert.ecto for predator, else undefined"},
       [](const FoodWebNode& n) { return FieldValue::of(n.category); }}};
  return columns;
}

}  // namespace soilweb
