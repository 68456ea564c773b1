#include "model/Species.h"

#include <locale>

namespace soilweb {

int Species::speciesCounter = 0;

namespace {
// Removes white space (as the global locale classifies it) from both ends.
std::string trim(std::string name) {
  const std::locale locale;
  auto isSpace = [&](char c) { return std::isspace(c, locale); };
  std::size_t end = name.size();
  while (end > 0 && isSpace(name[end - 1])) --end;
  name.erase(end);
  std::size_t begin = 0;
  while (begin < name.size() && isSpace(name[begin])) ++begin;
  name.erase(0, begin);
  return name;
}
}  // namespace

Species::Species(const std::string& name) : scientificName(trim(name)), ID(speciesCounter++) {}

Species::~Species() = default;

const std::string& Species::getScientificName() const { return scientificName; }

int Species::getID() const { return ID; }

}  // namespace soilweb
