#include "output/AnimalSnapshot.h"

#include "core/GlobalFunctions.h"
#include "core/Traits.h"
#include "model/Animal.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"

#include <algorithm>
#include <array>
#include <utility>
#include <stdexcept>

namespace soilweb {

namespace {
// A line writes each changing value with its tab through one plain function: an animal's line is
// the hottest output there is.
using WriteField = char* (*)(char* at, const Animal& animal);

// The animal files' columns, and which of them never change once the animal is made (its
// identity and lineage, the raw development time, and the traits the trait table says are fixed
// from birth): those are formatted once per animal and kept.
struct AnimalTable {
  Columns<Animal> columns;
  std::vector<bool> fixed;
  std::vector<WriteField> writers;  // null for the species' name, which is text

  template <int (*get)(const Animal&)>
  void whole(bool fixedFromBirth, const char* name, const char* unit, const char* meaning) {
    columns.push_back({{name, "integer", unit, meaning},
                       [](const Animal& a) { return FieldValue::of(static_cast<long long>(get(a))); }});
    fixed.push_back(fixedFromBirth);
    writers.push_back([](char* at, const Animal& a) {
      at = writeInt(at, get(a));
      *at++ = '\t';
      return at;
    });
  }
  template <double (*get)(const Animal&)>
  void real(bool fixedFromBirth, const char* name, const char* unit, const char* meaning) {
    columns.push_back({{name, "real", unit, meaning}, [](const Animal& a) { return FieldValue::of(get(a)); }});
    fixed.push_back(fixedFromBirth);
    writers.push_back([](char* at, const Animal& a) {
      at = writeDouble(at, get(a));
      *at++ = '\t';
      return at;
    });
  }
  template <std::size_t... T>
  void traits(std::index_sequence<T...>) {
    (real<traitOf<T>>(isFixedFromBirth(T), TRAITS[T].column, TRAITS[T].unit, TRAITS[T].meaning), ...);
  }
  template <std::size_t T>
  static double traitOf(const Animal& a) {
    return a.getTraits()[T];
  }
};

int idOf(const Animal& a) { return a.getId(); }
int positionOf(const Animal& a) { return a.getPosition()->getId(); }
int stateOf(const Animal& a) { return static_cast<int>(a.getState()); }
int instarOf(const Animal& a) { return a.getInstar(); }
double phenoIniOf(const Animal& a) { return a.getPhenoIni(); }
int dateEggOf(const Animal& a) { return a.getDateEgg(); }
int ageFirstRepOf(const Animal& a) { return a.getAgeFirstRep(); }
int repCountOf(const Animal& a) { return a.getRepCount(); }
int fecundityOf(const Animal& a) { return a.getFecundity(); }
int dateDeathOf(const Animal& a) { return a.getDateDeath(); }
template <int k>
int lineageOf(const Animal& a) {
  return a.getParents()[k];  // the parents' generation numbers, then their ids
}
int encountersPreyOf(const Animal& a) { return a.getEncountersPrey(); }
int encountersPredOf(const Animal& a) { return a.getEncountersPred(); }
int globalPreyEncsOf(const Animal& a) { return a.getGlobalPreyEncs(); }
int globalPredEncsOf(const Animal& a) { return a.getGlobalPredEncs(); }

AnimalTable makeAnimalTable() {
  const bool FIXED = true, CHANGES = false;
  AnimalTable t;
  t.whole<idOf>(FIXED, "id", "", "animal id; founders are 0 ... N-1 (prey first), offspring follow in order of birth");
  t.columns.push_back({{"species", "text", "", "species name"},
                       [](const Animal& a) { return FieldValue::of(a.getSpecies()->getScientificName()); }});
  t.fixed.push_back(FIXED);
  t.writers.push_back(nullptr);
  t.whole<positionOf>(CHANGES, "position", "", "number of its cell (0 ... worldLength-1)");
  t.whole<stateOf>(CHANGES, "state", "", "life-state code");
  t.whole<instarOf>(CHANGES, "instar", "", "growth stage, 1 to 4 (4 = adult)");
  t.real<phenoIniOf>(FIXED, "pheno_ini", "day", "raw development time before rounding and temperature scaling");
  t.whole<dateEggOf>(FIXED, "date_egg", "day", "day the egg was laid (0 for founders)");
  t.whole<ageFirstRepOf>(CHANGES, "age_first_rep", "day", "day of its first breeding (0 before it)");
  t.whole<repCountOf>(CHANGES, "rep_count", "", "breeding events so far");
  t.whole<fecundityOf>(CHANGES, "fecundity", "animals", "offspring it contributed so far");
  t.whole<dateDeathOf>(CHANGES, "date_death", "day", "day of death (0 while alive)");
  t.whole<lineageOf<0>>(FIXED, "g_numb_prt1", "", "generation number along the first parent's line");
  t.whole<lineageOf<1>>(FIXED, "g_numb_prt2", "", "generation number along the second parent's line");
  t.whole<lineageOf<2>>(FIXED, "ID_prt1", "", "id of its first parent (0 for founders)");
  t.whole<lineageOf<3>>(FIXED, "ID_prt2", "", "id of its second parent (0 for founders)");
  t.whole<encountersPreyOf>(CHANGES, "encounters_prey", "", "encounters it made as a hunter since this morning's tuning");
  t.whole<encountersPredOf>(CHANGES, "encounters_pred", "", "encounters with predators since this morning's tuning");
  t.whole<globalPreyEncsOf>(CHANGES, "global_prey_encs", "", "encounters it made as a hunter over its whole life");
  t.whole<globalPredEncsOf>(CHANGES, "global_pred_encs", "", "encounters with predators over its whole life");
  t.traits(std::make_index_sequence<NUMBER_OF_TRAITS>());
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
  std::vector<WriteField> columns;  // of a written run
};

struct LinePlan {
  std::vector<Run> runs;
  std::size_t mostWritten = 0;  // the most characters the written runs take: 25 a whole number, 33 a real
};

const LinePlan& linePlan() {
  static const LinePlan plan = [] {
    LinePlan made;
    const AnimalTable& table = animalTable();
    for (std::size_t k = 0; k < table.columns.size(); ++k) {
      const bool kept = table.fixed[k];
      if (made.runs.empty() || made.runs.back().kept != kept) made.runs.push_back({kept, {}});
      if (kept) continue;
      if (!table.writers[k])
        throw std::logic_error("the animal files' column " + table.columns[k].about.name + " is text that changes");
      made.runs.back().columns.push_back(table.writers[k]);
      made.mostWritten += std::string(table.columns[k].about.type) == "integer" ? 25 : 33;
    }
    const auto keptRuns = std::count_if(made.runs.begin(), made.runs.end(), [](const Run& r) { return r.kept; });
    if (static_cast<std::size_t>(keptRuns) + 1 > std::tuple_size<KeptLines::Cuts>::value)
      throw std::logic_error("the animal files' fixed columns fall in more runs than KeptLines::Cuts holds");
    return made;
  }();
  return plan;
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
  // Written in place: room for the kept runs, the written values and the newline.
  const std::size_t start = out.size();
  out.resize(start + fixedSize + plan.mostWritten + 1);
  char* at = &out[start];
  int keptRun = 0;
  for (const Run& run : plan.runs) {
    if (run.kept) {
      at = std::copy(fixedText + fixedCuts[keptRun], fixedText + fixedCuts[keptRun + 1], at);
      ++keptRun;
      continue;
    }
    for (const WriteField write : run.columns) at = write(at, a);
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
