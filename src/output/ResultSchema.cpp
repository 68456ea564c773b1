#include "output/ResultSchema.h"

#include "core/GlobalFunctions.h"
#include "core/Traits.h"
#include "model/Animal.h"
#include "output/AnimalSnapshot.h"
#include "output/FoodWebEdges.h"
#include "output/FoodWebMatrices.h"
#include "output/Pedigree.h"
#include "io/RunLayout.h"
#include "output/RunOutputs.h"
#include "output/TraitStatistics.h"

#include <stdexcept>

namespace soilweb {

namespace {
const char* const STATE_NAMES[NUMBER_OF_STATES] = {"UNBORN",     "ACTIVE",     "STARVED", "PREDATED",
                                                   "REPRODUCING", "BACKGROUND", "SENESCED"};

// NAME/folder/NAME_file, as the schema writes paths.
std::string in(const char* folder, const std::string& file) { return std::string("NAME/") + folder + "/NAME_" + file; }

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
       "one line a day: biomass and the animals in each life state", true, false, describe(RunOutputs::summaryColumns())},
      {"traits", output(L::TRAITS), output(L::TRAITS),
       "simulation.outputs.traitStatistics true, or the tables layout unless it is false",
       "one row a day per species and life stage: count and statistics of the " + std::to_string(NUMBER_OF_TRAITS) + " traits as expressed", true, false,
       describe(TraitStatistics::columns(false))},
      {"genetics", output(L::GENETICS), output(L::GENETICS),
       "simulation.outputs.geneticStatistics true, or the tables layout unless it is false",
       "one row a day per species and life stage: count and statistics of the " + std::to_string(NUMBER_OF_TRAITS) +
           " genetic values, and heterozygosity",
       true, false, describe(TraitStatistics::columns(true))},
      {"pedigree", output(L::PEDIGREE), output(L::PEDIGREE),
       "simulation.outputs.pedigree true, or the tables layout unless it is false",
       "one row for every animal when it is made: parents, generations and genetic values", true, false,
       describe(Pedigree::pedigreeColumns())},
      {"deaths",
       output(L::DEATHS),
       output(L::DEATHS),
       "simulation.outputs.pedigree true, or the tables layout unless it is false",
       "one row for every animal that died: the day and the fate",
       true,
       false,
       describe(Pedigree::deathColumns())},
      {"animals_start", in(L::ANIMALS_START, "animals_day_D.txt"), output(L::TABLES[0]),
       "the snapshots chosen by simulation.outputs.snapshots and snapshotEvery",
       "every animal at the start of each day written, one row each", true, true, describe(AnimalSnapshot::animalColumns())},
      {"animals_end", in(L::ANIMALS_END, "animals_day_D.txt"), output(L::TABLES[1]),
       "the snapshots chosen by simulation.outputs.snapshots and snapshotEvery",
       "every animal at the end of each day written, one row each", true, true, describe(AnimalSnapshot::animalColumns())},
      {"cells",
       in(L::CELLS, "cells_day_D.txt"),
       output(L::TABLES[2]),
       "the snapshots chosen by simulation.outputs.snapshots and snapshotEvery",
       "every cell at the end of each day written: fungal biomass and active animals",
       false,
       true,
       describe(AnimalSnapshot::cellColumns())},
      {"foodweb_nodes",
       output(L::FOODWEB_NODES),
       output(L::FOODWEB_NODES),
       kept,
       "every animal of the run: species, birth and death day, fate",
       true,
       false,
       describe(FoodWebEdges::nodeColumns())},
      {"foodweb_edges",
       output(L::FOODWEB_EDGES),
       output(L::FOODWEB_EDGES),
       kept,
       "every pair of animals that met: encounters and predations",
       true,
       false,
       describe(FoodWebEdges::edgeColumns())},
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
       describe(FoodWebMatrices::nodeColumns())},
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

const char* afterBirthName(AfterBirth afterBirth) {
  switch (afterBirth) {
    case AfterBirth::INHERITED:
      return "inherited";
    case AfterBirth::SET_AT_BIRTH:
      return "set at birth";
    default:
      return "changes";
  }
}

