// soilweb: an individual-based simulation of a soil food web. The entry point
// parses the command line and hands the run to the run driver.
#include "core/ConfigurationKeys.h"
#include "output/ResultSchema.h"
#include "output/RunInfo.h"
#include "run/RunDriver.h"
#include "run/StartingConfiguration.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

using namespace soilweb;

namespace {
const char* USAGE = "usage: soilweb [OPTIONS] [CONFIG]";

const char* FOOTER =
    "Results go under a folder named after simulation.outputs.simulationName (in the working\n"
    "directory, or in --output-dir): outputs/ (daily summary, food-web matrices, run_info.json),\n"
    "animals_each_day_start/, animals_each_day_end/ and cells/ (daily snapshots). The transcript goes to\n"
    "standard output; warnings, errors, the progress line and the closing line (how the run ended,\n"
    "days run, animals alive, wall time, warnings, where the results are) to standard error.\n\n"
    "Exit status: 0 success (also when the animals died out early: a note says so); 1 configuration\n"
    "error, an output folder that exists, is in use by another soilweb or cannot be written, an output\n"
    "file that could not be written, a full disk or file-size limit, a transcript that could not be\n"
    "written (a closed pipe: the run stops with a checkpoint), out of memory, or a checkpoint that\n"
    "cannot be resumed; 2 bad command line; 130, 143 or 129 stopped by SIGINT, SIGTERM or SIGHUP (every file\n"
    "written so far is complete, and a checkpoint of the last day run lets --resume carry the run\n"
    "on); 255 internal failure (thread start).";

// Prints text; 0 when it reached standard output, else one line says why
// not (a full disk, a file-size limit, a closed output) and the status is 1.
int print(const std::string& text) {
  errno = 0;
  std::cout << text << std::flush;
  if (std::cout.good()) return 0;
  const int reason = errno;
  std::cerr << "soilweb: cannot write to standard output" << (reason ? std::string(": ") + std::strerror(reason) : "")
            << std::endl;
  return 1;
}

int usageError(const std::string& problem) {
  std::cerr << "soilweb: " << problem << "\n" << USAGE << std::endl;
  return 2;
}

// What the command line may say, and where each option lands.
struct CommandLine {
  CLI::App app{"Runs the soil food-web simulation configured in CONFIG, a JSON file.", "soilweb"};
  RunOptions options;
  long seed = 0;
  long checkpointEvery = 0;
  bool listKeys = false;
  bool schema = false;
  bool version = false;
  std::vector<std::string> init;  // [daily|tables] [FILE]
  CLI::Option* initGiven = nullptr;
  CLI::Option* config = nullptr;
  CLI::Option* seedGiven = nullptr;
  CLI::Option* checkpointGiven = nullptr;
  CLI::Option* progressGiven = nullptr;

