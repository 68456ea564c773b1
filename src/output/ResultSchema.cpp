#include "output/ResultSchema.h"

#include "core/GlobalFunctions.h"
#include "core/Traits.h"
#include "model/Animal.h"
#include "output/RunLayout.h"

#include <stdexcept>

namespace soilweb {

namespace {
using Columns = std::vector<ResultColumn>;

// NAME/folder/NAME_file, as the schema writes paths.
std::string in(const char* folder, const std::string& file) { return std::string("NAME/") + folder + "/NAME_" + file; }

Columns summaryColumns() {
  Columns columns = {{"DAY", "integer", "day", "the day"},
                     {"BIOMASS", "real", "mass", "total fungal biomass at the end of the day"}};
  const char* const states[] = {"UNBORN", "ACTIVE", "STARVED", "PREDATED", "REPRODUCING", "BACKGROUND", "SENESCED"};
  for (const char* kind : {"PREY", "PREDATOR"})
    for (const char* state : states) {
      if (std::string(kind) == "PREY" && std::string(state) == "BACKGROUND") continue;  // prey have no background death
      const bool dead =
          std::string(state) != "UNBORN" && std::string(state) != "ACTIVE" && std::string(state) != "REPRODUCING";
      columns.push_back({std::string(kind) + "_" + state, "integer", "animals",
                         std::string(kind == std::string("PREY") ? "prey" : "predators") + " in state " + state +
                             (dead ? " (deaths of the day with purgeDeadAnimals 1, since day 0 with 0)" : "")});
    }
  columns.push_back(
      {"TEMPERATURE", "real", "degrees Celsius", "the day's temperature", "simulation.temperatureSeries"});
  return columns;
}

Columns animalColumns() {
  Columns columns = {
      {"id", "integer", "", "animal id; founders are 0 ... N-1 (prey first), offspring follow in order of birth"},
      {"species", "text", "", "species name"},
      {"position", "integer", "", "number of its cell (0 ... worldLength-1)"},
      {"state", "integer", "", "life-state code"},
      {"instar", "integer", "", "growth stage, 1 to 4 (4 = adult)"},
      {"pheno_ini", "real", "day", "raw development time before rounding and temperature scaling"},
      {"date_egg", "integer", "day", "day the egg was laid (0 for founders)"},
      {"age_first_rep", "integer", "day", "day of its first breeding (0 before it)"},
      {"rep_count", "integer", "", "breeding events so far"},
      {"fecundity", "integer", "animals", "offspring it contributed so far"},
      {"date_death", "integer", "day", "day of death (0 while alive)"},
      {"g_numb_prt1", "integer", "", "generation number along the first parent's line"},
      {"g_numb_prt2", "integer", "", "generation number along the second parent's line"},
      {"ID_prt1", "integer", "", "id of its first parent (0 for founders)"},
      {"ID_prt2", "integer", "", "id of its second parent (0 for founders)"},
      {"encounters_prey", "integer", "", "encounters it made as a hunter since this morning's tuning"},
      {"encounters_pred", "integer", "", "encounters with predators since this morning's tuning"},
      {"global_prey_encs", "integer", "", "encounters it made as a hunter over its whole life"},
      {"global_pred_encs", "integer", "", "encounters with predators over its whole life"}};
  for (const TraitInfo& trait : TRAITS) columns.push_back({trait.column, "real", trait.unit, trait.meaning});
  return columns;
}

// The statistics of the traits by species and stage; genetic: of the genetic
// values, each trait with its heterozygosity.
Columns traitColumns(bool genetic) {
  Columns columns = {{"day", "integer", "day", "the day"},
                     {"species", "text", "", "the species' name"},
                     {"stage", "text", "", "stage of the living: egg, juvenile, adult or reproducing"},
                     {"count", "integer", "animals", "number of such animals"}};
  const std::pair<const char*, const char*> statistics[] = {
      {"_mean", "mean"}, {"_sd", "sample standard deviation (n - 1)"}, {"_min", "minimum"}, {"_max", "maximum"}};
  const std::string of = genetic ? " of the genetic value of " : " of ";
  for (const TraitInfo& trait : TRAITS) {
    for (const auto& [suffix, what] : statistics)
      columns.push_back({std::string(trait.column) + suffix, "real", genetic ? "" : trait.unit,
                         what + of + trait.column + " over those animals (NA when there is none)"});
    if (genetic)
      columns.push_back({std::string(trait.column) + "_het", "real", "allele sum",
                         std::string("mean over those animals of the difference between the sums of the ") +
                             trait.column + " alleles on the first and on the second chromosomes (NA when none)"});
  }
  return columns;
}

Columns pedigreeColumns() {
  Columns columns = {{"id", "integer", "", "animal id"},
                     {"species", "text", "", "species name"},
                     {"birth_day", "integer", "day", "the day its egg was laid (0 for founders)"},
                     {"ID_prt1", "integer", "", "id of its first parent (empty, NA, for founders)"},
                     {"ID_prt2", "integer", "", "id of its second parent (empty, NA, for founders)"},
                     {"g_numb_prt1", "integer", "",
                      "generation number along the first parent's line (empty, NA, for founders)"},
                     {"g_numb_prt2", "integer", "",
                      "generation number along the second parent's line (empty, NA, for founders)"}};
  for (const TraitInfo& trait : TRAITS)
    columns.push_back({trait.column, "real", "",
                       std::string("genetic value of ") + trait.column +
                           ": the allele sum mapped onto the species' range, before the adjustments at birth"});
  return columns;
}

std::vector<ResultFile> build() {
  using L = RunLayout;
  const std::string outputs = L::OUTPUTS;
  const auto output = [&](const std::string& file) { return in(L::OUTPUTS, file); };
  const char* const always = "every run";
  const char* const kept = "purgeDeadAnimals 0 and simulation.outputs.foodWeb \"edges\"";
  const char* const matrices = "purgeDeadAnimals 0 and simulation.outputs.foodWeb \"matrices\" (the default)";
  std::vector<ResultFile> files = {
      {"record",
       output(L::RECORD),
       output(L::RECORD),
       always,
       "the run's record: configuration, seed, version, how it ended",
       false,
       false,
       {}},
      {"summary", output("<summaryFilename>"), output("<summaryFilename>"), always,
       "one line a day: biomass and the animals in each life state", true, false, summaryColumns()},
      {"traits", output(L::TRAITS), output(L::TRAITS),
       "simulation.outputs.traitStatistics true, or the tables layout unless it is false",
       "one row a day per species and life stage: count and statistics of the 13 traits as expressed", true, false,
       traitColumns(false)},
      {"genetics", output(L::GENETICS), output(L::GENETICS),
       "simulation.outputs.geneticStatistics true, or the tables layout unless it is false",
       "one row a day per species and life stage: count and statistics of the 13 genetic values, and heterozygosity",
       true, false, traitColumns(true)},
      {"pedigree", output(L::PEDIGREE), output(L::PEDIGREE),
       "simulation.outputs.pedigree true, or the tables layout unless it is false",
       "one row for every animal when it is made: parents, generations and genetic values", true, false,
       pedigreeColumns()},
      {"deaths",
       output(L::DEATHS),
       output(L::DEATHS),
       "simulation.outputs.pedigree true, or the tables layout unless it is false",
       "one row for every animal that died: the day and the fate",
       true,
       false,
       {{"death_day", "integer", "day", "the day it died"},
        {"id", "integer", "", "animal id"},
        {"species", "text", "", "species name"},
        {"fate", "text", "", "starved, predated, background or senesced"}}},
      {"animals_start", in(L::ANIMALS_START, "animals_day_D.txt"), output(L::TABLES[0]),
       "the snapshots chosen by simulation.outputs.snapshots and snapshotEvery",
       "every animal at the start of each day written, one row each", true, true, animalColumns()},
      {"animals_end", in(L::ANIMALS_END, "animals_day_D.txt"), output(L::TABLES[1]),
       "the snapshots chosen by simulation.outputs.snapshots and snapshotEvery",
       "every animal at the end of each day written, one row each", true, true, animalColumns()},
      {"cells",
       in(L::CELLS, "cells_day_D.txt"),
       output(L::TABLES[2]),
       "the snapshots chosen by simulation.outputs.snapshots and snapshotEvery",
       "every cell at the end of each day written: fungal biomass and active animals",
       false,
       true,
       {{"id", "integer", "", "number of the cell"},
        {"fungi", "real", "mass", "fungal biomass"},
        {"active_prey", "integer", "animals", "active prey in the cell"},
        {"active_predators", "integer", "animals", "active predators in the cell"}}},
      {"foodweb_nodes",
       output(L::FOODWEB_NODES),
       output(L::FOODWEB_NODES),
       kept,
       "every animal of the run: species, birth and death day, fate",
       true,
       false,
       {{"id", "integer", "", "animal id"},
        {"species", "text", "", "species name"},
        {"category", "text", "", "invertebrate for a species named prey, vert.ecto for predator, else undefined"},
        {"birth_day", "integer", "day", "the day its egg was laid (0 for founders)"},
        {"death_day", "integer", "day", "the day it died (NA while alive)"},
        {"fate", "text", "", "alive, starved, predated, background or senesced"}}},
      {"foodweb_edges",
       output(L::FOODWEB_EDGES),
       output(L::FOODWEB_EDGES),
       kept,
       "every pair of animals that met: encounters and predations",
       true,
       false,
       {{"hunter", "integer", "", "id of the hunter"},
        {"victim", "integer", "", "id of the animal it met"},
        {"encounters", "integer", "", "how often the hunter met the victim"},
        {"predations", "integer", "", "1 when it ate it, else 0"}}},
      {"encounters",
       output("<encountersMatrixFilename>"),
       output("<encountersMatrixFilename>"),
       matrices,
       "encounter matrix of the founders: 1 when the row's founder was met by the column's predator",
       true,
       false,
       {}},
      {"predations",
       output("<predationsMatrixFilename>"),
       output("<predationsMatrixFilename>"),
       matrices,
       "predation matrix of the founders: 1 when the row's founder was eaten by the column's predator",
       true,
       false,
       {}},
      {"nodes",
       output("<nodesMatrixFilename>"),
       output("<nodesMatrixFilename>"),
       matrices,
       "the founders: X<id> and category",
       true,
       false,
       {{"node", "text", "", "X followed by the founder's id"},
        {"category", "text", "", "invertebrate for a species named prey, vert.ecto for predator, else undefined"}}},
      {"checkpoint",
       in(L::CHECKPOINTS, L::CHECKPOINT),
       in(L::CHECKPOINTS, L::CHECKPOINT),
       "simulation.checkpointEvery, or a stop",
       "the checkpoint a stopped run carries on from",
       false,
       false,
       {}},
  };
  return files;
}

std::string kindsJson() {
  std::string out = "[";
  for (const ResultKind& kind : ResultSchema::kinds()) {
    std::string files;
    for (const char* id : kind.files) files += (files.empty() ? "" : ", ") + jsonQuoted(id);
    out += std::string(out.size() > 1 ? "," : "") + "\n    {\"name\": " + jsonQuoted(kind.name) + ", \"files\": [" +
           files + "], \"meaning\": " + jsonQuoted(kind.meaning) + "}";
  }
  return out + "\n  ]";
}

std::string columnsJson(const std::vector<ResultColumn>& columns) {
  std::string out = "[";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const ResultColumn& c = columns[k];
    out += std::string(k ? "," : "") + "\n      {\"name\": " + jsonQuoted(c.name) +
           ", \"type\": " + jsonQuoted(c.type) + ", \"unit\": " + jsonQuoted(c.unit) +
           ", \"meaning\": " + jsonQuoted(c.meaning) + (*c.when ? ", \"when\": " + jsonQuoted(c.when) : "") + "}";
  }
  return out + (columns.empty() ? "]" : "\n    ]");
}

std::string filesJson() {
  std::string out = "[";
  const auto& files = ResultSchema::files();
  for (std::size_t k = 0; k < files.size(); ++k) {
    const ResultFile& f = files[k];
    out += std::string(k ? "," : "") + "\n    {\"id\": " + jsonQuoted(f.id) + ", \"daily\": " + jsonQuoted(f.daily) +
           ", \"tables\": " + jsonQuoted(f.tables) + ",\n     \"when\": " + jsonQuoted(f.when) +
           ",\n     \"meaning\": " + jsonQuoted(f.meaning) + ",\n     \"header\": " + (f.header ? "true" : "false") +
           ", \"day_first_in_tables\": " + (f.dayFirst ? "true" : "false") +
           ",\n     \"columns\": " + columnsJson(f.columns) + "}";
  }
  return out + "\n  ]";
}

std::string traitsJson() {
  std::string out = "[";
  for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
    const TraitInfo& trait = TRAITS[t];
    out += std::string(t ? "," : "") + "\n    {\"index\": " + std::to_string(t) +
           ", \"name\": " + jsonQuoted(trait.name) + ", \"column\": " + jsonQuoted(trait.column) +
           ", \"unit\": " + jsonQuoted(trait.unit) + ", \"label\": " + jsonQuoted(trait.label) + "}";
  }
  return out + "\n  ]";
}

