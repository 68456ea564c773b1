#include "AnimalSnapshot.h"

#include "Animal.h"
#include "AnimalSpecies.h"
#include "Cell.h"
#include "GlobalFunctions.h"

#include <algorithm>

const char* const AnimalSnapshot::HEADER =
    "id\tspecies\tposition\tstate\tinstar\tpheno_ini\tdate_egg\tage_first_rep\trep_count\tfecundity\t"
    "date_death\tg_numb_prt1\tg_numb_prt2\tID_prt1\tID_prt2\tencounters_prey\tencounters_pred\t"
    "global_prey_encs\tglobal_pred_encs\tenergy\tgrowth\tpheno\tbody\tassim\tvor\tspeed\tsearch\tmet\t"
    "vorQ10\tspdQ10\tsrchQ10\te_met\n";

// The fields that never change after birth (ids, a.species, parents, the raw
// development time, and a.traits 1, 2 and 8 to 12) are formatted once, in five
// runs, and copied into every later line.
void AnimalSnapshot::formatFixedFields(const Animal& a) {
  std::string& fixedText = a.snapshotText.fixed;
  fixedText.clear();
  auto mark = [&](int k) { a.snapshotText.cuts[k] = static_cast<std::uint32_t>(fixedText.size()); };
  auto field = [&](long long n) {
    appendInt(fixedText, n);
    fixedText += '\t';
  };
  auto real = [&](double x) {
    appendDouble(fixedText, x);
    fixedText += '\t';
  };
  mark(0);
  field(a.id);
  fixedText += a.species->getScientificName();
  fixedText += '\t';
  mark(1);
  real(a.pheno_ini);
  field(a.date_egg);
  mark(2);
  for (int value : {a.g_numb_prt1, a.g_numb_prt2, a.ID_prt1, a.ID_prt2}) field(value);
  mark(3);
  real(a.traits[GROWTH]);
  real(a.traits[PHENO]);
  mark(4);
  for (unsigned t = MET_RATE; t < NUMBER_OF_TRAITS; ++t) real(a.traits[t]);
  fixedText += '\n';
  mark(5);
}

void AnimalSnapshot::appendLine(const Animal& a, std::string& out) {
  Text& kept = a.snapshotText;
  if (!kept.frozen.empty()) {
    out += kept.frozen;
    return;
  }
  if (kept.fixed.empty()) formatFixedFields(a);
  const std::string& fixedText = kept.fixed;
  const auto& fixedCuts = kept.cuts;
  // Written in place: room for the fixed runs, 11 whole numbers and 6 reals.
  const std::size_t start = out.size();
  out.resize(start + fixedText.size() + 11 * 25 + 6 * 33);
  char* at = &out[start];
  auto fixed = [&](int k) { at = std::copy(&fixedText[fixedCuts[k]], &fixedText[fixedCuts[k + 1]], at); };
  auto field = [&](long long n) {
    at = writeInt(at, n);
    *at++ = '\t';
  };
  auto real = [&](double x) {
    at = writeDouble(at, x);
    *at++ = '\t';
  };
  fixed(0);
  field(a.position->getId());
  field(a.state);
  field(a.instar);
  fixed(1);
  for (int value : {a.age_first_rep, a.rep_count, a.fecundity, a.date_death}) field(value);
  fixed(2);
  for (int value : {a.encounters_prey, a.encounters_pred, a.global_prey_encs, a.global_pred_encs}) field(value);
  real(a.traits[ENERGY_TANK]);
  fixed(3);
  for (unsigned t = BODY_SIZE; t <= SEARCH_AREA; ++t) real(a.traits[t]);
  fixed(4);
  out.resize(static_cast<std::size_t>(at - out.data()));
  if (isFinalState(a.state)) kept.frozen.assign(out, start, std::string::npos);
}

