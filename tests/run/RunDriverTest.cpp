// Whole runs of the binary: the transcript and tree, the command line, configuration errors,
// unwritable places, memory, earlier runs, warnings, extinction and progress.
#include "WholeRunFixtures.h"

#include <cmath>
#include <numeric>

#include <pty.h>
#include <sys/stat.h>

TEST(WholeRun, PrintsTheTranscriptAndWritesTheWholeTree) {
  Scratch here;
  const Outcome run = here.run(exampleConfig({{"days", "2"}}));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // The closing line counts the animals the last summary line counts as living.
  std::smatch alive;
  ASSERT_TRUE(std::regex_match(run.closing, alive,
                               std::regex("soilweb: completed: day 2 of 2 reached, 3 days run; ([0-9]+) animals alive; "
                                          "[0-9.]+ s; no warnings; results in run1\n")))
      << run.closing;
  const auto lastDay = rowsOf(here.file("run1/outputs/run1_summary.txt"));
  long living = 0;
  for (std::size_t k = 0; k < lastDay[0].size(); ++k)
    if (std::regex_match(lastDay[0][k], std::regex("(PREY|PREDATOR)_(UNBORN|ACTIVE|REPRODUCING)")))
      living += std::stol(lastDay.back()[k]);
  EXPECT_EQ(std::to_string(living), alive[1].str());
  const std::string opening = banner("Reading configuration ...") + banner("Configuration Read            ") +
                              "Initializing...\nRead Animal Species. Scientific name: prey\n"
                              "Read Animal Species. Scientific name: predator\nBuilding the world...\n"
                              "Giving life to animals...\n\n";
  EXPECT_EQ(run.out.substr(0, opening.size()), opening);
  const std::regex days("(Running day [0-2] - Total biomass: [0-9.e+]+ \\.{9} finished\\.\n){3}");
  const std::string closing = saved("run1/outputs/run1_summary.txt") + saved("run1/outputs/run1_encounters.txt") +
                              saved("run1/outputs/run1_predations.txt") + saved("run1/outputs/run1_nodes.txt");
  const std::string rest = run.out.substr(opening.size());
  const auto daysEnd = rest.find("\n\n");
  EXPECT_TRUE(std::regex_match(rest.substr(0, daysEnd + 1), days)) << rest;
  EXPECT_TRUE(std::regex_match(rest.substr(daysEnd + 1), std::regex(closing + "Time: [0-9.e-]+ secs\\.\n")))
      << rest.substr(daysEnd + 1);

  const auto files = here.tree();
  EXPECT_EQ(files.size(), 5u + 3 * 3);
  EXPECT_EQ(files.count("run1/outputs/run1_run_info.json"), 1u);
  for (int day = 0; day < 3; ++day)
    for (const char* f : {"run1/animals_each_day_start/run1_animals_day_",
                          "run1/animals_each_day_end/run1_animals_day_", "run1/cells/run1_cells_day_"})
      EXPECT_EQ(files.count(std::string(f) + std::to_string(day) + ".txt"), 1u) << f << day;
  const auto summary = rowsOf(files.at("run1/outputs/run1_summary.txt"));
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(summary[0].size(), 15u);
  EXPECT_EQ(summary[0][14], "PREDATOR_SENESCED");
  EXPECT_EQ(summary[3][0], "2");
}

TEST(WholeRun, NegativeAndZeroDays) {
  Scratch none, one;
  ASSERT_EQ(none.run(exampleConfig({{"days", "-1"}})).status, 0);
  EXPECT_EQ(rowsOf(none.file("run1/outputs/run1_summary.txt")).size(), 1u);
  EXPECT_EQ(none.results().size(), 4u);
  ASSERT_EQ(one.run(exampleConfig({{"days", "0"}})).status, 0);
  EXPECT_EQ(rowsOf(one.file("run1/outputs/run1_summary.txt")).size(), 2u);
  EXPECT_EQ(one.results().size(), 4u + 3);
}

