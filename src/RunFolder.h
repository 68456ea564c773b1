// The folder a run writes into, NAME/ with its four folders (outputs,
// animals_each_day_start, animals_each_day_end, cells), made ready before day
// 0: an earlier run's files are refused or removed, names too long for the file
// system and folders that cannot be made or written are reported in one line
// on standard error naming the path and the reason. Used by the run driver
// while it prepares a run.
#pragma once

#include <string>
#include <vector>

class RunFolder {
 public:
  // name: the simulation name; shownAs: the path messages give (with --output-dir).
  RunFolder(std::string name, std::string shownAs);

  // The four folders below NAME, each starting with '/'.
  static const std::vector<std::string>& subfolders();

  // Whether NAME holds any file, at any depth.
  bool holdsFiles() const;
  // Removes what an earlier run of this name wrote in its four folders (regular
  // files named NAME_...) and nothing else.
  bool removeEarlierRun() const;
  // Whether the run's file names fit the file system: outputFiles are the
  // names written in outputs/, lastDay numbers the longest snapshot name,
  // suffix is added to every name but the run's record (".gz" when compressed).
  bool namesFit(const std::vector<std::string>& outputFiles, int lastDay, const std::string& suffix) const;
  // Makes NAME and those of its four folders the run writes in, or says why
  // they cannot be used.
  bool create(const std::vector<std::string>& wanted) const;

  // Makes directory when missing and moves into it; "" stays where we are.
  static bool enter(const std::string& directory);

 private:
  std::string name;
  std::string shownAs;
};
