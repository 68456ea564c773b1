#include "io/RunFolder.h"

#include "io/RunLayout.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

namespace soilweb {

namespace fs = std::filesystem;

namespace {
const char* const OWN = RunLayout::OWN;
const off_t RESERVE = 256 << 10;       // room kept for the run's record; it takes a few KiB
const char* const LOCK_FILE = "lock";  // the pid of the process holding the run folder

// The open folders of the claimed run, by their path below the working
// directory, and the list of files it creates. Files are opened on the
// writing thread too.
std::mutex registryMutex;
std::map<std::string, int> openFolders;
std::string runPrefix;  // "NAME/"
int written = -1;       // NAME/.soilweb/written, appended to

// One line on standard error; false, so that callers can return it.
bool refuse(const std::string& line) {
  std::cerr << "soilweb: " << line << std::endl;
  return false;
}

bool cannot(const std::string& what, const std::string& path, int error) {
  return refuse("cannot " + what + " '" + path + "': " + std::strerror(error));
}

// Creates folder (at, relative to a descriptor) unless it is one already; 0, or the reason it cannot be.
int makeFolderAt(int at, const std::string& folder) {
  if (::mkdirat(at, folder.c_str(), 0777) == 0) return 0;
  const int reason = errno;
  struct stat info;
  if (reason != EEXIST || ::fstatat(at, folder.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return reason;
  return S_ISDIR(info.st_mode) ? 0 : S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
}

int openFolderAt(int at, const std::string& folder) {
  return ::openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Why a folder could not be used: a link or a file in its place are named as such.
std::string folderProblem(int at, const std::string& folder, int error) {
  struct stat info;
  if (::fstatat(at, folder.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return "is a link; soilweb writes only into folders of its own, not through links";
    if (!S_ISDIR(info.st_mode)) return "is not a folder";
  }
  return std::strerror(error);
}

// Whether a path listed by an earlier run stays below NAME: no empty, "." or ".." part.
bool staysBelow(const std::string& relative) {
  std::istringstream parts(relative);
  bool any = false;
  for (std::string part; std::getline(parts, part, '/'); any = true)
    if (part.empty() || part == "." || part == "..") return false;
  return any;
}

// The folder part and the name of a path.
std::pair<std::string, std::string> split(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

// The descriptor of the run's folder holding path and the file's name in it;
// -1 when the path is not inside a claimed run folder.
int folderOf(const std::string& path, std::string& file) {
  auto [folder, name] = split(path);
  file = name;
  std::lock_guard<std::mutex> lock(registryMutex);
  const auto found = openFolders.find(folder);
  return found == openFolders.end() ? -1 : found->second;
}

// A file's name once written: a file being written is listed under it.
std::string finalName(std::string path) {
  const std::string partial = RunLayout::PARTIAL;
  if (path.size() > partial.size() && path.compare(path.size() - partial.size(), partial.size(), partial) == 0)
    path.resize(path.size() - partial.size());
  return path;
}

// Adds a file about to be created to the run's list, by its path below NAME
// and under its final name.
void addToList(const std::string& path) {
  std::lock_guard<std::mutex> lock(registryMutex);
  if (written < 0 || path.compare(0, runPrefix.size(), runPrefix) != 0) return;
  std::string entry = finalName(path.substr(runPrefix.size())) + '\n';
  // One write: the list is appended to from two threads and must stay whole lines.
  if (::write(written, entry.data(), entry.size()) < 0) return;  // a list that cannot grow only limits --overwrite
}

void closeRegistry() {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (auto& [path, fd] : openFolders) ::close(fd);
  openFolders.clear();
  if (written >= 0) ::close(written);
  written = -1;
  runPrefix.clear();
}

// Says that another process holds the run folder's lock, naming it by the pid
// the holder writes in the lock file just after taking the lock.
void refuseInUse(const std::string& shownAs, int ownFolder) {
  std::string pid;
  for (int attempt = 0; attempt < 200 && pid.empty(); ++attempt) {
    char text[32] = {};
    const int file =
        ownFolder < 0 ? -1 : ::openat(ownFolder, LOCK_FILE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const ssize_t got = file < 0 ? -1 : ::read(file, text, sizeof text - 1);
    if (file >= 0) ::close(file);
    if (got > 0 && text[got - 1] == '\n')
      pid.assign(text, static_cast<std::size_t>(got - 1));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  refuse("run folder '" + shownAs + "' is in use by another soilweb process" +
         (pid.empty() ? std::string() : " (pid " + pid + ")"));
}

// Creates file (at, relative to a descriptor) anew: whatever stands at its
// name is unlinked first, so that a hard link or a link placed there is
// replaced rather than written through. A descriptor, or -1 with errno set.
int createAnew(int at, const std::string& file, int flags) {
  if (::unlinkat(at, file.c_str(), 0) != 0 && errno != ENOENT) return -1;
  return ::openat(at, file.c_str(), (flags & ~O_TRUNC) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// Opens an existing file to add to it, never through a link: a regular file
// with another name elsewhere (a hard link) is refused with EMLINK.
int openToAddTo(int at, const std::string& file, int flags) {
  const int fd = ::openat(at, file.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0666);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink <= 1) return fd;
  ::close(fd);
  errno = EMLINK;
  return -1;
}

void registerFolder(const std::string& path, int fd) {
  std::lock_guard<std::mutex> lock(registryMutex);
  auto [at, added] = openFolders.emplace(path, fd);
  if (!added) {
    ::close(at->second);
    at->second = fd;
  }
}
}  // namespace

RunFolder::RunFolder(std::string name, std::string shownAs) : name(std::move(name)), shownAs(std::move(shownAs)) {}

RunFolder::~RunFolder() {
  closeRegistry();
  if (ownFolder >= 0) ::close(ownFolder);
  if (folder >= 0) ::close(folder);  // releases the lock: the run is over
}

// Checked before any folder is made, so that a refused run leaves nothing behind.
bool RunFolder::namesFit(const std::vector<std::string>& paths) const {
  const long most = ::pathconf(".", _PC_NAME_MAX);
  if (most <= 0) return true;
  for (const auto& path : paths) {
    for (std::size_t from = 0, to; from < path.size(); from = to + 1) {
      to = std::min(path.find('/', from), path.size());
      if (static_cast<long>(to - from) <= most) continue;
      // Shown as the file will be named, with --output-dir and without the temporary ending.
      const std::string shown = shownAs + path.substr(name.size(), path.rfind(RunLayout::PARTIAL) - name.size());
      return refuse("cannot create output file '" + shown + "': " + std::strerror(ENAMETOOLONG) +
                    " (the file system allows " + std::to_string(most) +
                    " bytes a name; shorten the names in simulation.outputs)");
    }
  }
  return true;
}

bool RunFolder::claim() {
  if (const int reason = makeFolderAt(AT_FDCWD, name); reason && reason != ELOOP && reason != ENOTDIR)
    return cannot("create output folder", shownAs, reason);
  folder = openFolderAt(AT_FDCWD, name);
  if (folder < 0) return refuse("run folder '" + shownAs + "' " + folderProblem(AT_FDCWD, name, errno));
  if (::faccessat(folder, ".", W_OK | X_OK, 0) != 0) return cannot("write in output folder", shownAs, errno);
  if (const int reason = makeFolderAt(folder, OWN)) return cannot("create", shownAs + "/" + OWN, reason);
  ownFolder = openFolderAt(folder, OWN);
  if (ownFolder < 0) return refuse("'" + shownAs + "/" + OWN + "' " + folderProblem(folder, OWN, errno));
  // The folder itself is locked: its descriptor stays open (and the lock
  // held) to the end of the run, and no one can remove the lock from it.
  if (::flock(folder, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return cannot("lock", shownAs, errno);
    refuseInUse(shownAs, ownFolder);
    return false;
  }
  // The lock file only says who holds the folder.
  const int pidFile = createAnew(ownFolder, LOCK_FILE, O_WRONLY);
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (pidFile >= 0 && ::write(pidFile, pid.data(), pid.size()) < 0) {
    // The pid only makes a refusal friendlier; the lock is what counts.
  }
  if (pidFile >= 0) ::close(pidFile);
  registerFolder(name, ::dup(folder));
  return true;
}

std::vector<std::string> RunFolder::contents() const {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(name, error), end; !error && it != end; it.increment(error)) {
    if (it.depth() == 0 && it->path().filename() == OWN) {
      it.disable_recursion_pending();
      continue;
    }
    // Links are never followed: a link to a folder is an entry like any file.
    if (!fs::is_directory(it->symlink_status(error))) found.push_back(it->path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

int RunFolder::openBelow(const std::string& sub) const {
  int at = ::dup(folder);
  std::istringstream parts(sub);
  for (std::string part; at >= 0 && std::getline(parts, part, '/');) {
    if (part.empty()) continue;
    const int next = openFolderAt(at, part);
    ::close(at);
    at = next;
  }
  return at;
}

void RunFolder::removeListed(const std::string& relative) const {
  if (!staysBelow(relative)) return;  // never one of ours
  const auto [sub, file] = split(relative);
  const int at = sub.empty() ? ::dup(folder) : openBelow(sub);
  if (at < 0) return;
  ::unlinkat(at, file.c_str(), 0);
  ::unlinkat(at, (file + RunLayout::PARTIAL).c_str(), 0);
  ::close(at);
}

namespace {
// The paths below NAME listed in NAME/.soilweb/written, one a line; false when there is no list.
bool readList(int ownFolder, std::vector<std::string>& listed) {
  const int list = ::openat(ownFolder, "written", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (list < 0) return false;
  std::string text;
  char block[1 << 16];
  for (ssize_t got; (got = ::read(list, block, sizeof block)) > 0;) text.append(block, static_cast<std::size_t>(got));
  ::close(list);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) listed.push_back(line);
  return true;
}
}  // namespace

std::vector<std::string> RunFolder::unlisted() const {
  std::vector<std::string> listed, found;
  readList(ownFolder, listed);
  std::sort(listed.begin(), listed.end());
  for (const auto& path : contents()) {
    const std::string relative = path.substr(name.size() + 1);
    if (!std::binary_search(listed.begin(), listed.end(), finalName(relative))) found.push_back(relative);
  }
  return found;
}

bool RunFolder::removeEarlierRun() {
  std::vector<std::string> listed;
  if (!readList(ownFolder, listed))
    return refuse("--overwrite: output folder '" + shownAs +
                  "' holds no list of the files a soilweb run wrote there (it was made by hand, by another program "
                  "or by an older soilweb), so nothing in it is removed; remove it yourself or change "
                  "simulation.outputs.simulationName");
  std::vector<std::string> folders;
  for (const std::string& line : listed) {
    removeListed(line);
    const auto slash = line.rfind('/');
    if (slash != std::string::npos) folders.push_back(line.substr(0, slash));
  }
  // The folders the earlier run wrote in go too when nothing else is left in them.
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    if (staysBelow(*it)) ::unlinkat(folder, it->c_str(), AT_REMOVEDIR);
  ::unlinkat(ownFolder, "written", 0);

  const auto kept = contents();
  if (!kept.empty()) {
    std::string named;
    const std::size_t shown = std::min<std::size_t>(kept.size(), 5);
    for (std::size_t k = 0; k < shown; ++k) named += (k ? ", " : "") + shownAs + kept[k].substr(name.size());
    if (kept.size() > shown) named += ", …";
    std::cerr << "soilweb: --overwrite kept " << kept.size() << (kept.size() == 1 ? " file" : " files")
              << " soilweb did not write: " << named << std::endl;
  }
  return true;
}

bool RunFolder::refuseWhatIsNotAFolder(const std::vector<std::string>& folders) const {
  for (const auto& sub : folders) {
    struct stat info;
    const std::string part = sub.substr(1);
    if (::fstatat(folder, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode))
      return refuse("'" + shownAs + sub + "' " + folderProblem(folder, part, ENOTDIR));
  }
  return true;
}

bool RunFolder::create(const std::vector<std::string>& folders, bool continuing) {
  for (const auto& sub : folders) {
    const std::string part = sub.substr(1);
    if (const int reason = makeFolderAt(folder, part); reason && reason != ELOOP && reason != ENOTDIR)
      return cannot("create output folder", shownAs + sub, reason);
    const int fd = openFolderAt(folder, part);
    if (fd < 0) return refuse("'" + shownAs + sub + "' " + folderProblem(folder, part, errno));
    if (::faccessat(fd, ".", W_OK | X_OK, 0) != 0) {
      const int reason = errno;
      ::close(fd);
      return cannot("write in output folder", shownAs + sub, reason);
    }
    registerFolder(name + sub, fd);
  }
  const int list = continuing ? openToAddTo(ownFolder, "written", O_WRONLY | O_APPEND)
                              : createAnew(ownFolder, "written", O_WRONLY | O_APPEND);
  if (list < 0) return cannot("create the list of files", shownAs + "/" + OWN + "/written", errno);
  std::lock_guard<std::mutex> lock(registryMutex);
  written = list;
  runPrefix = name + "/";
  return true;
}

void RunFolder::reserveRoom() {
  const int fd = createAnew(ownFolder, "reserve", O_WRONLY);
  const int reason = fd < 0 ? errno : ::posix_fallocate(fd, 0, RESERVE);
  if (fd >= 0) ::close(fd);
  if (reason == 0) return;
  ::unlinkat(ownFolder, "reserve", 0);  // no room to spare even now
  std::cerr << "soilweb: warning: cannot keep " << (RESERVE >> 10) << " KiB of room for the run's record in '"
            << shownAs << "/" << OWN << "/reserve' (" << std::strerror(reason)
            << "); should the disk fill, the record is written over in place" << std::endl;
}

void RunFolder::releaseRoom() {
  if (ownFolder >= 0) ::unlinkat(ownFolder, "reserve", 0);
}

bool RunFolder::isInUse(const std::string& path) {
  const int at = openFolderAt(AT_FDCWD, path);
  if (at < 0) return false;
  const bool held = ::flock(at, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (held) {
    const int own = openFolderAt(at, OWN);
    refuseInUse(path, own);
    if (own >= 0) ::close(own);
  }
  ::close(at);  // releases the shared lock, if taken
  return held;
}

bool RunFolder::enter(const std::string& directory) {
  if (directory.empty()) return true;
  // Its missing parents are made too, as `mkdir -p` would.
  for (std::size_t slash = directory.find('/', 1); slash != std::string::npos; slash = directory.find('/', slash + 1))
    if (const int reason = makeFolderAt(AT_FDCWD, directory.substr(0, slash)); reason && reason != ELOOP)
      return cannot("create output folder", directory.substr(0, slash), reason);
  if (const int reason = makeFolderAt(AT_FDCWD, directory); reason && reason != ELOOP)
    return cannot("create output folder", directory, reason);
  if (::chdir(directory.c_str()) != 0) return cannot("enter output folder", directory, errno);
  return true;
}

int RunFolder::openFile(const std::string& path, int flags) {
  std::string file;
  const int at = folderOf(path, file);
  if (at < 0) return ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (flags & O_CREAT) addToList(path);
  // A file started afresh is created anew; one added to is never a hard link.
  return flags & O_TRUNC ? createAnew(at, file, flags) : openToAddTo(at, file, flags);
}

int RunFolder::renameFile(const std::string& from, const std::string& to) {
  std::string fromFile, toFile;
  const int fromAt = folderOf(from, fromFile), toAt = folderOf(to, toFile);
  // A rename replaces a link at its target rather than following it.
  if (fromAt < 0 || toAt < 0) return std::rename(from.c_str(), to.c_str());
  return ::renameat(fromAt, fromFile.c_str(), toAt, toFile.c_str());
}

int RunFolder::removeFile(const std::string& path) {
  std::string file;
  const int at = folderOf(path, file);
  return at < 0 ? ::unlink(path.c_str()) : ::unlinkat(at, file.c_str(), 0);
}

int RunFolder::makeFolder(const std::string& path) {
  std::string sub;
  const int at = folderOf(path, sub);
  if (at < 0) return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST ? 0 : -1;
  if (const int reason = makeFolderAt(at, sub)) {
    errno = reason;
    return -1;
  }
  const int fd = openFolderAt(at, sub);
  if (fd < 0) return -1;
  registerFolder(path, fd);
  return 0;
}

void RunFolder::removeFolder(const std::string& path) {
  std::string sub;
  const int at = folderOf(path, sub);
  if (at < 0) {
    ::rmdir(path.c_str());
    return;
  }
  ::unlinkat(at, sub.c_str(), AT_REMOVEDIR);  // only when empty
}

void RunFolder::syncFolder(const std::string& path) {
  std::string sub;
  const int at = folderOf(path, sub);
  const int fd = at < 0 ? ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : openFolderAt(at, sub);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace soilweb
