// What a run says on standard error while it goes and when it ends: one line,
// rewritten in place after each day ("soilweb: day 12 of 200 ..."), with the
// living animals, the time since the start and the time left at this pace; and
// the closing line of the run (how it ended, the days run, the animals alive,
// the wall time, the warnings, where the results are). Made by the started
// run, which it observes from the first day to the last.
#pragma once

#include "model/DayObserver.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace soilweb {

class ProgressLine : public DayObserver {
 public:
  using Clock = std::chrono::steady_clock;

  // showing: rewrite the line each day (off: only the closing line is written);
  // underTranscript: the day's transcript line goes to the same screen, so the
  // line is taken away before each day and drawn again after it.
  ProgressLine(std::ostream& out, bool showing, bool underTranscript, int lastDay,
               Clock::time_point start = Clock::now());

  // Told before any other observer: the line goes before the day's transcript does.
  void dayStarted(const World&, int day) override;
  // The day is over, its lines written: the line is drawn (at most five times a second).
  void dayRun(const World& world, int day);
  // Takes the line away, before anything else is written.
  void clear();
  // The files written after the last day, in bytes: the time left counts them
  // at the pace such files are written.
  void expectClosing(std::uint64_t bytes) { closingBytes = bytes; }
  // The closing phase: "soilweb: writing the food-web matrices, 1.9 GB", in
  // place of the line when it is shown.
  void writing(const std::string& what);

  // The closing line, without the progress line: how is "completed", "extinct
  // (the prey died out)", "stopped by SIGINT" or "failed"; lastDay -1 when no
  // day ran; alive < 0 when unknown.
  void ended(const std::string& how, int daysRun, int lastDay, long alive, std::size_t warnings,
             const std::string& folder);

  bool isShowing() const { return showing; }

  static long livingAnimals(const World& world);
  // "0.42 s", "12.3 s", "4 min 05 s", "2 h 03 min".
  static std::string duration(double seconds);

 private:
  double secondsSinceStart() const;

  std::ostream& out;
  bool showing;
  bool underTranscript;
  int lastDay;
  Clock::time_point start;
  int firstDay = -1;      // the first day run in this process: the pace is measured from it
  bool shown = false;     // the line is on screen
  std::uint64_t closingBytes = 0;
  double lastShown = -1;  // seconds since start when the line was last written
};

}  // namespace soilweb
