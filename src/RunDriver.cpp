#include "RunDriver.h"

#include "BackgroundWriter.h"
#include "Checkpoint.h"
#include "Configuration.h"
#include "DailySnapshots.h"
#include "GlobalFunctions.h"
#include "OutputFile.h"
#include "RunFolder.h"
#include "RunInfo.h"
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

std::string outputPath(const std::string& name, const std::string& file) {
  return name + "/outputs/" + name + "_" + file;
}

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

// The purge switch and the output names, read before the world is built, so
// that a typo costs neither the building nor a finished run.
struct OutputNames {
  int purge = 0;
  std::string simulation;  // the world's, read with its keys
  std::string summary;
  std::vector<std::string> matrices;  // encounters, predations, nodes; only when purge is 0
  SnapshotChoice snapshots;           // which snapshot files, how often
  bool gzip = false;                  // every output but the run's record compressed
  int checkpointEvery = 0;            // days between checkpoints; 0: only when stopped by a signal
};

const char* const MATRIX_KEYS[] = {"simulation.outputs.encountersMatrixFilename",
                                   "simulation.outputs.predationsMatrixFilename",
                                   "simulation.outputs.nodesMatrixFilename"};

// The optional output controls; without them every file is written daily and plain.
void readOutputControls(const Configuration& config, OutputNames& names) {
  const std::string every = "simulation.outputs.snapshotEvery";
  if (config.has(every)) {
    names.snapshots.every = config.strictInt(every);
    if (names.snapshots.every < 1) config.fail(every, "must be at least 1, got " + std::to_string(names.snapshots.every));
  }
  const std::string list = "simulation.outputs.snapshots";
  if (config.has(list)) {
    const auto& kinds = config.child(list);
    if (kinds.empty() && !kinds.data().empty())
      config.fail(list, "must be a JSON list of animals_start, animals_end and cells, got '" + kinds.data() + "'");
    SnapshotChoice& chosen = names.snapshots;
    chosen.animalsStart = chosen.animalsEnd = chosen.cells = false;
    for (const auto& [name, kind] : kinds) {
      const std::string word = kind.data();
      bool* flag = word == "animals_start" ? &chosen.animalsStart
                   : word == "animals_end" ? &chosen.animalsEnd
                   : word == "cells"       ? &chosen.cells
                                           : nullptr;
      if (!name.empty() || !kind.empty() || !flag)
        config.fail(list, "must list only animals_start, animals_end and cells, got '" + (name.empty() ? word : name) + "'");
      *flag = true;
    }
  }
  const std::string checkpoints = "simulation.checkpointEvery";
  if (config.has(checkpoints)) {
    names.checkpointEvery = config.strictInt(checkpoints);
    if (names.checkpointEvery < 1)
      config.fail(checkpoints, "must be at least 1, got " + std::to_string(names.checkpointEvery));
  }
  const std::string compression = "simulation.outputs.compression";
  if (config.has(compression)) {
    const std::string word = config.text(compression);
    if (word != "none" && word != "gzip") config.fail(compression, "must be none or gzip, got '" + word + "'");
    names.gzip = word == "gzip";
  }
}

OutputNames readOutputNames(const Configuration& config) {
  OutputNames names;
  names.purge = config.strictInt("simulation.purgeDeadAnimals");
  names.summary = config.text("simulation.outputs.summaryFilename");
  for (const char* key : MATRIX_KEYS) {
    if (names.purge == 0)
      names.matrices.push_back(config.text(key));
    else
      config.has(key);  // known, though not needed: no warning about it
  }
  readOutputControls(config, names);
  return names;
}

// The folders below the run's folder that it writes in.
std::vector<std::string> runFolders(const SnapshotChoice& snapshots) {
  std::vector<std::string> folders = {"/outputs"};
  for (const auto& folder : DailySnapshots::folders(snapshots)) folders.push_back(folder);
  return folders;
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

// Makes the run's folder ready for the run, or says in one line why not.
bool prepareRunFolder(const OutputNames& names, const Placement& placement) {
  const std::string shown = placement.shown(names.simulation);
  const RunFolder folder(names.simulation, shown);
  if (!placement.resuming && folder.holdsFiles()) {
    if (!placement.overwrite) {
      std::cerr << "soilweb: output folder '" << shown
                << "' already exists; remove it, change simulation.outputs.simulationName or pass --overwrite" << std::endl;
      return false;
    }
    std::vector<std::string> earlier = runFolders(SnapshotChoice{});
    earlier.push_back("/checkpoint");
    if (!folder.removeEarlierRun(earlier)) return false;
  }
  // The longest names the run will write, under their temporary names.
  const std::string gz = names.gzip ? ".gz" : "", partial = ".partial";
  const int lastDay = std::max(World::DAYS, 0);
  std::vector<std::string> paths = {outputPath(names.simulation, "run_info.json") + partial,
                                    outputPath(names.simulation, names.summary) + gz,
                                    DailySnapshots::animalsPath(names.simulation, lastDay, 0) + gz + partial,
                                    DailySnapshots::animalsPath(names.simulation, lastDay, 1) + gz + partial,
                                    DailySnapshots::cellsPath(names.simulation, lastDay) + gz + partial};
  for (const auto& file : names.matrices) paths.push_back(outputPath(names.simulation, file) + gz + partial);
  paths.push_back(Checkpoint::path(names.simulation) + partial);
  return folder.namesFit(paths) && folder.create(runFolders(names.snapshots));
}

// Set by SIGINT or SIGTERM; the run stops before the next day.
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal) { stopSignal = signal; }

