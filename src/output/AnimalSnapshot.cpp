#include "output/AnimalSnapshot.h"

#include "core/GlobalFunctions.h"
#include "core/Traits.h"
#include "model/Animal.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"

#include <algorithm>
#include <stdexcept>

namespace soilweb {

namespace {
// The animal files' columns, and which of them never change once the animal is made (its
// identity and lineage, the raw development time, and the traits the trait table says are fixed
// from birth): those are formatted once per animal and kept.
struct AnimalTable {
  Columns<Animal> columns;
  std::vector<bool> fixed;

  template <class Get>
  void whole(bool fixedFromBirth, const char* name, const char* unit, const char* meaning, Get get) {
    columns.push_back({{name, "integer", unit, meaning},
                       [get](const Animal& a) { return FieldValue::of(static_cast<long long>(get(a))); }});
    fixed.push_back(fixedFromBirth);
  }
  template <class Get>
  void real(bool fixedFromBirth, const char* name, const char* unit, const char* meaning, Get get) {
    columns.push_back(
        {{name, "real", unit, meaning}, [get](const Animal& a) { return FieldValue::of(static_cast<double>(get(a))); }});
    fixed.push_back(fixedFromBirth);
  }
};

AnimalTable makeAnimalTable() {
  const bool FIXED = true, CHANGES = false;
  AnimalTable t;
  t.whole(FIXED, "id", "", "animal id; founders are 0 ... N-1 (prey first), offspring follow in order of birth",
          [](const Animal& a) { return a.getId(); });
  t.columns.push_back({{"species", "text", "", "species name"},
                       [](const Animal& a) { return FieldValue::of(a.getSpecies()->getScientificName()); }});
  t.fixed.push_back(FIXED);
  t.whole(CHANGES, "position", "", "number of its cell (0 ... worldLength-1)",
          [](const Animal& a) { return a.getPosition()->getId(); });
  t.whole(CHANGES, "state", "", "life-state code", [](const Animal& a) { return a.getState(); });
  t.whole(CHANGES, "instar", "", "growth stage, 1 to 4 (4 = adult)", [](const Animal& a) { return a.getInstar(); });
  t.real(FIXED, "pheno_ini", "day", "raw development time before rounding and temperature scaling",
         [](const Animal& a) { return a.getPhenoIni(); });
  t.whole(FIXED, "date_egg", "day", "day the egg was laid (0 for founders)", [](const Animal& a) { return a.getDateEgg(); });
  t.whole(CHANGES, "age_first_rep", "day", "day of its first breeding (0 before it)",
          [](const Animal& a) { return a.getAgeFirstRep(); });
  t.whole(CHANGES, "rep_count", "", "breeding events so far", [](const Animal& a) { return a.getRepCount(); });
  t.whole(CHANGES, "fecundity", "animals", "offspring it contributed so far",
          [](const Animal& a) { return a.getFecundity(); });
  t.whole(CHANGES, "date_death", "day", "day of death (0 while alive)", [](const Animal& a) { return a.getDateDeath(); });
  t.whole(FIXED, "g_numb_prt1", "", "generation number along the first parent's line",
          [](const Animal& a) { return a.getParents()[0]; });
  t.whole(FIXED, "g_numb_prt2", "", "generation number along the second parent's line",
          [](const Animal& a) { return a.getParents()[1]; });
  t.whole(FIXED, "ID_prt1", "", "id of its first parent (0 for founders)", [](const Animal& a) { return a.getParents()[2]; });
  t.whole(FIXED, "ID_prt2", "", "id of its second parent (0 for founders)", [](const Animal& a) { return a.getParents()[3]; });
  t.whole(CHANGES, "encounters_prey", "", "encounters it made as a hunter since this morning's tuning",
          [](const Animal& a) { return a.getEncountersPrey(); });
  t.whole(CHANGES, "encounters_pred", "", "encounters with predators since this morning's tuning",
          [](const Animal& a) { return a.getEncountersPred(); });
  t.whole(CHANGES, "global_prey_encs", "", "encounters it made as a hunter over its whole life",
          [](const Animal& a) { return a.getGlobalPreyEncs(); });
  t.whole(CHANGES, "global_pred_encs", "", "encounters with predators over its whole life",
          [](const Animal& a) { return a.getGlobalPredEncs(); });
  for (unsigned k = 0; k < NUMBER_OF_TRAITS; ++k)
    t.real(isFixedFromBirth(k), TRAITS[k].column, TRAITS[k].unit, TRAITS[k].meaning,
           [k](const Animal& a) { return a.getTraits()[k]; });
  return t;
}

const AnimalTable& animalTable() {
  static const AnimalTable table = makeAnimalTable();
  return table;
}

// An animal's line as runs of columns: kept runs (fixed from birth, copied from the kept text) and
// written runs, whose values are written afresh on every line.
struct Run {
  bool kept;
  std::vector<const Column<Animal>*> columns;  // of a written run
};

struct LinePlan {
  std::vector<Run> runs;
  std::size_t writtenColumns = 0;
};

const LinePlan& linePlan() {
  static const LinePlan plan = [] {
    LinePlan made;
    const Columns<Animal>& columns = AnimalSnapshot::animalColumns();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const bool kept = AnimalSnapshot::isFixed(k);
      if (made.runs.empty() || made.runs.back().kept != kept) made.runs.push_back({kept, {}});
      if (kept) continue;
      if (std::string(columns[k].about.type) == "text")
        throw std::logic_error("the animal files' column " + columns[k].about.name + " is text that changes");
      made.runs.back().columns.push_back(&columns[k]);
      ++made.writtenColumns;
    }
    const auto keptRuns = std::count_if(made.runs.begin(), made.runs.end(), [](const Run& r) { return r.kept; });
    if (static_cast<std::size_t>(keptRuns) + 1 > std::tuple_size<KeptLines::Cuts>::value)
      throw std::logic_error("the animal files' fixed columns fall in more runs than KeptLines::Cuts holds");
    return made;
  }();
  return plan;
}

// A written column's value, as its file shows it.
char* writeValue(char* at, const FieldValue& value) {
  return value.kind == FieldValue::WHOLE ? writeInt(at, value.whole) : writeDouble(at, value.real);
}
}  // namespace

