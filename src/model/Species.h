// The identity of a species: its scientific name (trimmed of surrounding white
// space) and a serial ID handed out in order of creation. Species live for the
// whole run; the world owns them.
#pragma once

#include <string>

namespace soilweb {

class Species {
 public:
  explicit Species(const std::string& name);
  virtual ~Species();

  const std::string& getScientificName() const;
  int getID() const;

  // The ID the next species will receive; never reset during a run.
  static int speciesCounter;

 private:
  std::string scientificName;
  int ID;
};

}  // namespace soilweb
