// One whole run: reads the configuration (with the command line's settings),
// seeds the generator, builds the world (or restores a stopped run's from its
// checkpoint), prepares the run's folder, runs the days with their summary
// lines and checkpoints, writes the food-web matrices and keeps the run's
// record (run_info.json). The entry point only parses the command line
// and hands over to it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace soilweb {

// What the command line asks of a run.
struct RunOptions {
  std::string configPath = "run_params";
  bool configGiven = false;              // CONFIG was named; a resumed run otherwise takes its record's
  std::optional<long> seed;              // overrides simulation.seed
  std::vector<std::string> settings;     // "KEY=VALUE", applied in order
  std::string outputDirectory;           // "" for the working directory
  bool overwrite = false;                // replace an earlier run's files
  bool strict = false;                   // every warning is an error
  std::string resume;                    // the folder of a stopped run to carry on, "" for a new run
  std::optional<long> checkpointEvery;   // overrides simulation.checkpointEvery
  bool check = false;                    // read and check the configuration only; write nothing
  bool progress = false;                 // show day D of N on standard error as the days run
  std::string recordPathFile;            // where to write the path of the run's record, "" for nowhere
  bool forceSize = false;                // run even when the estimate is more than the disk's free space
  std::vector<std::string> commandLine;  // as typed, for the record
};

class RunDriver {
 public:
  // Runs the simulation; returns the exit status: 0 on success (extinction
  // included), 1 for a configuration error, a run folder that exists, is in
  // use or cannot be written, a checkpoint that cannot be resumed, an output
  // that failed, a full disk or running out of memory; 2 for a bad --set;
  // 128 + the signal when stopped by SIGINT, SIGTERM or SIGHUP.
  static int run(const RunOptions& options);

 private:
  // The run itself; run() adds the one line for memory running out before it starts.
  static int runOrRefuse(const RunOptions& options);
};

}  // namespace soilweb