TEST(WholeRun, AWorldExtinctAtTheStartRunsNoDay) {
  Scratch here;
  std::string config = exampleConfig();
  config.replace(config.find("\"initialPopulation\": 40"), 23, "\"initialPopulation\": 0");
  const Outcome run = here.run(config);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find("Running day"), std::string::npos);
  EXPECT_EQ(rowsOf(here.file("run1/outputs/run1_summary.txt")).size(), 1u);
}

TEST(WholeRun, ConfigurationErrorsLeaveNoOutputTree) {
  struct Case {
    std::string config;
    std::string error;
  };
  std::string missingDays = exampleConfig();
  missingDays.replace(missingDays.find("\"days\""), 6, "\"dayz\"");
  std::string badPurge = exampleConfig({{"purgeDeadAnimals", "\"no\""}});
  // Reported in the order a run reads them: the world's keys before the purge switch.
  std::string twoMissing = exampleConfig();
  twoMissing.replace(twoMissing.find("\"purgeDeadAnimals\""), 18, "\"purgeDead\"");
  twoMissing.replace(twoMissing.find("\"minCarryingCapacity\""), 21, "\"minCapacity\"");
  std::string missingMatrix = exampleConfig();
  missingMatrix.replace(missingMatrix.find("\"nodesMatrixFilename\""), 21, "\"nodesFilename\"");
  const std::vector<Case> cases = {
      {missingDays,
       "soilweb: run_params: missing key 'simulation.days'; the file has 'simulation.dayz': did you mean "
       "'simulation.days'?\n"},
      {badPurge, "soilweb: run_params: 'simulation.purgeDeadAnimals' must be a whole number, got 'no'\n"},
      {missingMatrix, "soilweb: run_params: missing key 'simulation.outputs.nodesMatrixFilename'\n"},
      {twoMissing, "soilweb: run_params: missing key 'world.soil.minCarryingCapacity'\n"},
      {exampleConfig({{"seed", "\"12ab\""}}),
       "soilweb: run_params: 'simulation.seed' must be a whole number, got '12ab'\n"},
      {"{\"simulation\": ", "soilweb: run_params: malformed JSON at line 1: expected value\n"},
  };
  for (const auto& c : cases) {
    Scratch here;
    const Outcome run = here.run(c.config);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.error);
    EXPECT_FALSE(fs::exists(here.path / "run1"));
  }
  Scratch empty;
  const Outcome run = empty.run("");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "soilweb: cannot read run_params: No such file or directory\n");
}

// A run folder that cannot be made or written is reported before day 0, in
// one line naming the path and the system's reason, and nothing is run.
TEST(WholeRun, UnwritableLocationsAreReportedBeforeDayZero) {
  auto expectRefused = [](const Outcome& run, const std::string& error) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, error);
    EXPECT_EQ(run.out.find("Running day"), std::string::npos);
    EXPECT_EQ(run.out.find("saved"), std::string::npos);
  };
  Scratch here;
  writeFile(here.path / "run1", "a file where the run folder belongs");
  expectRefused(here.run(exampleConfig()), "soilweb: run folder 'run1' is not a folder\n");

  Scratch blocked;
  ASSERT_EQ(blocked.run(exampleConfig({{"days", "0"}})).status, 0);
  fs::remove_all(blocked.path / "run1/cells");
  writeFile(blocked.path / "run1/cells", "not a folder");
  expectRefused(blocked.run(exampleConfig({{"days", "1"}}), "--overwrite"), "soilweb: 'run1/cells' is not a folder\n");
  EXPECT_TRUE(fs::exists(blocked.path / "run1/outputs/run1_summary.txt")) << "refused before the earlier run is removed";

  Scratch elsewhere;
  writeFile(elsewhere.path / "afile", "a file where a parent folder belongs");
  expectRefused(elsewhere.run(exampleConfig(), "--output-dir afile/such/parent"),
                "soilweb: cannot create output folder 'afile': Not a directory\n");

  // Nothing can be created in /proc, whoever runs the test.
  Scratch proc;
  writeFile(proc.path / "run_params", exampleConfig({{"days", "2"}}));
  expectRefused(proc.run("", shellQuote((proc.path / "run_params").string()) + " --output-dir /proc"),
                "soilweb: cannot create output folder '/proc/run1': No such file or directory\n");
}

