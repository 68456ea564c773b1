#include "run/RunDriver.h"

#include "core/Configuration.h"
#include "core/GlobalFunctions.h"
#include "model/World.h"
#include "output/ConsoleReport.h"
#include "io/OutputFile.h"
#include "io/RunFolder.h"
#include "output/RunInfo.h"
#include "io/RunLayout.h"
#include "io/Transcript.h"
#include "run/Checkpoint.h"
#include "run/OutputEstimate.h"
#include "run/RunSettings.h"
#include "run/StartedRun.h"
#include "run/StopSignals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <random>
#include <sstream>
#include <vector>

namespace soilweb {

namespace fs = std::filesystem;

namespace {
// The most soilweb reads as a configuration: far more than any configuration,
// far less than would exhaust memory. A run's own record holds its whole
// configuration, written out with indentation, so it may be larger: it is read
// up to RECORD_MOST_READ, so that any run soilweb accepted can be carried on.
const off_t MOST_READ = off_t(64) << 20;
const off_t RECORD_MOST_READ = 4 * MOST_READ;

// Reads the regular file at path whole; "" when it could, else why not. A
// FIFO, a device or a folder is refused before it is opened (reading one
// could wait or go on for ever); a link is followed only when linkAllowed.
std::string readRegularFile(const std::string& path, bool linkAllowed, std::string& text) {
  const off_t mostRead = linkAllowed ? MOST_READ : RECORD_MOST_READ;
  struct stat info;
  if ((linkAllowed ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  if (S_ISLNK(info.st_mode)) return "it is a link, not a file soilweb wrote";
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (linkAllowed ? 0 : O_NOFOLLOW));
  if (fd < 0) return std::strerror(errno);
  std::string problem;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) problem = "it is not a regular file";
  char block[1 << 16];
  while (problem.empty()) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) problem = std::strerror(errno);
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
    if (static_cast<off_t>(text.size()) > mostRead)
      problem = "it is larger than " + std::to_string(mostRead >> 20) + " MiB, the most soilweb reads";
  }
  ::close(fd);
  return problem;
}

// Reads and parses a configuration (or, no link allowed, a record, whose text
// is kept in text); reports why it could not.
bool readConfiguration(const std::string& path, boost::property_tree::ptree& tree, bool linkAllowed = true,
                       std::string* kept = nullptr) {
  std::string scratch;
  std::string& text = kept ? *kept : scratch;
  if (const std::string problem = readRegularFile(path, linkAllowed, text); !problem.empty()) {
    std::cerr << "soilweb: cannot read " << path << ": " << problem << std::endl;
    return false;
  }
  try {
    tree = Configuration::parse(text, kept ? 2 * Configuration::MOST_VALUES : Configuration::MOST_VALUES);
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << path << ": " << e.what() << std::endl;
    return false;
  }
  StopSignals::reach("configuration");
  return true;
}

// Where a run goes, as the command line asked.
struct Placement {
  std::string directory;   // the folder the run's folder is in, "" for the working directory
  bool overwrite = false;  // an earlier run's files may be replaced
  bool resuming = false;   // the run's folder holds the stopped run being carried on
  std::string shown(const std::string& name) const { return (directory.empty() ? "" : directory + "/") + name; }
};

// The folder --resume gives, without a trailing '/': its last part is the run's name.
fs::path resumedFolder(const std::string& given) {
  const fs::path folder = fs::path(given).lexically_normal();
  return folder.has_filename() ? folder : folder.parent_path();
}

Placement placementOf(const RunOptions& options) {
  if (options.resume.empty()) return {options.outputDirectory, options.overwrite, false};
  return {resumedFolder(options.resume).parent_path().string(), false, true};
}

