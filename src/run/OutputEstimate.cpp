#include "run/OutputEstimate.h"

#include "model/AnimalSpecies.h"
#include "model/World.h"
#include "run/RunSettings.h"

#include <cstdio>

namespace soilweb {

namespace {
// Bytes per line, as the example and the bench scenarios write them: an
// animal's line in a snapshot, a cell's line, a pedigree row, a node's row
// and the day's lines of the summary and the statistics together.
const double ANIMAL_LINE = 150, CELL_LINE = 14, PEDIGREE_ROW = 133, NODE_ROW = 40, DAY_LINES = 12000;
// What gzip leaves of the text: about 1/2.6 of the animal tables; the dense
// matrices, nearly all zeros, shrink by far more.
const double GZIP_TEXT = 1 / 2.6, GZIP_MATRIX = 1 / 100.0;
}  // namespace

OutputEstimate::OutputEstimate(const RunSettings& settings, long founders, int lastDay, int cells)
    : matrices(settings.foodWeb && !settings.foodWebEdges),
      edges(settings.foodWeb && settings.foodWebEdges),
      tables(settings.snapshots.tables),
      gzip(settings.gzip),
      thinned(settings.snapshots.every > 1 ||
              !(settings.snapshots.animalsStart && settings.snapshots.animalsEnd && settings.snapshots.cells)) {
  const double days = lastDay < 0 ? 0 : lastDay + 1.0;
  const double snapshotDays = settings.snapshots.every > 1 ? days / settings.snapshots.every + 1 : days;
  const double animals = static_cast<double>(founders);
  const int animalKinds = int(settings.snapshots.animalsStart) + int(settings.snapshots.animalsEnd);
  double snapshots = snapshotDays * (animalKinds * animals * ANIMAL_LINE + (settings.snapshots.cells ? cells * CELL_LINE : 0));
  // Dense matrices of the founders: a "0\t" per pair, in two matrices.
  double foodWeb = matrices ? 2 * 2 * (animals + 1) * (animals + 1) + animals * NODE_ROW : edges ? 2 * animals * NODE_ROW : 0;
  double other = days * DAY_LINES + (settings.pedigree ? animals * PEDIGREE_ROW : 0);
  if (gzip) {
    snapshots *= GZIP_TEXT;
    other *= GZIP_TEXT;
    foodWeb *= matrices ? GZIP_MATRIX : GZIP_TEXT;
  }
  snapshotBytes = static_cast<std::uint64_t>(snapshots);
  foodWebBytes = static_cast<std::uint64_t>(foodWeb);
  otherBytes = static_cast<std::uint64_t>(other);
}

OutputEstimate OutputEstimate::of(const RunSettings& settings, const World& world) {
  long founders = 0;  // the first species founds the prey, the second the predators; others get none
  for (std::size_t k = 0; k < 2 && k < world.getSpecies().size(); ++k)
    founders += world.getSpecies()[k]->getInitialPopulation();
  return OutputEstimate(settings, founders, World::DAYS, static_cast<int>(world.getCells().size()));
}

std::string OutputEstimate::foodWebName() const { return matrices ? "the food-web matrices" : "the food-web tables"; }

std::string OutputEstimate::size(std::uint64_t bytes) {
  const char* const units[] = {"bytes", "kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1000 && unit < 4) value /= 1000, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return text;
}

std::string OutputEstimate::note() const {
  if (total() < NOTABLE) return "";
  std::string parts = "the snapshots " + size(snapshotBytes);
  if (foodWebBytes > 0) parts += ", " + foodWebName() + " " + size(foodWebBytes);
  if (otherBytes > 0) parts += ", the daily tables " + size(otherBytes);
  std::string shrink;
  auto add = [&](bool unused, const std::string& key) {
    if (unused) shrink += (shrink.empty() ? "" : ", ") + key;
  };
  add(!tables, "simulation.outputs.layout \"tables\"");
  add(!gzip, "simulation.outputs.compression \"gzip\"");
  add(matrices, "simulation.outputs.foodWeb \"edges\"");
  add(!thinned, "simulation.outputs.snapshotEvery or snapshots");
  add(snapshotBytes > 0 || foodWebBytes > 0, "simulation.outputs.files [\"summary\"]");
  return "this run will write at least " + size(total()) + " (" + parts + ", with the founders' numbers" +
         (shrink.empty() ? ")" : "); smaller with " + shrink);
}

}  // namespace soilweb
