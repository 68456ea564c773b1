// The names inside a run's folder NAME: its folders, its files and how their
// names are made. Every path a run writes, reads back or checks is made here,
// relative to the folder that holds NAME. Stored runs and the scripts rely on
// these names, so they stay as they are. Constants only.
#pragma once

#include <string>
#include <vector>

namespace soilweb {

struct SnapshotChoice;

class RunLayout {
 public:
  static const char* const OUTPUTS;      // the summary, the record and the food-web files
  static const char* const CHECKPOINTS;  // the checkpoint
  // The start-of-day animal files go under animals_each_day_end and the
  // end-of-day ones under animals_each_day_start; stored runs rely on it.
  static const char* const ANIMALS_START;
  static const char* const ANIMALS_END;
  static const char* const CELLS;
  static const char* const OWN;            // soilweb's own: the lock, the list of files written, the reserve
  static const char* const RECORD;         // the run's record, after "NAME_"
  static const char* const CHECKPOINT;     // the checkpoint, after "NAME_"
  static const char* const TRAITS;         // the daily trait statistics, after "NAME_", in outputs
  static const char* const GENETICS;       // the daily statistics of the genetic values, likewise
  static const char* const PEDIGREE;       // a row for every animal made, likewise
  static const char* const DEATHS;         // a row for every death, likewise
  static const char* const FOODWEB_NODES;  // the food web as tables, after "NAME_", in outputs
  static const char* const FOODWEB_EDGES;
  static const char* const PARTIAL;  // added to a file's name while it is being written
  static const char* const GZIP;     // added to a compressed file's name

  // NAME/outputs/NAME_file.
  static std::string outputPath(const std::string& run, const std::string& file);
  static std::string recordPath(const std::string& run) { return outputPath(run, RECORD); }
  static std::string checkpointFolder(const std::string& run);  // NAME/checkpoint
  static std::string checkpointPath(const std::string& run);    // NAME/checkpoint/NAME_checkpoint.bin
  // The animal file of day (before any ".gz"): at its start (selector 0) or its end.
  static std::string animalsPath(const std::string& run, int day, int selector);
  static std::string cellsPath(const std::string& run, int day);
  // The tables layout's file of a kind (0: animals at the start of the day, 1:
  // at its end, 2: cells), in outputs.
  static std::string tablePath(const std::string& run, int kind);
  // The folders below NAME that a run writes in (outputs and the chosen snapshots'), each starting with '/'.
  static std::vector<std::string> folders(const SnapshotChoice& choice);
  static const char* const TABLES[3];  // the tables layout's files, after "NAME_", in outputs
};

}  // namespace soilweb
