#include "RunDriver.h"

#include "BackgroundWriter.h"
#include "Configuration.h"
#include "GlobalFunctions.h"
#include "OutputFile.h"
#include "World.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

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

// The file names read at start-up, so that a typo cannot cost a finished run.
struct OutputNames {
  int purge = 0;
  std::string simulation;
  std::string summary;
  std::vector<std::string> matrices;  // encounters, predations, nodes; only when purge is 0
};

OutputNames readOutputNames(const Configuration& config) {
  OutputNames names;
  names.purge = config.strictInt("simulation.purgeDeadAnimals");
  names.simulation = config.text("simulation.outputs.simulationName");
  names.summary = config.text("simulation.outputs.summaryFilename");
  if (names.purge == 0)
    for (const char* key : {"simulation.outputs.encountersMatrixFilename", "simulation.outputs.predationsMatrixFilename",
                            "simulation.outputs.nodesMatrixFilename"})
      names.matrices.push_back(config.text(key));
  return names;
}

void createOutputTree(const std::string& name) {
  // Failures (an existing folder among them) are left to the file opens to report.
  for (const char* sub : {"", "/outputs", "/animals_each_day_start", "/animals_each_day_end", "/cells"})
    ::mkdir((name + sub).c_str(), 0777);
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
};

// Runs the day loop with its summary lines, until the last day, extinction or a
// stop signal. The day's files and then its summary line are written by writer
// while the next day runs.
DayLoop runDays(World& world, const OutputNames& names, BackgroundWriter& writer) {
  DayLoop loop;
  const std::string path = outputPath(names.simulation, names.summary);
  OutputFile summary(path, OutputFile::IN_PLACE);
  if (!summary.isOpen()) return loop;
  summary.append(
      "DAY\tBIOMASS\tPREY_UNBORN\tPREY_ACTIVE\tPREY_STARVED\tPREY_PREDATED\tPREY_REPRODUCING\tPREY_SENESCED\t"
      "PREDATOR_UNBORN\tPREDATOR_ACTIVE\tPREDATOR_STARVED\tPREDATOR_PREDATED\tPREDATOR_REPRODUCING\t"
      "PREDATOR_BACKGROUND\tPREDATOR_SENESCED\n");
  summary.flush();
  for (int day = 0; day <= World::DAYS && !stopSignal; ++day) {
    if (world.isExtinguished()) break;
    world.runNextDay(day);
    std::string line;
    world.printDailySummary(line, day);
    writer.append(summary, std::move(line));  // flushed at once: users watch the summary grow
    loop.lastDay = day;
    if (names.purge == 1) world.purgeDeadAnimalsAlongCells();
  }
  loop.filesWritten = writer.finish();
  loop.summaryWritten = summary.commit();
  if (loop.summaryWritten) savedNotice(path);
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
      savedNotice(paths[k]);
    else
      written = false;
  }
  return written;
}

const char* signalName(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }
}  // namespace

int RunDriver::run(const std::string& configPath) {
  const std::uint64_t start = get_timestamp();
  banner("Reading configuration ...");
  boost::property_tree::ptree tree;
  if (!readConfiguration(configPath, tree)) return 1;
  banner("Configuration Read            ");

  std::unique_ptr<World> world;
  OutputNames names;
  try {
    const Configuration config(tree);
    seedRandom(config.has("simulation.seed") ? config.strictLong("simulation.seed") : static_cast<long>(time(nullptr)));
    world = std::make_unique<World>(tree);
    names = readOutputNames(config);
  } catch (const Configuration::Error& e) {
    std::cerr << "soilweb: " << configPath << ": " << e.what() << std::endl;
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << "soilweb: " << configPath
              << ": out of memory while building the world (check worldLength, initialPopulation and numberOfLoci)"
              << std::endl;
    return 1;
  }

  createOutputTree(names.simulation);
  catchStopSignals(true);
  BackgroundWriter writer;
  world->writeInBackground(&writer);
  const DayLoop loop = runDays(*world, names, writer);
  catchStopSignals(false);
  bool succeeded = loop.summaryWritten && loop.filesWritten;
  if (stopSignal) {
    std::cerr << "soilweb: stopped by " << signalName(stopSignal) << " after "
              << (loop.lastDay < 0 ? std::string("no day") : "day " + std::to_string(loop.lastDay))
              << "; every file written so far is complete; the food-web matrices were not written" << std::endl;
    world.reset();
    return 128 + stopSignal;
  }
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
  return succeeded ? 0 : 1;
}
