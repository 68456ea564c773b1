#include "run/StopSignals.h"

#include "model/World.h"

#include <csignal>
#include <cstdlib>
#include <new>

#include <unistd.h>

namespace soilweb {

namespace {
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal) { stopSignal = signal; }

// Standard output becomes a pipe whose reader has gone, as when `| head -1` has read its line.
void readerGone() {
  int ends[2];
  if (::pipe(ends) != 0) return;
  ::close(ends[0]);
  ::dup2(ends[1], STDOUT_FILENO);
  ::close(ends[1]);
}
}  // namespace

void StopSignals::catchFromNow() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A closed pipe and a file-size limit are write errors (EPIPE, EFBIG) that
  // the run reports and records, not deaths that leave it half written.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

int StopSignals::received() { return stopSignal; }

const char* StopSignals::name(int signal) {
  return signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM";
}

void StopSignals::reach(const std::string& phase, int day) {
  static const std::string hook = [] {
    const char* given = std::getenv("SOILWEB_TEST_AT");
    return std::string(given ? given : "");
  }();
  if (hook.empty()) return;
  const auto colon = hook.rfind(':');
  const std::string where = hook.substr(0, colon), action = hook.substr(colon + 1);
  const auto at = where.find('@');
  if (where.substr(0, at) != phase) return;
  if (at != std::string::npos && std::atoi(where.c_str() + at + 1) != day) return;
  if (action == "oom") throw std::bad_alloc();
  if (action.rfind("budget=", 0) == 0) {
    World::MEMORY_BUDGET = std::atof(action.c_str() + 7);
    return;
  }
  if (action == "PIPE") return readerGone();
  raise(action == "INT"    ? SIGINT
        : action == "HUP"  ? SIGHUP
        : action == "KILL" ? SIGKILL
        : action == "STOP" ? SIGSTOP
                           : SIGTERM);
}

}  // namespace soilweb