// The longest names the run will write, under their temporary names.
std::vector<std::string> longestPaths(const RunSettings& names) {
  const std::string gz = names.gzip ? RunLayout::GZIP : "", partial = RunLayout::PARTIAL;
  const int lastDay = std::max(World::DAYS, 0);
  std::vector<std::string> paths = {names.recordPath() + partial,
                                    RunLayout::checkpointPath(names.simulation) + partial};
  for (const auto& file : names.growingFiles()) paths.push_back(file + gz);
  for (const auto& file : names.dayFiles(lastDay)) paths.push_back(file + gz + partial);
  for (const auto& file : names.foodWebFiles()) paths.push_back(names.outputPath(file) + gz + partial);
  return paths;
}

// --overwrite keeps what the earlier run did not list: a run that would write
// over such a file is refused, naming it, before anything is removed.
bool refuseToReplaceUnlisted(const RunFolder& folder, const RunSettings& names, const std::string& shown) {
  for (const auto& relative : folder.unlisted()) {
    if (!names.mayWrite(relative)) continue;
    std::cerr << "soilweb: --overwrite: '" << shown << "/" << relative
              << "' was not written by soilweb (it is not in the run's list of files written), and this run would "
                 "write over it; move it away or change simulation.outputs.simulationName"
              << std::endl;
    return false;
  }
  return true;
}

// Claims the run's folder and makes it ready for the run; null after one line
// saying why not.
std::unique_ptr<RunFolder> prepareRunFolder(const RunSettings& names, const Placement& placement) {
  const std::string shown = placement.shown(names.simulation);
  auto folder = std::make_unique<RunFolder>(names.simulation, shown);
  if (!folder->namesFit(longestPaths(names)) || !folder->claim()) return nullptr;
  // Every folder the run writes in, its checkpoint's too, is checked before an
  // earlier run is removed, and before anything is written.
  std::vector<std::string> subfolders = names.folders();
  subfolders.push_back(std::string("/") + RunLayout::CHECKPOINTS);
  if (!placement.resuming && !folder->contents().empty()) {
    if (!placement.overwrite) {
      std::cerr << "soilweb: output folder '" << shown
                << "' already exists; remove it, change simulation.outputs.simulationName or pass --overwrite"
                << std::endl;
      return nullptr;
    }
    if (!folder->refuseWhatIsNotAFolder(subfolders) || !refuseToReplaceUnlisted(*folder, names, shown) ||
        !folder->removeEarlierRun())
      return nullptr;
  }
  if (!folder->refuseWhatIsNotAFolder(subfolders) || !folder->create(names.folders(), placement.resuming))
    return nullptr;
  return folder;
}

// The seed of the run: from the configuration (the file, --seed or --set put it
// there), else drawn from the system's entropy and announced.
long chooseSeed(const Configuration& config, const RunOptions& options, RunInfo& info) {
  if (config.has("simulation.seed")) {
    info.seed = config.strictLong("simulation.seed");
    const bool fromSet = std::any_of(options.settings.begin(), options.settings.end(),
                                     [](const std::string& s) { return s.rfind("simulation.seed=", 0) == 0; });
    info.seedSource = options.seed ? "--seed" : fromSet ? "--set" : "file";
  } else {
    info.seed = static_cast<long>(std::random_device{}());
    info.seedSource = "drawn";
    std::cout << "Seed: " << info.seed << std::endl;
  }
  return info.seed;
}

// Applies --set and --seed to the document; false (after one line) when a key cannot be set.
bool applySettings(boost::property_tree::ptree& tree, const RunOptions& options) {
  try {
    for (const auto& setting : options.settings) {
      const auto equals = setting.find('=');
      if (equals == std::string::npos) throw Configuration::Error("--set " + setting + ": expected KEY=VALUE");
      Configuration::set(tree, setting.substr(0, equals), setting.substr(equals + 1));
    }
    if (options.seed) Configuration::set(tree, "simulation.seed", std::to_string(*options.seed));
    if (options.checkpointEvery)
      Configuration::set(tree, "simulation.checkpointEvery", std::to_string(*options.checkpointEvery));
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << e.what() << std::endl;
    return false;
  }
  return true;
}

