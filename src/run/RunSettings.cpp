#include "run/RunSettings.h"

#include "core/Configuration.h"
#include "model/World.h"
#include "output/ResultSchema.h"
#include "io/RunLayout.h"

#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <thread>
#include <tuple>

namespace soilweb {

namespace {
const char* const MATRIX_KEYS[] = {"simulation.outputs.encountersMatrixFilename",
                                   "simulation.outputs.predationsMatrixFilename",
                                   "simulation.outputs.nodesMatrixFilename"};

// The word key holds, which must be one of words; "" when the key is absent.
std::string choiceOf(const Configuration& config, const std::string& key, std::initializer_list<const char*> words) {
  if (!config.has(key)) return "";
  std::string word = config.text(key);
  std::string allowed;
  for (const char* allowedWord : words) {
    if (word == allowedWord) return word;
    allowed += std::string(allowed.empty() ? "" : allowedWord == *(words.end() - 1) ? " or " : ", ") + allowedWord;
  }
  config.fail(key, "must be " + allowed + ", got '" + word + "'");
  return word;
}

// A whole number of at least 1, or fallback when the key is absent.
int positiveOf(const Configuration& config, const std::string& key, int fallback) {
  if (!config.has(key)) return fallback;
  const int value = config.strictInt(key);
  if (value < 1) config.fail(key, "must be at least 1, got " + std::to_string(value));
  return value;
}

void readSnapshotKinds(const Configuration& config, SnapshotChoice& chosen) {
  const std::string list = "simulation.outputs.snapshots";
  if (!config.has(list)) return;
  const auto& kinds = config.child(list);
  if (kinds.empty() && !kinds.data().empty())
    config.fail(list, "must be a JSON list of animals_start, animals_end and cells, got '" + kinds.data() + "'");
  chosen.animalsStart = chosen.animalsEnd = chosen.cells = false;
  for (const auto& [name, kind] : kinds) {
    const std::string word = kind.data();
    bool* flag = word == "animals_start" ? &chosen.animalsStart
                 : word == "animals_end" ? &chosen.animalsEnd
                 : word == "cells"       ? &chosen.cells
                                         : nullptr;
    if (!name.empty() || !kind.empty() || !flag)
      config.fail(list,
                  "must list only animals_start, animals_end and cells, got '" + (name.empty() ? word : name) + "'");
    *flag = true;
  }
}

// The optional output controls; without them every file is written daily and plain.
void readOutputControls(const Configuration& config, RunSettings& settings) {
  settings.snapshots.every = positiveOf(config, "simulation.outputs.snapshotEvery", 1);
  readSnapshotKinds(config, settings.snapshots);
  settings.checkpointEvery = positiveOf(config, "simulation.checkpointEvery", 0);
  const std::string layout = choiceOf(config, "simulation.outputs.layout", {"daily", "tables"});
  settings.snapshots.tables = settings.traitStatistics = layout == "tables";  // statistics on by default there
  const std::string statistics = choiceOf(config, "simulation.outputs.traitStatistics", {"true", "false"});
  if (!statistics.empty()) settings.traitStatistics = statistics == "true";
  // The genetic statistics and the pedigree, likewise on by default in the tables layout.
  settings.geneticStatistics = settings.pedigree = layout == "tables";
  const std::string genetic = choiceOf(config, "simulation.outputs.geneticStatistics", {"true", "false"});
  if (!genetic.empty()) settings.geneticStatistics = genetic == "true";
  const std::string pedigree = choiceOf(config, "simulation.outputs.pedigree", {"true", "false"});
  if (!pedigree.empty()) settings.pedigree = pedigree == "true";
  const std::string foodWeb = choiceOf(config, "simulation.outputs.foodWeb", {"matrices", "edges", "none"});
  settings.foodWebEdges = foodWeb == "edges";
  settings.foodWeb = settings.purge == 0 && foodWeb != "none";
  settings.threads = positiveOf(config, "simulation.outputs.threads", 0);
  settings.gzip = choiceOf(config, "simulation.outputs.compression", {"none", "gzip"}) == "gzip";
  // A dead animal's row never changes: "once" writes it only on the first snapshot day it shows.
  settings.snapshots.deadOnce = choiceOf(config, "simulation.outputs.deadAnimals", {"every day", "once"}) == "once";
  if (settings.snapshots.deadOnce && !settings.snapshots.tables)
    config.fail("simulation.outputs.deadAnimals", "can be once only in the tables layout (simulation.outputs.layout tables)");
}

// The result kinds simulation.outputs.files lists, each once at most, checked against the schema's.
std::vector<std::string> listedKinds(const Configuration& config, const std::string& list) {
  const auto& kinds = config.child(list);
  std::string known;
  for (const ResultKind& kind : ResultSchema::kinds()) known += (known.empty() ? "" : ", ") + std::string(kind.name);
  if (kinds.empty() && !kinds.data().empty())
    config.fail(list, "must be a JSON list of result kinds (" + known + "), got '" + kinds.data() + "'");
  std::vector<std::string> listed;
  for (const auto& [name, kind] : kinds) {
    const std::string word = kind.data();
    if (!name.empty() || !kind.empty() || !ResultSchema::hasKind(word))
      config.fail(list, "must list only " + known + ", got '" + (name.empty() ? word : name) + "'");
    listed.push_back(word);
  }
  if (std::find(listed.begin(), listed.end(), "summary") == listed.end())
    config.fail(list, "must list summary: every run writes its daily summary");
  return listed;
}

// Sets flag to whether kind is listed; a key that chose otherwise (given) is an error, not overruled.
void writeKindIf(const Configuration& config, const std::vector<std::string>& listed, const std::string& kind,
                 bool& flag, const std::string& key) {
  const bool wanted = std::find(listed.begin(), listed.end(), kind) != listed.end();
  if (config.has(key) && flag != wanted)
    config.fail("simulation.outputs.files", (wanted ? "lists " : "leaves out ") + kind + ", but '" + key + "' " +
                                                (flag ? "asks for it" : "leaves it out") + "; change one of them");
  flag = wanted;
}

// simulation.outputs.files: the result kinds a run writes; absent, what the other output keys choose.
// The record, the transcript and checkpoints are written whatever it lists.
void readFileKinds(const Configuration& config, RunSettings& settings) {
  const std::string list = "simulation.outputs.files";
  if (!config.has(list)) return;
  const std::vector<std::string> listed = listedKinds(config, list);
  writeKindIf(config, listed, "traits", settings.traitStatistics, "simulation.outputs.traitStatistics");
  writeKindIf(config, listed, "genetics", settings.geneticStatistics, "simulation.outputs.geneticStatistics");
  writeKindIf(config, listed, "pedigree", settings.pedigree, "simulation.outputs.pedigree");
  // "snapshots" keeps the kinds simulation.outputs.snapshots chooses (all three when it is absent).
  if (std::find(listed.begin(), listed.end(), "snapshots") == listed.end()) {
    const std::string kinds = "simulation.outputs.snapshots";
    writeKindIf(config, listed, "animals_start", settings.snapshots.animalsStart, kinds);
    writeKindIf(config, listed, "animals_end", settings.snapshots.animalsEnd, kinds);
    writeKindIf(config, listed, "cells", settings.snapshots.cells, kinds);
  }
  const bool foodWeb = std::find(listed.begin(), listed.end(), "foodweb") != listed.end();
  if (foodWeb && settings.purge != 0)
    config.fail(list, "lists foodweb, which needs simulation.purgeDeadAnimals 0 (the dead are kept to make it)");
  if (config.has("simulation.outputs.foodWeb") && (config.text("simulation.outputs.foodWeb") == "none") == foodWeb)
    config.fail(list, std::string(foodWeb ? "lists" : "leaves out") +
                          " foodweb, but 'simulation.outputs.foodWeb' " + (foodWeb ? "is none" : "asks for it") +
                          "; change one of them");
  settings.foodWeb = foodWeb;
}

// Each file name a run is given stays a name in its folder, and no two of the
// run's files share one: a name with a path in it would write elsewhere or
// fail at the end, a shared one would silently replace a file.
void checkFileNames(const Configuration& config, const RunSettings& settings) {
  const std::string summaryKey = "simulation.outputs.summaryFilename";
  std::vector<std::pair<std::string, std::string>> files = {{summaryKey, settings.summary}};
  for (std::size_t k = 0; k < settings.matrices.size(); ++k) files.emplace_back(MATRIX_KEYS[k], settings.matrices[k]);
  for (const auto& [key, name] : files)
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\n\0", 3)) != std::string::npos)
      config.fail(key,
                  "must be a plain file name (not empty, '.' or '..', no '/', newline or NUL), got '" + name + "'");
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (const auto& [own, what] :
         {std::pair{RunLayout::RECORD, "record"}, std::pair{RunLayout::CHECKPOINT, "checkpoint"},
          std::pair{RunLayout::TRAITS, "trait statistics"}, std::pair{RunLayout::GENETICS, "genetic statistics"},
          std::pair{RunLayout::PEDIGREE, "pedigree"}, std::pair{RunLayout::DEATHS, "table of deaths"},
          std::pair{RunLayout::FOODWEB_NODES, "food-web nodes"}, std::pair{RunLayout::FOODWEB_EDGES, "food-web edges"},
          std::pair{RunLayout::TABLES[0], "table of animals"}, std::pair{RunLayout::TABLES[1], "table of animals"},
          std::pair{RunLayout::TABLES[2], "table of cells"}})
      if (files[i].second == own)
        config.fail(files[i].first,
                    std::string("names the file '") + own + "', which is the run's " + what + "; choose another name");
    for (std::size_t j = 0; j < i; ++j)
      if (files[i].second == files[j].second)
        throw Configuration::Error("'" + files[j].first + "' and '" + files[i].first + "' name the same file '" +
                                   files[i].second + "'; give each its own name");
  }
}

RunSettings readRunSettings(const Configuration& config) {
  RunSettings settings;
  const std::string nameKey = "simulation.outputs.simulationName";
  settings.simulation = config.name(nameKey);
  // The name is the run's folder and the prefix of every file in it.
  const std::string& name = settings.simulation;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    config.fail(nameKey, "must be a plain folder name (not empty, '.' or '..', no '/'), got '" + name + "'");
  settings.purge = config.strictInt("simulation.purgeDeadAnimals");
  settings.summary = config.name("simulation.outputs.summaryFilename");
  readOutputControls(config, settings);
  readFileKinds(config, settings);
  for (const char* key : MATRIX_KEYS) {
    if (settings.foodWeb)
      settings.matrices.push_back(config.name(key));
    else
      config.has(key);  // known, though not needed: no warning about it
  }
  checkFileNames(config, settings);
  return settings;
}

}  // namespace

