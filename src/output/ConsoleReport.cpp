#include "output/ConsoleReport.h"

#include <iostream>

namespace soilweb {

void ConsoleReport::banner(const std::string& text) {
  const std::string rule(60, '=');
  std::cout << std::endl << rule << std::endl << text << std::endl << rule << std::endl;
}

void ConsoleReport::fileSaved(const std::string& path) { banner("File \"" + path + "\" saved"); }

void ConsoleReport::stageReached(Stage stage) {
  switch (stage) {
    case Stage::READING:
      std::cout << "Initializing..." << std::endl;
      break;
    case Stage::BUILDING:
      std::cout << "Building the world..." << std::endl;
      break;
    case Stage::FOUNDING:
      std::cout << "Giving life to animals..." << std::endl << std::endl;
      break;
  }
}

void ConsoleReport::speciesRead(const std::string& scientificName) {
  std::cout << "Read Animal Species. Scientific name: " << scientificName << std::endl;
}

void ConsoleReport::dayStarted(const World&, int day) { std::cout << "Running day " << day << " - "; }

void ConsoleReport::biomassMeasured(double biomass) { std::cout << "Total biomass: " << biomass << " "; }

void ConsoleReport::phaseEnded() { std::cout << "."; }

void ConsoleReport::dayEnded(const World&, int) { std::cout << " finished." << std::endl; }

}  // namespace soilweb
