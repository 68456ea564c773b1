#include "output/RunOutputs.h"

#include "core/GlobalFunctions.h"
#include "model/Cell.h"
#include "model/World.h"
#include "output/FoodWebEdges.h"
#include "output/FoodWebMatrices.h"
#include "output/TraitStatistics.h"

namespace soilweb {

RunOutputs::RunOutputs(const World& world, const SnapshotChoice& choice, BackgroundWriter* writer)
    : world(world), writer(writer), snapshots(world.getSimulationName(), World::DAYS) {
  snapshots.choose(choice);
  snapshots.writeInBackground(writer);
}

const Columns<DaySummary>& RunOutputs::summaryColumns() {
  static const Columns<DaySummary> columns = [] {
    Columns<DaySummary> made = {
        {{"DAY", "integer", "day", "the day"}, [](const DaySummary& d) { return FieldValue::of(d.day); }},
        {{"BIOMASS", "real", "mass", "total fungal biomass at the end of the day"},
         [](const DaySummary& d) { return FieldValue::of(d.biomass); }}};
    for (int kind = 0; kind < 2; ++kind)
      for (unsigned state = 0; state < NUMBER_OF_STATES; ++state) {
        if (kind == 0 && state == BACKGROUND) continue;  // prey have no background death
        const std::string name = ResultSchema::stateName(state);
        made.push_back({{std::string(kind == 0 ? "PREY_" : "PREDATOR_") + name, "integer", "animals",
                         std::string(kind == 0 ? "prey" : "predators") + " in state " + name +
                             (isFinalState(state) ? " (deaths of the day with purgeDeadAnimals 1, since day 0 with 0)"
                                                  : "")},
                        [kind, state](const DaySummary& d) { return FieldValue::of(d.animals[kind][state]); }});
      }
    made.push_back({{"TEMPERATURE", "real", "degrees Celsius", "the day's temperature", "simulation.temperatureSeries"},
                    [](const DaySummary& d) { return FieldValue::of(d.temperature); }});
    return made;
  }();
  return columns;
}

void RunOutputs::printDailySummary(std::string& out, int day) {
  DaySummary summary;
  summary.day = day;
  for (const auto& c : world.getCells()) {
    summary.biomass += c->getFungi();
    for (unsigned state = 0; state < NUMBER_OF_STATES; ++state) {
      summary.animals[0][state] += static_cast<long long>(c->getPreys(state).size());
      summary.animals[1][state] += static_cast<long long>(c->getPredators(state).size());
    }
  }
  const bool series = world.hasTemperatureSeries();
  if (series) summary.temperature = world.temperatureOf(day);
  appendRow(out, summaryColumns(), summary, series);
}

void RunOutputs::printTraitStatistics(std::string& out, int day) { TraitStatistics::appendDay(world, day, out); }

void RunOutputs::printGeneticStatistics(std::string& out, int day) {
  TraitStatistics::appendGeneticDay(world, day, out);
}

void RunOutputs::keepPedigree(bool resumed) {
  pedigreeKept = true;
  if (resumed) pedigree.resumed(world);
}

void RunOutputs::printPedigree(std::string& out, int) {
  out += birthsBeforeDay;
  birthsBeforeDay.clear();
  pedigree.appendBirths(world, out);
}

void RunOutputs::printDeaths(std::string& out, int) { pedigree.appendDeaths(world, out); }

void RunOutputs::dayStarted(const World&, int day) {
  // Founders and eggs may hatch and die within the day: written as they were made.
  if (pedigreeKept) pedigree.appendBirths(world, birthsBeforeDay);
  printAnimalsAlongCells(day, 0);
}

void RunOutputs::deadPurged() {
  snapshots.deadPurged();
  pedigree.deadPurged();
}

void RunOutputs::printAnimalsAlongCells(int day, int selector) {
  snapshots.writeAnimals(world.getCells(), day, selector);
}

void RunOutputs::printCellAlongCells(int day) { snapshots.writeCells(world.getCells(), day); }

void RunOutputs::dayEnded(const World&, int day) {
  if (world.isExtinguished()) snapshots.endsAfter(day);  // the day loop will find it so before the next day
  printAnimalsAlongCells(day, 1);
  printCellAlongCells(day);
}

void RunOutputs::printEncountersPredationsAndNodesMatrices(OutputFile& encounters, OutputFile& predations,
                                                           OutputFile& nodes) const {
  FoodWebMatrices::write(world, encounters, predations, nodes, writer);
}

void RunOutputs::printFoodWebNodesAndEdges(OutputFile& nodes, OutputFile& edges) const {
  FoodWebEdges::write(world, nodes, edges, writer);
}

}  // namespace soilweb