// Prints the warnings of reading; under --strict they are errors and the run may not go on.
bool reportWarnings(const std::vector<std::string>& warnings, const RunOptions& options, const std::string& file) {
  for (const auto& warning : warnings)
    std::cerr << "soilweb: " << file << (options.strict ? ": error (--strict): " : ": warning: ") << warning
              << std::endl;
  return !options.strict || warnings.empty();
}

std::string currentDirectory() {
  std::error_code error;
  return fs::current_path(error).string();
}

// Opens the checkpoint of the stopped run in options.resume and checks that
// it belongs to this configuration; its seed becomes the run's.
std::unique_ptr<Checkpoint> openCheckpoint(const Configuration& config, const boost::property_tree::ptree& tree,
                                           const RunOptions& options, RunInfo& info) {
  const std::string name = resumedFolder(options.resume).filename().string();
  const std::string nameKey = "simulation.outputs.simulationName";
  if (config.text(nameKey) != name)
    config.fail(nameKey, "names the run '" + config.text(nameKey) + "', not '" + name + "' given to --resume");
  auto checkpoint = std::make_unique<Checkpoint>(placementOf(options).shown(RunLayout::checkpointPath(name)));
  const Checkpoint::Run& run = checkpoint->run();
  if (run.configurationHash != Checkpoint::hashOf(tree))
    checkpoint->refuse(
        "was written by a run of another configuration: resume with the configuration file and "
        "--set settings the run started with");
  if (config.has("simulation.seed") && config.strictLong("simulation.seed") != run.seed)
    checkpoint->refuse("was written by a run of seed " + std::to_string(run.seed) + ", not " +
                       std::to_string(config.strictLong("simulation.seed")));
  info.seed = static_cast<long>(run.seed);
  info.seedSource = "checkpoint";
  info.resumedFromDay = run.day;
  return checkpoint;
}

// The record of the run in the folder given to --resume: refuses a missing
// folder and a run that already ended; without a configuration file on the
// command line the record's configuration is the run's. False after one line.
bool readResumedRun(const RunOptions& options, boost::property_tree::ptree& tree, RunInfo& info,
                    std::string& recordText) {
  const fs::path folder = resumedFolder(options.resume);
  const std::string name = folder.filename().string();
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    std::cerr << "soilweb: --resume: there is no run folder '" << folder.string() << "'" << std::endl;
    return false;
  }
  if (RunFolder::isInUse(folder.string())) return false;
  const std::string recordPath = (folder.parent_path() / RunLayout::recordPath(name)).string();
  boost::property_tree::ptree record;
  struct stat entry;
  const bool haveRecord = ::lstat(recordPath.c_str(), &entry) == 0;
  if (haveRecord && !readConfiguration(recordPath, record, false, &recordText)) return false;
  const std::string status = record.get("status", "");
  if (status == "completed" || status == "extinct") {
    std::cerr << "soilweb: --resume: the run in '" << folder.string() << "' has already ended ("
              << (status == "completed" ? "completed" : "its animals died out") << "); there is nothing to carry on"
              << std::endl;
    return false;
  }
  if (options.configGiven) return readConfiguration(options.configPath, tree);
  const auto configuration = record.get_child_optional("configuration");
  if (!configuration || configuration->empty()) {
    std::cerr << "soilweb: --resume: the record '" << recordPath << "' "
              << (haveRecord ? "holds no configuration" : "is missing")
              << "; give the configuration file the run started with" << std::endl;
    return false;
  }
  tree = *configuration;
  info.configurationFile = recordPath;
  return true;
}

