// The transcript a run prints on standard output as its world is built and
// its days run: the building stages, each species read, and one line a day
// ("Running day 3 - Total biomass: 912.4 ......... finished."), and the
// banners between a run's steps. Made by the run driver before the world,
// which it observes for the whole run.
#pragma once

#include "model/DayObserver.h"

namespace soilweb {

class ConsoleReport : public DayObserver {
 public:
  // text (one or more lines) between two rules of '=', after an empty line.
  static void banner(const std::string& text);
  // The banner of a file written whole.
  static void fileSaved(const std::string& path);

  void stageReached(Stage stage) override;
  void speciesRead(const std::string& scientificName) override;
  void dayStarted(const World&, int day) override;
  void biomassMeasured(double biomass) override;
  void phaseEnded() override;
  void dayEnded(const World&, int day) override;
};

}  // namespace soilweb