RunSettings RunSettings::read(const Configuration& config, const boost::property_tree::ptree& tree) {
  try {
    return readRunSettings(config);
  } catch (const Configuration::Error&) {
    const World probe(tree, false);  // raises the first error among the world's keys, if there is one
    throw;
  }
}

std::string RunSettings::outputPath(const std::string& file) const { return RunLayout::outputPath(simulation, file); }

std::vector<std::string> RunSettings::foodWebFiles() const {
  if (!foodWeb) return {};
  if (foodWebEdges) return {RunLayout::FOODWEB_NODES, RunLayout::FOODWEB_EDGES};
  return matrices;
}

int RunSettings::compressionThreads() const {
  if (!snapshots.tables || !gzip) return 0;
  return threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int RunSettings::wholeFileThreads() const {
  if (snapshots.tables || !gzip) return 1;
  return threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

std::vector<std::string> RunSettings::growingFiles() const {
  std::vector<std::string> files = {outputPath(summary)};
  if (traitStatistics) files.push_back(traitsPath());
  if (geneticStatistics) files.push_back(geneticsPath());
  if (pedigree) {
    files.push_back(pedigreePath());
    files.push_back(deathsPath());
  }
  const bool chosen[3] = {snapshots.animalsStart, snapshots.animalsEnd, snapshots.cells};
  if (snapshots.tables)
    for (int kind = 0; kind < 3; ++kind)
      if (chosen[kind]) files.push_back(RunLayout::tablePath(simulation, kind));
  return files;
}

std::vector<std::string> RunSettings::dayFiles(int day) const {
  if (snapshots.tables) return {};
  std::vector<std::string> files;
  if (snapshots.animalsStart) files.push_back(RunLayout::animalsPath(simulation, day, 0));
  if (snapshots.animalsEnd) files.push_back(RunLayout::animalsPath(simulation, day, 1));
  if (snapshots.cells) files.push_back(RunLayout::cellsPath(simulation, day));
  return files;
}

std::string RunSettings::traitsPath() const { return RunLayout::outputPath(simulation, RunLayout::TRAITS); }

std::string RunSettings::geneticsPath() const { return RunLayout::outputPath(simulation, RunLayout::GENETICS); }

std::string RunSettings::pedigreePath() const { return RunLayout::outputPath(simulation, RunLayout::PEDIGREE); }

std::string RunSettings::deathsPath() const { return RunLayout::outputPath(simulation, RunLayout::DEATHS); }

std::string RunSettings::recordPath() const { return RunLayout::recordPath(simulation); }

std::vector<std::string> RunSettings::folders() const { return RunLayout::folders(snapshots); }

namespace {
bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether file is the day file "PREFIX<day>.txt" of a day 0 ... last.
bool isDayFile(const std::string& file, const std::string& prefix, int last) {
  if (file.compare(0, prefix.size(), prefix) != 0 || !endsWith(file, ".txt")) return false;
  const std::string day = file.substr(prefix.size(), file.size() - prefix.size() - 4);
  if (day.empty() || day.size() > 10 || day.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::to_string(std::stol(day)) == day && std::stol(day) <= last;
}
}  // namespace

bool RunSettings::mayWrite(const std::string& relative) const {
  std::string path = simulation + "/" + relative;
  if (endsWith(path, RunLayout::PARTIAL)) path.resize(path.size() - std::string(RunLayout::PARTIAL).size());
  // The record and the checkpoint are never compressed.
  if (path == recordPath() || path == RunLayout::checkpointPath(simulation)) return true;
  const std::string gz = RunLayout::GZIP;
  if (gzip) {
    if (!endsWith(path, gz)) return false;
    path.resize(path.size() - gz.size());
  }
  std::vector<std::string> fixed = growingFiles();
  for (const auto& file : foodWebFiles()) fixed.push_back(outputPath(file));
  if (std::find(fixed.begin(), fixed.end(), path) != fixed.end()) return true;
  if (snapshots.tables) return false;
  const int last = std::max(World::DAYS, 0);
  // The day files: the folder and file of a day's path with the day cut out.
  const std::string slash = "/" + simulation + "_";
  for (const auto& [chosen, folder, prefix] :
       {std::tuple{snapshots.animalsStart, RunLayout::ANIMALS_START, "animals_day_"},
        std::tuple{snapshots.animalsEnd, RunLayout::ANIMALS_END, "animals_day_"},
        std::tuple{snapshots.cells, RunLayout::CELLS, "cells_day_"}}) {
    const std::string start = simulation + "/" + folder + slash;
    if (chosen && path.compare(0, start.size(), start) == 0 && isDayFile(path.substr(start.size()), prefix, last))
      return true;
  }
  return false;
}

}  // namespace soilweb