// --init writes a configuration that runs as the bundled example does (its
// comments read as comments), and never replaces a file.
TEST(WholeRun, InitWritesACommentedExampleThatRunsAsTheExample) {
  Scratch commented, bundled;
  const Outcome init = commented.run("", "--init");
  ASSERT_EQ(init.status, 0) << init.err;
  EXPECT_EQ(init.out, "soilweb: wrote run_params (the bundled example, every key commented); run it with: soilweb "
                      "run_params\n");
  const std::string written = readFile(commented.path / "run_params");
  EXPECT_NE(written.find("\"//days\": \"number of the last day"), std::string::npos);
  EXPECT_NE(written.find("\"//stopWhen\": \"not set here; optional: "), std::string::npos);
  const Outcome again = commented.run("", "--init");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "soilweb: --init: 'run_params' already exists; nothing was written\n");
  EXPECT_EQ(readFile(commented.path / "run_params"), written);

  const std::string setDays = " --set simulation.days=5";
  const Outcome fromInit = commented.run("", setDays);
  ASSERT_EQ(fromInit.status, 0) << fromInit.err;
  EXPECT_EQ(fromInit.err, "");
  ASSERT_EQ(bundled.run(readFile(fs::path(SOILWEB_SOURCE_DIR) / "examples" / "run_params"), setDays).status, 0);
  EXPECT_EQ(commented.results("example"), bundled.results("example"));

  EXPECT_EQ(commented.run("", "--init tables tables.json").status, 0);
  EXPECT_NE(readFile(commented.path / "tables.json").find("\"layout\": \"tables\""), std::string::npos);
  EXPECT_EQ(commented.run("", "--init tables a.json b.json").status, 2);
}

TEST(WholeRun, CommandLine) {
  Scratch here;
  const Outcome help = here.run("", "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: soilweb [OPTIONS] [CONFIG]\n"), std::string::npos);
  for (const char* option : {"--seed", "--set", "--output-dir", "--overwrite", "--strict", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const Outcome version = here.run("", "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("soilweb [0-9]+\\.[0-9]+\\.[0-9]+ \\(commit [0-9a-z-]+\\)\n")));
  const Outcome unknown = here.run("", "--fast");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "soilweb: unknown option '--fast'\nusage: soilweb [OPTIONS] [CONFIG]\n");
  EXPECT_EQ(here.run("", "--sed 5").err,
            "soilweb: unknown option '--sed'; did you mean '--seed'?\nusage: soilweb [OPTIONS] [CONFIG]\n");
  EXPECT_EQ(here.run("", "--seed twelve").status, 2);
  EXPECT_EQ(here.run("", "a b").err, "soilweb: unexpected argument 'b'\nusage: soilweb [OPTIONS] [CONFIG]\n");
  writeFile(here.path / "run_params", exampleConfig({{"days", "0"}}));
  for (const auto& [setting, error] :
       {std::make_pair(std::string("simulation.temperatur=3"),
                       std::string("--set simulation.temperatur: no such key in the configuration; did you mean "
                                   "'simulation.temperature'?")),
        std::make_pair(std::string("simulation.days"), std::string("--set simulation.days: expected KEY=VALUE"))}) {
    const Outcome refused = here.run("", "--set " + setting);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "soilweb: " + error + "\n");
    EXPECT_FALSE(fs::exists(here.path / "run1"));
  }

  writeFile(here.path / "other.json", exampleConfig({{"days", "0"}}));
  const Outcome named = here.run("", "other.json");
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_TRUE(fs::exists(here.path / "run1/outputs/run1_summary.txt"));
  const Outcome missing = here.run("", "nowhere.json");
  EXPECT_EQ(missing.err, "soilweb: cannot read nowhere.json: No such file or directory\n");
  const Outcome folder = here.run("", "run1");
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "soilweb: cannot read run1: Is a directory\n");
}

