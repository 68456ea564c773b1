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
    std::string unit = "";   // of the value, "" when it has none
    std::string range = "";  // the values the model makes sense of, "" when it sets no bounds
  };

  static const std::vector<Key>& all();
  // The entry of key (a dotted path; array elements by index); nullptr for a key not listed.
  static const Key* find(const std::string& key);
  // Whether key (a dotted path) is one a run reads when present and does without otherwise.
  static bool isOptional(const std::string& key);
  // How key (a dotted path; array elements by index, "animals.1.x" or
  // "animals[1].x") is read, e.g. "lenient integer"; "" for a key not listed.
  // An element of a list of numbers is read as one of its numbers.
  static std::string typeOf(const std::string& key);
  // The list as a JSON array of objects {path, type, required, meaning, unit, range}.
  static std::string json();

  // The names that may follow parent (a dotted path; array elements by index)
  // in a configuration, e.g. "seed", "days", ... below "simulation".
  static std::vector<std::string> namesBelow(const std::string& parent);
  // The candidate nearest to name by edit distance (case aside), when it is
  // near enough to be a slip of the keyboard; "" otherwise. An exact match
  // is never suggested.
  static std::string likeliest(const std::string& name, const std::vector<std::string>& candidates);
  // " (did you mean 'PARENT.LIKELY'?)"-style hint for name below parent among
  // candidates: "" when none is near.
  static std::string didYouMean(const std::string& parent, const std::string& name,
                                const std::vector<std::string>& candidates);
};

}  // namespace soilweb
