// What a run writes, described once: every result file with its place, the
// layouts and keys that produce it, and every column with its type, unit and
// meaning; the life-state, stage and fate codes. The writers take their
// headers from here, `soilweb --schema` prints it as JSON, and the Python and
// R loaders, the figures and the data dictionary in the documentation read
// that JSON, so a new file or column is one entry here plus its writer.
// Constants only, made on first use.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace soilweb {

// The `when` of the neutral markers' columns.
constexpr const char* NEUTRAL_MARKERS = "world.life.animals[].genetics.neutralLoci above 0";

struct ResultColumn {
  std::string name;
  const char* type;  // "integer", "real" or "text"
  std::string unit;  // "" when the value has none
  std::string meaning;
  const char* when = "";  // the key that adds the column, "" when it is always there
};

struct ResultFile {
  const char* id;      // the loaders' name of the table
  std::string daily;   // its path in the daily layout ("" when it has none), NAME for the run's name, D for a day
  std::string tables;  // its path in the tables layout ("" when it has none)
  const char* when;    // which keys produce it
  std::string meaning;
  bool header;                        // whether its daily file starts with a header line
  bool dayFirst;                      // whether the tables layout adds a leading day column
  std::vector<ResultColumn> columns;  // as in the daily file (without the tables' day)
};

// A kind of result simulation.outputs.files may list, and the files it writes.
struct ResultKind {
  const char* name;
  std::vector<const char*> files;  // their ids
  const char* meaning;
};

struct ResultStage {
  const char* name;
  unsigned state;   // the life state of its animals
  int fromInstar;   // the first instar it holds (0: any)
  int belowInstar;  // the first instar it no longer holds (0: none)
};

class ResultSchema {
 public:
  static const std::vector<ResultFile>& files();
  static const ResultFile& file(const std::string& id);
  // The header line of a file: its column names, tab-separated, and a
  // newline; with optional, also the columns that only some keys add.
  static std::string header(const std::string& id, bool optional = false);

  // The result kinds a run may be asked to write, in their order.
  static const std::vector<ResultKind>& kinds();
  static bool hasKind(const std::string& name);

  // The stages of the living animals in the trait statistics, in their order.
  static constexpr std::size_t NUMBER_OF_STAGES = 4;
  static const std::array<ResultStage, NUMBER_OF_STAGES>& stages();
  static const int FIRST_ADULT_INSTAR = 4;
  // A life state's name (UNBORN, ACTIVE, ...), as the summary's columns use it.
  static const char* stateName(unsigned state);
  // What a final life state is called as a fate; "alive" for the others.
  static const char* fateOf(unsigned state);

  // The whole schema as a JSON document.
  static std::string json();
};

}  // namespace soilweb