TEST(WholeRun, HugeButValidNumbersEndInAClearError) {
  std::string population = exampleConfig();
  population.replace(population.find("\"initialPopulation\": 40"), 23, "\"initialPopulation\": 4000000000");
  std::string loci = exampleConfig();
  loci.replace(loci.find("\"numberOfLoci\": 10"), 18, "\"numberOfLoci\": 1000000000");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {population,
       "soilweb: run_params: the world would need about 4321.34 GiB of memory at the start, more than the 8 GiB "
       "allowed (check simulation.worldLength, initialPopulation and numberOfLoci)\n"},
      {exampleConfig({{"worldLength", "2000000000"}}),
       "soilweb: run_params: the world would need about 745.058 GiB of memory at the start, more than the 8 GiB "
       "allowed "
       "(check simulation.worldLength, initialPopulation and numberOfLoci)\n"},
      {loci,
       "soilweb: run_params: 'world.life.animals[0].genetics.numberOfAlleles' with numberOfLoci 1000000000 would "
       "need about 89.407 GiB of allele pools, more than the 8 GiB allowed\n"},
  };
  for (const auto& [config, error] : cases) {
    Scratch here;
    const Outcome run = here.run(config);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, error);
    EXPECT_FALSE(fs::exists(here.path / "run1"));
  }
}

