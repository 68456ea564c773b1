// The days of one run, with their summary lines (and trait statistics, when
// asked for) and checkpoints: from the day after a checkpoint (or day 0) to the
// last day, extinction, a stop request, a full disk or a file that failed
// (the run then ends at the last day whose lines were written), or animals
// that would need more memory than the run may use. Each day's lines go to
// the writer after that day's files; with purging, the dead are removed after
// them; a checkpoint follows every checkpointEvery days, the last day run before
// a stop and, with checkpoints on, the last day of all, so that a run killed
// while writing its closing files carries on from there. Made by the run driver for one run; a
// test drives it with a world and a scratch folder.
#pragma once

#include "output/NonFiniteValues.h"
#include "run/Checkpoint.h"
#include "run/RunSettings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace soilweb {

class BackgroundWriter;
class OutputFile;
class RunOutputs;
class World;

class DayLoop {
 public:
  // How the days ended.
  struct Outcome {
    bool stopped = false;         // a stop request ended the run before its last day
    bool summaryWritten = false;  // and the trait statistics, when asked for
    bool filesWritten = true;     // every snapshot file
    bool checkpointsWritten = true;
    bool tablesOpened = false;    // every daily table opened (a resumed run's: each as the checkpoint left it)
    // The animals held after lastDay would need more than World::MEMORY_BUDGET: the run stopped there.
    bool memoryExceeded = false;
    double heldBytes = 0;  // what they would need, when memoryExceeded
    // Where a number that is not finite was first written ("" when none was),
    // and whether the run stopped at that day for it (--strict).
    std::string nonFinite;
    bool nonFiniteRefused = false;
    int lastDay = -1;        // the last day that ran, in this process or before the checkpoint resumed
    int daysRun = 0;         // in this process
    int checkpointDay = -1;  // the day of the newest checkpoint, -1 when there is none
    std::string diedOut;     // what had died out when the loop ended early, "" otherwise
    // The day after which the resource, the prey and the predators were first found gone (Checkpoint::Run).
    std::array<std::int32_t, 3> goneAfterDay{};
    std::string summaryPath;  // the summary's final name
  };

  // stopRequested is asked before each day; dayDone is told of each day run;
  // nonFiniteFound is told where a number that is not finite was first
  // written, and says whether the run stops after that day.
  DayLoop(World& world, RunOutputs& outputs, const RunSettings& settings, BackgroundWriter& writer,
          std::function<bool()> stopRequested, std::function<void(int)> dayDone = {},
          std::function<bool(const std::string&)> nonFiniteFound = {});
  ~DayLoop();

  // Runs the days after saved.day (a resumed run: its summary and trait
  // statistics are cut back to their lengths in saved) or from day 0.
  const Outcome& run(Checkpoint::Run saved, bool resumed);
  const Outcome& outcome() const { return result; }
  // The day being run; -1 before day 0 and once the days are over.
  int dayInProgress() const { return today; }

 private:
  // A file that gains lines every day: the summary, then the trait and genetic
  // statistics, the pedigree and the deaths when asked for.
  struct DailyTable {
    std::unique_ptr<OutputFile> file;
    std::string header;
    OutputFile::Written Checkpoint::Run::*bytes;   // what it held at a checkpoint
    void (RunOutputs::*lines)(std::string&, int);  // appends its lines of a day
  };
  // Opens the tables, cut back to saved (resumed) or with their headers; false when one cannot be.
  bool openTables(const Checkpoint::Run& saved, bool resumed);
  // The days themselves, until one of the ends.
  void runDays();
  // Notes what is found gone after day (-1: at the start) for the first time.
  void noteWhatIsGone(int day);
  // Every file that grows a day at a time: the daily tables and the tables layout's snapshot tables.
  std::vector<OutputFile*> growingFiles() const;
  // Tells of the first number that is not finite in the day's lines or snapshots.
  void checkNonFinite();
  // Writes a checkpoint of day once the tables hold its lines.
  void checkpoint(int day);

  World& world;
  RunOutputs& outputs;
  const RunSettings& settings;
  BackgroundWriter& writer;
  std::function<bool()> stopRequested;
  std::function<void(int)> dayDone;
  std::function<bool(const std::string&)> nonFiniteFound;
  NonFiniteValues tablesNonFinite;  // of the daily tables
  Checkpoint::Run state;  // what the next checkpoint records besides the world
  std::vector<DailyTable> tables;
  Outcome result;
  int today = -1;
};

}  // namespace soilweb
