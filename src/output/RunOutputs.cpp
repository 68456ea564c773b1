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

void RunOutputs::printDailySummary(std::string& out, int day) {
  double biomass = 0.0;
  long counts[13] = {};
  for (const auto& c : world.getCells()) {
    biomass += c->getFungi();
    const int cellCounts[13] = {
        c->getNumberOfUnbornPreys(),       c->getNumberOfActivePreys(),          c->getNumberOfStarvedPreys(),
        c->getNumberOfPredatedPreys(),     c->getNumberOfReproducingPreys(),     c->getNumberOfSenescedPreys(),
        c->getNumberOfUnbornPredators(),   c->getNumberOfActivePredators(),      c->getNumberOfStarvedPredators(),
        c->getNumberOfPredatedPredators(), c->getNumberOfReproducingPredators(), c->getNumberOfBackgroundPredators(),
        c->getNumberOfSenescedPredators()};
    for (int k = 0; k < 13; ++k) counts[k] += cellCounts[k];
  }
  appendInt(out, day);
  out += '\t';
  appendDouble(out, biomass);
  for (long count : counts) {
    out += '\t';
    appendInt(out, count);
  }
  if (world.hasTemperatureSeries()) {
    out += '\t';
    appendDouble(out, world.temperatureOf(day));
  }
  out += '\n';
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
