// The daily animal and cell files of a run. Twice a day they are built from
// the world's cells; each file's text is built whole and written now or, when
// there is a background writer, while the next day runs. The start-of-day
// animal file of a day holds exactly the lines of the previous end-of-day
// file, less those of animals purged in between, so that text is reused unless
// the world has said that animals changed since. Owned by the run's outputs
// for the whole run.
#pragma once

#include "AnimalSnapshot.h"

#include <memory>
#include <string>
#include <vector>

class BackgroundWriter;
class Cell;

// Which snapshot files a run writes, and on which days: 0, every, 2 every, ...,
// the last configured day and the day after which the world died out.
struct SnapshotChoice {
  int every = 1;
  bool animalsStart = true;  // the start-of-day animal files (under animals_each_day_end)
  bool animalsEnd = true;    // the end-of-day animal files (under animals_each_day_start)
  bool cells = true;
};

class DailySnapshots {
 public:
  // runName: the run's folder and the prefix of every file name; lastDay: the
  // last day configured.
  DailySnapshots(std::string runName, int lastDay);

  void choose(const SnapshotChoice& choice) { this->choice = choice; }
  // The run ends after day (the world has died out): its end-of-day files are due.
  void endsAfter(int day) { lastDay = day; }

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
  bool isDue(bool wanted, int day) const { return wanted && (day % choice.every == 0 || day == lastDay); }

  std::string runName;
  int lastDay;
  SnapshotChoice choice;
  BackgroundWriter* writer = nullptr;
  bool failed = false;
  std::shared_ptr<std::string> lastAnimals;  // the latest animal file's text; may still be being written
  AnimalSnapshot::TextRanges lastDeadLines;            // where in it the lines of dead animals lie
  bool lastIsCurrent = false;                // true while no animal changed since it was built
};