// The names the loaders give columns whose file name differs (files keep
// theirs: stored files and scripts rely on them): in every table each trait
// as the configuration names it, and so each of its statistics; in the
// summary the day as the other tables name it.
std::string loaderNamesJson() {
  std::string traits;
  for (const TraitInfo& trait : TRAITS)
    if (std::string(trait.name) != trait.column)
      traits += (traits.empty() ? "" : ", ") + jsonQuoted(trait.column) + ": " + jsonQuoted(trait.name);
  return "{\n    \"every_table\": {" + traits + "},\n    \"by_table\": {\"summary\": {\"DAY\": \"day\"}}," +
         "\n    \"statistic_suffixes\": [\"mean\", \"sd\", \"min\", \"max\", \"het\"]\n  }";
}

std::string statesJson() {
  const char* const names[] = {"UNBORN", "ACTIVE", "STARVED", "PREDATED", "REPRODUCING", "BACKGROUND", "SENESCED"};
  std::string out = "[";
  for (unsigned s = 0; s < NUMBER_OF_STATES; ++s)
    out += std::string(s ? "," : "") + "\n    {\"code\": " + std::to_string(s) + ", \"name\": " + jsonQuoted(names[s]) +
           ", \"final\": " + (isFinalState(s) ? "true" : "false") +
           ", \"fate\": " + jsonQuoted(ResultSchema::fateOf(s)) + "}";
  return out + "\n  ]";
}