// Builds what the run needs from the configuration: its output names, the
// world (or, --check, the world without founders, only to read and check
// every key), reported on console, and, for a resumed run, the checkpoint it
// carries on from. False after one line naming the problem.
bool build(const RunOptions& options, boost::property_tree::ptree& tree, RunInfo& info, RunSettings& names,
           ConsoleReport& console, std::unique_ptr<World>& world, std::unique_ptr<Checkpoint>& resumed) {
  Configuration::clearRecords();
  try {
    const Configuration config(tree);
    names = RunSettings::read(config, tree);
    OutputFile::gzip = names.gzip;
    OutputFile::compressionThreads = names.compressionThreads();
    OutputFile::wholeFileThreads = names.wholeFileThreads();
    // The tables layout is made for large runs: it trades a little size for speed.
    OutputFile::compressionLevel = names.snapshots.tables ? 1 : 6;
    if (!options.resume.empty()) resumed = openCheckpoint(config, tree, options, info);
    const long seed = resumed ? info.seed : chooseSeed(config, options, info);
    // The recorded configuration repeats the run: the seed used is in it.
    if (!options.check && !tree.get_child_optional("simulation.seed"))
      Configuration::set(tree, "simulation.seed", std::to_string(seed));
    seedRandom(seed);
    world = std::make_unique<World>(tree, !resumed && !options.check, &console);
    if (resumed) resumed->restore(*world);
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << info.configurationFile << ": " << e.what() << std::endl;
    return false;
  } catch (const Checkpoint::Refused& e) {
    std::cerr << e.what() << std::endl;
    return false;
  } catch (const std::bad_alloc&) {
    std::cerr << "soilweb: " << info.configurationFile
              << ": out of memory while building the world (check worldLength, initialPopulation and numberOfLoci)"
              << std::endl;
    return false;
  }
  info.warnings = Configuration::warnings;
  std::vector<std::string> nearMisses;
  for (const auto& warning : Configuration::unknownKeyWarnings(tree, nearMisses)) info.warnings.push_back(warning);
  if (!nearMisses.empty()) {
    reportWarnings(info.warnings, options, info.configurationFile);
    for (const auto& error : nearMisses) std::cerr << "soilweb: " << info.configurationFile << ": " << error << std::endl;
    return false;
  }
  return reportWarnings(info.warnings, options, info.configurationFile);
}

// A path named on the command line, made absolute before the run enters its output folder.
std::string absolutePath(const std::string& given) {
  if (given.empty()) return given;
  std::error_code error;
  const fs::path path = fs::absolute(given, error);
  return error ? given : path.string();
}

// --record-path FILE: the absolute path of the run's record, its exact bytes
// and nothing else, so that a caller finds the run whatever its name holds.
bool tellRecordPath(const std::string& file, const std::string& record) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << absolutePath(record);
  out.close();
  if (out) return true;
  std::cerr << "soilweb: --record-path: cannot write '" << file << "'" << std::endl;
  return false;
}

// A new run whose estimate is more than the free space where its folder goes
// is refused before anything is written: filling a shared disk would stop
// every other user's work too. False after one line giving both figures.
bool fitsOnDisk(const OutputEstimate& expected, const RunOptions& options) {
  struct statvfs disk;
  // A filesystem of no blocks (/proc, say) tells nothing of room: writing there fails on its own.
  if (options.forceSize || ::statvfs(".", &disk) != 0 || disk.f_blocks == 0) return true;
  const std::uint64_t free = std::uint64_t(disk.f_bavail) * disk.f_frsize;
  if (expected.total() <= free) return true;
  std::cerr << "soilweb: this run will write at least " << OutputEstimate::size(expected.total()) << ", more than the "
            << OutputEstimate::size(free) << " free on the disk of its folder; shrink it"
            << (expected.note().empty() ? "" : " (see the note above)") << ", free some space, or pass --force-size"
            << std::endl;
  return false;
}

// --check: the configuration was read and checked; says so and writes nothing.
int reportChecked(const RunInfo& info) {
  std::cout.clear();
  std::cout << "soilweb: " << info.configurationFile << ": the configuration is valid";
  if (!info.warnings.empty())
    std::cout << ", with " << info.warnings.size() << " warning" << (info.warnings.size() > 1 ? "s" : "");
  std::cout << std::endl;
  if (!Transcript::failed()) return 0;
  std::cerr << "soilweb: " << Transcript::failure() << std::endl;
  return 1;
}

}  // namespace

