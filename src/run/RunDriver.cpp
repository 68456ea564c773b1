#include "RunDriver.h"

#include "BackgroundWriter.h"
#include "Checkpoint.h"
#include "Configuration.h"
#include "ConfigurationKeys.h"
#include "ConsoleReport.h"
#include "RunLayout.h"
#include "DayLoop.h"
#include "GlobalFunctions.h"
#include "OutputFile.h"
#include "RunFolder.h"
#include "RunInfo.h"
#include "RunOutputs.h"
#include "RunSettings.h"
#include "World.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <random>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {
const std::string RULE(60, '=');

void banner(const std::string& text) {
  std::cout << std::endl << RULE << std::endl << text << std::endl << RULE << std::endl;
}

void savedNotice(const std::string& path) { banner("File \"" + path + "\" saved"); }

// Reads and parses the configuration file; reports why it could not.
bool readConfiguration(const std::string& path, boost::property_tree::ptree& tree) {
  auto cannotRead = [&](int error) {
    std::cerr << "soilweb: cannot read " << path << ": " << std::strerror(error) << std::endl;
    return false;
  };
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return cannotRead(EISDIR);
  std::ifstream in(path, std::ios::binary);
  if (!in) return cannotRead(errno);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return cannotRead(errno);
  try {
    tree = Configuration::parse(text.str());
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << path << ": " << e.what() << std::endl;
    return false;
  }
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

// Claims the run's folder and makes it ready for the run; null after one line
// saying why not.
std::unique_ptr<RunFolder> prepareRunFolder(const RunSettings& names, const Placement& placement) {
  const std::string shown = placement.shown(names.simulation);
  auto folder = std::make_unique<RunFolder>(names.simulation, shown);
  // The longest names the run will write, under their temporary names.
  const std::string gz = names.gzip ? RunLayout::GZIP : "", partial = RunLayout::PARTIAL;
  const int lastDay = std::max(World::DAYS, 0);
  std::vector<std::string> paths = {names.recordPath() + partial,
                                    names.outputPath(names.summary) + gz,
                                    RunLayout::animalsPath(names.simulation, lastDay, 0) + gz + partial,
                                    RunLayout::animalsPath(names.simulation, lastDay, 1) + gz + partial,
                                    RunLayout::cellsPath(names.simulation, lastDay) + gz + partial};
  for (const auto& file : names.matrices) paths.push_back(names.outputPath(file) + gz + partial);
  paths.push_back(RunLayout::checkpointPath(names.simulation) + partial);
  if (!folder->namesFit(paths) || !folder->claim()) return nullptr;
  if (!placement.resuming && !folder->contents().empty()) {
    if (!placement.overwrite) {
      std::cerr << "soilweb: output folder '" << shown
                << "' already exists; remove it, change simulation.outputs.simulationName or pass --overwrite" << std::endl;
      return nullptr;
    }
    if (!folder->removeEarlierRun()) return nullptr;
  }
  if (!folder->create(names.folders(), placement.resuming)) return nullptr;
  return folder;
}

// Set by SIGINT, SIGTERM or SIGHUP; the run stops before the next day, or
// finishes its closing files when every day has run.
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal) { stopSignal = signal; }

// Caught from the start of a run to its exit, so that no stop leaves a file
// half written or a record that says the run is still going.
void catchStopSignals() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

