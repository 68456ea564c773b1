#include "output/ProgressLine.h"

#include "model/Cell.h"
#include "model/World.h"

#include <cstdio>

namespace soilweb {

namespace {
// Carriage return and erase to the end of the line: the line is written over.
const char* const REWRITE = "\r\033[K";
// At most so many rewrites a second: a fast run would spend its time on the terminal.
const double SECONDS_BETWEEN_LINES = 0.2;
// Bytes a second of the closing files (the food-web matrices of 22 000
// founders, 1.9 GB, took 18 s on a laptop's disk).
const double CLOSING_BYTES_PER_SECOND = 100e6;

std::string plural(long count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}
}  // namespace

ProgressLine::ProgressLine(std::ostream& out, bool showing, bool underTranscript, int lastDay, Clock::time_point start)
    : out(out), showing(showing), underTranscript(underTranscript), lastDay(lastDay), start(start) {}

double ProgressLine::secondsSinceStart() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

void ProgressLine::dayStarted(const World&, int day) {
  if (firstDay < 0) firstDay = day;
  if (underTranscript) clear();
}

void ProgressLine::dayRun(const World& world, int day) {
  if (!showing) return;
  const double elapsed = secondsSinceStart();
  if (shown && day < lastDay && elapsed - lastShown < SECONDS_BETWEEN_LINES) return;
  std::string line = "soilweb: day " + std::to_string(day) + " of " + std::to_string(lastDay) + "; " +
                     plural(livingAnimals(world), "animal", "animals") + " alive; " + duration(elapsed) + " elapsed";
  const int done = day - firstDay + 1, left = lastDay - day;
  const double closing = static_cast<double>(closingBytes) / CLOSING_BYTES_PER_SECOND;
  if (left > 0 || closing >= 1) line += ", about " + duration(elapsed / done * left + closing) + " left";
  out << REWRITE << line << std::flush;
  shown = true;
  lastShown = elapsed;
}

void ProgressLine::writing(const std::string& what) {
  if (!showing) return;
  out << REWRITE << "soilweb: writing " << what << std::flush;
  shown = true;
}

void ProgressLine::clear() {
  if (shown) out << REWRITE << std::flush;
  shown = false;
}

void ProgressLine::ended(const std::string& how, int daysRun, int lastDayRun, long alive, std::size_t warnings,
                         const std::string& folder) {
  clear();
  out << "soilweb: " << how << ": "
      << (lastDayRun < 0 ? std::string("no day run")
                         : "day " + std::to_string(lastDayRun) + " of " + std::to_string(lastDay) + " reached, " +
                               plural(daysRun, "day", "days") + " run")
      << "; " << (alive < 0 ? std::string("animals alive unknown") : plural(alive, "animal", "animals") + " alive")
      << "; " << duration(secondsSinceStart()) << "; "
      << (warnings == 0 ? std::string("no warnings")
                        : plural(static_cast<long>(warnings), "warning", "warnings") + " (above)")
      << "; results in " << folder << std::endl;
}

long ProgressLine::livingAnimals(const World& world) {
  long living = 0;
  for (const auto& cell : world.getCells())
    living += cell->getNumberOfUnbornPreys() + cell->getNumberOfActivePreys() + cell->getNumberOfReproducingPreys() +
              cell->getNumberOfUnbornPredators() + cell->getNumberOfActivePredators() +
              cell->getNumberOfReproducingPredators();
  return living;
}

std::string ProgressLine::duration(double seconds) {
  char text[32];
  if (seconds < 10)
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  else if (seconds < 60)
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  else if (seconds < 3600)
    std::snprintf(text, sizeof text, "%d min %02d s", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
  else
    std::snprintf(text, sizeof text, "%d h %02d min", static_cast<int>(seconds) / 3600,
                  static_cast<int>(seconds) % 3600 / 60);
  return text;
}

}  // namespace soilweb
