// Everything the animals of one species share: the thirteen-trait table, the
// configured, restricted and observed trait ranges, the reference limits used
// for daily tuning, the genetics settings (and the neutral markers', when it
// has any), the hunting mode, the founding population and the physiological
// parameters. Built once by the configuration
// reader, owned by the world for the whole run, read by the species' animals.
#pragma once

#include "core/Traits.h"
#include "model/Species.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace soilweb {

class ChromosomesGenerator;
class Configuration;
class StateArchive;

enum HuntingMode : unsigned { DOES_NOT_HUNT = 0, SIT_AND_WAIT = 1, ACTIVE_HUNTING = 2 };

// The physiological and behavioural parameters, in the order of their keys in
// run_params: type, field name, and the name used in its getter and setter.
#define SOILWEB_SPECIES_PARAMETERS(X)                                                                                  \
  X(double, Q10phenology, Q10phenology)                                                                                \
  X(double, Q10digestion, Q10digestion) X(double, deadlyTank, DeadlyTank)                                              \
      X(double, assignedForMetab, AssignedForMetab) X(double, minCondition, MinCondition)                              \
          X(double, maxEncountersT, MaxEncountersT) X(double, maxSearchAreaT, MaxSearchAreaT)                          \
              X(double, meanSizeHunted, MeanSizeHunted) X(double, sdSizeHunted, SdSizeHunted)                          \
                  X(double, meanVorHunted, MeanVorHunted) X(double, sdVorHunted, SdVorHunted)                          \
                      X(double, meanSpdHunted, MeanSpdHunted) X(double, sdSpdHunted, SdSpdHunted)                      \
                          X(double, meanSizeHunter, MeanSizeHunter) X(double, sdSizeHunter, SdSizeHunter)              \
                              X(double, meanVorHunter, MeanVorHunter) X(double, sdVorHunter, SdVorHunter)              \
                                  X(double, meanSpdHunter, MeanSpdHunter) X(double, sdSpdHunter, SdSpdHunter) X(       \
                                      double, meanSearchAreaHunter, MeanSearchAreaHunter)                              \
                                      X(double, sdSearchAreaHunter, SdSearchAreaHunter) X(                             \
                                          double, meanSizeXSize, MeanSizeXSize) X(double, sdSizeXSize, SdSizeXSize)    \
                                          X(double, meanVorXVor, MeanVorXVor) X(double, sdVorXVor, SdVorXVor)          \
                                              X(double, meanSpdRatio, MeanSpdRatio) X(double, sdSpdRatio, SdSpdRatio)  \
                                                  X(double, meanSizeRatio, MeanSizeRatio)                              \
                                                      X(double, sdSizeRatio, SdSizeRatio) X(double, A, A)              \
                                                          X(double, B, B) X(double, maxVoracityT, MaxVoracityT)        \
                                                              X(double, keepForSurv, KeepForSurv)                      \
                                                                  X(int, maxReproductionEvents, MaxReproductionEvents) \
                                                                      X(double, assignedForReproduction,               \
                                                                        AssignedForReproduction)                       \
                                                                          X(double, forControlingDryBodyMass,          \
                                                                            ForControlingDryBodyMass)                  \
                                                                              X(double, tuneDeathFromBackground,       \
                                                                                TuneDeathFromBackground)

class AnimalSpecies : public Species {
 public:
  using TraitTable = std::map<unsigned, double>;  // reading a missing index creates it as 0

  // The thirteen trait names, by index.
  static const std::vector<std::string>& traitNames();

  AnimalSpecies(const std::string& name, unsigned numberOfTraits, unsigned numberOfLoci, unsigned numberOfAlleles,
                std::vector<int> positiveModule, std::vector<double> restrictPerTrait,
                std::vector<double> correlationCoeficientRHOPerModule, std::vector<double> ownLociPerModule,
                unsigned numberOfTraitsPerModule, unsigned randomnessMode);
  ~AnimalSpecies() override;

  // Reads and checks one entry of world.life.animals; a bad key raises a
  // Configuration::Error naming it by entry's path. The allele pools may take
  // at most memoryBudget bytes.
  static std::unique_ptr<AnimalSpecies> read(const Configuration& entry, double memoryBudget);
  // One warning for each setting of this species that makes its animals'
  // traits infinite or NaN, naming the key below entryPath.
  std::vector<std::string> undefinedTraitWarnings(const std::string& entryPath);