TEST(WholeRun, RunningOutOfMemoryWhileBuildingIsReported) {
#if defined(SOILWEB_SANITIZED)
  GTEST_SKIP() << "sanitizers need more address space than the limit set here";
#endif
  Scratch here;
  std::string config = exampleConfig();
  config.replace(config.find("\"initialPopulation\": 40"), 23, "\"initialPopulation\": 1500000");
  // Within the memory the configuration may ask for, but not within a 1 GiB address-space limit.
  const Outcome run = here.run(config, "", "ulimit -v 1048576; ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "soilweb: run_params: out of memory while building the world (check worldLength, initialPopulation and "
            "numberOfLoci)\n");
  EXPECT_FALSE(fs::exists(here.path / "run1"));
}

// A second run never mixes its files with an earlier one; --overwrite removes
// the earlier run's files and nothing else.
TEST(WholeRun, AnEarlierRunIsRefusedOrReplacedWhole) {
  Scratch here;
  ASSERT_EQ(here.run(exampleConfig({{"days", "6"}})).status, 0);
  const auto earlier = here.tree();
  const Outcome refused = here.run(exampleConfig({{"days", "2"}}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "soilweb: output folder 'run1' already exists; remove it, change simulation.outputs.simulationName or pass "
            "--overwrite\n");
  EXPECT_TRUE(here.tree() == earlier);

  // The user's files stay, even when named like the run's, and are named.
  writeFile(here.path / "run1/outputs/notes.txt", "mine");
  writeFile(here.path / "run1/outputs/run1_my_notes.txt", "mine too");
  fs::create_directories(here.path / "run1/plots");
  writeFile(here.path / "run1/plots/run1_dynamics.png", "a figure");
  const Outcome replaced = here.run(exampleConfig({{"days", "2"}}), "--overwrite");
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(replaced.err,
            "soilweb: --overwrite kept 3 files soilweb did not write: run1/outputs/notes.txt, "
            "run1/outputs/run1_my_notes.txt, run1/plots/run1_dynamics.png\n");
  const auto files = here.tree();
  EXPECT_EQ(files.count("run1/cells/run1_cells_day_3.txt"), 0u) << "no day of the earlier run is left";
  EXPECT_EQ(files.count("run1/cells/run1_cells_day_2.txt"), 1u);
  EXPECT_EQ(files.at("run1/outputs/notes.txt"), "mine");
  EXPECT_EQ(files.at("run1/plots/run1_dynamics.png"), "a figure");
  EXPECT_EQ(files.size(), 5u + 3 * 3 + 3);

  // A folder soilweb has no list for is never cleared.
  Scratch foreign;
  fs::create_directories(foreign.path / "run1");
  writeFile(foreign.path / "run1/data.txt", "someone's");
  const Outcome unlisted = foreign.run(exampleConfig({{"days", "2"}}), "--overwrite");
  EXPECT_EQ(unlisted.status, 1);
  EXPECT_EQ(
      unlisted.err,
      "soilweb: --overwrite: output folder 'run1' holds no list of the files a soilweb run wrote there (it was made "
      "by hand, by another program or by an older soilweb), so nothing in it is removed; remove it yourself or "
      "change simulation.outputs.simulationName\n");
  EXPECT_EQ(foreign.file("run1/data.txt"), "someone's");
}

// Values read leniently keep their value but never pass unremarked; unknown
// keys are named; --strict refuses both before anything is written. A key a
// slip away from one soilweb reads is refused, naming the key meant: the run
// would otherwise go on without what it asks for.
TEST(WholeRun, MisreadValuesAndUnknownKeysAreWarnedAboutOrRefused) {
  std::string config = exampleConfig({{"days", "1e1"}, {"temperature", "\"20,5\""}});
  config.replace(config.find("\"huntingMode\""), 0, "\"colour\": \"red\", ");
  std::string misspelt = config;
  misspelt.replace(misspelt.find("\"seed\""), 6, "\"Seed\"");
  Scratch here, strict;
  const Outcome run = here.run(config);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string warnings =
      "soilweb: run_params: warning: 'simulation.temperature' is \"20,5\"; read as 20\n"
      "soilweb: run_params: warning: 'simulation.days' is \"1e1\"; read as 1\n"
      "soilweb: run_params: warning: unknown key 'world.life.animals[0].colour' (ignored)\n";
  EXPECT_EQ(run.err, warnings);
  EXPECT_EQ(
      infoField(here.file("run1/outputs/run1_run_info.json"), "warnings"),
      "[\"'simulation.temperature' is \\\"20,5\\\"; read as 20\", \"'simulation.days' is \\\"1e1\\\"; read as 1\", "
      "\"unknown key 'world.life.animals[0].colour' (ignored)\"]");
  EXPECT_EQ(rowsOf(here.file("run1/outputs/run1_summary.txt")).size(), 3u);

  const Outcome refused = strict.run(config, "--strict");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, std::regex_replace(warnings, std::regex(": warning: "), ": error (--strict): "));
  EXPECT_FALSE(fs::exists(strict.path / "run1"));
  EXPECT_EQ(strict.run(exampleConfig(), "--strict").status, 0) << "the bundled example is clean";

  Scratch slip;
  const Outcome nearMiss = slip.run(misspelt);
  EXPECT_EQ(nearMiss.status, 1);
  EXPECT_NE(nearMiss.err.find("soilweb: run_params: warning: unknown key 'world.life.animals[0].colour' (ignored)"),
            std::string::npos);
  EXPECT_NE(nearMiss.err.find("soilweb: run_params: unknown key 'simulation.Seed'; did you mean 'simulation.seed'?\n"),
            std::string::npos)
      << nearMiss.err;
  EXPECT_FALSE(fs::exists(slip.path / "run1"));
}

// A search area that became infinite allows no step instead of 2^31 of them
// (which took minutes a day), and the configuration is warned about.
TEST(WholeRun, InfiniteTraitsCostNoSteps) {
  std::string config = exampleConfig({{"days", "6"}});
  for (const char* limit : {"\"minTraitLimits\"", "\"maxTraitLimits\""})
    for (std::size_t at = config.find(limit); at != std::string::npos; at = config.find(limit, at + 1)) {
      const auto value = config.find("\"search_area\": ", at) + 15;
      config.replace(value, config.find_first_of(",\n}", value) - value, "0.5");
    }
  Scratch here;
  // A CPU-time bound far above what six days need once no step is taken.
  const Outcome run = here.run(config, "", "ulimit -t 60; ");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: 'world.life.animals[1].minTraitLimits.search_area' equals its maxTraitLimits (0.5): "
                         "the trait search_area of every predator is infinite or NaN from its first day\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(rowsOf(here.file("run1/outputs/run1_summary.txt")).size(), 8u);

  Scratch other;
  const Outcome causes = other.run(exampleConfig({{"days", "-1"}}),
                                   "--set simulation.maxTemperature=10 --set world.life.animals.1.sdSizeHunter=0 "
                                   "--set world.life.animals.0.maxEncountersT=0");
  EXPECT_EQ(
      causes.err,
      "soilweb: run_params: warning: 'simulation.minTemperature' equals 'simulation.maxTemperature' (10): the "
      "temperature factor makes the traits pheno, voracity, speed and search_area of every animal infinite or NaN\n"
      "soilweb: run_params: warning: 'world.life.animals[0].maxEncountersT' is 0: the trait search_area of every prey "
      "is NaN from its first day\n"
      "soilweb: run_params: warning: 'world.life.animals[1].sdSizeHunter' is 0: the hunting scores of the trait "
      "body_size of every predator are infinite or NaN\n");
  // No step: every active animal is still in the cell it was founded in.
  std::map<std::string, std::string> founded;
  for (const auto& row : rowsOf(here.file("run1/animals_each_day_end/run1_animals_day_0.txt")))
    founded[row[0]] = row[2];
  int active = 0;
  for (const auto& row : rowsOf(here.file("run1/animals_each_day_start/run1_animals_day_6.txt")))
    if (row[3] == "1" && ++active) {
      EXPECT_EQ(row[2], founded[row[0]]) << "animal " << row[0];
    }
  EXPECT_GT(active, 0);
}

// Dying out is a result: a note says when, the record says which side, and
// the exit status stays 0.
TEST(WholeRun, ExtinctionIsNotedAndRecorded) {
  Scratch here;
  std::string config = exampleConfig({{"days", "300"}});
  config.replace(config.find("\"initialPopulation\": 40"), 23, "\"initialPopulation\": 1");
  const Outcome run = here.run(config);
  EXPECT_EQ(run.status, 0);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      run.err, match, std::regex("soilweb: note: the predators died out; the last day run was ([0-9]+) of 300\n")))
      << run.err;
  const std::string info = here.file("run1/outputs/run1_run_info.json");
  EXPECT_EQ(infoField(info, "status"), "\"extinct\"");
  EXPECT_EQ(infoField(info, "died_out"), "\"the predators\"");
  EXPECT_EQ(infoField(info, "last_day"), match[1].str());
  EXPECT_EQ(rowsOf(here.file("run1/outputs/run1_summary.txt")).size(), std::stoul(match[1]) + 2);
  const std::string closing = "soilweb: extinct (the predators died out): day " + match[1].str() + " of 300 reached, " +
                              std::to_string(std::stoi(match[1]) + 1) + " days run; ";
  EXPECT_EQ(run.closing.substr(0, closing.size()), closing);
}

