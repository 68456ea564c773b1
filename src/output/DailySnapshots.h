// The daily animal and cell files of a run. Twice a day they are built from
// the world's cells; each file's text is built whole and written now or, when
// there is a background writer, while the next day runs. In the tables layout
// the same lines go, each after its day, into one file per kind for the whole
// run, which grows a day at a time like the summary. The start-of-day
// animal file of a day holds exactly the lines of the previous end-of-day
// file, less those of animals purged in between (nothing else happens between
// the two), so that text is reused. A day's animal text larger than
// a bound (8 MiB) is not held: it is handed over in parts as it is built (the
// file still appears whole under its final name), and the next start of day is
// built afresh, so that memory does not grow with the animals' file. Owned by
// the run's outputs for the whole run.
#pragma once

#include "output/NonFiniteValues.h"

#include "io/OutputFile.h"
#include "io/SnapshotChoice.h"
#include "output/AnimalSnapshot.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace soilweb {

class BackgroundWriter;
class Cell;

class DailySnapshots {
 public:
  // runName: the run's folder and the prefix of every file name; lastDay: the
  // last day configured.
  // heldBytes: the largest animal text held whole (and reused); larger ones are streamed.
  DailySnapshots(std::string runName, int lastDay, std::size_t heldBytes = std::size_t(8) << 20);
  ~DailySnapshots();

  void choose(const SnapshotChoice& choice) { this->choice = choice; }
  // The run ends after day (the world has died out): its end-of-day files are due.
  void endsAfter(int day) { lastDay = day; }

  // Hands the files to writer (not owned) instead of writing them at once.
  void writeInBackground(BackgroundWriter* writer) { this->writer = writer; }

  // The animal file of day: at its start (selector 0) or its end (otherwise).
  void writeAnimals(const std::vector<std::unique_ptr<Cell>>& cells, int day, int selector);
  // The cell file of day.
  void writeCells(const std::vector<std::unique_ptr<Cell>>& cells, int day);

  // The dead were removed: the last lines, less theirs, stay current.
  void deadPurged();

  // Whether a file written at once (not in the background) failed; each
  // failure has been reported on standard error.
  bool hasFailed() const { return failed; }
  // Where the snapshots first held a number that is not finite.
  const NonFiniteValues& nonFiniteValues() const { return nonFinite; }

  // The tables layout: the length of each table (animals at the start of the
  // day, at its end, cells; 0 for a kind not written).
  using TableBytes = std::array<OutputFile::Written, 3>;
  // Opens the chosen tables: with their headers, or (resumed) cut back to
  // bytes; false, after one line on standard error, when one cannot be.
  bool openTables(const TableBytes& bytes, bool resumed);
  // Their lengths so far, once the writer has written what it was handed.
  TableBytes tableSizes() const;
  // The tables layout's open tables (none in the daily layout).
  std::vector<OutputFile*> openTables() const;
  // Closes them; false when any failed.
  bool commitTables();

 private:
  void write(const std::string& path, std::shared_ptr<const std::string> content);
  // Appends daily's lines (its header aside, when it has one) to table as rows of day; dead: where
  // the lines of dead animals lie in daily, and when each died.
  void appendRows(int kind, int day, const std::string& daily, bool hasHeader, const AnimalSnapshot::DeadLines& dead);
  // Whether an animal that died on dateDeath was shown dead before, in the table of kind, by day.
  bool shownBefore(int kind, int day, int dateDeath) const;
  // Builds the animal text of day into lastAnimals; one that outgrows
  // heldBytes is written in parts as it is built instead. False when streamed.
  bool buildAnimals(const std::vector<std::unique_ptr<Cell>>& cells, int day, int kind);
  // Writes one part of a streamed animal file or table; file: the daily file,
  // opened with the first part.
  void writePart(std::shared_ptr<OutputFile>& file, int day, int kind, std::string part, bool first, bool last);
  bool isDue(bool wanted, int day) const { return wanted && (day % choice.every == 0 || day == lastDay); }
  // At the end of day: keeps the provisional start of day when it is the last day, else lets it go.
  void settleProvisionalStart(int day);
  // A table's length before provisional rows, and the cut back to it (through the writer, in order).
  void mark(OutputFile& table);
  void cutBack(OutputFile& table);

  // Notes where the text just made for kind first holds a number that is not finite.
  void noteNonFinite(const std::string* text, const std::string& header, const char* file, int day);

  std::string runName;
  NonFiniteValues nonFinite;
  int lastDay;
  std::size_t heldBytes;
  bool keepLines = true;  // false once a file was too large to hold: no text is kept from then on
  KeptLines keptLines;
  SnapshotChoice choice;
  BackgroundWriter* writer = nullptr;
  bool failed = false;
  std::shared_ptr<std::string> lastAnimals;  // the latest animal file's text; may still be being written
  AnimalSnapshot::DeadLines lastDeadLines;  // where in it the lines of dead animals lie
  bool lastIsCurrent = false;                // true when it is the end of day lastEndDay, less the dead purged since
  int lastEndDay = -1;
  bool provisional = false;                            // today's start is written provisionally (a thinned day not due)
  std::shared_ptr<const std::string> provisionalText;  // it, when held whole (not yet written anywhere)
  AnimalSnapshot::DeadLines provisionalDeadLines;      // where its dead animals' lines lie
  std::shared_ptr<OutputFile> provisionalFile;         // it, when written in parts, finished but not committed
  std::array<std::unique_ptr<OutputFile>, 3> tables;   // the tables layout's files, by kind
};

}  // namespace soilweb
