// The folder a run writes into, NAME/, and every file operation inside it.
// Before day 0 the run claims NAME: it locks the folder NAME itself (flock on
// its descriptor, which no one can remove as they could a lock file), held
// as long as the RunFolder, that is to the end of the run (a second soilweb on
// the same folder is refused, and the lock goes with the process however it
// ends), and writes its pid in
// NAME/.soilweb/lock; it refuses an earlier run or, with --overwrite, removes
// exactly the files that run listed in NAME/.soilweb/written (the list every
// run keeps of the files it creates) and names what it kept; then it makes the
// folders it writes in. Every file it starts is created anew (what stood at
// its name unlinked first) and a file it adds to is never a hard link, so no
// link placed in NAME makes it write elsewhere. NAME and
// its folders are opened once, refusing links, and every output file is
// created, renamed and removed relative to its folder's descriptor without
// following a link, so that nothing is written or removed outside NAME.
// Problems are reported in one line on standard error naming the path and the
// reason. The run driver owns the one RunFolder of a run for the whole run;
// output files and checkpoints reach it through the static operations.
#pragma once

#include <string>
#include <vector>

namespace soilweb {

class RunFolder {
 public:
  // name: the simulation name; shownAs: the path messages give (with --output-dir).
  RunFolder(std::string name, std::string shownAs);
  ~RunFolder();  // forgets the folders and releases the lock
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  // Whether every part of the paths (below the working directory, as they are
  // written, temporary names included) fits the file system's name limit.
  bool namesFit(const std::vector<std::string>& paths) const;
  // Makes NAME when missing, refuses it when it is a link or not a folder,
  // and locks it; false when another process holds the lock.
  bool claim();
  // What NAME holds besides soilweb's own folder, below NAME: every entry that
  // is not a folder (links included), at any depth.
  std::vector<std::string> contents() const;
  // The files below NAME (paths relative to it) that the earlier run did not list as its own.
  std::vector<std::string> unlisted() const;
  // Removes the files the earlier run listed (links as links), then the
  // folders they leave empty, and names in one line what it kept; refuses
  // when there is no list to go by.
  bool removeEarlierRun();
  // Refuses, in one line naming it, any of the folders below NAME (each
  // starting with '/') that is there as a link or as anything but a folder:
  // asked before anything is removed or written, so that a run refused for it
  // leaves an earlier run whole.
  bool refuseWhatIsNotAFolder(const std::vector<std::string>& folders) const;
  // Makes the folders below NAME (each starting with '/') the run writes in,
  // or says why they cannot be used; continuing: a stopped run carried on,
  // whose list of files written is added to rather than started anew.
  bool create(const std::vector<std::string>& folders, bool continuing);
  // Keeps some room on the disk so that the run's record can still be
  // written when its outputs have filled it, and gives it back.
  void reserveRoom();
  void releaseRoom();

  // Whether another process holds the lock of the run folder at path (after
  // one line saying so). Only a courtesy before a resume reads the folder:
  // claim() is what keeps a second writer out.
  static bool isInUse(const std::string& path);
  // Makes directory (and its missing parents) and moves into it; "" stays where we are.
  static bool enter(const std::string& directory);

  // File operations on paths below the working directory. Inside a claimed
  // run folder they act relative to the folder's descriptor and never follow
  // a link; a file created there is added to the run's list first. Elsewhere
  // (tests) they act on the path, still without following a final link.
  // Each returns a descriptor or 0, or -1 with errno set.
  static int openFile(const std::string& path, int flags);
  static int renameFile(const std::string& from, const std::string& to);
  static int removeFile(const std::string& path);
  // Makes a folder of the run (below NAME) when missing and opens it, refusing a link.
  static int makeFolder(const std::string& path);
  static void removeFolder(const std::string& path);
  // Writes a folder's entries (a rename) to the disk.
  static void syncFolder(const std::string& path);

 private:
  // The descriptor of the folder NAME/sub, -1 when it is missing or a link.
  int openBelow(const std::string& sub) const;
  // Removes a file named by its path below NAME, without following links.
  void removeListed(const std::string& relative) const;

  std::string name;
  std::string shownAs;
  int folder = -1;     // NAME
  int ownFolder = -1;  // NAME/.soilweb
};

}  // namespace soilweb
