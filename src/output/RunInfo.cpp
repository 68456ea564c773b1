#include "output/RunInfo.h"

#include "core/Configuration.h"
#include "core/GlobalFunctions.h"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <ctime>

namespace soilweb {

#ifndef SOILWEB_COMMIT
#define SOILWEB_COMMIT "unknown"
#endif

namespace {
std::string isoTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string hostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}
}  // namespace

std::string RunInfo::version() { return std::string(SOILWEB_VERSION) + " (commit " + SOILWEB_COMMIT + ")"; }

RunInfo::RunInfo() : startMicros(get_timestamp()), startTime(isoTimeNow()), host(hostName()) {}

void RunInfo::finish(const std::string& how, int exit) {
  status = how;
  exitStatus = exit;
  endMicros = get_timestamp();
  endTime = isoTimeNow();
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) == 0) peakMemoryBytes = usage.ru_maxrss * 1024L;
}

std::string RunInfo::json() const {
  std::string out = "{\n";
  auto field = [&](const char* name, const std::string& value) {
    out += "  \"" + std::string(name) + "\": " + value + ",\n";
  };
  auto number = [](double x) {
    std::string text;
    appendDouble(text, x);
    return text;
  };
  auto list = [&](const std::vector<std::string>& items) {
    std::string text = "[";
    for (std::size_t k = 0; k < items.size(); ++k) text += (k ? ", " : "") + jsonQuoted(items[k]);
    return text + "]";
  };
  const bool ended = status != "running";
  field("status", jsonQuoted(status));
  if (status == "extinct") field("died_out", jsonQuoted(diedOut));
  if (status == "stopped") field("signal", jsonQuoted(signal));
  if (status == "failed") field("error", jsonQuoted(error));
  field("exit_status", ended ? std::to_string(exitStatus) : "null");
  field("seed", std::to_string(seed));
  field("seed_source", jsonQuoted(seedSource));
  field("soilweb_version", jsonQuoted(SOILWEB_VERSION));
  field("commit", jsonQuoted(SOILWEB_COMMIT));
  field("command_line", list(commandLine));
  field("working_directory", jsonQuoted(workingDirectory));
  field("configuration_file", jsonQuoted(configurationFile));
  field("host", jsonQuoted(host));
  field("start_time", jsonQuoted(startTime));
  field("end_time", ended ? jsonQuoted(endTime) : "null");
  field("wall_time_seconds", ended ? number(static_cast<double>(endMicros - startMicros) / 1e6) : "null");
  field("peak_memory_bytes", ended ? std::to_string(peakMemoryBytes) : "null");
  field("last_day_configured", std::to_string(lastDayConfigured));
  field("resumed_from_day", resumedFromDay < 0 ? "null" : std::to_string(resumedFromDay));
  field("days_run", std::to_string(daysRun));
  field("last_day", lastDay < 0 ? "null" : std::to_string(lastDay));
  if (ended) {
    auto day = [](int d) { return d < -1 ? std::string("null") : std::to_string(d); };
    field("died_out_days", "{\"resource\": " + day(goneAfterDay[0]) + ", \"prey\": " + day(goneAfterDay[1]) +
                               ", \"predators\": " + day(goneAfterDay[2]) + "}");
  }
  field("warnings", list(warnings));
  out += "  \"configuration\": ";
  if (configuration)
    out += Configuration::json(*configuration, "  ");
  else
    out += "null";
  return out + "\n}\n";
}

}  // namespace soilweb