std::string traitsJson() {
  std::string out = "[";
  for (unsigned t = 0; t < NUMBER_OF_TRAITS; ++t) {
    const TraitInfo& trait = TRAITS[t];
    out += std::string(t ? "," : "") + "\n    {\"index\": " + std::to_string(t) +
           ", \"name\": " + jsonQuoted(trait.name) + ", \"column\": " + jsonQuoted(trait.column) +
           ", \"unit\": " + jsonQuoted(trait.unit) + ", \"label\": " + jsonQuoted(trait.label) +
           ", \"after_birth\": " + jsonQuoted(afterBirthName(trait.afterBirth)) + "}";
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
  std::string out = "[";
  for (unsigned s = 0; s < NUMBER_OF_STATES; ++s)
    out += std::string(s ? "," : "") + "\n    {\"code\": " + std::to_string(s) + ", \"name\": " +
           jsonQuoted(STATE_NAMES[s]) +
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
// The tables soilweb-calibrate writes about the runs it makes of this binary: the loaders and the data
// dictionary read them from here as they read a run's. KEY stands for one column per fitted key.
// A table made from results by the Python package, not by a run.
struct MadeTable {
  const char* id;
  const char* path;
  const char* meaning;
  std::vector<ResultColumn> columns;
};

const std::vector<MadeTable>& calibrationTables() {
  static const std::vector<ResultColumn> particle = {
      {"generation", "integer", "", "the generation, from 0 (drawn from the priors)"},
      {"particle", "integer", "", "the particle's number in its generation, from 1, in the order it was proposed"},
      {"proposal", "integer", "", "the proposal it was, from 1: its random draws and seeds come from the master "
                                  "seed, the generation and this number"},
      {"weight", "real", "", "its importance weight; a generation's weights sum to 1"},
      {"distance", "real", "", "its runs' distance from the observations, under its generation's scales"},
      {"KEY", "real", "the key's", "the value its runs were given, one column per fitted key (whole for a "
                                   "whole-number key)"},
      {"seed", "integer", "", "the seed of its first run (the others' follow it from the same generator)"}};
  static const std::vector<MadeTable> tables = {
      {"calibration_particles", "CAL/tables/particles.tsv", "every generation's accepted particles", particle},
      {"calibration_posterior", "CAL/tables/posterior.tsv", "the last generation's particles: the posterior",
       particle},
      {"calibration_generations",
       "CAL/tables/generations.tsv",
       "each generation of a calibration",
       {{"generation", "integer", "", "the generation"},
        {"tolerance", "real", "", "the largest distance it accepted (Inf for generation 0)"},
        {"runs", "integer", "runs", "the runs it used: its proposals up to its last accepted one, times the "
                                    "replicates"},
        {"accepted", "integer", "particles", "the particles it accepted"},
        {"acceptance_rate", "real", "", "accepted / proposals used"},
        {"ess", "real", "particles", "the effective sample size of its weights, 1 / sum of their squares"},
        {"wall_seconds", "real", "s", "the wall time it took, its batches' runs included"}}},
      {"calibration_predictive",
       "CAL/tables/predictive.tsv",
       "the runs of the posterior predictive check (soilweb-calibrate plot)",
       {{"draw", "integer", "", "the draw, from 1"},
        {"particle", "integer", "", "the particle of the posterior it ran"},
        {"seed", "integer", "", "the run's seed"},
        {"day", "integer", "day", "the day"},
        {"COLUMN", "real", "observed unit", "each observed summary column, times its --scale"}}}};
  return tables;
}

// The tables soilweb-plot (and soilweb.selection, soilweb.lineages) make of a run's pedigree.
const std::vector<MadeTable>& analysisTables() {
  static const std::vector<MadeTable> tables = {
      {"selection",
       "NAME/plots/NAME_selection.tsv",
       "selection on the genetic values per species, birth cohort and trait, from the pedigree",
       {{"species", "text", "", "the species' name"},
        {"cohort", "integer", "day", "the first birth day of the cohort (founders: 0)"},
        {"cohort_end", "integer", "day", "its last birth day"},
        {"n", "integer", "animals", "animals born in it"},
        {"alive_at_end", "integer", "animals", "those still alive at the run's end, whose breeding is not over"},
        {"mean_lrs", "real", "offspring", "mean lifetime reproductive success: offspring an animal was a parent of"},
        {"opportunity", "real", "", "the opportunity for selection: the variance of relative fitness (LRS / mean)"},
        {"trait", "text", "", "the genetic value: a trait, or neutral (the neutral markers' value)"},
        {"mean", "real", "the trait's", "its mean in the cohort"},
        {"sd", "real", "the trait's", "its sample standard deviation in the cohort"},
        {"differential", "real", "sd", "the standardised selection differential: the regression of relative "
                                       "fitness on the trait alone (its covariance with relative fitness)"},
        {"differential_se", "real", "sd", "its standard error"},
        {"gradient", "real", "", "the standardised Lande-Arnold gradient: the multiple regression of relative "
                                 "fitness on every genetic value together (NA when they cannot be separated)"},
        {"gradient_se", "real", "", "its standard error"},
        {"response", "real", "sd", "the mean of the cohort's offspring (each once per parent in the cohort) "
                                   "minus the cohort's mean, in the cohort's sd"},
        {"heritability", "real", "", "the realised heritability: response / differential"}}},
      {"lineages",
       "NAME/plots/NAME_lineages.tsv",
       "founder lines along first parents: the living descendants of each founder, day by day",
       {{"day", "integer", "day", "the day"},
        {"species", "text", "", "the species' name"},
        {"founder", "integer", "", "the founder's id"},
        {"alive", "integer", "animals", "living animals of its line at the day's end, eggs included"},
        {"share", "real", "", "their share of the species' living"}}}};
  return tables;
}

std::string tablesJson(const std::vector<MadeTable>& tables) {
  std::string out = "[";
  for (const MadeTable& t : tables)
    out += std::string(out.size() > 1 ? "," : "") + "\n    {\"id\": " + jsonQuoted(t.id) + ", \"path\": " +
           jsonQuoted(t.path) + ",\n     \"meaning\": " + jsonQuoted(t.meaning) + ",\n     \"columns\": " +
           columnsJson(t.columns) + "}";
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

const char* ResultSchema::stateName(unsigned state) { return STATE_NAMES[state]; }

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
         ",\n  \"loader_names\": " + loaderNamesJson() + ",\n  \"kinds\": " + kindsJson() + ",\n  \"files\": " + filesJson() +
         ",\n  \"calibration_tables\": " + tablesJson(calibrationTables()) +
         ",\n  \"analysis_tables\": " + tablesJson(analysisTables()) + "\n}\n";
}

}  // namespace soilweb
