#include "output/AnimalSnapshot.h"

#include "core/GlobalFunctions.h"
#include "model/Animal.h"
#include "model/AnimalSpecies.h"
#include "model/Cell.h"
#include "model/Predator.h"
#include "model/Prey.h"

#include <algorithm>

namespace soilweb {

// The fields that never change after birth (ids, a.species, parents, the raw
// development time, and a.traits 1, 2 and 8 to 12) are formatted once, in five
// runs, and copied into every later line.
void AnimalSnapshot::formatFixedFields(const Animal& a, std::string& fixedText, KeptLines::Cuts& cuts) {
  fixedText.clear();
  auto mark = [&](int k) { cuts[k] = static_cast<std::uint32_t>(fixedText.size()); };
  auto field = [&](long long n) {
    appendInt(fixedText, n);
    fixedText += '\t';
  };
  auto real = [&](double x) {
    appendDouble(fixedText, x);
    fixedText += '\t';
  };
  const Animal::Traits& traits = a.getTraits();
  mark(0);
  field(a.getId());
  fixedText += a.getSpecies()->getScientificName();
  fixedText += '\t';
  mark(1);
  real(a.getPhenoIni());
  field(a.getDateEgg());
  mark(2);
  for (int value : a.getParents()) field(value);
  mark(3);
  real(traits[GROWTH]);
  real(traits[PHENO]);
  mark(4);
  for (unsigned t = MET_RATE; t < NUMBER_OF_TRAITS; ++t) real(traits[t]);
  fixedText += '\n';
  mark(5);
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
  // Written in place: room for the fixed runs, 11 whole numbers and 6 reals.
  const std::size_t start = out.size();
  out.resize(start + fixedSize + std::size_t{11 * 25 + 6 * 33});
  char* at = &out[start];
  auto fixed = [&](int k) { at = std::copy(fixedText + fixedCuts[k], fixedText + fixedCuts[k + 1], at); };
  auto field = [&](long long n) {
    at = writeInt(at, n);
    *at++ = '\t';
  };
  auto real = [&](double x) {
    at = writeDouble(at, x);
    *at++ = '\t';
  };
  const Animal::Traits& traits = a.getTraits();
  fixed(0);
  field(a.getPosition()->getId());
  field(a.getState());
  field(a.getInstar());
  fixed(1);
  for (int value : {a.getAgeFirstRep(), a.getRepCount(), a.getFecundity(), a.getDateDeath()}) field(value);
  fixed(2);
  for (int value : {a.getEncountersPrey(), a.getEncountersPred(), a.getGlobalPreyEncs(), a.getGlobalPredEncs()})
    field(value);
  real(traits[ENERGY_TANK]);
  fixed(3);
  for (unsigned t = BODY_SIZE; t <= SEARCH_AREA; ++t) real(traits[t]);
  fixed(4);
  out.resize(static_cast<std::size_t>(at - out.data()));
  if (keptLines && isFinalState(a.getState())) keptLines->keepFrozen(a.getId(), &out[start], out.size() - start);
}

void AnimalSnapshot::appendAnimals(const Cell& cell, std::string& out, TextRanges* deadLines, KeptLines* kept) {
  for (unsigned s = 0; s < NUMBER_OF_STATES; ++s) {
    const std::size_t start = out.size();
    Cell::visitAll(cell.getPreys(s), [&out, kept](const Prey* prey) { appendLine(*prey, out, kept); });
    Cell::visitAll(cell.getPredators(s), [&out, kept](const Predator* predator) { appendLine(*predator, out, kept); });
    if (deadLines && isFinalState(s) && out.size() > start) deadLines->emplace_back(start, out.size());
  }
}

void AnimalSnapshot::appendCell(const Cell& cell, std::string& out) {
  appendInt(out, cell.getId());
  out += '\t';
  appendDouble(out, cell.getFungi());
  out += '\t';
  appendInt(out, cell.getNumberOfActivePreys());
  out += '\t';
  appendInt(out, cell.getNumberOfActivePredators());
  out += '\n';
}

std::ostream& operator<<(std::ostream& out, const Animal& animal) {
  std::string line;
  AnimalSnapshot::appendLine(animal, line);
  line.pop_back();
  return out << line;
}

}  // namespace soilweb
