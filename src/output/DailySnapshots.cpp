#include "DailySnapshots.h"

#include "BackgroundWriter.h"
#include "Cell.h"
#include "GlobalFunctions.h"
#include "OutputFile.h"
#include "RunLayout.h"

#include <utility>

DailySnapshots::DailySnapshots(std::string runName, int lastDay) : runName(std::move(runName)), lastDay(lastDay) {}

void DailySnapshots::write(const std::string& path, std::shared_ptr<const std::string> content) {
  if (writer)
    writer->writeWhole(path, std::move(content));
  else if (!OutputFile::writeWhole(path, *content))
    failed = true;
}

void DailySnapshots::writeAnimals(const std::vector<std::unique_ptr<Cell>>& cells, int day, int selector) {
  if (!isDue(selector == 0 ? choice.animalsStart : choice.animalsEnd, day)) {
    if (selector != 0) lastIsCurrent = false;  // nothing of this day's end is kept
    return;
  }
  const std::string path = RunLayout::animalsPath(runName, day, selector);
  if (selector != 0 || !lastIsCurrent) {
    auto text = std::make_shared<std::string>();
    text->reserve(lastAnimals ? lastAnimals->size() : 0);
    *text = AnimalSnapshot::HEADER;
    lastDeadLines.clear();
    for (const auto& cell : cells) AnimalSnapshot::appendAnimals(*cell, *text, &lastDeadLines);
    lastAnimals = std::move(text);
  }
  lastIsCurrent = selector != 0;
  write(path, lastAnimals);
}

void DailySnapshots::deadPurged() {
  if (!lastIsCurrent) return;
  // The same text without the lines of the animals just deleted (a new
  // string, since the old one may still be being written).
  const std::string& old = *lastAnimals;
  auto kept = std::make_shared<std::string>();
  kept->reserve(old.size());
  std::size_t from = 0;
  for (const auto& [deadFrom, deadTo] : lastDeadLines) {
    kept->append(old, from, deadFrom - from);
    from = deadTo;
  }
  kept->append(old, from, std::string::npos);
  lastAnimals = std::move(kept);
  lastDeadLines.clear();
}

void DailySnapshots::writeCells(const std::vector<std::unique_ptr<Cell>>& cells, int day) {
  if (!isDue(choice.cells, day)) return;
  const std::string path = RunLayout::cellsPath(runName, day);
  auto text = std::make_shared<std::string>();
  long preys = 0, predators = 0;
  for (const auto& cell : cells) {
    AnimalSnapshot::appendCell(*cell, *text);
    preys += cell->getNumberOfActivePreys();
    predators += cell->getNumberOfActivePredators();
  }
  *text += "\nTOTAL: ";
  appendInt(*text, preys);
  *text += '\t';
  appendInt(*text, predators);
  *text += '\n';
  write(path, std::move(text));
}