const Columns<Animal>& AnimalSnapshot::animalColumns() { return animalTable().columns; }

const Columns<Cell>& AnimalSnapshot::cellColumns() {
  static const Columns<Cell> columns = {
      {{"id", "integer", "", "number of the cell"},
       [](const Cell& c) { return FieldValue::of(static_cast<long long>(c.getId())); }},
      {{"fungi", "real", "mass", "fungal biomass"}, [](const Cell& c) { return FieldValue::of(c.getFungi()); }},
      {{"active_prey", "integer", "animals", "active prey in the cell"},
       [](const Cell& c) { return FieldValue::of(static_cast<long long>(c.getNumberOfActivePreys())); }},
      {{"active_predators", "integer", "animals", "active predators in the cell"},
       [](const Cell& c) { return FieldValue::of(static_cast<long long>(c.getNumberOfActivePredators())); }}};
  return columns;
}

bool AnimalSnapshot::isFixed(std::size_t k) { return animalTable().fixed.at(k); }

// The kept runs are formatted once, each field followed by a tab, and cut where each run starts.
void AnimalSnapshot::formatFixedFields(const Animal& a, std::string& fixedText, KeptLines::Cuts& cuts) {
  fixedText.clear();
  const AnimalTable& table = animalTable();
  const Columns<Animal>& columns = table.columns;
  int run = 0;
  bool inRun = false;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (!table.fixed[k]) {
      inRun = false;
      continue;
    }
    if (!inRun) cuts[run++] = static_cast<std::uint32_t>(fixedText.size());
    inRun = true;
    columns[k].value(a).appendTo(fixedText);
    fixedText += '\t';
  }
  cuts[run] = static_cast<std::uint32_t>(fixedText.size());
}

void AnimalSnapshot::appendLine(const Animal& a, std::string& out, KeptLines* keptLines) {
  const KeptLines::Text* kept = keptLines ? keptLines->find(a.getId()) : nullptr;
  if (kept && kept->frozen) {
    out.append(kept->chars(), kept->size);
    return;
  }
  thread_local std::string scratch;  // the fixed fields, when not kept yet
  thread_local KeptLines::Cuts scratchCuts;
  if (!kept) {
    formatFixedFields(a, scratch, scratchCuts);
    if (keptLines) kept = &keptLines->keepFixed(a.getId(), scratch, scratchCuts);
  }
  const char* const fixedText = kept ? kept->chars() : scratch.data();
  const KeptLines::Cuts& fixedCuts = kept ? kept->cuts : scratchCuts;
  const std::size_t fixedSize = kept ? kept->size : scratch.size();
  const LinePlan& plan = linePlan();
  // Written in place: room for the kept runs and each written value (a whole number or a real).
  const std::size_t start = out.size();
  out.resize(start + fixedSize + plan.writtenColumns * 33 + 1);
  char* at = &out[start];
  int keptRun = 0;
  for (const Run& run : plan.runs) {
    if (run.kept) {
      at = std::copy(fixedText + fixedCuts[keptRun], fixedText + fixedCuts[keptRun + 1], at);
      ++keptRun;
      continue;
    }
    for (const Column<Animal>* column : run.columns) {
      at = writeValue(at, column->value(a));
      *at++ = '\t';
    }
  }
  *at++ = '\n';
  out.resize(static_cast<std::size_t>(at - out.data()));
  if (keptLines && isFinalState(a.getState())) keptLines->keepFrozen(a.getId(), &out[start], out.size() - start);
}

void AnimalSnapshot::appendAnimals(const Cell& cell, std::string& out, DeadLines* deadLines, KeptLines* kept) {
  for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
    const bool dead = deadLines && isFinalState(s);
    auto append = [&](const Animal& animal) {
      const std::size_t from = out.size();
      appendLine(animal, out, kept);
      if (dead) deadLines->push_back({from, out.size(), animal.getDateDeath()});
    };
    Cell::visitAll(cell.getPreys(s), [&append](const Prey* prey) { append(*prey); });
    Cell::visitAll(cell.getPredators(s), [&append](const Predator* predator) { append(*predator); });
  }
}

void AnimalSnapshot::appendCell(const Cell& cell, std::string& out) { appendRow(out, cellColumns(), cell); }

std::ostream& operator<<(std::ostream& out, const Animal& animal) {
  std::string line;
  AnimalSnapshot::appendLine(animal, line);
  line.pop_back();
  return out << line;
}

}  // namespace soilweb
