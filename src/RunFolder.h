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

  // Whether NAME holds any file, at any depth.
  bool holdsFiles() const;
  // Removes what an earlier run of this name wrote in the folders below NAME
  // (each starting with '/'): regular files named NAME_..., and nothing else.
  bool removeEarlierRun(const std::vector<std::string>& folders) const;
  // Whether every part of the paths (below the working directory, as they are
  // written, temporary names included) fits the file system's name limit.
  bool namesFit(const std::vector<std::string>& paths) const;
  // Makes NAME and the folders below it (each starting with '/') the run
  // writes in, or says why they cannot be used.
  bool create(const std::vector<std::string>& folders) const;

  // Makes directory when missing and moves into it; "" stays where we are.
  static bool enter(const std::string& directory);

 private:
  std::string name;
  std::string shownAs;
};
