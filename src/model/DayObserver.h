// What the world tells those who report on it: the stages of building it, each
// day's start, its phases and its end, and the removal of the dead. The world
// holds its observers without owning them; they report and write, and the
// world itself never touches a console or a file. Every operation does nothing
// unless an observer wants it.
#pragma once

#include <string>

namespace soilweb {

class World;

class DayObserver {
 public:
  virtual ~DayObserver() = default;

  enum class Stage { READING, BUILDING, FOUNDING };  // reading species, making the ring, placing founders
  virtual void stageReached(Stage) {}
  // A species entry was read; its name as run_params writes it.
  virtual void speciesRead(const std::string& /*name*/) {}

  // The day is about to run: the animals are as the previous day left them.
  virtual void dayStarted(const World&, int /*day*/) {}
  // The soil's total before the day's top-up and growth.
  virtual void biomassMeasured(double) {}
  // One step of the day is over: the soil's, then each animal phase's.
  virtual void phaseEnded() {}
  // Every phase has run; the world may have died out.
  virtual void dayEnded(const World&, int /*day*/) {}

  // The dead were removed, and nothing else changed.
  virtual void deadPurged() {}
};

}  // namespace soilweb
