// Fuzz target: arbitrary bytes as run_params. Every input must end as a built
// world or as a configuration error; anything else (a crash, a hang, a leak, a
// sanitizer report, another exception) is a finding. Days are not run.
#include "Animal.h"
#include "Cell.h"
#include "Configuration.h"
#include "Species.h"
#include "World.h"

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream quiet;
  static bool once = [] {
    std::cout.rdbuf(quiet.rdbuf());  // the world's progress lines
    World::MEMORY_BUDGET = 64.0 * (1 << 20);  // keep each input small and fast
    return true;
  }();
  (void)once;
  quiet.str("");
  // Each input starts as a fresh process would.
  Cell::cellID = 0;
  Animal::animalID = 0;
  Species::speciesCounter = 0;
  try {
    const auto tree = Configuration::parse(std::string(reinterpret_cast<const char*>(data), size));
    World world(tree);
  } catch (const Configuration::Error&) {
  }
  return 0;
}
