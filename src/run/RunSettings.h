// The run-level settings of run_params, read in one place: the purge switch,
// the output file names (checked: plain names, none shared), the snapshot
// choice, compression and the checkpoint interval. Read before the world is
// built, so that a typo costs neither the building nor a finished run, yet an
// error among them is reported only when the world's own keys (read first in
// a run) hold none. A value, owned by the run driver for the whole run.
#pragma once

#include "io/SnapshotChoice.h"

#include <boost/property_tree/ptree_fwd.hpp>

#include <string>
#include <vector>

namespace soilweb {

class Configuration;

struct RunSettings {
  int purge = 0;           // 1: the dead are removed daily; 0: kept, and the food web written
  std::string simulation;  // the run's name: its folder and the prefix of its files
  std::string summary;
  std::vector<std::string> matrices;  // encounters, predations, nodes; only when the food web is written
  SnapshotChoice snapshots;           // which snapshot files, how often
  bool gzip = false;                  // every output but the run's record compressed
  int threads = 0;                    // threads that compress the gzip files; 0: one per processor
  bool traitStatistics = false;       // the daily trait statistics are written
  bool geneticStatistics = false;     // the daily statistics of the genetic values are written
  bool pedigree = false;              // the pedigree and the deaths are written
  bool foodWeb = true;                // the food web is written (only ever with purge 0)
  bool foodWebEdges = false;          // the food web as node and edge tables instead of the matrices
  int checkpointEvery = 0;            // days between checkpoints; 0: only when stopped by a signal

  // Reads and checks the settings; a Configuration::Error names the first
  // problem in the run's reading order.
  static RunSettings read(const Configuration& config, const boost::property_tree::ptree& tree);

  // NAME/outputs/NAME_file, below the working directory.
  std::string outputPath(const std::string& file) const;
  // The names of the food-web files, in outputs: the matrices', or the node and edge tables.
  std::vector<std::string> foodWebFiles() const;
  // The threads compressing each file's blocks: in the tables layout with
  // gzip, threads (or one per processor); otherwise 0, one gzip member a block.
  int compressionThreads() const;
  // The daily layout with gzip: the whole files compressed at once (threads, or one per
  // processor); otherwise 1.
  int wholeFileThreads() const;
  // The files (before any ".gz") that grow a day at a time in place: the
  // summary, the statistics, the pedigree and the tables layout's chosen tables.
  std::vector<std::string> growingFiles() const;
  // The day files of day chosen (before any ".gz"; none in the tables layout).
  std::vector<std::string> dayFiles(int day) const;
  // The trait statistics, NAME/outputs/NAME_traits.tsv.
  std::string traitsPath() const;
  // NAME/outputs/NAME_genetics.tsv, NAME_pedigree.tsv and NAME_deaths.tsv.
  std::string geneticsPath() const;
  std::string pedigreePath() const;
  std::string deathsPath() const;
  // The run's record, NAME/outputs/NAME_run_info.json.
  std::string recordPath() const;
  // The folders below the run's folder that the run writes in, each starting with '/'.
  std::vector<std::string> folders() const;
  // Whether the run may write a file at relative (a path below its folder,
  // e.g. "outputs/run1_summary.txt"), under its final or its temporary name.
  bool mayWrite(const std::string& relative) const;
};

}  // namespace soilweb