std::string stagesJson() {
  std::string out = "[";
  const auto& stages = ResultSchema::stages();
  for (std::size_t k = 0; k < stages.size(); ++k)
    out += std::string(k ? "," : "") + "\n    {\"name\": " + jsonQuoted(stages[k].name) +
           ", \"state\": " + std::to_string(stages[k].state) +
           ", \"from_instar\": " + std::to_string(stages[k].fromInstar) +
           ", \"below_instar\": " + std::to_string(stages[k].belowInstar) + "}";
  return out + "\n  ]";
}
}  // namespace

const std::vector<ResultFile>& ResultSchema::files() {
  static const std::vector<ResultFile> all = build();
  return all;
}

const ResultFile& ResultSchema::file(const std::string& id) {
  for (const ResultFile& f : files())
    if (id == f.id) return f;
  throw std::logic_error("no result file '" + id + "' in the schema");
}

std::string ResultSchema::header(const std::string& id, bool optional) {
  std::string line;
  for (const ResultColumn& column : file(id).columns)
    if (optional || *column.when == '\0') line += (line.empty() ? "" : "\t") + column.name;
  return line + "\n";
}

const std::vector<ResultKind>& ResultSchema::kinds() {
  static const std::vector<ResultKind> all = {
      {"summary", {"summary"}, "the daily summary (always written)"},
      {"traits", {"traits"}, "the daily trait statistics"},
      {"genetics", {"genetics"}, "the daily statistics of the genetic values"},
      {"pedigree", {"pedigree", "deaths"}, "the pedigree and the table of deaths"},
      {"snapshots", {"animals_start", "animals_end", "cells"}, "the snapshots simulation.outputs.snapshots chooses"},
      {"animals_start", {"animals_start"}, "every animal at the start of each snapshot day"},
      {"animals_end", {"animals_end"}, "every animal at the end of each snapshot day"},
      {"cells", {"cells"}, "every cell at the end of each snapshot day"},
      {"foodweb", {"encounters", "predations", "nodes", "foodweb_nodes", "foodweb_edges"},
       "the food web as simulation.outputs.foodWeb chooses (purgeDeadAnimals 0)"}};
  return all;
}

