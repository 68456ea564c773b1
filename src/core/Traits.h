// The thirteen traits every animal carries, one value each, in this order: the
// name run_params uses for a trait (trait limits, correlations), its column in
// the daily animal files, its unit where the model has one, and how its value
// moves once the animal is made. The number of traits, every list of trait
// names, every header, every message about a trait and the set of values a
// snapshot keeps from birth come from here (Python and R read it through the
// schema). A trait is one row here, plus the model's use of it.
#pragma once

#include <array>

namespace soilweb {

// Trait indices; every animal holds one value per trait in this order.
enum Trait : unsigned {
  ENERGY_TANK,
  GROWTH,
  PHENO,
  BODY_SIZE,
  ASSIM,
  VORACITY,
  SPEED,
  SEARCH_AREA,
  MET_RATE,
  VOR_Q10,
  SPD_Q10,
  SRCH_Q10,
  ACTE_MET,
  NUMBER_OF_TRAITS
};

// How an animal's value of a trait moves once the animal is made.
enum class AfterBirth : unsigned char {
  INHERITED,     // never changes: the animal files show its genetic value
  SET_AT_BIRTH,  // adjusted once when the animal is made, then kept
  CHANGES,       // changes as the animal lives (its reserve, growth and daily tuning)
};

struct TraitInfo {
  const char* name;     // in run_params
  const char* column;   // in the animal files
  const char* unit;     // of the value an active animal holds; "" when it has none
  const char* label;    // on a figure's axis
  const char* meaning;  // of the value in the animal files
  AfterBirth afterBirth;
};

inline constexpr std::array<TraitInfo, NUMBER_OF_TRAITS> TRAITS = {{
    {"energy_tank", "energy", "body mass", "reserve (body mass)", "current reserve", AfterBirth::CHANGES},
    {"growth", "growth", "", "growth factor per instar", "growth factor of body length per instar", AfterBirth::INHERITED},
    {"pheno", "pheno", "day", "day it may hatch", "the day on which it may become active", AfterBirth::SET_AT_BIRTH},
    {"body_size", "body", "body mass", "body mass", "body mass", AfterBirth::CHANGES},
    {"assim", "assim", "", "assimilation coefficient", "assimilation coefficient after today's tuning", AfterBirth::CHANGES},
    {"voracity", "vor", "body mass per day", "voracity (body mass per day)",
     "daily intake (prey) / voracity score input", AfterBirth::CHANGES},
    {"speed", "speed", "", "speed", "speed", AfterBirth::CHANGES},
    {"search_area", "search", "moves per day", "search (moves per day)",
     "moves per day (100 while searching for a mate)", AfterBirth::CHANGES},
    {"met_rate", "met", "", "metabolic exponent", "mass exponent of metabolism", AfterBirth::INHERITED},
    {"vorQ10", "vorQ10", "", "temperature factor of voracity", "temperature factor of voracity", AfterBirth::INHERITED},
    {"spdQ10", "spdQ10", "", "temperature factor of speed", "temperature factor of speed", AfterBirth::INHERITED},
    {"srchQ10", "srchQ10", "", "temperature factor of search", "temperature factor of search", AfterBirth::INHERITED},
    {"actE_met", "e_met", "", "activation energy of metabolism", "activation energy of metabolism", AfterBirth::INHERITED},
}};

// The value the animal files show never changes once the animal is made.
constexpr bool isFixedFromBirth(unsigned trait) { return TRAITS[trait].afterBirth != AfterBirth::CHANGES; }
// The animal files show the genetic value itself.
constexpr bool showsGeneticValue(unsigned trait) { return TRAITS[trait].afterBirth == AfterBirth::INHERITED; }

}  // namespace soilweb
