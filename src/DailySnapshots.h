// The daily animal and cell files of a run. Twice a day the world hands over
// its cells; each file's text is built whole and written now or, when there is
// a background writer, while the next day runs. The start-of-day animal file of
// a day holds exactly the lines of the previous end-of-day file, less those of
// animals purged in between, so that text is reused unless the world has said
// that animals changed since. Owned by the world for the whole run.
#pragma once

#include "Cell.h"

#include <memory>
#include <string>
#include <vector>

class BackgroundWriter;

class DailySnapshots {
 public:
  // runName: the run's folder and the prefix of every file name.
  explicit DailySnapshots(std::string runName);

  // Hands the files to writer (not owned) instead of writing them at once.
  void writeInBackground(BackgroundWriter* writer) { this->writer = writer; }

  // The animal file of day: at its start (selector 0) or its end (otherwise).
  void writeAnimals(const std::vector<std::unique_ptr<Cell>>& cells, int day, int selector);
  // The cell file of day.
  void writeCells(const std::vector<std::unique_ptr<Cell>>& cells, int day);

  // Animals may have changed: the last end-of-day lines are no longer current.
  void animalsChanged() { lastIsCurrent = false; }
  // The dead were removed: the last lines, less theirs, stay current.
  void deadPurged();

  // Whether a file written at once (not in the background) failed; each
  // failure has been reported on standard error.
  bool hasFailed() const { return failed; }

 private:
  void write(const std::string& path, std::shared_ptr<const std::string> content);

  std::string runName;
  BackgroundWriter* writer = nullptr;
  bool failed = false;
  std::shared_ptr<std::string> lastAnimals;  // the latest animal file's text; may still be being written
  Cell::TextRanges lastDeadLines;            // where in it the lines of dead animals lie
  bool lastIsCurrent = false;                // true while no animal changed since it was built
};