bool ResultSchema::hasKind(const std::string& name) {
  for (const ResultKind& kind : kinds())
    if (name == kind.name) return true;
  return false;
}

const std::array<ResultStage, ResultSchema::NUMBER_OF_STAGES>& ResultSchema::stages() {
  static const std::array<ResultStage, NUMBER_OF_STAGES> all = {{{"egg", UNBORN, 0, 0},
                                                                 {"juvenile", ACTIVE, 0, FIRST_ADULT_INSTAR},
                                                                 {"adult", ACTIVE, FIRST_ADULT_INSTAR, 0},
                                                                 {"reproducing", REPRODUCING, 0, 0}}};
  return all;
}

const char* ResultSchema::fateOf(unsigned state) {
  switch (state) {
    case STARVED:
      return "starved";
    case PREDATED:
      return "predated";
    case BACKGROUND:
      return "background";
    case SENESCED:
      return "senesced";
    default:
      return "alive";
  }
}

std::string ResultSchema::json() {
  return "{\n  \"schema\": 1,\n  \"first_adult_instar\": " + std::to_string(FIRST_ADULT_INSTAR) +
         ",\n  \"states\": " + statesJson() + ",\n  \"stages\": " + stagesJson() + ",\n  \"traits\": " + traitsJson() +
         ",\n  \"loader_names\": " + loaderNamesJson() + ",\n  \"kinds\": " + kindsJson() + ",\n  \"files\": " + filesJson() + "\n}\n";
}

}  // namespace soilweb
