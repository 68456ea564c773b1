// The stop requests of a run: SIGINT, SIGTERM and SIGHUP, caught from the
// start of a run to its exit, so that no stop leaves a file half written or a
// record that says the run is still going. The run stops before its next day,
// or finishes its closing files when every day has run. Also the tests' hook
// that stops or fails a run at a chosen moment. Process-wide; no instances.
#pragma once

#include <string>

namespace soilweb {

class StopSignals {
 public:
  static void catchFromNow();
  // The signal that asked the run to stop, 0 while none has.
  static int received();
  // "SIGINT", "SIGTERM" or "SIGHUP".
  static const char* name(int signal);

  // For the tests, which must stop or fail a run at a chosen moment without
  // depending on timing: SOILWEB_TEST_AT="PHASE[@DAY]:ACTION" raises SIGINT,
  // SIGTERM, SIGHUP, SIGKILL or SIGSTOP (ACTION INT, TERM, HUP, KILL, STOP),
  // runs out of memory (oom), sets the memory a run may use to N bytes
  // (budget=N), or makes standard output a pipe whose reader
  // has gone (PIPE), when the run reaches PHASE: configuration
  // (a configuration or record parsed), started (the record written, before day 0), day (after the day's summary line
  // and checkpoint), closing (every day run, before the food-web files), matrices (their text handed over, before they
  // are whole) or record (before the last record).
  static void reach(const std::string& phase, int day = -1);
};

}  // namespace soilweb
