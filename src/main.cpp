// soilweb: an individual-based simulation of a soil food web.
#include "RunDriver.h"

#include <iostream>
#include <string>

namespace {
const char* USAGE = "usage: soilweb [--help] [--version] [CONFIG]";

void printHelp() {
  std::cout << USAGE << "\n\n"
            << "Runs the soil food-web simulation configured in CONFIG (default: ./run_params, a JSON file).\n"
            << "Results go under a folder named after simulation.outputs.simulationName in the working\n"
            << "directory: outputs/ (daily summary, food-web matrices), animals_each_day_start/,\n"
            << "animals_each_day_end/ and cells/ (daily snapshots). Progress goes to standard output,\n"
            << "errors to standard error.\n\n"
            << "Exit status: 0 success; 1 configuration error or an output file that could not be\n"
            << "written; 2 bad command line; 130 or 143 stopped by SIGINT or SIGTERM (every file\n"
            << "written so far is complete); 255 internal failure (thread start).\n";
}
}  // namespace

int main(int argc, char** argv) {
  std::string configPath = "run_params";
  if (argc > 2) {
    std::cerr << USAGE << std::endl;
    return 2;
  }
  if (argc == 2) {
    const std::string argument = argv[1];
    if (argument == "--help" || argument == "-h") {
      printHelp();
      return 0;
    }
    if (argument == "--version") {
      std::cout << "soilweb " << SOILWEB_VERSION << std::endl;
      return 0;
    }
    if (!argument.empty() && argument[0] == '-') {
      std::cerr << "soilweb: unknown option '" << argument << "'\n" << USAGE << std::endl;
      return 2;
    }
    configPath = argument;
  }
  return RunDriver::run(configPath);
}