  // Whether name is one of the thirteen trait names (case-sensitive).
  bool isTraitName(const std::string& name) const;
  void addTraitMin(const std::string& name, double value);
  void addTraitMax(const std::string& name, double value);
  void addTraitMinLimit(const std::string& name, double value);
  void addTraitMaxLimit(const std::string& name, double value);
  void addTrait(const std::string& name, double min, double max, double minLimit, double maxLimit);
  void computeRestrictedTraits();

  void setDefaultHuntingMode(unsigned mode) { defaultHuntingMode = mode; }
  void setInitialPopulation(unsigned population) { initialPopulation = population; }
  unsigned getDefaultHuntingMode() const { return defaultHuntingMode; }
  unsigned getInitialPopulation() const { return initialPopulation; }

  unsigned getNumberOfTraits() const { return numberOfTraits; }
  unsigned getNumberOfLoci() const { return numberOfLoci; }
  unsigned getNumberOfAlleles() const { return numberOfAlleles; }
  unsigned getNumberOfTraitsPerModule() const { return numberOfTraitsPerModule; }
  unsigned getRandomnessMode() const { return randomnessMode; }
  const std::vector<int>& getPositiveModule() const { return positiveModule; }
  const std::vector<double>& getOwnLociPerModule() const { return ownLociPerModule; }

  TraitTable& getMinTraitsRanges() { return minTraitsRanges; }
  TraitTable& getMinRestrictedTraits() { return minRestrictedTraits; }
  TraitTable& getMaxRestrictedTraits() { return maxRestrictedTraits; }
  TraitTable& getMinTraitLimits() { return minTraitLimits; }
  TraitTable& getMaxTraitLimits() { return maxTraitLimits; }
  TraitTable& getMinObservedTraits() { return minObservedTraits; }
  TraitTable& getMaxObservedTraits() { return maxObservedTraits; }

  ChromosomesGenerator* getChromosomesGenerator() const { return chromosomesGenerator.get(); }
  // Gives the animals loci neutral loci, read by nothing in the model, whose
  // pools and genomes come from the neutral markers' own draws.
  void setNeutralLoci(unsigned loci);
  unsigned getNeutralLoci() const { return neutralLoci; }
  // The neutral markers' generator; null when the species has none.
  ChromosomesGenerator* getNeutralGenerator() const { return neutralGenerator.get(); }
  // Saves or loads what the run changes: the founders' observed ranges.
  void transferState(StateArchive& archive);

#define SOILWEB_PARAMETER_ACCESSORS(type, field, Name) \
  type get##Name() const { return field; }             \
  void set##Name(type value) { field = value; }
  SOILWEB_SPECIES_PARAMETERS(SOILWEB_PARAMETER_ACCESSORS)
#undef SOILWEB_PARAMETER_ACCESSORS

 private:
  unsigned traitIndex(const std::string& name) const;

  unsigned defaultHuntingMode = DOES_NOT_HUNT;
  std::map<std::string, unsigned> traitIndexByName;
  TraitTable minTraitsRanges;      // configured range, lower end
  TraitTable maxTraitsRanges;      // configured range, upper end
  TraitTable minRestrictedTraits;  // range the genetic values are mapped onto
  TraitTable maxRestrictedTraits;
  TraitTable minTraitLimits;     // reference limits for daily tuning
  TraitTable minObservedTraits;  // smallest raw value among the founders
  TraitTable maxObservedTraits;  // largest raw value among the founders
  unsigned initialPopulation = 0;
  unsigned randomnessMode;
  unsigned numberOfTraits;
  unsigned numberOfLoci;
  unsigned numberOfAlleles;
  unsigned numberOfTraitsPerModule;
  std::vector<int> positiveModule;                        // per module: 1 = positively correlated
  std::vector<double> restrictPerTrait;                   // share of the range given up, per trait
  std::vector<double> correlationCoeficientRHOPerModule;  // as configured; kept, not read again
  std::vector<double> ownLociPerModule;                   // loci a trait takes from its own pair

#define SOILWEB_PARAMETER_FIELD(type, field, Name) type field = 0;
  SOILWEB_SPECIES_PARAMETERS(SOILWEB_PARAMETER_FIELD)
#undef SOILWEB_PARAMETER_FIELD

  TraitTable maxTraitLimits;
  std::unique_ptr<ChromosomesGenerator> chromosomesGenerator;
  unsigned neutralLoci = 0;
  std::unique_ptr<ChromosomesGenerator> neutralGenerator;
};

}  // namespace soilweb