const char* signalName(int signal) { return signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM"; }

// A hook for the tests, which must stop or fail a run at a chosen moment
// without depending on timing: SOILWEB_TEST_AT="PHASE[@DAY]:ACTION" raises
// SIGINT, SIGTERM, SIGHUP, SIGKILL or SIGSTOP (ACTION INT, TERM, HUP, KILL,
// STOP), or runs out of memory (oom), when the run reaches PHASE: started (the record
// written, before day 0), day (after the day's summary line and checkpoint),
// closing (every day run, before the food-web files), matrices (their text
// handed over, before they are whole) or record (before the last record).
void reach(const std::string& phase, int day = -1) {
  static const std::string hook = [] {
    const char* given = std::getenv("SOILWEB_TEST_AT");
    return std::string(given ? given : "");
  }();
  if (hook.empty()) return;
  const auto colon = hook.rfind(':');
  const std::string where = hook.substr(0, colon), action = hook.substr(colon + 1);
  const auto at = where.find('@');
  if (where.substr(0, at) != phase) return;
  if (at != std::string::npos && std::atoi(where.c_str() + at + 1) != day) return;
  if (action == "oom") throw std::bad_alloc();
  raise(action == "INT"    ? SIGINT
        : action == "HUP"  ? SIGHUP
        : action == "KILL" ? SIGKILL
        : action == "STOP" ? SIGSTOP
                           : SIGTERM);
}

// Writes the three food-web files; false when any could not be written.
bool writeMatrices(const RunOutputs& outputs, const RunSettings& names, BackgroundWriter& writer) {
  std::vector<std::string> paths;
  for (const auto& file : names.matrices) paths.push_back(names.outputPath(file));
  // Opened in order; the first that fails stops the others from being opened.
  std::vector<std::unique_ptr<OutputFile>> files;
  for (const auto& path : paths) {
    files.push_back(std::make_unique<OutputFile>(path));
    if (!files.back()->isOpen()) return false;
  }
  try {
    outputs.printEncountersPredationsAndNodesMatrices(*files[0], *files[1], *files[2]);
    reach("matrices");
  } catch (const std::bad_alloc&) {
    writer.finish();  // nothing handed over may outlive its file
    throw;
  }
  writer.finish();
  bool written = true;
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (files[k]->commit())
      savedNotice(files[k]->finalPath());
    else
      written = false;
  }
  return written;
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

void noteExtinction(const DayLoop::Outcome& loop) {
  std::cerr << "soilweb: note: " << loop.diedOut << (loop.diedOut.find("resource") != std::string::npos ? " ran out" : " died out")
            << (loop.lastDay < 0 ? "; no day was run"
                                 : "; the last day run was " + std::to_string(loop.lastDay) + " of " + std::to_string(World::DAYS))
            << std::endl;
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
    checkpoint->refuse("was written by a run of another configuration: resume with the configuration file and "
                       "--set settings the run started with");
  if (config.has("simulation.seed") && config.strictLong("simulation.seed") != run.seed)
    checkpoint->refuse("was written by a run of seed " + std::to_string(run.seed) + ", not " +
                       std::to_string(config.strictLong("simulation.seed")));
  info.seed = static_cast<long>(run.seed);
  info.seedSource = "checkpoint";
  info.resumedFromDay = run.day;
  return checkpoint;
}

void noteStop(const DayLoop::Outcome& loop, const std::string& runFolder) {
  std::cerr << "soilweb: stopped by " << signalName(stopSignal) << " after "
            << (loop.lastDay < 0 ? std::string("no day") : "day " + std::to_string(loop.lastDay))
            << "; every file written so far is complete; the food-web matrices were not written";
  if (loop.checkpointDay >= 0) std::cerr << "; carry on with --resume " << runFolder;
  std::cerr << std::endl;
}

// The record of the run in the folder given to --resume: refuses a missing
// folder and a run that already ended; without a configuration file on the
// command line the record's configuration is the run's. False after one line.
bool readResumedRun(const RunOptions& options, boost::property_tree::ptree& tree, RunInfo& info) {
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
  const bool haveRecord = fs::exists(recordPath, error);
  if (haveRecord && !readConfiguration(recordPath, record)) return false;
  const std::string status = record.get("status", "");
  if (status == "completed" || status == "extinct") {
    std::cerr << "soilweb: --resume: the run in '" << folder.string() << "' has already ended ("
              << (status == "completed" ? "completed" : "its animals died out")
              << "); there is nothing to carry on" << std::endl;
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
  for (const auto& warning : Configuration::unknownKeyWarnings(tree)) info.warnings.push_back(warning);
  return reportWarnings(info.warnings, options, info.configurationFile);
}

// --check: the configuration was read and checked; says so and writes nothing.
int reportChecked(const RunInfo& info) {
  std::cout.clear();
  std::cout << "soilweb: " << info.configurationFile << ": the configuration is valid";
  if (!info.warnings.empty()) std::cout << ", with " << info.warnings.size() << " warning" << (info.warnings.size() > 1 ? "s" : "");
  std::cout << std::endl;
  return 0;
}

std::string lastDayText(const DayLoop::Outcome& loop) {
  return loop.lastDay < 0 ? std::string("no day") : "day " + std::to_string(loop.lastDay);
}
// The part of a run that begins once its folder is claimed: the first
// record, the days, the closing files and the last record, whatever ends the
// run (a stop signal, a full disk, running out of memory).
class StartedRun {
 public:
  StartedRun(RunInfo& info, std::unique_ptr<World> world, const RunSettings& names, RunFolder& folder,
             std::string shownFolder)
      : info(info), world(std::move(world)), names(names), folder(folder), shownFolder(std::move(shownFolder)),
        outputs(*this->world, names.snapshots, &writer),
        loop(*this->world, outputs, names, writer, [] { return stopSignal != 0; }, [](int day) { reach("day", day); }) {
    this->world->observe(&outputs);
  }

  int carryOut(Checkpoint::Run saved, bool resumed, std::uint64_t start) {
    try {
      reach("started");
      loop.run(saved, resumed);
      if (loop.outcome().summaryWritten) savedNotice(loop.outcome().summaryPath);
      if (OutputFile::diskIsFull()) return diskFull();
      if (loop.outcome().stopped) return stopped();
      return close(start);
    } catch (const std::bad_alloc&) {
      return outOfMemory();
    }
  }

 private:
  // Every end of the run is recorded, in room kept for it when the disk is full.
  int record(const std::string& how, int status) {
    info.daysRun = loop.outcome().daysRun;
    info.lastDay = loop.outcome().lastDay;
    info.finish(how, status);
    reach("record");
    folder.releaseRoom();
    return OutputFile::writeWhole(names.recordPath(), info.json(), true) || how == "stopped" ? status : 1;
  }

  int failed(const std::string& line) {
    std::cerr << line << std::endl;
    info.error = line;
    return record("failed", 1);
  }

  int diskFull() {
    world.reset();
    return failed("soilweb: no room left on the disk: " + OutputFile::fullDiskFailure() + "; the run stopped after " +
                  lastDayText(loop.outcome()));
  }

  int stopped() {
    noteStop(loop.outcome(), shownFolder);
    world.reset();
    info.signal = signalName(stopSignal);
    return record("stopped", 128 + stopSignal);
  }

  int outOfMemory() {
    // The world may be half-way through a day: it is not taken apart, but
    // kept as it is (and in reach) to the end of the process.
    [[maybe_unused]] static World* volatile abandoned = nullptr;
    abandoned = world.release();
    const int day = loop.dayInProgress();
    return failed("soilweb: out of memory " +
                  (day >= 0 ? "on day " + std::to_string(day) : "after " + lastDayText(loop.outcome())));
  }

  // The closing files of a run whose days are over.
  int close(std::uint64_t start) {
    const DayLoop::Outcome& days = loop.outcome();
    if (stopSignal)
      std::cerr << "soilweb: note: " << signalName(stopSignal)
                << " arrived after the last day; the run's closing files were finished first" << std::endl;
    if (!days.diedOut.empty()) noteExtinction(days);
    bool succeeded = days.summaryWritten && days.filesWritten && days.checkpointsWritten;
    reach("closing");
    if (names.purge != 0) {
      std::cout << std::endl
                << RULE << std::endl
                << "Skipping encounter-predation analysis..." << std::endl
                << "Reason: \"purgeDeadAnimals\" must be set to 0 (deactivated)" << std::endl
                << RULE << std::endl;
    } else {
      succeeded = writeMatrices(outputs, names, writer) && succeeded;
    }
    if (OutputFile::diskIsFull()) return diskFull();
    succeeded = succeeded && !outputs.hasOutputFailed();
    std::cout << "Time: " << static_cast<double>(get_timestamp() - start) / 1000000 << " secs." << std::endl;
    world.reset();
    info.diedOut = days.diedOut;
    info.error = OutputFile::firstFailure();
    const int status = record(!succeeded ? "failed" : !days.diedOut.empty() ? "extinct" : "completed", succeeded ? 0 : 1);
    // Kept until the record is whole too: a run killed before then carries on from it.
    if (status == 0) Checkpoint::remove(names.simulation);
    return status;
  }

  RunInfo& info;
  BackgroundWriter writer;  // made before the world uses it, ended after
  std::unique_ptr<World> world;
  const RunSettings& names;
  RunFolder& folder;
  std::string shownFolder;
  RunOutputs outputs;
  DayLoop loop;
};
}  // namespace

int RunDriver::run(const RunOptions& options) {
  const std::uint64_t start = get_timestamp();
  catchStopSignals();
  // --check reports only its verdict, warnings and errors.
  if (options.check) std::cout.setstate(std::ios::badbit);
  RunInfo info;
  info.commandLine = options.commandLine;
  info.workingDirectory = currentDirectory();
  info.configurationFile = options.configPath;
  banner("Reading configuration ...");
  boost::property_tree::ptree tree;
  if (!options.resume.empty() ? !readResumedRun(options, tree, info) : !readConfiguration(options.configPath, tree))
    return 1;
  if (!applySettings(tree, options)) return 2;
  banner("Configuration Read            ");

  ConsoleReport console;  // outlives the world
  std::unique_ptr<World> world;
  std::unique_ptr<Checkpoint> resumed;
  RunSettings names;
  if (!build(options, tree, info, names, console, world, resumed)) return 1;
  if (options.check) return reportChecked(info);
  info.configuration = &tree;
  info.lastDayConfigured = World::DAYS;
  if (stopSignal) {
    std::cerr << "soilweb: stopped by " << signalName(stopSignal) << " before the run started; nothing was written"
              << std::endl;
    return 128 + stopSignal;
  }

  const Placement placement = placementOf(options);
  if (!RunFolder::enter(placement.directory)) return 1;
  const std::unique_ptr<RunFolder> folder = prepareRunFolder(names, placement);
  if (!folder || !OutputFile::writeWhole(names.recordPath(), info.json(), true)) return 1;
  folder->reserveRoom();

  Checkpoint::Run saved;
  saved.configurationHash = Checkpoint::hashOf(tree);
  saved.seed = info.seed;
  if (resumed) {
    saved = resumed->run();
    resumed.reset();
    std::cout << "Resuming from the checkpoint of day " << saved.day << std::endl;
  }
  StartedRun started(info, std::move(world), names, *folder, placement.shown(names.simulation));
  return started.carryOut(saved, info.resumedFromDay >= 0, start);
}
