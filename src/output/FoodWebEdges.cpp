#include "output/FoodWebEdges.h"
#include "output/ResultSchema.h"

#include "core/GlobalFunctions.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "io/BackgroundWriter.h"
#include "output/FoodWebMatrices.h"
#include "io/OutputFile.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace soilweb {

namespace {
// Each hunter that met the animal, with how often it met and ate it.
void addEdges(const Animal& victim, std::vector<FoodWebEdge>& edges) {
  std::vector<std::pair<int, bool>> events;  // hunter, eaten
  for (int hunter : victim.getEncounterEvents()) events.emplace_back(hunter, false);
  for (int hunter : victim.getPredationEvents()) events.emplace_back(hunter, true);
  std::sort(events.begin(), events.end());
  for (const auto& [hunter, eaten] : events) {
    if (edges.empty() || edges.back().victim != victim.getId() || edges.back().hunter != hunter)
      edges.push_back({victim.getId(), hunter});
    ++(eaten ? edges.back().predations : edges.back().encounters);
  }
}

// Hands block to the writer (or writes it) once it is large, and always when last.
void emit(OutputFile& out, std::string& block, BackgroundWriter* writer, bool last) {
  if (!last && block.size() < (std::size_t(1) << 20)) return;
  if (writer)
    writer->append(out, std::move(block));
  else
    out.append(block);
  block.clear();
}
}  // namespace

void FoodWebEdges::write(const World& world, OutputFile& nodes, OutputFile& edges, BackgroundWriter* writer) {
  std::vector<const Animal*> animals;
  for (const auto& cell : world.getCells())
    for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
      for (const Prey* prey : cell->getPreys(s)) animals.push_back(prey);
      for (const Predator* predator : cell->getPredators(s)) animals.push_back(predator);
    }
  std::sort(animals.begin(), animals.end(), [](const Animal* a, const Animal* b) { return a->getId() < b->getId(); });

  std::string block = ResultSchema::header("foodweb_nodes");
  std::vector<FoodWebEdge> found;
  for (const Animal* animal : animals) {
    appendRow(block, nodeColumns(), *animal);
    emit(nodes, block, writer, false);
    addEdges(*animal, found);
  }
  emit(nodes, block, writer, true);

  block = ResultSchema::header("foodweb_edges");
  for (const FoodWebEdge& edge : found) {
    appendRow(block, edgeColumns(), edge);
    emit(edges, block, writer, false);
  }
  emit(edges, block, writer, true);
}

const Columns<Animal>& FoodWebEdges::nodeColumns() {
  static const Columns<Animal> columns = {
      {{"id", "integer", "", "animal id"}, [](const Animal& a) { return FieldValue::of(a.getId() * 1LL); }},
      {{"species", "text", "", "species name"},
       [](const Animal& a) { return FieldValue::of(a.getSpecies()->getScientificName()); }},
      {{"category", "text", "", "invertebrate for a species named prey, vert.ecto for predator, else undefined"},
       [](const Animal& a) { return FieldValue::of(FoodWebMatrices::categoryOf(a.getSpecies()->getScientificName())); }},
      {{"birth_day", "integer", "day", "the day its egg was laid (0 for founders)"},
       [](const Animal& a) { return FieldValue::of(a.getDateEgg() * 1LL); }},
      {{"death_day", "integer", "day", "the day it died (NA while alive)"},
       [](const Animal& a) {
         return isFinalState(a.getState()) ? FieldValue::of(a.getDateDeath() * 1LL) : FieldValue::of("NA");
       }},
      {{"fate", "text", "", "alive, starved, predated, background or senesced"},
       [](const Animal& a) { return FieldValue::of(ResultSchema::fateOf(a.getState())); }}};
  return columns;
}

const Columns<FoodWebEdge>& FoodWebEdges::edgeColumns() {
  static const Columns<FoodWebEdge> columns = {
      {{"hunter", "integer", "", "id of the hunter"}, [](const FoodWebEdge& e) { return FieldValue::of(e.hunter * 1LL); }},
      {{"victim", "integer", "", "id of the animal it met"},
       [](const FoodWebEdge& e) { return FieldValue::of(e.victim * 1LL); }},
      {{"encounters", "integer", "", "how often the hunter met the victim"},
       [](const FoodWebEdge& e) { return FieldValue::of(e.encounters * 1LL); }},
      {{"predations", "integer", "", "1 when it ate it, else 0"},
       [](const FoodWebEdge& e) { return FieldValue::of(e.predations * 1LL); }}};
  return columns;
}

}  // namespace soilweb