  CommandLine() {
    config = app.add_option("CONFIG", options.configPath,
                            "the configuration (default: ./run_params; with --resume, the one in the run's record)");
    seedGiven = app.add_option("--seed", seed, "seed of the run, overriding simulation.seed");
    app.add_option("--set", options.settings,
                   "set a configuration key, e.g. --set simulation.days=50 or\n"
                   "--set world.life.animals.1.initialPopulation=20 (repeatable; the\n"
                   "value is read as JSON, else as text)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
    app.add_option("--output-dir", options.outputDirectory, "put the run's folder in DIR (created when missing)")
        ->type_name("DIR");
    auto* overwrite =
        app.add_flag("--overwrite", options.overwrite, "replace the files of an earlier run of the same name");
    app.add_option("--resume", options.resume,
                   "carry on the stopped run in FOLDER (NAME, or DIR/NAME) from its checkpoint, with the\n"
                   "configuration in its record (or CONFIG and --set: those the run started with)")
        ->type_name("FOLDER")
        ->excludes(overwrite)
        ->excludes("--output-dir");
    checkpointGiven = app.add_option("--checkpoint-every", checkpointEvery,
                                     "write a checkpoint after every K days (overrides simulation.checkpointEvery)")
                          ->type_name("K");
    app.add_flag("--strict", options.strict, "refuse the configuration on any warning");
    app.add_flag("--check", options.check,
                 "read and check the configuration (with --set and --seed), print its warnings and errors,\n"
                 "write nothing; exit status 0 when it can be run")
        ->excludes("--resume");
    progressGiven = app.add_flag("--progress,!--no-progress", options.progress,
                                 "show day D of N, the living animals and the time left on standard error, in\n"
                                 "one line rewritten after each day (default: on when standard error is a\n"
                                 "terminal); standard output is the same either way");
    app.add_option("--record-path", options.recordPathFile,
                   "once the run's folder is made, write the absolute path of its record\n"
                   "(NAME/outputs/NAME_run_info.json) to FILE, nothing else: how a program finds the run")
        ->type_name("FILE")
        ->excludes("--check");
    app.add_flag("--force-size", options.forceSize,
                 "run even when the run's size estimate is more than the free space of its folder's disk");
    app.add_flag("--list-keys", listKeys, "print every configuration key soilweb reads, as JSON");
    initGiven = app.add_option("--init", init,
                               "write a starting configuration, every key commented, to FILE (default:\n"
                               "./run_params; never replaces a file): the bundled example, or with 'tables'\n"
                               "the example in the tables layout")
                    ->type_name("[tables] [FILE]")
                    ->expected(0, 2);
    app.add_flag("--schema", schema, "print every result file and column (type, unit, meaning), as JSON");
    app.add_flag("--version", version, "print the version and the commit it was built from");
    app.footer(FOOTER);
    app.allow_extras();
  }

  // "; did you mean '--seed'?" for a slip such as --sed, "" when no option is near.
  std::string optionMeant(const std::string& given) const {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
      for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    const std::string hint = ConfigurationKeys::didYouMean("", given.substr(0, given.find('=')), names);
    return hint.empty() ? "" : "; " + hint;
  }

  // Parses argv; an exit status when the command is done (help, a bad command line), else -1.
  int parse(int argc, char** argv) {
    for (int k = 0; k < argc; ++k) options.commandLine.push_back(argv[k]);
    try {
      app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
      return print(app.help());
    } catch (const CLI::ParseError& e) {
      return usageError(e.what());
    }
    if (!app.remaining().empty()) {
      const std::string extra = app.remaining().front();
      return usageError(!extra.empty() && extra[0] == '-' ? "unknown option '" + extra + "'" + optionMeant(extra)
                                                          : "unexpected argument '" + extra + "'");
    }
    options.configGiven = config->count() > 0;
    if (seedGiven->count() > 0) options.seed = seed;
    if (checkpointGiven->count() > 0) options.checkpointEvery = checkpointEvery;
    if (progressGiven->count() == 0) options.progress = isatty(STDERR_FILENO) == 1;
    return -1;
  }
};
// --init [daily|tables] [FILE]: the layout word first, when given.
int writeStartingConfiguration(const std::vector<std::string>& words) {
  std::string layout = "daily";
  std::string path = "run_params";
  std::vector<std::string> given;
  for (const auto& word : words)
    if (!word.empty()) given.push_back(word);
  std::size_t next = 0;
  if (next < given.size() && (given[next] == "daily" || given[next] == "tables")) layout = given[next++];
  if (next < given.size()) path = given[next++];
  if (next < given.size()) return usageError("--init takes at most a layout (daily or tables) and a FILE");
  if (path == "-") {  // as most commands read a file named '-': standard output
    return print(StartingConfiguration::text(layout));
  }
  try {
    StartingConfiguration::write(path, layout);
  } catch (const std::exception& e) {
    std::cerr << "soilweb: " << e.what() << std::endl;
    return 1;
  }
  return print("soilweb: wrote " + path + " (the bundled example" + (layout == "tables" ? " in the tables layout" : "") +
               ", every key commented); run it with: soilweb " + path + "\n");
}

// Parses the command line, then prints what was asked for or runs.
int runCommand(int argc, char** argv) {
  // Grow the heap 64 MiB at a time: a run allocates and frees its animals and
  // its day files all the time, and each smaller growth costs a system call
  // and fresh pages (about a tenth of the wall time of a purged run).
  // Not under a tight limit of address space, where every growth of that
  // size would fail and memory run out long before it is used.
  if (struct rlimit space;
      getrlimit(RLIMIT_AS, &space) != 0 || space.rlim_cur == RLIM_INFINITY || space.rlim_cur >= (rlim_t(1) << 30))
    mallopt(M_TOP_PAD, 64 << 20);
  // A file-size limit is a write error to report, not a death that leaves a file cut short.
  std::signal(SIGXFSZ, SIG_IGN);
  CommandLine command;
  if (const int status = command.parse(argc, argv); status >= 0) return status;
  if (command.version) {
    return print("soilweb " + RunInfo::version() + "\n");
  }
  if (command.initGiven->count() > 0) return writeStartingConfiguration(command.init);
  if (command.listKeys) {
    return print(ConfigurationKeys::json());
  }
  if (command.schema) {
    return print(ResultSchema::json());
  }
  return RunDriver::run(command.options);
}
}  // namespace

int main(int argc, char** argv) {
  try {
    return runCommand(argc, argv);
  } catch (const std::exception& e) {  // what the run itself does not catch: one line, never a crash
    std::cerr << "soilweb: " << e.what() << std::endl;
    return 1;
  }
}
