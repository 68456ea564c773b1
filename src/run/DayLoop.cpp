#include "DayLoop.h"

#include "BackgroundWriter.h"
#include "OutputFile.h"
#include "RunOutputs.h"
#include "World.h"

#include <new>
#include <utility>

DayLoop::DayLoop(World& world, RunOutputs& outputs, const RunSettings& settings, BackgroundWriter& writer,
                 std::function<bool()> stopRequested, std::function<void(int)> dayDone)
    : world(world), outputs(outputs), settings(settings), writer(writer), stopRequested(std::move(stopRequested)), dayDone(std::move(dayDone)) {}

const DayLoop::Outcome& DayLoop::run(Checkpoint::Run saved, bool resumed) {
  state = saved;
  OutputFile summary(settings.outputPath(settings.summary), resumed ? OutputFile::CONTINUED : OutputFile::IN_PLACE);
  result.summaryPath = summary.finalPath();
  if (!summary.isOpen()) return result;
  if (resumed) {
    if (!summary.keepFirst(saved.summaryBytes)) return result;
    result.lastDay = result.checkpointDay = saved.day;
  } else {
    summary.append(RunOutputs::SUMMARY_HEADER);
    summary.flush();
  }
  try {
    runDays(summary);
  } catch (const std::bad_alloc&) {
    writer.finish();  // nothing handed over may outlive the summary file
    throw;
  }
  result.filesWritten = writer.finish();
  result.summaryWritten = summary.commit();
  return result;
}

void DayLoop::runDays(OutputFile& summary) {
  for (int day = result.lastDay + 1; day <= World::DAYS && !stopRequested() && !OutputFile::diskIsFull(); ++day) {
    result.diedOut = world.whatDiedOut();
    if (!result.diedOut.empty()) break;
    today = day;
    world.runNextDay(day);
    std::string line;
    outputs.printDailySummary(line, day);
    writer.append(summary, std::move(line));  // flushed at once: users watch the summary grow
    result.lastDay = day;
    ++result.daysRun;
    if (settings.purge == 1) world.purgeDeadAnimalsAlongCells();
    if (settings.checkpointEvery > 0 && (day + 1) % settings.checkpointEvery == 0 && day < World::DAYS)
      checkpoint(summary, day);
    if (dayDone) dayDone(day);
  }
  today = -1;
  const bool diskFull = OutputFile::diskIsFull();
  result.stopped = stopRequested() && !diskFull && result.diedOut.empty() && result.lastDay < World::DAYS;
  const bool lastDayKept = result.lastDay < 0 || result.checkpointDay == result.lastDay;
  if (!diskFull && !lastDayKept && (result.stopped || settings.checkpointEvery > 0)) checkpoint(summary, result.lastDay);
}

void DayLoop::checkpoint(OutputFile& summary, int day) {
  writer.finish();  // the summary holds the day's line; failures are counted at the end
  state.day = day;
  state.summaryBytes = summary.size();
  if (Checkpoint::write(settings.simulation, state, world))
    result.checkpointDay = day;
  else
    result.checkpointsWritten = false;
}
