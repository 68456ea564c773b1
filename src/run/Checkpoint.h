// A run's checkpoint: its whole state after a finished day (the world, both
// random streams, the counters of animals, cells and species, the day, the
// seed, a hash of the configuration and the summary's length), from which a
// stopped run carries on exactly as if it had never stopped. One file,
// NAME/checkpoint/NAME_checkpoint.bin, replaced whole: written under a
// temporary name, synced, then renamed over the previous one, so the file on
// disk is always a complete checkpoint. Its layout is in docs/outputs.md.
// Written and read by the run driver.
#pragma once

#include "io/OutputFile.h"

#include <boost/property_tree/ptree_fwd.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace soilweb {

class StateArchive;
class World;

class Checkpoint {
 public:
  // The checkpoint cannot be used; what() is the line that says why.
  class Refused : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // What the run around the world needs to carry on.
  struct Run {
    std::uint64_t configurationHash = 0;
    std::int64_t seed = 0;
    std::int32_t day = -1;  // the last finished day
    // What the files that grow every day held after that day (length and
    // CRC-32), so that a resume can check them and cut them back: the summary,
    // the trait statistics, the tables layout's snapshot tables (0: not written).
    OutputFile::Written summaryBytes;
    OutputFile::Written traitsBytes;
    OutputFile::Written geneticsBytes, pedigreeBytes, deathsBytes;
    std::array<OutputFile::Written, 3> snapshotBytes{};
    // The day after which the soil resource, the prey and the predators were
    // first found gone (-1: at the start), NOT_GONE while they last.
    static constexpr std::int32_t NOT_GONE = -2;
    std::array<std::int32_t, 3> goneAfterDay{NOT_GONE, NOT_GONE, NOT_GONE};
  };

  // The version of the file's layout; a file of another is refused.
  static const std::uint32_t LAYOUT;

  // A hash of the configuration as read (after --set), without the seed (kept
  // on its own) and the checkpoint interval (which changes no result).
  static std::uint64_t hashOf(const boost::property_tree::ptree& configuration);

  // Writes the state of world and run; false after one line on standard error.
  static bool write(const std::string& runName, const Run& run, World& world);
  // Removes the run's checkpoint and its folder, when there are.
  static void remove(const std::string& runName);

  // Opens the checkpoint at path, checks its version and checksum and reads its run.
  explicit Checkpoint(const std::string& path);
  ~Checkpoint();
  Checkpoint(const Checkpoint&) = delete;
  Checkpoint& operator=(const Checkpoint&) = delete;

  const Run& run() const { return saved; }
  // Sets both random streams, the counters and world (built without founders) as saved.
  void restore(World& world);
  // Refuses the checkpoint for reason ("was written by ...").
  [[noreturn]] void refuse(const std::string& reason) const;

 private:
  void checkVersion();
  void checkChecksum(std::uint64_t size);

  std::string shownPath;
  int fd = -1;
  std::uint64_t bodyEnd = 0;  // where the trailer starts
  std::unique_ptr<StateArchive> archive;
  Run saved;
};

}  // namespace soilweb
