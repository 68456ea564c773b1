// The three food-web files of a run that keeps its dead: the encounter and the
// predation matrix of the founders (a 1 where the column's predator met, or
// ate, the row's animal) and their node list. The matrices are built from
// sparse rows and written in blocks, on the background writer when there is
// one, so that writing one block overlaps formatting the next. Used once, at
// the end of a run.
#pragma once

#include "output/Column.h"

#include <string>

namespace soilweb {

// A founder in the node list.
struct FoodWebNode {
  int id;
  const char* category;
};

class BackgroundWriter;
class OutputFile;
class World;

class FoodWebMatrices {
 public:
  // The node category of an animal of species: "invertebrate" for "prey",
  // "vert.ecto" for "predator", else "undefined".
  static const char* categoryOf(const std::string& species);
  // The node list's columns, in their order.
  static const Columns<FoodWebNode>& nodeColumns();

  // Writes the files of the world's founders (ids below the species' initial
  // populations together); writer may be null (the files are then written at once).
  static void write(const World& world, OutputFile& encounters, OutputFile& predations, OutputFile& nodes,
                    BackgroundWriter* writer);
};

}  // namespace soilweb
