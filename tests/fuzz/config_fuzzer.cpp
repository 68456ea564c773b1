// Fuzz target: arbitrary bytes as run_params. Every input must end as a
// configuration error or as a built world that then runs a few days of a small
// world (at most 8 cells, 50 founders per species, 3 days), so that the model's
// arithmetic and the building of output lines are fuzzed too. Anything else (a
// crash, a hang, a leak, a sanitizer report, a registry fault, another
// exception) is a finding.
#include "core/Configuration.h"
#include "model/Animal.h"
#include "model/Cell.h"
#include "model/RunState.h"
#include "model/Species.h"
#include "model/World.h"
#include "output/RunOutputs.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

using namespace soilweb;

namespace {
using Tree = boost::property_tree::ptree;

const int MOST_CELLS = 8;
const unsigned long MOST_FOUNDERS = 50;
const int MOST_DAYS = 3;

// Lowers the whole number at key to most when it is larger (a value that does
// not read as a number is left for the reader to judge).
void clamp(Tree& node, const std::string& key, long most) {
  auto value = node.get_child_optional(key);
  if (!value || !value->empty()) return;
  char* end = nullptr;
  const long number = std::strtol(value->data().c_str(), &end, 10);
  if (end != value->data().c_str() && number > most) value->data() = std::to_string(most);
}

void makeSmall(Tree& tree) {
  clamp(tree, "simulation.worldLength", MOST_CELLS);
  if (auto animals = tree.get_child_optional("world.life.animals"))
    for (auto& species : *animals) clamp(species.second, "initialPopulation", MOST_FOUNDERS);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream quiet;
  static bool once = [] {
    std::cout.rdbuf(quiet.rdbuf());           // the world's progress lines
    std::cerr.rdbuf(quiet.rdbuf());           // snapshot files cannot be opened: no folders exist here
    World::MEMORY_BUDGET = 64.0 * (1 << 20);  // keep each input small and fast
    World::CHECK_REGISTRY = true;
    return true;
  }();
  (void)once;
  quiet.str("");
  // Each input starts as a fresh process would.
  RunState::resetCounters();
  Configuration::clearRecords();
  try {
    auto tree = Configuration::parse(std::string(reinterpret_cast<const char*>(data), size));
    makeSmall(tree);
    World world(tree);
    std::vector<std::string> nearMisses;
    Configuration::unknownKeyWarnings(tree, nearMisses);
    const bool purge = tree.get<std::string>("simulation.purgeDeadAnimals", "") == "1";
    for (int day = 0; day <= std::min(World::DAYS, MOST_DAYS - 1) && !world.isExtinguished(); ++day) {
      world.runNextDay(day);
      std::string line;
      RunOutputs(world, {}, nullptr).printDailySummary(line, day);
      if (purge) world.purgeDeadAnimalsAlongCells();
    }
  } catch (const Configuration::Error&) {
  }
  return 0;
}