// Names of any length give whole lines (offsets once kept in 16 bits cut
// them), or a clear error before anything is made.
TEST(WholeRun, NamesOfAnyLengthGiveWholeFilesOrAClearError) {
  const std::string name(70000, 'p');
  std::string config = exampleConfig({{"days", "2"}});
  config.replace(config.find("\"name\": \"prey\""), 14, "\"name\": \"" + name + "\"");
  Scratch here;
  const Outcome run = here.run(config);
  ASSERT_EQ(run.status, 0) << run.err.substr(0, 300);
  const auto animals = rowsOf(here.file("run1/animals_each_day_start/run1_animals_day_2.txt"));
  ASSERT_EQ(animals.size(), 1u + 120 + 40);
  for (std::size_t i = 1; i < animals.size(); ++i) {
    ASSERT_EQ(animals[i].size(), animals[0].size()) << "line " << i;
    if (animals[i][1] != "predator") {
      EXPECT_EQ(animals[i][1], name);
    }
  }

  Scratch tooLong;
  const std::string folder(240, 'r');
  const Outcome refused = tooLong.run(exampleConfig({{"simulationName", "\"" + folder + "\""}}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "soilweb: cannot create output file '" + folder + "/outputs/" + folder +
                "_run_info.json': File name too long (the file system allows 255 bytes a name; shorten the "
                "names in simulation.outputs)\n");
  EXPECT_FALSE(fs::exists(tooLong.path / folder));
}

// Runs the binary in folder with standard error on a pseudo-terminal and
// standard output to stdout.txt; returns what the terminal showed.
std::string runOnTerminal(const Scratch& here, const std::string& args) {
  int terminal = -1;
  const std::string command =
      "cd " + shellQuote(here.path) + " && exec " + shellQuote(SOILWEB_BINARY) + " " + args + " >stdout.txt </dev/null";
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<std::size_t>(n));
  close(terminal);
  int raw = 0;
  waitpid(pid, &raw, 0);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << shown;
  return shown;
}