void catchStopSignals(bool catching) {
  struct sigaction action {};
  action.sa_handler = catching ? requestStop : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

struct DayLoop {
  bool summaryWritten = false;
  bool filesWritten = true;  // every snapshot file
  bool checkpointsWritten = true;
  int lastDay = -1;  // the last day that ran, in this process or before the checkpoint resumed
  int daysRun = 0;   // in this process
  int checkpointDay = -1;  // the day of the newest checkpoint, -1 when there is none
  std::string diedOut;  // what had died out when the loop ended early, "" otherwise
};

// Runs the day loop with its summary lines, from the day after run.day (a
// resumed run) or day 0, until the last day, extinction or a stop signal. The
// day's files and then its summary line are written by writer while the next
// day runs. A checkpoint follows every checkpointEvery days and the last day
// run before a stop signal.
DayLoop runDays(World& world, const OutputNames& names, BackgroundWriter& writer, Checkpoint::Run run, bool resumed) {
  DayLoop loop;
  const std::string path = outputPath(names.simulation, names.summary);
  OutputFile summary(path, resumed ? OutputFile::CONTINUED : OutputFile::IN_PLACE);
  if (!summary.isOpen()) return loop;
  if (resumed) {
    if (!summary.keepFirst(run.summaryBytes)) return loop;
    loop.lastDay = loop.checkpointDay = run.day;
  } else {
    summary.append(World::SUMMARY_HEADER);
    summary.flush();
  }
  auto checkpoint = [&](int day) {
    writer.finish();  // the summary holds the day's line; failures are counted at the end
    run.day = day;
    run.summaryBytes = summary.size();
    if (Checkpoint::write(names.simulation, run, world))
      loop.checkpointDay = day;
    else
      loop.checkpointsWritten = false;
  };
  for (int day = loop.lastDay + 1; day <= World::DAYS && !stopSignal; ++day) {
    loop.diedOut = world.whatDiedOut();
    if (!loop.diedOut.empty()) break;
    world.runNextDay(day);
    std::string line;
    world.printDailySummary(line, day);
    writer.append(summary, std::move(line));  // flushed at once: users watch the summary grow
    loop.lastDay = day;
    ++loop.daysRun;
    if (names.purge == 1) world.purgeDeadAnimalsAlongCells();
    if (names.checkpointEvery > 0 && (day + 1) % names.checkpointEvery == 0 && day < World::DAYS) checkpoint(day);
  }
  if (stopSignal && loop.lastDay >= 0 && loop.checkpointDay != loop.lastDay) checkpoint(loop.lastDay);
  loop.filesWritten = writer.finish();
  loop.summaryWritten = summary.commit();
  if (loop.summaryWritten) savedNotice(summary.finalPath());
  return loop;
}

// Writes the three food-web files; false when any could not be written.
bool writeMatrices(const World& world, const OutputNames& names, BackgroundWriter& writer) {
  std::vector<std::string> paths;
  for (const auto& file : names.matrices) paths.push_back(outputPath(names.simulation, file));
  // Opened in order; the first that fails stops the others from being opened.
  std::vector<std::unique_ptr<OutputFile>> files;
  for (const auto& path : paths) {
    files.push_back(std::make_unique<OutputFile>(path));
    if (!files.back()->isOpen()) return false;
  }
  world.printEncountersPredationsAndNodesMatrices(*files[0], *files[1], *files[2]);
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

const char* signalName(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

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
bool reportWarnings(const std::vector<std::string>& warnings, const RunOptions& options) {
  for (const auto& warning : warnings)
    std::cerr << "soilweb: " << options.configPath << (options.strict ? ": error (--strict): " : ": warning: ") << warning
              << std::endl;
  return !options.strict || warnings.empty();
}

std::string currentDirectory() {
  std::error_code error;
  return fs::current_path(error).string();
}

void noteExtinction(const DayLoop& loop) {
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
  auto checkpoint = std::make_unique<Checkpoint>(placementOf(options).shown(Checkpoint::path(name)));
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

void noteStop(const DayLoop& loop, const std::string& runFolder) {
  std::cerr << "soilweb: stopped by " << signalName(stopSignal) << " after "
            << (loop.lastDay < 0 ? std::string("no day") : "day " + std::to_string(loop.lastDay))
            << "; every file written so far is complete; the food-web matrices were not written";
  if (loop.checkpointDay >= 0) std::cerr << "; carry on with --resume " << runFolder;
  std::cerr << std::endl;
}
}  // namespace

int RunDriver::run(const RunOptions& options) {
  const std::uint64_t start = get_timestamp();
  RunInfo info;
  info.commandLine = options.commandLine;
  info.workingDirectory = currentDirectory();
  info.configurationFile = options.configPath;
  banner("Reading configuration ...");
  boost::property_tree::ptree tree;
  if (!readConfiguration(options.configPath, tree)) return 1;
  if (!applySettings(tree, options)) return 2;
  banner("Configuration Read            ");

  std::unique_ptr<World> world;
  std::unique_ptr<Checkpoint> resumed;
  OutputNames names;
  Configuration::clearRecords();
  try {
    const Configuration config(tree);
    names = readOutputNames(config);
    OutputFile::gzip = names.gzip;
    if (!options.resume.empty()) resumed = openCheckpoint(config, tree, options, info);
    seedRandom(resumed ? info.seed : chooseSeed(config, options, info));
    world = std::make_unique<World>(tree, !resumed);
    names.simulation = world->getSimulationName();
    world->chooseSnapshots(names.snapshots);
    if (resumed) resumed->restore(*world);
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << options.configPath << ": " << e.what() << std::endl;
    return 1;
  } catch (const Checkpoint::Refused& e) {
    std::cerr << e.what() << std::endl;
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << "soilweb: " << options.configPath
              << ": out of memory while building the world (check worldLength, initialPopulation and numberOfLoci)"
              << std::endl;
    return 1;
  }
  info.warnings = Configuration::warnings;
  for (const auto& warning : Configuration::unknownKeyWarnings(tree)) info.warnings.push_back(warning);
  if (!reportWarnings(info.warnings, options)) return 1;
  info.configuration = &tree;
  info.lastDayConfigured = World::DAYS;

  const Placement placement = placementOf(options);
  if (!RunFolder::enter(placement.directory) || !prepareRunFolder(names, placement)) return 1;
  const std::string infoPath = outputPath(names.simulation, "run_info.json");
  if (!OutputFile::writeWhole(infoPath, info.json(), true)) return 1;

  Checkpoint::Run run;
  run.configurationHash = Checkpoint::hashOf(tree);
  run.seed = info.seed;
  if (resumed) {
    run = resumed->run();
    resumed.reset();
    std::cout << "Resuming from the checkpoint of day " << run.day << std::endl;
  }
  catchStopSignals(true);
  BackgroundWriter writer;
  world->writeInBackground(&writer);
  const DayLoop loop = runDays(*world, names, writer, run, info.resumedFromDay >= 0);
  catchStopSignals(false);
  info.daysRun = loop.daysRun;
  info.lastDay = loop.lastDay;
  bool succeeded = loop.summaryWritten && loop.filesWritten && loop.checkpointsWritten;
  if (stopSignal) {
    noteStop(loop, placement.shown(names.simulation));
    world.reset();
    info.signal = signalName(stopSignal);
    info.finish("stopped", 128 + stopSignal);
    OutputFile::writeWhole(infoPath, info.json(), true);
    return 128 + stopSignal;
  }
  if (!loop.diedOut.empty()) noteExtinction(loop);
  if (names.purge != 0) {
    std::cout << std::endl
              << RULE << std::endl
              << "Skipping encounter-predation analysis..." << std::endl
              << "Reason: \"purgeDeadAnimals\" must be set to 0 (deactivated)" << std::endl
              << RULE << std::endl;
  } else {
    succeeded = writeMatrices(*world, names, writer) && succeeded;
  }
  succeeded = succeeded && !world->hasOutputFailed();

  const std::uint64_t end = get_timestamp();
  std::cout << "Time: " << static_cast<double>(end - start) / 1000000 << " secs." << std::endl;
  world.reset();
  if (succeeded) Checkpoint::remove(names.simulation);  // nothing is left to carry on
  const int status = succeeded ? 0 : 1;
  info.diedOut = loop.diedOut;
  info.error = OutputFile::firstFailure();
  info.finish(!succeeded ? "failed" : !loop.diedOut.empty() ? "extinct" : "completed", status);
  return OutputFile::writeWhole(infoPath, info.json(), true) ? status : 1;
}
