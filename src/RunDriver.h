// One whole run: reads the configuration, seeds the generator, builds the
// world, creates the output tree, runs the days with their summary lines,
// writes the food-web matrices and reports the elapsed time. The entry point
// only parses the command line and hands over to it.
#pragma once

#include <string>

class RunDriver {
 public:
  // Runs the simulation configured in configPath; returns the exit status:
  // 0 on success, 1 for a configuration error or an output that failed.
  static int run(const std::string& configPath);
};
