#include "RunFolder.h"

#include <sys/stat.h>
#include <unistd.h>

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

const std::vector<std::string>& RunFolder::subfolders() {
  static const std::vector<std::string> folders = {"/outputs", "/animals_each_day_start", "/animals_each_day_end",
                                                   "/cells"};
  return folders;
}

bool RunFolder::holdsFiles() const {
  std::error_code error;
  for (fs::recursive_directory_iterator it(name, error), end; !error && it != end; it.increment(error))
    if (!it->is_directory(error)) return true;
  return false;
}

bool RunFolder::removeEarlierRun() const {
  for (const auto& sub : subfolders()) {
    std::error_code error;
    for (fs::directory_iterator it(name + sub, error), end; !error && it != end; it.increment(error)) {
      const std::string file = it->path().filename().string();
      if (file.rfind(name + "_", 0) != 0 || it->is_symlink(error) || !it->is_regular_file(error)) continue;
      if (!fs::remove(it->path(), error)) return cannot("remove", shownAs + sub + "/" + file, error.value());
    }
  }
  return true;
}

// Checked before any folder is made, so that a refused run leaves nothing
// behind. Whole files are written under their name + ".partial" first.
bool RunFolder::namesFit(const std::vector<std::string>& outputFiles, int lastDay, const std::string& suffix) const {
  const long most = ::pathconf(".", _PC_NAME_MAX);
  if (most <= 0) return true;
  const std::string day = std::to_string(lastDay < 0 ? 0 : lastDay);
  std::vector<std::pair<std::string, std::string>> files = {{"", name}};
  for (const auto& file : outputFiles) files.emplace_back("/outputs/", name + "_" + file + suffix + ".partial");
  files.emplace_back("/cells/", name + "_cells_day_" + day + ".txt" + suffix + ".partial");
  files.emplace_back("/animals_each_day_start/", name + "_animals_day_" + day + ".txt" + suffix + ".partial");
  for (const auto& [folder, file] : files) {
    if (static_cast<long>(file.size()) <= most) continue;
    const std::string path = folder.empty() ? shownAs : shownAs + folder + file.substr(0, file.rfind(".partial"));
    return refuse("cannot create output file '" + path + "': " + std::strerror(ENAMETOOLONG) +
                  " (the file system allows " + std::to_string(most) +
                  " bytes a name; shorten the names in simulation.outputs)");
  }
  return true;
}

bool RunFolder::create(const std::vector<std::string>& wanted) const {
  if (const int reason = makeFolder(name)) return cannot("create output folder", shownAs, reason);
  if (::access(name.c_str(), W_OK | X_OK) != 0) return cannot("write in output folder", shownAs, errno);
  for (const auto& sub : wanted) {
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
