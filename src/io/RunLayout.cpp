#include "io/RunLayout.h"

#include "io/SnapshotChoice.h"

namespace soilweb {

const char* const RunLayout::OUTPUTS = "outputs";
const char* const RunLayout::CHECKPOINTS = "checkpoint";
const char* const RunLayout::ANIMALS_START = "animals_each_day_end";
const char* const RunLayout::ANIMALS_END = "animals_each_day_start";
const char* const RunLayout::CELLS = "cells";
const char* const RunLayout::OWN = ".soilweb";
const char* const RunLayout::RECORD = "run_info.json";
const char* const RunLayout::CHECKPOINT = "checkpoint.bin";
const char* const RunLayout::TRAITS = "traits.tsv";
const char* const RunLayout::GENETICS = "genetics.tsv";
const char* const RunLayout::PEDIGREE = "pedigree.tsv";
const char* const RunLayout::DEATHS = "deaths.tsv";
const char* const RunLayout::TABLES[3] = {"animals_start.tsv", "animals_end.tsv", "cells.tsv"};
const char* const RunLayout::FOODWEB_NODES = "foodweb_nodes.tsv";
const char* const RunLayout::FOODWEB_EDGES = "foodweb_edges.tsv";
const char* const RunLayout::PARTIAL = ".partial";
const char* const RunLayout::GZIP = ".gz";

namespace {
// NAME/folder/NAME_file.
std::string inFolder(const std::string& run, const char* folder, const std::string& file) {
  return run + "/" + folder + "/" + run + "_" + file;
}
}  // namespace

std::string RunLayout::outputPath(const std::string& run, const std::string& file) {
  return inFolder(run, OUTPUTS, file);
}

std::string RunLayout::checkpointFolder(const std::string& run) { return run + "/" + CHECKPOINTS; }

std::string RunLayout::checkpointPath(const std::string& run) { return inFolder(run, CHECKPOINTS, CHECKPOINT); }

std::string RunLayout::animalsPath(const std::string& run, int day, int selector) {
  return inFolder(run, selector == 0 ? ANIMALS_START : ANIMALS_END, "animals_day_" + std::to_string(day) + ".txt");
}

std::string RunLayout::cellsPath(const std::string& run, int day) {
  return inFolder(run, CELLS, "cells_day_" + std::to_string(day) + ".txt");
}

std::string RunLayout::tablePath(const std::string& run, int kind) { return outputPath(run, TABLES[kind]); }

std::vector<std::string> RunLayout::folders(const SnapshotChoice& choice) {
  std::vector<std::string> wanted = {std::string("/") + OUTPUTS};
  if (choice.tables) return wanted;
  if (choice.animalsEnd) wanted.push_back(std::string("/") + ANIMALS_END);
  if (choice.animalsStart) wanted.push_back(std::string("/") + ANIMALS_START);
  if (choice.cells) wanted.push_back(std::string("/") + CELLS);
  return wanted;
}

}  // namespace soilweb
