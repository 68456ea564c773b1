// The record of one run, NAME/outputs/NAME_run_info.json: what made it (version,
// commit, command line, configuration as read, seed and its source, warnings),
// where and when it ran, and how it ended. Written whole at the start (status
// "running", so a run killed outright still leaves its seed) and again at the
// end. Owned by the run driver for the whole run.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace soilweb {

class RunInfo {
 public:
  // "0.1.0 (commit 1a2b3c4)"; the commit is the one the binary was built from.
  static std::string version();

  std::vector<std::string> commandLine;
  std::string workingDirectory;
  std::string configurationFile;
  const boost::property_tree::ptree* configuration = nullptr;  // as read, after --set
  long seed = 0;
  std::string seedSource;  // "file", "--seed", "--set", "drawn" or "checkpoint" (a resumed run)
  std::vector<std::string> warnings;
  int lastDayConfigured = 0;
  int resumedFromDay = -1;  // the day of the checkpoint the run carried on from; -1: a new run

  // How the run ended; status stays "running" until finish() is called.
  std::string status = "running";
  int daysRun = 0;
  int lastDay = -1;     // -1: no day ran
  std::string diedOut;  // status "extinct": e.g. "the predators"
  // The day after which the soil resource, the prey and the predators were
  // first found gone (-1: at the start; below -1: never).
  std::array<int, 3> goneAfterDay{-2, -2, -2};
  std::string signal;  // status "stopped": "SIGINT" or "SIGTERM"
  std::string error;   // status "failed": the error line
  int exitStatus = -1;

  RunInfo();
  // Records how the run ended, with end time, wall time and peak memory.
  void finish(const std::string& status, int exitStatus);
  // The record as JSON text.
  std::string json() const;

 private:
  std::uint64_t startMicros;
  std::uint64_t endMicros = 0;
  std::string startTime, endTime;  // ISO 8601, UTC
  std::string host;
  long peakMemoryBytes = 0;
};

}  // namespace soilweb
