// The thirteen traits every animal carries, one value each, in this order: the
// name run_params uses for a trait (trait limits, correlations), its column in
// the daily animal files and its unit where the model has one. Every list of
// trait names, every header and every message about a trait comes from here.
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

struct TraitInfo {
  const char* name;     // in run_params
  const char* column;   // in the animal files
  const char* unit;     // of the value an active animal holds; "" when it has none
  const char* label;    // on a figure's axis
  const char* meaning;  // of the value in the animal files
};

inline constexpr std::array<TraitInfo, NUMBER_OF_TRAITS> TRAITS = {{
    {"energy_tank", "energy", "body mass", "reserve (body mass)", "current reserve"},
    {"growth", "growth", "", "growth factor per instar", "growth factor of body length per instar"},
    {"pheno", "pheno", "day", "day it may hatch", "the day on which it may become active"},
    {"body_size", "body", "body mass", "body mass", "body mass"},
    {"assim", "assim", "", "assimilation coefficient", "assimilation coefficient after today's tuning"},
    {"voracity", "vor", "body mass per day", "voracity (body mass per day)",
     "daily intake (prey) / voracity score input"},
    {"speed", "speed", "", "speed", "speed"},
    {"search_area", "search", "moves per day", "search (moves per day)",
     "moves per day (100 while searching for a mate)"},
    {"met_rate", "met", "", "metabolic exponent", "mass exponent of metabolism"},
    {"vorQ10", "vorQ10", "", "temperature factor of voracity", "temperature factor of voracity"},
    {"spdQ10", "spdQ10", "", "temperature factor of speed", "temperature factor of speed"},
    {"srchQ10", "srchQ10", "", "temperature factor of search", "temperature factor of search"},
    {"actE_met", "e_met", "", "activation energy of metabolism", "activation energy of metabolism"},
}};

}  // namespace soilweb
