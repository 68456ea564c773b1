// What a run writes of its world, day by day and at its end: the summary line,
// the trait statistics, the daily animal and cell files, and the food-web files. Once it observes
// the world, it writes the day's files at the day's start and end and knows
// when the animals change. Made by the run driver once the world is built and
// kept for the whole run; the world must outlive it, and must run no day once
// it is gone.
#pragma once

#include "model/DayObserver.h"
#include "model/Animal.h"
#include "output/Column.h"
#include "output/DailySnapshots.h"
#include "output/Pedigree.h"

#include <string>

namespace soilweb {

class BackgroundWriter;
class OutputFile;
class World;

// One day of the summary: the resource, the animals of each kind (prey, predators) in each life
// state, and the day's temperature.
struct DaySummary {
  long long day = 0;
  double biomass = 0;
  long long animals[2][NUMBER_OF_STATES] = {};
  double temperature = 0;
};

class RunOutputs : public DayObserver {
 public:
  // The summary's columns, in their order.
  static const Columns<DaySummary>& summaryColumns();

  // Writes the chosen snapshot files, on writer (not owned) when it is not null.
  RunOutputs(const World& world, const SnapshotChoice& choice, BackgroundWriter* writer);
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;

  // Appends the summary line of day (the columns of the summary's header): the resource and every count of animals by
  // kind and state.
  void printDailySummary(std::string& out, int day);
  // Appends the trait statistics of day (TraitStatistics).
  void printTraitStatistics(std::string& out, int day);
  // Appends the genetic statistics of day (TraitStatistics).
  void printGeneticStatistics(std::string& out, int day);
  // The pedigree's rows of day: the animals made before its end, and its dead.
  // Asked for once a day from the first; keepPedigree is called before the first day.
  void keepPedigree(bool resumed);
  void printPedigree(std::string& out, int day);
  void printDeaths(std::string& out, int day);
  // The animal file of day: at its start (selector 0) or its end (otherwise).
  void printAnimalsAlongCells(int day, int selector);
  void printCellAlongCells(int day);
  void printEncountersPredationsAndNodesMatrices(OutputFile& encounters, OutputFile& predations,
                                                 OutputFile& nodes) const;
  // The food web as a node and an edge table (FoodWebEdges), instead of the matrices.
  void printFoodWebNodesAndEdges(OutputFile& nodes, OutputFile& edges) const;
  // The tables layout's snapshot tables (DailySnapshots).
  bool openTables(const DailySnapshots::TableBytes& bytes, bool resumed) {
    return snapshots.openTables(bytes, resumed);
  }
  DailySnapshots::TableBytes tableSizes() const { return snapshots.tableSizes(); }
  std::vector<OutputFile*> snapshotTables() const { return snapshots.openTables(); }
  bool commitTables() { return snapshots.commitTables(); }
  // A snapshot file written at once failed; each failure has been reported on standard error.
  bool hasOutputFailed() const { return snapshots.hasFailed(); }
  const NonFiniteValues& snapshotNonFiniteValues() const { return snapshots.nonFiniteValues(); }

  void dayStarted(const World&, int day) override;
  void dayEnded(const World&, int day) override;
  void deadPurged() override;

 private:
  const World& world;
  BackgroundWriter* writer;  // not owned; null: files are written at once
  DailySnapshots snapshots;
  bool pedigreeKept = false;
  Pedigree pedigree;
  std::string birthsBeforeDay;  // the pedigree's rows of the eggs found at the day's start
};

}  // namespace soilweb
