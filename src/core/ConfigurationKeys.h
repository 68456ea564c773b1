// Every key soilweb reads from run_params, in one list: its dotted path, how
// it is read, whether a run needs it, and what it means. `soilweb --list-keys`
// prints the list as JSON, --set and the sweep script learn from it which keys
// may be added to a file that lacks them, and the documentation is checked
// against it. Keys of a species entry are listed once, below
// "world.life.animals[]". A constant table, built on first use.
#pragma once

#include <string>
#include <vector>

namespace soilweb {

class ConfigurationKeys {
 public:
  struct Key {
    std::string path;     // e.g. "simulation.days", "world.life.animals[].genetics.numberOfLoci"
    std::string type;     // how it is read: "lenient real", "strict integer", "text", "list", ...
    bool required;        // false: a run does without it
    std::string meaning;  // one line
  };

  static const std::vector<Key>& all();
  // Whether key (a dotted path) is one a run reads when present and does without otherwise.
  static bool isOptional(const std::string& key);
  // How key (a dotted path; array elements by index, "animals.1.x" or
  // "animals[1].x") is read, e.g. "lenient integer"; "" for a key not listed.
  // An element of a list of numbers is read as one of its numbers.
  static std::string typeOf(const std::string& key);
  // The list as a JSON array of objects {path, type, required, meaning}.
  static std::string json();
};

}  // namespace soilweb
