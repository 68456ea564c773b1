#include "core/ConfigurationKeys.h"

#include "core/GlobalFunctions.h"
#include "core/Traits.h"

#include <algorithm>
#include <cctype>

namespace soilweb {

namespace {
using Key = ConfigurationKeys::Key;

const std::string SPECIES = "world.life.animals[].";

// The species' physiological and behavioural parameters, in the order they are read.
const std::pair<const char*, const char*> PARAMETERS[] = {
    {"Q10phenology", "factor on development time at the maximum temperature"},
    {"Q10digestion", "factor on a predator's digestion time at the maximum temperature"},
    {"deadlyTank", "an animal starves when reserve / body mass falls below this"},
    {"assignedForMetab", "share of reserve + mass available for growth"},
    {"minCondition", "lowest body-condition factor in daily tuning"},
    {"maxEncountersT", "encounters with predators at which fear and stress are strongest"},
    {"maxSearchAreaT", "moves per day that make an animal fully active"},
    {"meanSizeHunted", "mean that standardises body size as the hunted"},
    {"sdSizeHunted", "standard deviation that standardises body size as the hunted"},
    {"meanVorHunted", "mean that standardises voracity as the hunted"},
    {"sdVorHunted", "standard deviation that standardises voracity as the hunted"},
    {"meanSpdHunted", "kept for reference; not used"},
    {"sdSpdHunted", "kept for reference; not used"},
    {"meanSizeHunter", "mean that standardises body size as hunter"},
    {"sdSizeHunter", "standard deviation that standardises body size as hunter"},
    {"meanVorHunter", "mean that standardises voracity as hunter"},
    {"sdVorHunter", "standard deviation that standardises voracity as hunter"},
    {"meanSpdHunter", "mean that standardises speed as hunter"},
    {"sdSpdHunter", "standard deviation that standardises speed as hunter"},
    {"meanSearchAreaHunter", "mean that standardises moves per day as hunter"},
    {"sdSearchAreaHunter", "standard deviation that standardises moves per day as hunter"},
    {"meanSizeXSize", "mean that standardises hunter size x hunted size"},
    {"sdSizeXSize", "standard deviation that standardises hunter size x hunted size"},
    {"meanVorXVor", "mean that standardises hunter voracity x hunted voracity"},
    {"sdVorXVor", "standard deviation that standardises hunter voracity x hunted voracity"},
    {"meanSpdRatio", "mean that standardises hunter speed / hunted speed"},
    {"sdSpdRatio", "standard deviation that standardises hunter speed / hunted speed"},
    {"meanSizeRatio", "mean that standardises hunter size / hunted size"},
    {"sdSizeRatio", "standard deviation that standardises hunter size / hunted size"},
    {"A", "body mass = A x length^B"},
    {"B", "body mass = A x length^B"},
    {"maxVoracityT", "intake per day that makes an animal fully active"},
    {"keepForSurv", "multiplier of the reserve kept back when breeding"},
    {"maxReproductionEvents", "breeding events after which an animal senesces"},
    {"assignedForReproduction", "an adult breeds when (reserve + mass) x this >= 2 x mass"},
    {"forControlingDryBodyMass", "dry-mass factor in the growth step"},
    {"tuneDeathFromBackground", "scale of a predator's daily background death probability"},
};

std::vector<Key> simulationKeys() {
  return {
      {"simulation.seed", "strict integer", false, "seed of the random generator; absent: drawn and recorded"},
      {"simulation.days", "lenient integer", true, "number of the last day (days 0 ... days run)"},
      {"simulation.predators", "lenient integer", true, "non-zero: prey move with exposure to predators"},
      {"simulation.parallel", "lenient integer", true, "1: the soil step runs on threads (same results)"},
      {"simulation.worldLength", "lenient integer", true, "number of cells in the ring (1 or even, at least 4)"},
      {"simulation.temperature", "lenient real", true, "temperature of the run, degrees Celsius"},
      {"simulation.minTemperature", "lenient real", true, "temperature at which every temperature factor is 1"},
      {"simulation.maxTemperature", "lenient real", true, "temperature at which a factor reaches its Q10 value"},
      {"simulation.temperatureSeries", "list", false,
       "[day, degrees] pairs: the temperature of each day, linear between them (instead of temperature)"},
      {"simulation.stopWhen", "text", false,
       "any (default): stop when the resource, the prey or the predators are gone; resource: only when the "
       "resource or every animal is; never: only when every animal is"},
      {"simulation.checkpointEvery", "strict integer", false, "write a checkpoint after every k days"},
      {"simulation.purgeDeadAnimals", "strict integer", true,
       "1: the dead are removed daily; 0: kept, and the food-web matrices written"},
      {"simulation.outputs.simulationName", "text", true, "name of the run's folder and prefix of its files"},
      {"simulation.outputs.summaryFilename", "text", true, "suffix of the daily summary file"},
      {"simulation.outputs.encountersMatrixFilename", "text", true,
       "suffix of the encounter matrix (read when purgeDeadAnimals is 0)"},
      {"simulation.outputs.predationsMatrixFilename", "text", true,
       "suffix of the predation matrix (read when purgeDeadAnimals is 0)"},
      {"simulation.outputs.nodesMatrixFilename", "text", true,
       "suffix of the node list (read when purgeDeadAnimals is 0)"},
      {"simulation.outputs.snapshotEvery", "strict integer", false, "write the snapshots every k days only"},
      {"simulation.outputs.snapshots", "list", false, "which snapshot files: animals_start, animals_end, cells"},
      {"simulation.outputs.compression", "text", false, "none, or gzip: outputs written gzip-compressed"},
      {"simulation.outputs.layout", "text", false, "daily (a file per day and kind), or tables (a file per kind)"},
      {"simulation.outputs.traitStatistics", "text", false, "true: the daily trait statistics are written"},
      {"simulation.outputs.geneticStatistics", "text", false,
       "true: the daily statistics of the genetic values are written"},
      {"simulation.outputs.pedigree", "text", false, "true: the pedigree and the table of deaths are written"},
      {"simulation.outputs.threads", "strict integer", false, "threads compressing the tables layout's gzip files"},
      {"simulation.outputs.foodWeb", "text", false,
       "matrices, edges (the food web as node and edge tables), or none: no food web"},
      {"simulation.outputs.files", "list", false,
       "the result kinds written (summary, traits, genetics, pedigree, snapshots, animals_start, animals_end, "
       "cells, foodweb); absent: as the other output keys choose"},
      {"simulation.outputs.deadAnimals", "text", false,
       "every day, or once (tables layout): a dead animal's row only on the first day it shows"},
  };
}

std::vector<Key> soilKeys() {
  return {
      {"world.soil.minCarryingCapacity", "lenient real", true, "carrying capacity of the poorest cells"},
      {"world.soil.maxCarryingCapacity", "lenient real", true, "carrying capacity of the richest cells"},
      {"world.soil.rateForMinFungiBiomass", "lenient real", true,
       "starting biomass of the poorest cells, share of capacity"},
      {"world.soil.rateForMaxFungiBiomass", "lenient real", true,
       "starting biomass of the richest cells, share of capacity"},
      {"world.soil.rateForZeroFungi", "lenient real", true,
       "divisor of the biomass below which feeding empties a cell"},
      {"world.soil.bNormalisationConstant", "lenient real", true, "B of the resource growth law"},
      {"world.soil.eActivationEnergy", "lenient real", true, "E of the resource growth law, eV"},
      {"world.soil.kBolzmann", "lenient real", true, "Boltzmann constant, eV/K"},
      {"world.soil.increaseForChemostatEffect", "lenient real", true,
       "share of capacity each cell gains when the chemostat acts"},
      {"world.soil.thresholdForChemostatEffect", "lenient real", true, "total biomass below which the chemostat acts"},
  };
}

// The keys of one species entry, listed once below "world.life.animals[]".
std::vector<Key> speciesKeys() {
  std::vector<Key> keys = {
      {"world.life.animals", "list", true, "the species: the first founds the prey, the second the predators"},
      {SPECIES + "name", "text", true, "scientific name of the species"},
      {SPECIES + "initialPopulation", "strict integer", true, "number of founders"},
      {SPECIES + "huntingMode", "text", true, "does_not_hunt, sit_and_wait or active_hunting"},
      {SPECIES + "genetics.randomnessMode", "strict integer", true, "1: alleles drawn in equal slices; 0: around 0.5"},
      {SPECIES + "genetics.numberOfLoci", "strict integer", true, "loci per chromosome"},
      {SPECIES + "genetics.numberOfAlleles", "strict integer", true, "alleles in each locus' pool"},
      {SPECIES + "genetics.neutralLoci", "strict integer", false,
       "loci of a neutral marker read by nothing in the model (default 0: none)"},
      {SPECIES + "genetics.numberOfTraits", "strict integer", true, "traits built from the genome (" + std::to_string(NUMBER_OF_TRAITS) + ")"},
      {SPECIES + "genetics.numberOfTraitsPerModule", "strict integer", true,
       "size of the modules of correlated traits"},
      {SPECIES + "genetics.positiveModule", "list of lenient integers", true,
       "per module: 1 = its traits move with its first trait"},
      {SPECIES + "genetics.restrictPerTrait", "list of lenient reals", true, "per trait: share of its range given up"},
      {SPECIES + "genetics.correlationCoeficientRHOPerModule", "list of lenient reals", true,
       "per module: correlation of its traits"},
  };
  const std::pair<const char*, const char*> objects[] = {
      {"minTraitsRanges", "lower end of the configured range of the trait"},
      {"maxTraitsRanges", "upper end of the configured range of the trait"},
      {"minTraitLimits", "lower reference limit of the trait in daily tuning"},
      {"maxTraitLimits", "upper reference limit of the trait in daily tuning"},
  };
  for (const auto& [object, meaning] : objects)
    for (const TraitInfo& trait : TRAITS)
      keys.push_back({SPECIES + object + "." + trait.name, "lenient real", false, meaning});
  for (const auto& [name, meaning] : PARAMETERS)
    keys.push_back({SPECIES + name, std::string(name) == "maxReproductionEvents" ? "strict integer" : "strict real",
                    true, meaning});
  return keys;
}

// Units, and the values the model makes sense of (what its formulas divide
// by, share out or count), of the keys that have them: {path, unit, range};
// TRAITS in a range stands for the number of traits.
const char* const ANNOTATIONS[][3] = {
    {"simulation.days", "days", ">= -1 (-1 runs no day)"},
    {"simulation.predators", "", "0 or 1"},
    {"simulation.parallel", "", "0 or 1"},
    {"simulation.worldLength", "cells", "1, or an even number >= 4"},
    {"simulation.temperature", "degrees Celsius", "from minTemperature to maxTemperature"},
    {"simulation.minTemperature", "degrees Celsius", "below maxTemperature"},
    {"simulation.maxTemperature", "degrees Celsius", "above minTemperature"},
    {"simulation.temperatureSeries", "[day, degrees Celsius]", "whole, increasing days"},
    {"simulation.stopWhen", "", "any, resource or never"},
    {"simulation.checkpointEvery", "days", ">= 1"},
    {"simulation.purgeDeadAnimals", "", "0 or 1"},
    {"simulation.outputs.snapshotEvery", "days", ">= 1"},
    {"simulation.outputs.compression", "", "none or gzip"},
    {"simulation.outputs.layout", "", "daily or tables"},
    {"simulation.outputs.traitStatistics", "", "true or false"},
    {"simulation.outputs.geneticStatistics", "", "true or false"},
    {"simulation.outputs.pedigree", "", "true or false"},
    {"simulation.outputs.threads", "threads", ">= 1"},
    {"simulation.outputs.foodWeb", "", "matrices, edges or none"},
    {"simulation.outputs.files", "", "a list of result kinds, with summary"},
    {"simulation.outputs.deadAnimals", "", "every day or once"},
    {"world.soil.minCarryingCapacity", "body mass", ">= 0, at most maxCarryingCapacity"},
    {"world.soil.maxCarryingCapacity", "body mass", ">= minCarryingCapacity"},
    {"world.soil.rateForMinFungiBiomass", "share of capacity", "0 ... 1"},
    {"world.soil.rateForMaxFungiBiomass", "share of capacity", "0 ... 1"},
    {"world.soil.rateForZeroFungi", "", "> 0"},
    {"world.soil.eActivationEnergy", "eV", "> 0"},
    {"world.soil.kBolzmann", "eV/K", "8.617e-05"},
    {"world.soil.increaseForChemostatEffect", "share of capacity", "0 ... 1"},
    {"world.soil.thresholdForChemostatEffect", "body mass", ">= 0"},
    {"world.life.animals", "", "at least 2 species"},
    {"world.life.animals[].initialPopulation", "animals", ">= 0"},
    {"world.life.animals[].huntingMode", "", "does_not_hunt, sit_and_wait or active_hunting"},
    {"world.life.animals[].genetics.randomnessMode", "", "0 or 1"},
    {"world.life.animals[].genetics.numberOfLoci", "loci", ">= 0"},
    {"world.life.animals[].genetics.numberOfAlleles", "alleles", ">= 1"},
    {"world.life.animals[].genetics.neutralLoci", "loci", ">= 0"},
    {"world.life.animals[].genetics.numberOfTraits", "traits", "TRAITS"},
    {"world.life.animals[].genetics.numberOfTraitsPerModule", "traits", "3 ... TRAITS"},
    {"world.life.animals[].genetics.positiveModule", "", "0 or 1 per module"},
    {"world.life.animals[].genetics.restrictPerTrait", "share of the range", "0 ... 1 per trait, TRAITS values"},
    {"world.life.animals[].genetics.correlationCoeficientRHOPerModule", "", "-1 ... 1 per module"},
    {"world.life.animals[].deadlyTank", "share of body mass", "0 ... 1"},
    {"world.life.animals[].assignedForMetab", "share", "0 ... 1"},
    {"world.life.animals[].minCondition", "", "0 ... 1"},
    {"world.life.animals[].maxEncountersT", "encounters", "> 0"},
    {"world.life.animals[].maxSearchAreaT", "moves per day", "> 0"},
    {"world.life.animals[].maxVoracityT", "body mass per day", "> 0"},
    {"world.life.animals[].maxReproductionEvents", "breeding events", ">= 0"},
    {"world.life.animals[].assignedForReproduction", "", "> 0"},
    {"world.life.animals[].tuneDeathFromBackground", "", ">= 0"},
};

void annotate(std::vector<Key>& keys) {
  for (Key& key : keys) {
    for (const auto& [path, unit, range] : ANNOTATIONS)
      if (key.path == path) key.unit = unit, key.range = range;
    if (const auto at = key.range.find("TRAITS"); at != std::string::npos)
      key.range.replace(at, 6, std::to_string(NUMBER_OF_TRAITS));
    const bool standardiser = key.path.rfind(SPECIES + "sd", 0) == 0;
    if (standardiser) key.range = "> 0";
    for (const TraitInfo& trait : TRAITS)
      if (key.path.size() > std::string(trait.name).size() + 1 && key.path.rfind(SPECIES, 0) == 0 &&
          key.path.compare(key.path.size() - std::string(trait.name).size() - 1, std::string::npos,
                           std::string(".") + trait.name) == 0)
        key.unit = trait.unit;
  }
}

std::vector<Key> build() {
  std::vector<Key> keys = simulationKeys();
  for (auto* part : {soilKeys, speciesKeys})
    for (auto& key : part()) keys.push_back(std::move(key));
  annotate(keys);
  return keys;
}

// Optimal string alignment distance (an adjacent swap counts as one edit),
// letters compared without case: "Seed" is 0 from "seed".
std::size_t editDistance(const std::string& a, const std::string& b) {
  auto same = [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) ==
                                          std::tolower(static_cast<unsigned char>(y)); };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
      if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// "animals.1.x" and "animals[1].x" both as "animals[].x".
std::string listedForm(const std::string& key) {
  std::string listed;
  std::string part;
  auto endPart = [&] {
    if (!part.empty() && part.find_first_not_of("0123456789") == std::string::npos)
      listed += "[]";
    else if (!part.empty())
      listed += (listed.empty() ? "" : ".") + part;
    part.clear();
  };
  for (const char c : key) {
    if (c == '.' || c == '[')
      endPart();
    else if (c != ']')
      part += c;
  }
  endPart();
  return listed;
}
}  // namespace

const std::vector<Key>& ConfigurationKeys::all() {
  static const std::vector<Key> keys = build();
  return keys;
}

const Key* ConfigurationKeys::find(const std::string& key) {
  const std::string listed = listedForm(key);
  for (const auto& known : all())
    if (known.path == listed) return &known;
  return nullptr;
}

bool ConfigurationKeys::isOptional(const std::string& key) {
  for (const auto& known : all())
    if (!known.required && known.path == listedForm(key)) return true;
  return false;
}

std::string ConfigurationKeys::typeOf(const std::string& key) {
  const std::string listed = listedForm(key);
  const bool element = listed.size() > 2 && listed.compare(listed.size() - 2, 2, "[]") == 0;
  const std::string base = element ? listed.substr(0, listed.size() - 2) : listed;
  for (const auto& known : all()) {
    if (known.path == listed) return known.type;
    if (element && known.path == base && known.type.rfind("list of ", 0) == 0) {
      std::string one = known.type.substr(8);  // "lenient integers" -> "lenient integer"
      return one.substr(0, one.size() - 1);
    }
  }
  return "";
}

std::string ConfigurationKeys::json() {
  std::string out = "[\n";
  for (std::size_t k = 0; k < all().size(); ++k) {
    const Key& key = all()[k];
    out += "  {\"path\": " + jsonQuoted(key.path) + ", \"type\": " + jsonQuoted(key.type) +
           ", \"required\": " + (key.required ? "true" : "false") + ", \"meaning\": " + jsonQuoted(key.meaning) +
           ", \"unit\": " + jsonQuoted(key.unit) + ", \"range\": " + jsonQuoted(key.range) + "}" +
           (k + 1 < all().size() ? ",\n" : "\n");
  }
  return out + "]\n";
}

std::vector<std::string> ConfigurationKeys::namesBelow(const std::string& parent) {
  const std::string prefix = parent.empty() ? "" : listedForm(parent) + ".";
  std::vector<std::string> names;
  for (const auto& known : all()) {
    if (known.path.compare(0, prefix.size(), prefix) != 0) continue;
    std::string next = known.path.substr(prefix.size());
    next = next.substr(0, next.find_first_of(".["));
    if (!next.empty() && std::find(names.begin(), names.end(), next) == names.end()) names.push_back(next);
  }
  return names;
}

std::string ConfigurationKeys::likeliest(const std::string& name, const std::vector<std::string>& candidates) {
  // Slips of the keyboard: one edit in a short name, up to three in a long one.
  const std::size_t tolerance = name.size() <= 4 ? 1 : name.size() <= 8 ? 2 : 3;
  std::string best;
  std::size_t bestDistance = tolerance + 1;
  for (const auto& candidate : candidates) {
    if (candidate == name) continue;
    if (const std::size_t d = editDistance(name, candidate); d < bestDistance) best = candidate, bestDistance = d;
  }
  return best;
}

std::string ConfigurationKeys::didYouMean(const std::string& parent, const std::string& name,
                                          const std::vector<std::string>& candidates) {
  const std::string likely = likeliest(name, candidates);
  return likely.empty() ? "" : "did you mean '" + (parent.empty() ? likely : parent + "." + likely) + "'?";
}

}  // namespace soilweb
