// What a run is about to write, in bytes, estimated before its days start
// from the founders, the days, the layout and the output keys: the daily
// snapshots, the food-web files and the rest. A rough, lower-end figure (the
// population held at the founders' number; a growing population, or the dead
// kept in the snapshots, write more), good for one warning before a run that
// writes gigabytes and for saying what the closing phase writes. A value.
#pragma once

#include <cstdint>
#include <string>

namespace soilweb {

struct RunSettings;
class World;

class OutputEstimate {
 public:
  // founders: the animals at the start; lastDay: the last day configured;
  // cells: the cells of the ring.
  OutputEstimate(const RunSettings& settings, long founders, int lastDay, int cells);
  // The estimate of a world as configured: its founders, days and cells.
  static OutputEstimate of(const RunSettings& settings, const World& world);

  std::uint64_t snapshotBytes = 0;  // the animal and cell snapshots
  std::uint64_t foodWebBytes = 0;   // written after the last day
  std::uint64_t otherBytes = 0;     // summary, statistics, pedigree

  std::uint64_t total() const { return snapshotBytes + foodWebBytes + otherBytes; }
  // Above this, a run says what it will write and what shrinks it.
  static constexpr std::uint64_t NOTABLE = std::uint64_t(1) << 30;
  // "the food-web matrices" or "the food-web tables".
  std::string foodWebName() const;
  // The note before a notable run ("" below NOTABLE): the estimate, its
  // parts, and the keys that shrink it which the run does not use yet.
  std::string note() const;
  // "1.9 GB", "340 MB", "12 kB".
  static std::string size(std::uint64_t bytes);

 private:
  bool matrices = false;    // the food web as dense matrices
  bool edges = false;       // the food web as node and edge tables
  bool tables = false;      // the tables layout
  bool gzip = false;
  bool thinned = false;     // snapshotEvery above 1, or some snapshots left out
};

}  // namespace soilweb
