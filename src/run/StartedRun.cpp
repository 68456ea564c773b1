#include "run/StartedRun.h"

#include "core/GlobalFunctions.h"
#include "model/World.h"
#include "output/ConsoleReport.h"
#include "io/OutputFile.h"
#include "io/RunFolder.h"
#include "output/RunInfo.h"
#include "io/Transcript.h"
#include "run/RunSettings.h"
#include "run/StopSignals.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <new>
#include <vector>

namespace soilweb {

namespace {
const std::size_t SPARE_MEMORY = std::size_t(16) << 20;

std::string lastDayText(const DayLoop::Outcome& loop) {
  return loop.lastDay < 0 ? std::string("no day") : "day " + std::to_string(loop.lastDay);
}

// "the prey died out", "the soil resource ran out".
std::string whatDiedOut(const DayLoop::Outcome& loop) {
  return loop.diedOut + (loop.diedOut.find("resource") != std::string::npos ? " ran out" : " died out");
}

void noteExtinction(const DayLoop::Outcome& loop) {
  std::cerr << "soilweb: note: " << whatDiedOut(loop)
            << (loop.lastDay < 0
                    ? "; no day was run"
                    : "; the last day run was " + std::to_string(loop.lastDay) + " of " + std::to_string(World::DAYS))
            << std::endl;
}

// A run that went on past an extinction (simulation.stopWhen) says what died out when.
void noteExtinctionsPassed(const DayLoop::Outcome& loop) {
  const char* const names[3] = {"the soil resource ran out", "the prey died out", "the predators died out"};
  std::string passed;
  for (std::size_t k = 0; k < 3; ++k) {
    const int day = loop.goneAfterDay[k];
    if (day == Checkpoint::Run::NOT_GONE || (!loop.diedOut.empty() && day == loop.lastDay)) continue;
    passed += (passed.empty() ? "" : ", ") + std::string(names[k]) +
              (day < 0 ? " before day 0" : " after day " + std::to_string(day));
  }
  if (!passed.empty())
    std::cerr << "soilweb: note: " << passed << "; the run went on to " << lastDayText(loop) << " of " << World::DAYS
              << std::endl;
}

void noteStop(const DayLoop::Outcome& loop, const std::string& runFolder) {
  std::cerr << "soilweb: stopped by " << StopSignals::name(StopSignals::received()) << " after " << lastDayText(loop)
            << "; every file written so far is complete; the food-web matrices were not written";
  if (loop.checkpointDay >= 0) std::cerr << "; carry on with --resume " << runFolder;
  std::cerr << std::endl;
}
}  // namespace

StartedRun::StartedRun(RunInfo& info, std::unique_ptr<World> world, const RunSettings& names, RunFolder& folder,
                       std::string shownFolder, std::uint64_t start, bool showProgress, bool strict)
    : info(info),
      world(std::move(world)),
      names(names),
      folder(folder),
      shownFolder(std::move(shownFolder)),
      start(start),
      strict(strict),
      spareMemory(new char[SPARE_MEMORY]),
      expected(OutputEstimate::of(names, *this->world)),
      progress(std::cerr, showProgress, isatty(STDOUT_FILENO) == 1, World::DAYS,
               ProgressLine::Clock::now() - std::chrono::microseconds(get_timestamp() - start)),
      outputs(*this->world, names.snapshots, &writer),
      loop(
          *this->world, outputs, names, writer, [] { return StopSignals::received() != 0 || Transcript::failed(); },
          [this](int day) {
            progress.dayRun(*this->world, day);
            StopSignals::reach("day", day);
          },
          [this](const std::string& where) { return nonFiniteFound(where); }) {
  this->world->observe(&outputs);
  this->world->observe(&progress, true);  // takes its line away before the transcript writes
  progress.expectClosing(expected.foodWebBytes);
}

int StartedRun::carryOut(Checkpoint::Run saved, bool resumed, const std::string& earlierRecord) {
  try {
    StopSignals::reach("started");
    loop.run(saved, resumed);
    progress.clear();
    if (resumed && !loop.outcome().tablesOpened) return resumeRefused(earlierRecord);
    if (loop.outcome().summaryWritten) ConsoleReport::fileSaved(loop.outcome().summaryPath);
    if (OutputFile::diskIsFull()) return diskFull();
    if (loop.outcome().stopped) return Transcript::failed() ? transcriptLost() : stopped();
    if (loop.outcome().memoryExceeded) return memoryExceeded();
    if (loop.outcome().nonFiniteRefused) {
      endWorld();
      return failed("soilweb: error (--strict): numbers that are not finite (nan or inf) in the results, first on " +
                    loop.outcome().nonFinite + "; the run stopped after that day");
    }
    return close();
  } catch (const std::bad_alloc&) {
    spareMemory.reset();
    try {
      return outOfMemory();
    } catch (const std::bad_alloc&) {
      std::cerr << "soilweb: out of memory again while recording the run's end; its record may be out of date"
                << std::endl;
      return 1;
    }
  }
}

bool StartedRun::nonFiniteFound(const std::string& where) {
  const std::string warning = "numbers that are not finite (nan or inf) in the results, first on " + where;
  progress.clear();
  if (strict) return true;
  std::cerr << "soilweb: warning: " << warning << std::endl;
  info.warnings.push_back(warning);
  return false;
}

int StartedRun::resumeRefused(const std::string& earlierRecord) {
  std::cerr << "soilweb: nothing was run; the run's record is left as it was" << std::endl;
  folder.releaseRoom();
  if (!earlierRecord.empty()) OutputFile::writeWhole(names.recordPath(), earlierRecord, true);
  return 1;
}

int StartedRun::memoryExceeded() {
  const DayLoop::Outcome& days = loop.outcome();
  endWorld();
  return failed("soilweb: after day " + std::to_string(days.lastDay) + " the animals would need about " +
                gibibytes(days.heldBytes) + " of memory, more than the " + gibibytes(World::MEMORY_BUDGET) +
                " a run may use; the run stopped there" +
                (days.checkpointDay == days.lastDay ? " with a checkpoint of that day" : ""));
}

int StartedRun::record(const std::string& how, int status) {
  info.daysRun = loop.outcome().daysRun;
  info.lastDay = loop.outcome().lastDay;
  info.finish(how, status);
  const DayLoop::Outcome& days = loop.outcome();
  std::string said = how == "extinct"   ? "extinct (" + whatDiedOut(days) + ")"
                     : how == "stopped" ? "stopped by " + info.signal
                                        : how;
  if (!days.nonFinite.empty() && !days.nonFiniteRefused) said += " with non-finite values";
  // A stop that came once every day had run did not stop the run: the closing line says so.
  if (how != "stopped" && StopSignals::received())
    said += std::string(" (") + StopSignals::name(StopSignals::received()) +
            " came after the last day: the closing files were finished)";
  progress.ended(said, days.daysRun, days.lastDay, alive, info.warnings.size(), shownFolder);
  StopSignals::reach("record");
  folder.releaseRoom();
  // Where there is no room for a new record, the old one is written over in place.
  const std::string record = info.json();
  const bool written = OutputFile::writeWhole(names.recordPath(), record, true) ||
                       (OutputFile::diskIsFull() && OutputFile::rewrite(names.recordPath(), record));
  return written || how == "stopped" ? status : 1;
}

int StartedRun::failed(const std::string& line) {
  progress.clear();
  std::cerr << line << std::endl;
  info.error = line;
  return record("failed", 1);
}

void StartedRun::endWorld() {
  if (world) alive = ProgressLine::livingAnimals(*world);
  world.reset();
}

int StartedRun::diskFull() {
  endWorld();
  const std::string what =
      OutputFile::fileSizeLimited() ? "the file-size limit was reached: " : "no room left on the disk: ";
  return failed("soilweb: " + what + OutputFile::fullDiskFailure() + "; the run stopped after " +
                lastDayText(loop.outcome()));
}

int StartedRun::stopped() {
  noteStop(loop.outcome(), shownFolder);
  endWorld();
  info.signal = StopSignals::name(StopSignals::received());
  return record("stopped", 128 + StopSignals::received());
}

int StartedRun::transcriptLost() {
  endWorld();
  const DayLoop::Outcome& days = loop.outcome();
  return failed("soilweb: " + Transcript::failure() + "; the run stopped after " + lastDayText(days) +
                (days.checkpointDay >= 0 ? "; carry on with --resume " + shownFolder : ""));
}

int StartedRun::outOfMemory() {
  // The world may be half-way through a day: it is not taken apart, but
  // kept as it is (and in reach) to the end of the process.
  [[maybe_unused]] static World* volatile abandoned = nullptr;
  abandoned = world.release();
  const int day = loop.dayInProgress();
  const DayLoop::Outcome& days = loop.outcome();
  return failed("soilweb: out of memory " +
                (day >= 0 ? "on day " + std::to_string(day) + "; every file holds the days to " + lastDayText(days)
                          : "after " + lastDayText(days)) +
                (days.checkpointDay >= 0 ? "; the checkpoint of day " + std::to_string(days.checkpointDay) + " is kept"
                                         : ""));
}

int StartedRun::close() {
  const DayLoop::Outcome& days = loop.outcome();
  const bool stopBefore = StopSignals::received() != 0;
  if (stopBefore)
    std::cerr << "soilweb: note: " << StopSignals::name(StopSignals::received())
              << " arrived after the last day; the run's closing files were finished first" << std::endl;
  if (!days.diedOut.empty()) noteExtinction(days);
  noteExtinctionsPassed(days);
  bool succeeded = days.summaryWritten && days.filesWritten && days.checkpointsWritten;
  StopSignals::reach("closing");
  if (names.purge != 0)
    ConsoleReport::banner(
        "Skipping encounter-predation analysis...\nReason: \"purgeDeadAnimals\" must be set to 0 (deactivated)");
  else if (!names.foodWeb)
    ConsoleReport::banner("Skipping encounter-predation analysis...\nReason: the food web was not asked for");
  else if (days.filesWritten)  // not of a world that ran ahead of files that failed
    succeeded = writeFoodWeb() && succeeded;
  progress.clear();
  if (OutputFile::diskIsFull()) return diskFull();
  if (!stopBefore && StopSignals::received())
    std::cerr << "soilweb: note: " << StopSignals::name(StopSignals::received())
              << " arrived while the run's closing files were written; they were finished first" << std::endl;
  succeeded = succeeded && !outputs.hasOutputFailed();
  std::cout << "Time: " << static_cast<double>(get_timestamp() - start) / 1000000 << " secs." << std::endl;
  endWorld();
  info.diedOut = days.diedOut;
  for (std::size_t k = 0; k < 3; ++k) info.goneAfterDay[k] = days.goneAfterDay[k];
  info.error = OutputFile::firstFailure();
  if (Transcript::failed()) {
    std::cerr << "soilweb: " << Transcript::failure() << std::endl;
    if (info.error.empty()) info.error = "soilweb: " + Transcript::failure();
    succeeded = false;
  }
  const int status = record(!succeeded ? "failed" : !days.diedOut.empty() ? "extinct" : "completed", succeeded ? 0 : 1);
  // Kept until the record is whole too: a run killed before then carries on from it.
  if (status == 0) Checkpoint::remove(names.simulation);
  return status;
}

bool StartedRun::writeFoodWeb() {
  // A long closing phase is never silent: the progress line says what it writes, or a note when it is not shown.
  const std::string what = expected.foodWebName() + ", about " + OutputEstimate::size(expected.foodWebBytes);
  if (progress.isShowing())
    progress.writing(what);
  else if (expected.foodWebBytes >= OutputEstimate::NOTABLE)
    std::cerr << "soilweb: note: writing " << what << std::endl;
  // Opened in order; the first that fails stops the others from being opened.
  std::vector<std::unique_ptr<OutputFile>> files;
  for (const auto& file : names.foodWebFiles()) {
    files.push_back(std::make_unique<OutputFile>(names.outputPath(file)));
    if (!files.back()->isOpen()) return false;
  }
  try {
    if (names.foodWebEdges)
      outputs.printFoodWebNodesAndEdges(*files[0], *files[1]);
    else
      outputs.printEncountersPredationsAndNodesMatrices(*files[0], *files[1], *files[2]);
    StopSignals::reach("matrices");
  } catch (const std::bad_alloc&) {
    writer.finish();  // nothing handed over may outlive its file
    throw;
  }
  writer.finish();
  bool written = true;
  for (const auto& file : files) {
    if (file->commit())
      ConsoleReport::fileSaved(file->finalPath());
    else
      written = false;
  }
  return written;
}

}  // namespace soilweb