std::string withoutTime(const std::string& transcript) {
  return std::regex_replace(transcript, std::regex("Time: [0-9.e-]+ secs\\.\n"), "");
}

// A run that would write gigabytes says so before it starts, with the keys
// that shrink it; a smaller one says nothing.
TEST(WholeRun, AGigabyteRunSaysSoBeforeItStarts) {
  Scratch here;
  const std::string large =
      " --set world.life.animals.0.initialPopulation=20000 --set world.life.animals.1.initialPopulation=2000"
      " --set simulation.days=300";
  const Outcome big = here.run(exampleConfig(), "--check" + large);
  ASSERT_EQ(big.status, 0) << big.err;
  EXPECT_EQ(big.err,
            "soilweb: note: this run will write at least 3.9 GB (the snapshots 2.0 GB, the food-web matrices 1.9 GB, "
            "the daily tables 3.6 MB, with the founders' numbers); smaller with simulation.outputs.layout \"tables\", "
            "simulation.outputs.compression \"gzip\", simulation.outputs.foodWeb \"edges\", "
            "simulation.outputs.snapshotEvery or snapshots, simulation.outputs.files [\"summary\"]\n");
  const Outcome shrunk = here.run(
      "", "--check" + large +
              " --set simulation.outputs.layout=tables --set simulation.outputs.compression=gzip"
              " --set simulation.outputs.foodWeb=edges");
  EXPECT_EQ(shrunk.status, 0);
  EXPECT_EQ(shrunk.err, "");
}

// On a terminal the run shows how far it is, on one line rewritten after each
// day; on a pipe, or with --no-progress, it does not; the transcript on
// standard output is the same every way.
TEST(WholeRun, ProgressIsShownOnATerminalOnly) {
  Scratch piped;
  const Outcome plain = piped.run(exampleConfig({{"days", "5"}}));
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(plain.closing.find('\r'), std::string::npos);
  const Outcome forced = piped.run("", "--overwrite --progress");
  EXPECT_NE(forced.err.find("\r\033[Ksoilweb: day 0 of 5; "), std::string::npos) << forced.err;
  // The closing phase says what it writes (the example keeps its dead: the food-web matrices).
  EXPECT_NE(forced.err.find("\r\033[Ksoilweb: writing the food-web matrices, about "), std::string::npos)
      << forced.err;

  Scratch here;
  writeFile(here.path / "run_params", exampleConfig({{"days", "5"}}));
  const std::string shown = runOnTerminal(here, "");
  EXPECT_TRUE(std::regex_search(shown, std::regex("\r\033\\[Ksoilweb: day 0 of 5; [0-9]+ animals alive; [0-9.]+ s "
                                                  "elapsed, about [0-9.]+ s left")))
      << shown;
  EXPECT_NE(shown.find("\r\033[Ksoilweb: completed: day 5 of 5 reached"), std::string::npos) << shown;
  EXPECT_EQ(withoutTime(here.file("stdout.txt")), withoutTime(plain.out));

  const std::string quiet = runOnTerminal(here, "--overwrite --no-progress");
  EXPECT_EQ(quiet.find("day 0 of 5"), std::string::npos) << quiet;
  EXPECT_EQ(quiet.rfind("soilweb: completed: day 5 of 5 reached", 0), 0u) << quiet;
  EXPECT_EQ(withoutTime(here.file("stdout.txt")), withoutTime(plain.out));
}