int RunDriver::run(const RunOptions& options) {
  try {
    return runOrRefuse(options);
  } catch (const std::bad_alloc&) {
    // Only before the run starts: a started run records its own end.
    std::cerr << "soilweb: out of memory before the run started (while reading the configuration); nothing was run"
              << std::endl;
    return 1;
  }
}

namespace {
// A stop, or a transcript that could not be written, before the run started: nothing is
// written, and this is the exit status; 0 when neither.
int refusedBeforeStart() {
  if (StopSignals::received()) {
    std::cerr << "soilweb: stopped by " << StopSignals::name(StopSignals::received())
              << " before the run started; nothing was written" << std::endl;
    return 128 + StopSignals::received();
  }
  if (Transcript::failed()) {
    std::cerr << "soilweb: " << Transcript::failure() << " before the run started; nothing was written" << std::endl;
    return 1;
  }
  return 0;
}

// Where the run carries on from: the checkpoint's run when it resumes (let go once read), else day
// 0 of this configuration and seed.
Checkpoint::Run carriedOn(const boost::property_tree::ptree& tree, const RunInfo& info,
                          std::unique_ptr<Checkpoint>& resumed) {
  Checkpoint::Run saved;
  saved.configurationHash = Checkpoint::hashOf(tree);
  saved.seed = info.seed;
  if (resumed) {
    saved = resumed->run();
    resumed.reset();
    std::cout << "Resuming from the checkpoint of day " << saved.day << std::endl;
  }
  return saved;
}
}  // namespace

int RunDriver::runOrRefuse(const RunOptions& options) {
  const std::uint64_t start = get_timestamp();
  StopSignals::catchFromNow();
  Transcript::install();
  // --check reports only its verdict, warnings and errors.
  if (options.check) std::cout.setstate(std::ios::badbit);
  RunInfo info;
  info.commandLine = options.commandLine;
  info.workingDirectory = currentDirectory();
  info.configurationFile = options.configPath;
  ConsoleReport::banner("Reading configuration ...");
  boost::property_tree::ptree tree;
  std::string earlierRecord;
  if (!options.resume.empty() ? !readResumedRun(options, tree, info, earlierRecord)
                              : !readConfiguration(options.configPath, tree))
    return 1;
  if (!applySettings(tree, options)) return 2;
  ConsoleReport::banner("Configuration Read            ");

  ConsoleReport console;  // outlives the world
  std::unique_ptr<World> world;
  std::unique_ptr<Checkpoint> resumed;
  RunSettings names;
  if (!build(options, tree, info, names, console, world, resumed)) return 1;
  // A run that will write gigabytes says so before it starts, and what shrinks it.
  const OutputEstimate expected = OutputEstimate::of(names, *world);
  if (const std::string note = expected.note(); !note.empty() && !resumed)
    std::cerr << "soilweb: note: " << note << std::endl;
  // --check refuses whatever the run would refuse before it starts.
  if (options.check)
    return RunFolder(names.simulation, names.simulation).namesFit(longestPaths(names)) ? reportChecked(info) : 1;
  info.configuration = &tree;
  info.lastDayConfigured = World::DAYS;
  if (const int refused = refusedBeforeStart()) return refused;

  const Placement placement = placementOf(options);
  const std::string recordPathFile = absolutePath(options.recordPathFile);
  if (!RunFolder::enter(placement.directory)) return 1;
  if (!resumed && !fitsOnDisk(expected, options)) return 1;
  const std::unique_ptr<RunFolder> folder = prepareRunFolder(names, placement);
  if (!folder || !OutputFile::writeWhole(names.recordPath(), info.json(), true)) return 1;
  if (!recordPathFile.empty() && !tellRecordPath(recordPathFile, names.recordPath())) return 1;
  folder->reserveRoom();

  const Checkpoint::Run saved = carriedOn(tree, info, resumed);
  StartedRun started(info, std::move(world), names, *folder, placement.shown(names.simulation), start,
                     options.progress, options.strict);
  return started.carryOut(saved, info.resumedFromDay >= 0, earlierRecord);
}

}  // namespace soilweb
