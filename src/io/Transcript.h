// The run's transcript on standard output, written through a buffer of its
// own that remembers why standard output could not be written (a reader gone,
// EPIPE; a full device, ENOSPC): a run whose transcript is lost ends like a
// stop, with a checkpoint and a record that says why, rather than running on
// unheard or dying of SIGPIPE. Installed once under std::cout by the run
// driver; lives to the end of the process.
#pragma once

#include <string>

namespace soilweb {

class Transcript {
 public:
  // Puts the transcript's buffer under std::cout (once; later calls do nothing).
  static void install();
  // Whether a write to standard output has failed.
  static bool failed();
  // "the transcript could not be written to standard output (REASON)"; "" while none failed.
  static std::string failure();
};

}  // namespace soilweb
