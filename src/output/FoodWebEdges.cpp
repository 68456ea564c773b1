#include "output/FoodWebEdges.h"
#include "output/ResultSchema.h"

#include "core/GlobalFunctions.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"
#include "model/World.h"
#include "output/BackgroundWriter.h"
#include "output/FoodWebMatrices.h"
#include "output/OutputFile.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace soilweb {

namespace {
struct Edge {
  int victim, hunter;
  long encounters = 0, predations = 0;
};

// Each hunter that met the animal, with how often it met and ate it.
void addEdges(const Animal& victim, std::vector<Edge>& edges) {
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
  std::vector<Edge> found;
  for (const Animal* animal : animals) {
    const std::string& species = animal->getSpecies()->getScientificName();
    appendInt(block, animal->getId());
    block += '\t' + species + '\t' + FoodWebMatrices::categoryOf(species) + '\t';
    appendInt(block, animal->getDateEgg());
    block += '\t';
    if (isFinalState(animal->getState()))
      appendInt(block, animal->getDateDeath());
    else
      block += "NA";
    block += '\t';
    block += ResultSchema::fateOf(animal->getState());
    block += '\n';
    emit(nodes, block, writer, false);
    addEdges(*animal, found);
  }
  emit(nodes, block, writer, true);

  block = ResultSchema::header("foodweb_edges");
  for (const Edge& edge : found) {
    appendInt(block, edge.hunter);
    block += '\t';
    appendInt(block, edge.victim);
    block += '\t';
    appendInt(block, edge.encounters);
    block += '\t';
    appendInt(block, edge.predations);
    block += '\n';
    emit(edges, block, writer, false);
  }
  emit(edges, block, writer, true);
}

}  // namespace soilweb
