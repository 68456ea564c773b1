// Whole runs of the soilweb binary in scratch folders: what the run tests
// share (the bundled example with edits, a scratch folder that runs the
// binary and reads back its tree, readers of the files it writes).
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace wholerun {
inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline std::string shellQuote(const std::string& text) { return "'" + text + "'"; }

// The bundled example, shortened and renamed, with edits given as dotted
// paths; values are spliced in as JSON.
inline std::string exampleConfig(const std::map<std::string, std::string>& edits = {}) {
  std::string text = readFile(fs::path(SOILWEB_SOURCE_DIR) / "examples" / "run_params");
  auto set = [&](const std::string& key, const std::string& value) {
    const std::regex pattern("(\"" + key + "\"\\s*:\\s*)(\"[^\"]*\"|[^,\\n}]+)");
    std::smatch match;
    if (std::regex_search(text, match, pattern))
      text.replace(static_cast<std::size_t>(match.position(2)), static_cast<std::size_t>(match.length(2)), value);
  };
  set("simulationName", "\"run1\"");
  set("days", "12");
  set("worldLength", "10");
  set("initialPopulation", "120");
  for (const auto& [key, value] : edits) set(key, value);
  return text;
}

struct Outcome {
  int status = -1;
  std::string out, err;  // err without the closing line
  std::string closing;   // the closing line of a run that started its days, "" when there was none
};

// Standard error as the run wrote it: the closing line, when the run has one,
// is split from what came before it.
inline void splitClosingLine(const std::string& err, Outcome& result) {
  static const std::regex closing(
      "soilweb: (completed|extinct \\([^)]*\\)|stopped by SIG[A-Z]+|failed)( with non-finite values)?"
      "( \\(SIG[A-Z]+ came after the last day: the closing files were finished\\))?: [^\n]*\n$");
  const std::size_t start = err.empty() ? 0 : err.rfind('\n', err.size() - 2) + 1;
  result.err = err;
  if (std::regex_match(err.substr(start), closing)) {
    result.closing = err.substr(start);
    result.err.resize(start);
  }
}

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/soilweb-run-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~Scratch() { fs::remove_all(path); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Runs the binary here with args; config, when given, is written as run_params.
  Outcome run(const std::string& config, const std::string& args = "", const std::string& prefix = "") const {
    if (!config.empty()) writeFile(path / "run_params", config);
    const std::string command = prefix + "cd " + shellQuote(path) + " && " + shellQuote(SOILWEB_BINARY) + " " + args +
                                " >stdout.txt 2>stderr.txt";
    Outcome result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readFile(path / "stdout.txt");
    splitClosingLine(readFile(path / "stderr.txt"), result);
    fs::remove(path / "stdout.txt");
    fs::remove(path / "stderr.txt");
    return result;
  }

  // Every file under the run folder but soilweb's own bookkeeping (its lock
  // and list of files written): relative path -> content.
  std::map<std::string, std::string> tree(const std::string& name = "run1") const {
    std::map<std::string, std::string> files;
    if (!fs::exists(path / name)) return files;
    for (auto it = fs::recursive_directory_iterator(path / name); it != fs::recursive_directory_iterator(); ++it) {
      if (it.depth() == 0 && it->path().filename() == ".soilweb")
        it.disable_recursion_pending();
      else if (it->is_regular_file())
        files[fs::relative(it->path(), path).string()] = readFile(it->path());
    }
    return files;
  }

  // The run's results: its tree without the record of the run, which holds
  // times, and without its checkpoint.
  std::map<std::string, std::string> results(const std::string& name = "run1") const {
    auto files = tree(name);
    files.erase(name + "/outputs/" + name + "_run_info.json");
    files.erase(name + "/checkpoint/" + name + "_checkpoint.bin");
    return files;
  }

  // Starts the binary here with args, in the background.
  pid_t start(const std::string& args, const std::string& prefix = "") const {
    const std::string command = prefix + "cd " + shellQuote(path) + " && exec " + shellQuote(SOILWEB_BINARY) + " " +
                                args + " >stdout.txt 2>stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  // Waits for a run started in the background: its status is the exit status,
  // or 128 + the signal that killed it.
  Outcome finish(pid_t pid) const {
    int raw = 0;
    waitpid(pid, &raw, 0);
    Outcome result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(path / "stdout.txt");
    splitClosingLine(readFile(path / "stderr.txt"), result);
    return result;
  }

  std::string file(const std::string& relative) const { return readFile(path / relative); }
  fs::path path;
};

inline std::vector<std::vector<std::string>> rowsOf(const std::string& tsv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(tsv);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string field; std::getline(cells, field, '\t');) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

const std::string RULE(60, '=');
inline std::string banner(const std::string& text) { return "\n" + RULE + "\n" + text + "\n" + RULE + "\n"; }
inline std::string saved(const std::string& path) { return banner("File \"" + path + "\" saved"); }
// The value of a top-level field of a run's record, as written.
inline std::string infoField(const std::string& info, const std::string& field) {
  std::smatch match;
  if (!std::regex_search(info, match, std::regex("\n  \"" + field + "\": ([^\n]*?),?\n"))) return "(absent)";
  return match[1];
}

inline std::string withoutSeed(const std::string& config) {
  return std::regex_replace(config, std::regex("\"seed\": *[0-9]+, *"), "");
}

// The "Running day" lines of a transcript for the days after day.
inline std::string daysAfter(const std::string& console, int day) {
  std::string lines;
  std::istringstream in(console);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Running day ", 0) == 0 && std::stoi(line.substr(12)) > day) lines += line + "\n";
  return lines;
}

}  // namespace wholerun

using namespace wholerun;
