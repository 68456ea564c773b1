// The part of a run that begins once its folder is claimed: the first
// record, the days, the closing files and the last record, whatever ends the
// run (a stop signal, a full disk, running out of memory). Made by the run
// driver for one run; it owns the world from then on.
#pragma once

#include "io/BackgroundWriter.h"
#include "output/ProgressLine.h"
#include "output/RunOutputs.h"
#include "run/Checkpoint.h"
#include "run/DayLoop.h"
#include "run/OutputEstimate.h"

#include <cstdint>
#include <memory>
#include <string>

namespace soilweb {

class RunFolder;
class RunInfo;
struct RunSettings;
class World;

class StartedRun {
 public:
  // shownFolder: the run's folder as the user named it; start: when the
  // process started; progress: show the progress line on standard error;
  // strict: a number that is not finite in the results ends the run.
  StartedRun(RunInfo& info, std::unique_ptr<World> world, const RunSettings& names, RunFolder& folder,
             std::string shownFolder, std::uint64_t start, bool progress, bool strict);

  // Runs the days after saved.day (resumed) or from day 0 and ends the run.
  // Returns the exit status. earlierRecord: a resumed run's record as it
  // stood, put back when the run cannot be carried on from its checkpoint.
  int carryOut(Checkpoint::Run saved, bool resumed, const std::string& earlierRecord = "");

 private:
  // Every end of the run is recorded, in room kept for it when the disk is full.
  int record(const std::string& how, int status);
  int failed(const std::string& line);
  int diskFull();
  int stopped();
  // Standard output could not be written: the run stopped like a stop request, and failed.
  int transcriptLost();
  int outOfMemory();
  // The animals would need more memory than the run may use: stopped after the last day, with a checkpoint.
  int memoryExceeded();
  // Warns of the first number that is not finite in the results; true when that ends the run (--strict).
  bool nonFiniteFound(const std::string& where);
  // A resumed run whose tables are not as its checkpoint left them: nothing
  // was run, and its record is put back as it was, so it says what it said.
  int resumeRefused(const std::string& earlierRecord);
  // The closing files of a run whose days are over.
  int close();
  // Counts the living animals for the closing line, then lets the world go.
  void endWorld();
  // Writes the food-web files (the matrices, or the node and edge tables);
  // false when any could not be written.
  bool writeFoodWeb();

  RunInfo& info;
  BackgroundWriter writer;  // made before the world uses it, ended after
  std::unique_ptr<World> world;
  const RunSettings& names;
  RunFolder& folder;
  std::string shownFolder;
  std::uint64_t start;
  bool strict;
  // Freed when memory runs out, so that the last line and the record can still be written.
  std::unique_ptr<char[]> spareMemory;
  OutputEstimate expected;  // what the run writes, from its animals at the start
  long alive = -1;  // the living animals when the world ended, -1 while it has not
  ProgressLine progress;
  RunOutputs outputs;
  DayLoop loop;
};

}  // namespace soilweb
