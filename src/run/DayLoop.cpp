#include "run/DayLoop.h"
#include "output/ResultSchema.h"

#include "model/World.h"
#include "io/BackgroundWriter.h"
#include "io/OutputFile.h"
#include "output/RunOutputs.h"
#include "output/TraitStatistics.h"

#include <algorithm>
#include <new>
#include <utility>

namespace soilweb {

DayLoop::DayLoop(World& world, RunOutputs& outputs, const RunSettings& settings, BackgroundWriter& writer,
                 std::function<bool()> stopRequested, std::function<void(int)> dayDone,
                 std::function<bool(const std::string&)> nonFiniteFound)
    : world(world),
      outputs(outputs),
      settings(settings),
      writer(writer),
      stopRequested(std::move(stopRequested)),
      dayDone(std::move(dayDone)),
      nonFiniteFound(std::move(nonFiniteFound)) {}

DayLoop::~DayLoop() = default;

bool DayLoop::openTables(const Checkpoint::Run& saved, bool resumed) {
  const auto mode = resumed ? OutputFile::CONTINUED : OutputFile::IN_PLACE;
  tables.push_back({std::make_unique<OutputFile>(settings.outputPath(settings.summary), mode),
                    ResultSchema::header("summary"), &Checkpoint::Run::summaryBytes, &RunOutputs::printDailySummary});
  result.summaryPath = tables.back().file->finalPath();
  if (world.hasTemperatureSeries()) tables.back().header = ResultSchema::header("summary", true);
  auto add = [&](bool wanted, const std::string& path, const char* id, OutputFile::Written Checkpoint::Run::*bytes,
                 void (RunOutputs::*lines)(std::string&, int)) {
    // The neutral markers' columns are in the genetic statistics and the pedigree when some species has them.
    const bool markers = world.hasNeutralMarkers() && (std::string(id) == "genetics" || std::string(id) == "pedigree");
    if (wanted)
      tables.push_back({std::make_unique<OutputFile>(path, mode), ResultSchema::header(id, markers), bytes, lines});
  };
  add(settings.traitStatistics, settings.traitsPath(), "traits", &Checkpoint::Run::traitsBytes,
      &RunOutputs::printTraitStatistics);
  add(settings.geneticStatistics, settings.geneticsPath(), "genetics", &Checkpoint::Run::geneticsBytes,
      &RunOutputs::printGeneticStatistics);
  add(settings.pedigree, settings.pedigreePath(), "pedigree", &Checkpoint::Run::pedigreeBytes,
      &RunOutputs::printPedigree);
  add(settings.pedigree, settings.deathsPath(), "deaths", &Checkpoint::Run::deathsBytes, &RunOutputs::printDeaths);
  if (settings.pedigree) outputs.keepPedigree(resumed);
  if (settings.snapshots.tables && !outputs.openTables(saved.snapshotBytes, resumed)) return false;
  for (const DailyTable& table : tables) {
    OutputFile& file = *table.file;
    if (!file.isOpen()) return false;
    if (resumed) {
      if (!file.keepFirst(saved.*table.bytes)) return false;
    } else {
      file.append(table.header);
      file.flush();
    }
  }
  for (OutputFile* file : growingFiles()) file->dayEnded();  // what a failure on the first day cuts back to
  return true;
}

std::vector<OutputFile*> DayLoop::growingFiles() const {
  std::vector<OutputFile*> files = outputs.snapshotTables();
  for (const DailyTable& table : tables) files.push_back(table.file.get());
  return files;
}

const DayLoop::Outcome& DayLoop::run(Checkpoint::Run saved, bool resumed) {
  state = saved;
  // Known before the tables open: a run that cannot open them still says truly what had died out by when.
  if (resumed) result.lastDay = result.checkpointDay = saved.day;
  result.goneAfterDay = saved.goneAfterDay;
  if (!openTables(saved, resumed)) return result;
  result.tablesOpened = true;
  try {
    runDays();
  } catch (const std::bad_alloc&) {
    writer.finish();  // nothing handed over may outlive the tables
    throw;
  }
  result.filesWritten = writer.finish();
  if (settings.snapshots.tables) result.filesWritten = outputs.commitTables() && result.filesWritten;
  result.summaryWritten = true;
  for (const DailyTable& table : tables) result.summaryWritten = table.file->commit() && result.summaryWritten;
  return result;
}

void DayLoop::runDays() {
  const int firstDay = result.lastDay + 1;
  if (firstDay == 0) noteWhatIsGone(-1);
  for (int day = firstDay; day <= World::DAYS && !stopRequested() && !OutputFile::diskIsFull() &&
                           !writer.hasFailed() && !result.memoryExceeded &&
                           !result.nonFiniteRefused;
       ++day) {
    result.diedOut = world.whatDiedOut();
    if (!result.diedOut.empty()) break;
    today = day;
    world.runNextDay(day);
    for (const DailyTable& table : tables) {
      std::string lines;
      const std::uint64_t marked = NonFiniteValues::mark();
      (outputs.*table.lines)(lines, day);
      if (NonFiniteValues::writtenSince(marked))
        tablesNonFinite.noteFirstIn(lines, table.header, table.file->finalPath(), day);
      writer.append(*table.file, std::move(lines));  // flushed at once: users watch the tables grow
    }
    for (OutputFile* file : growingFiles()) writer.dayEnded(*file, day);
    result.lastDay = day;
    ++result.daysRun;
    checkNonFinite();
    noteWhatIsGone(day);
    if (settings.purge == 1) world.purgeDeadAnimalsAlongCells();
    if (settings.checkpointEvery > 0 && (day + 1) % settings.checkpointEvery == 0 && day < World::DAYS) checkpoint(day);
    if (dayDone) dayDone(day);
    // Checked every day, not only at the start: a run whose animals multiply
    // stops with a checkpoint here rather than being killed by the system.
    result.heldBytes = world.heldBytes();
    result.memoryExceeded = result.heldBytes > World::MEMORY_BUDGET;
  }
  today = -1;
  writer.finish();
  if (writer.hasFailed()) {
    // The days simulated ahead of a file that failed are not the run's: it
    // ends at the last day whose lines were all written, every table cut
    // back to that day (as a resume cuts them back to its checkpoint).
    result.lastDay = std::max(firstDay - 1, writer.lastWholeDay());
    result.daysRun = result.lastDay - (firstDay - 1);
    for (OutputFile* file : growingFiles()) file->cutBackToWholeDay();
  }
  const bool writeFailed = OutputFile::diskIsFull() || writer.hasFailed();
  result.stopped = stopRequested() && !writeFailed && result.diedOut.empty() && result.lastDay < World::DAYS;
  const bool lastDayKept = result.lastDay < 0 || result.checkpointDay == result.lastDay;
  if (!writeFailed && !lastDayKept && (result.stopped || result.memoryExceeded || settings.checkpointEvery > 0))
    checkpoint(result.lastDay);
}

void DayLoop::checkNonFinite() {
  if (!result.nonFinite.empty()) return;
  const NonFiniteValues& snapshots = outputs.snapshotNonFiniteValues();
  const NonFiniteValues* first = &tablesNonFinite;
  if (!first->found() || (snapshots.found() && snapshots.firstDay() < first->firstDay())) first = &snapshots;
  if (!first->found()) return;
  result.nonFinite = first->where();
  result.nonFiniteRefused = nonFiniteFound && nonFiniteFound(result.nonFinite);
}

void DayLoop::noteWhatIsGone(int day) {
  const World::Gone gone = world.whatIsGone();
  const bool now[3] = {gone.resource, gone.prey, gone.predators};
  for (std::size_t k = 0; k < 3; ++k)
    if (now[k] && result.goneAfterDay[k] == Checkpoint::Run::NOT_GONE) result.goneAfterDay[k] = day;
}

void DayLoop::checkpoint(int day) {
  writer.finish();                 // the tables hold the day's lines; failures are counted at the end
  if (writer.hasFailed()) return;  // the tables stop before day: there is no state of day to keep
  state.day = day;
  state.goneAfterDay = result.goneAfterDay;
  for (const DailyTable& table : tables) state.*table.bytes = table.file->written();
  state.snapshotBytes = outputs.tableSizes();
  if (Checkpoint::write(settings.simulation, state, world))
    result.checkpointDay = day;
  else
    result.checkpointsWritten = false;
}

}  // namespace soilweb
