// The food web as two tidy tables, for a run that keeps its dead: every animal
// as a node (N_foodweb_nodes.tsv) and every pair of hunter and victim that met
// as an edge (N_foodweb_edges.tsv), with how often the hunter met and ate the
// victim. Only the pairs that met are written, so the files grow with the
// animals and the encounters, not with their square; the founders' rows and
// columns of the matrices follow from them exactly. Used once, at the end of a
// run, instead of the matrices when simulation.outputs.foodWeb is "edges".
#pragma once

#include "model/Animal.h"
#include "output/Column.h"

namespace soilweb {

class BackgroundWriter;
class OutputFile;
class World;

// A hunter that met a victim: how often, and whether it ate it.
struct FoodWebEdge {
  int victim, hunter;
  long encounters = 0, predations = 0;
};

class FoodWebEdges {
 public:
  // The columns of the node and of the edge table, in their order.
  static const Columns<Animal>& nodeColumns();
  static const Columns<FoodWebEdge>& edgeColumns();

  // Writes both tables, nodes by id, edges by victim then hunter; writer may be
  // null (the files are then written at once).
  static void write(const World& world, OutputFile& nodes, OutputFile& edges, BackgroundWriter* writer);
};

}  // namespace soilweb
