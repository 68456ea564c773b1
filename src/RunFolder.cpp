#include "RunFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <utility>

namespace fs = std::filesystem;

namespace {
// One line on standard error; false, so that callers can return it.
bool refuse(const std::string& line) {
  std::cerr << "soilweb: " << line << std::endl;
  return false;
}

bool cannot(const std::string& what, const std::string& path, int error) {
  return refuse("cannot " + what + " '" + path + "': " + std::strerror(error));
}

// Creates folder unless it is one already; 0, or the reason it cannot be.
int makeFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0777) == 0) return 0;
  const int reason = errno;
  struct stat info;
  return reason == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? 0 : reason;
}
}  // namespace

RunFolder::RunFolder(std::string name, std::string shownAs) : name(std::move(name)), shownAs(std::move(shownAs)) {}

bool RunFolder::holdsFiles() const {
  std::error_code error;
  for (fs::recursive_directory_iterator it(name, error), end; !error && it != end; it.increment(error))
    if (!it->is_directory(error)) return true;
  return false;
}

bool RunFolder::removeEarlierRun(const std::vector<std::string>& folders) const {
  for (const auto& sub : folders) {
    std::error_code error;
    for (fs::directory_iterator it(name + sub, error), end; !error && it != end; it.increment(error)) {
      const std::string file = it->path().filename().string();
      if (file.rfind(name + "_", 0) != 0 || it->is_symlink(error) || !it->is_regular_file(error)) continue;
      if (!fs::remove(it->path(), error)) return cannot("remove", shownAs + sub + "/" + file, error.value());
    }
  }
  return true;
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
      const std::string shown = shownAs + path.substr(name.size(), path.rfind(".partial") - name.size());
      return refuse("cannot create output file '" + shown + "': " + std::strerror(ENAMETOOLONG) +
                    " (the file system allows " + std::to_string(most) +
                    " bytes a name; shorten the names in simulation.outputs)");
    }
  }
  return true;
}

bool RunFolder::create(const std::vector<std::string>& folders) const {
  if (const int reason = makeFolder(name)) return cannot("create output folder", shownAs, reason);
  if (::access(name.c_str(), W_OK | X_OK) != 0) return cannot("write in output folder", shownAs, errno);
  for (const auto& sub : folders) {
    if (const int reason = makeFolder(name + sub)) return cannot("create output folder", shownAs + sub, reason);
    if (::access((name + sub).c_str(), W_OK | X_OK) != 0) return cannot("write in output folder", shownAs + sub, errno);
  }
  return true;
}

bool RunFolder::enter(const std::string& directory) {
  if (directory.empty()) return true;
  if (const int reason = makeFolder(directory)) return cannot("create output folder", directory, reason);
  if (::chdir(directory.c_str()) != 0) return cannot("enter output folder", directory, errno);
  return true;
}
