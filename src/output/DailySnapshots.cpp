#include "output/DailySnapshots.h"
#include "output/ResultSchema.h"

#include "core/GlobalFunctions.h"
#include "model/Cell.h"
#include "io/BackgroundWriter.h"
#include "io/OutputFile.h"
#include "io/RunLayout.h"

#include <algorithm>
#include <utility>

namespace soilweb {

namespace {
// The kinds of the tables layout, in the order of TableBytes.
enum Kind { ANIMALS_START, ANIMALS_END, CELLS };
}  // namespace

DailySnapshots::DailySnapshots(std::string runName, int lastDay, std::size_t heldBytes)
    : runName(std::move(runName)), lastDay(lastDay), heldBytes(heldBytes) {}

DailySnapshots::~DailySnapshots() = default;

bool DailySnapshots::openTables(const TableBytes& bytes, bool resumed) {
  const bool wanted[3] = {choice.animalsStart, choice.animalsEnd, choice.cells};
  const std::string headers[3] = {ResultSchema::header("animals_start"), ResultSchema::header("animals_end"),
                                  ResultSchema::header("cells")};
  for (int kind = 0; kind < 3; ++kind) {
    if (!wanted[kind]) continue;
    auto& table = tables[kind];
    table = std::make_unique<OutputFile>(RunLayout::tablePath(runName, kind),
                                         resumed ? OutputFile::CONTINUED : OutputFile::IN_PLACE);
    if (!table->isOpen()) return false;
    if (resumed) {
      if (!table->keepFirst(bytes[kind])) return false;
    } else {
      table->append("day\t" + headers[kind]);
      table->flush();
    }
  }
  return true;
}

DailySnapshots::TableBytes DailySnapshots::tableSizes() const {
  TableBytes sizes{};
  for (int kind = 0; kind < 3; ++kind)
    if (tables[kind]) sizes[kind] = tables[kind]->written();
  return sizes;
}

std::vector<OutputFile*> DailySnapshots::openTables() const {
  std::vector<OutputFile*> open;
  for (const auto& table : tables)
    if (table) open.push_back(table.get());
  return open;
}

bool DailySnapshots::commitTables() {
  bool written = true;
  for (auto& table : tables)
    if (table) written = table->commit() && written;
  return written;
}

// With dead animals once, a dead animal's row goes only into the first snapshot of the table
// that shows it dead. The snapshot before day's in the same table was taken on the last
// multiple of snapshotEvery before it (the only other days written are the run's last), and it
// showed every animal dead by then: at the end of that day, those that died on it or before; at
// its start, those that died before it. The rule needs nothing but the day, so a resumed run
// follows it too.
bool DailySnapshots::shownBefore(int kind, int day, int dateDeath) const {
  if (!choice.deadOnce || kind == CELLS || day == 0) return false;
  const int previous = (day - 1) / choice.every * choice.every;
  return kind == ANIMALS_END ? dateDeath <= previous : dateDeath < previous;
}

void DailySnapshots::appendRows(int kind, int day, const std::string& daily, bool hasHeader,
                                const AnimalSnapshot::DeadLines& dead) {
  const std::string dayField = std::to_string(day) + '\t';
  std::string rows;
  rows.reserve(daily.size() + daily.size() / 64 * dayField.size());
  std::size_t from = hasHeader ? daily.find('\n') + 1 : 0;
  auto nextDead = dead.begin();
  while (from < daily.size()) {
    const std::size_t end = daily.find('\n', from);
    while (nextDead != dead.end() && nextDead->from < from) ++nextDead;
    if (nextDead != dead.end() && nextDead->from == from && shownBefore(kind, day, nextDead->dateDeath)) {
      from = end + 1;
      continue;
    }
    std::size_t last = end;
    if (last > from && daily[last - 1] == '\t') --last;  // animal lines end each field with a tab
    rows += dayField;
    rows.append(daily, from, last - from);
    rows += '\n';
    from = end + 1;
  }
  if (writer) {
    writer->append(*tables[kind], std::move(rows));
  } else {
    tables[kind]->append(rows);
    tables[kind]->flush();
  }
}

void DailySnapshots::write(const std::string& path, std::shared_ptr<const std::string> content) {
  if (writer)
    writer->writeWhole(path, std::move(content));
  else if (!OutputFile::writeWhole(path, *content))
    failed = true;
}

void DailySnapshots::writeAnimals(const std::vector<std::unique_ptr<Cell>>& cells, int day, int selector) {
  if (selector != 0) settleProvisionalStart(day);
  // A thinned run may die out on any day, and the start of its last day is
  // one of its snapshots: on a day not due, the start is written
  // provisionally and kept only if the day turns out to be the last.
  provisional = selector == 0 && choice.animalsStart && choice.every > 1 && !isDue(true, day);
  if (!provisional && !isDue(selector == 0 ? choice.animalsStart : choice.animalsEnd, day)) {
    if (selector != 0) lastIsCurrent = false;  // nothing of this day's end is kept
    return;
  }
  const int kind = selector == 0 ? ANIMALS_START : ANIMALS_END;
  if (provisional && choice.tables) mark(*tables[ANIMALS_START]);
  const bool reused = selector == 0 && lastIsCurrent && day == lastEndDay + 1;
  const std::uint64_t marked = NonFiniteValues::mark();
  const bool built = reused || buildAnimals(cells, day, kind);
  if (NonFiniteValues::writtenSince(marked))
    noteNonFinite(built ? lastAnimals.get() : nullptr, ResultSchema::header("animals_end"), "the animal snapshots",
                  day);
  if (!built) {
    lastIsCurrent = false;  // written as it was built; nothing is kept
    return;
  }
  lastIsCurrent = selector != 0;
  lastEndDay = day;
  if (provisional) {
    provisionalText = lastAnimals;  // held, and written only if the day is the last
    if (choice.tables && choice.deadOnce) provisionalDeadLines = lastDeadLines;  // only they thin dead rows
  }
  else if (choice.tables)
    appendRows(kind, day, *lastAnimals, true, lastDeadLines);
  else
    write(RunLayout::animalsPath(runName, day, selector), lastAnimals);
}

void DailySnapshots::settleProvisionalStart(int day) {
  if (!provisional) return;
  provisional = false;
  const bool kept = day == lastDay;
  if (provisionalText) {
    if (kept && choice.tables)
      appendRows(ANIMALS_START, day, *provisionalText, true, provisionalDeadLines);
    else if (kept)
      write(RunLayout::animalsPath(runName, day, 0), provisionalText);
  } else if (choice.tables) {
    if (!kept) cutBack(*tables[ANIMALS_START]);  // rows too many to hold were appended as they were built
  } else if (provisionalFile && kept) {
    if (writer)
      writer->stream(provisionalFile, "", true);
    else if (!provisionalFile->commit())
      failed = true;
  }
  // A file not kept is removed, as a file never finished is, once the writer lets it go.
  provisionalText.reset();
  provisionalDeadLines.clear();
  provisionalFile.reset();
}

void DailySnapshots::mark(OutputFile& table) {
  if (writer) return writer->mark(table);
  table.mark();
}

void DailySnapshots::cutBack(OutputFile& table) {
  if (writer) return writer->cutBack(table);
  table.cutBackToMark();
}

bool DailySnapshots::buildAnimals(const std::vector<std::unique_ptr<Cell>>& cells, int day, int kind) {
  auto text = std::make_shared<std::string>();
  text->reserve(lastAnimals ? lastAnimals->size() : 0);
  *text = ResultSchema::header("animals_end");
  lastDeadLines.clear();
  lastAnimals.reset();
  const std::size_t part = std::max<std::size_t>(heldBytes / 2, 1);
  std::shared_ptr<OutputFile> file;  // the daily file, once streaming has begun
  bool streaming = false;
  keptLines.buildStarting();
  for (const auto& cell : cells) {
    AnimalSnapshot::appendAnimals(*cell, *text, &lastDeadLines, keepLines ? &keptLines : nullptr);
    if (text->size() >= (streaming ? part : heldBytes)) {
      writePart(file, day, kind, std::move(*text), !streaming, false);
      text->clear();
      lastDeadLines.clear();  // those of the part written; the next part's lie in the next text
      streaming = true;
      keepLines = false;  // the kept text would grow with the animals too
      keptLines.forgetAll();
    }
  }
  keptLines.buildEnded();
  if (!streaming) {
    lastAnimals = std::move(text);
    return true;
  }
  writePart(file, day, kind, std::move(*text), false, true);
  lastDeadLines.clear();
  return false;
}

void DailySnapshots::writePart(std::shared_ptr<OutputFile>& file, int day, int kind, std::string part, bool first,
                               bool last) {
  if (choice.tables) return appendRows(kind, day, part, first, lastDeadLines);
  if (first) file = std::make_shared<OutputFile>(RunLayout::animalsPath(runName, day, kind == ANIMALS_START ? 0 : 1));
  if (provisional && last) provisionalFile = file;  // finished, but committed only if the day is the last
  const bool commit = last && !provisional;
  if (writer) return writer->stream(file, std::move(part), commit);
  file->append(part);
  if (commit && !file->commit()) failed = true;
}

void DailySnapshots::deadPurged() {
  keptLines.animalsRemoved();
  if (!lastIsCurrent) return;
  // The same text without the lines of the animals just deleted (a new
  // string, since the old one may still be being written).
  const std::string& old = *lastAnimals;
  auto kept = std::make_shared<std::string>();
  kept->reserve(old.size());
  std::size_t from = 0;
  for (const auto& dead : lastDeadLines) {
    kept->append(old, from, dead.from - from);
    from = dead.to;
  }
  kept->append(old, from, std::string::npos);
  lastAnimals = std::move(kept);
  lastDeadLines.clear();
}

void DailySnapshots::noteNonFinite(const std::string* text, const std::string& header, const char* file, int day) {
  if (text)
    nonFinite.noteFirstIn(*text, header, file, day);
  else  // streamed as it was built: the text is no longer at hand
    nonFinite.noteSomewhere(file, day);
}

void DailySnapshots::writeCells(const std::vector<std::unique_ptr<Cell>>& cells, int day) {
  if (!isDue(choice.cells, day)) return;
  const std::string path = RunLayout::cellsPath(runName, day);
  auto text = std::make_shared<std::string>();
  long preys = 0, predators = 0;
  const std::uint64_t marked = NonFiniteValues::mark();
  for (const auto& cell : cells) {
    AnimalSnapshot::appendCell(*cell, *text);
    preys += cell->getNumberOfActivePreys();
    predators += cell->getNumberOfActivePredators();
  }
  if (NonFiniteValues::writtenSince(marked))
    noteNonFinite(text.get(), ResultSchema::header("cells"), "the cell snapshots", day);
  if (choice.tables) {
    appendRows(CELLS, day, *text, false, {});  // the totals follow from the rows
    return;
  }
  *text += "\nTOTAL: ";
  appendInt(*text, preys);
  *text += '\t';
  appendInt(*text, predators);
  *text += '\n';
  write(path, std::move(text));
}

}  // namespace soilweb
