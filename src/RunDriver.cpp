#include "RunDriver.h"

#include "BackgroundWriter.h"
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

// Makes the run's folder ready for a new run, or says in one line why not.
bool prepareRunFolder(const OutputNames& names, const RunOptions& options) {
  const std::string shown = (options.outputDirectory.empty() ? "" : options.outputDirectory + "/") + names.simulation;
  const RunFolder folder(names.simulation, shown);
  if (folder.holdsFiles()) {
    if (!options.overwrite) {
      std::cerr << "soilweb: output folder '" << shown
                << "' already exists; remove it, change simulation.outputs.simulationName or pass --overwrite" << std::endl;
      return false;
    }
    if (!folder.removeEarlierRun(runFolders(SnapshotChoice{}))) return false;
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
  int lastDay = -1;  // the last day that ran
  int daysRun = 0;
  std::string diedOut;  // what had died out when the loop ended early, "" otherwise
};

// Runs the day loop with its summary lines, until the last day, extinction or a
// stop signal. The day's files and then its summary line are written by writer
// while the next day runs.
DayLoop runDays(World& world, const OutputNames& names, BackgroundWriter& writer) {
  DayLoop loop;
  const std::string path = outputPath(names.simulation, names.summary);
  OutputFile summary(path, OutputFile::IN_PLACE);
  if (!summary.isOpen()) return loop;
  summary.append(World::SUMMARY_HEADER);
  summary.flush();
  for (int day = 0; day <= World::DAYS && !stopSignal; ++day) {
    loop.diedOut = world.whatDiedOut();
    if (!loop.diedOut.empty()) break;
    world.runNextDay(day);
    std::string line;
    world.printDailySummary(line, day);
    writer.append(summary, std::move(line));  // flushed at once: users watch the summary grow
    loop.lastDay = day;
    ++loop.daysRun;
    if (names.purge == 1) world.purgeDeadAnimalsAlongCells();
  }
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
  OutputNames names;
  Configuration::clearRecords();
  try {
    const Configuration config(tree);
    names = readOutputNames(config);
    OutputFile::gzip = names.gzip;
    seedRandom(chooseSeed(config, options, info));
    world = std::make_unique<World>(tree);
    names.simulation = world->getSimulationName();
    world->chooseSnapshots(names.snapshots);
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << options.configPath << ": " << e.what() << std::endl;
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

  if (!RunFolder::enter(options.outputDirectory) || !prepareRunFolder(names, options)) return 1;
  const std::string infoPath = outputPath(names.simulation, "run_info.json");
  if (!OutputFile::writeWhole(infoPath, info.json(), true)) return 1;

  catchStopSignals(true);
  BackgroundWriter writer;
  world->writeInBackground(&writer);
  const DayLoop loop = runDays(*world, names, writer);
  catchStopSignals(false);
  info.daysRun = loop.daysRun;
  info.lastDay = loop.lastDay;
  bool succeeded = loop.summaryWritten && loop.filesWritten;
  if (stopSignal) {
    std::cerr << "soilweb: stopped by " << signalName(stopSignal) << " after "
              << (loop.lastDay < 0 ? std::string("no day") : "day " + std::to_string(loop.lastDay))
              << "; every file written so far is complete; the food-web matrices were not written" << std::endl;
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
  const int status = succeeded ? 0 : 1;
  info.diedOut = loop.diedOut;
  info.error = OutputFile::firstFailure();
  info.finish(!succeeded ? "failed" : !loop.diedOut.empty() ? "extinct" : "completed", status);
  return OutputFile::writeWhole(infoPath, info.json(), true) ? status : 1;
}
