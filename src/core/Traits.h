// The thirteen traits every animal carries, one value each, in this order: the
// name run_params uses for a trait (trait limits, correlations), its column in
// the daily animal files and its unit where the model has one. Every list of
// trait names, every header and every message about a trait comes from here.
#pragma once

#include <array>

// Trait indices; every animal holds one value per trait in this order.
enum Trait : unsigned {
  ENERGY_TANK, GROWTH, PHENO, BODY_SIZE, ASSIM, VORACITY, SPEED, SEARCH_AREA,
  MET_RATE, VOR_Q10, SPD_Q10, SRCH_Q10, ACTE_MET, NUMBER_OF_TRAITS
};

struct TraitInfo {
  const char* name;    // in run_params
  const char* column;  // in the animal files
  const char* unit;    // of the value an active animal holds; "" when it has none
};

inline constexpr std::array<TraitInfo, NUMBER_OF_TRAITS> TRAITS = {{
    {"energy_tank", "energy", "body mass"},
    {"growth", "growth", ""},
    {"pheno", "pheno", "day"},
    {"body_size", "body", "body mass"},
    {"assim", "assim", ""},
    {"voracity", "vor", "body mass per day"},
    {"speed", "speed", ""},
    {"search_area", "search", "moves per day"},
    {"met_rate", "met", ""},
    {"vorQ10", "vorQ10", ""},
    {"spdQ10", "spdQ10", ""},
    {"srchQ10", "srchQ10", ""},
    {"actE_met", "e_met", ""},
}};
