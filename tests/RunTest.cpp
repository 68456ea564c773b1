// Whole runs of the soilweb binary in scratch folders: console transcript,
// output tree, exit status, error lines, repeatability and the golden run.
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
    for (const char* f : {"run1/animals_each_day_start/run1_animals_day_", "run1/animals_each_day_end/run1_animals_day_",
                                 "run1/cells/run1_cells_day_"})
      EXPECT_EQ(files.count(std::string(f) + std::to_string(day) + ".txt"), 1u) << f << day;
  const auto summary = rowsOf(files.at("run1/outputs/run1_summary.txt"));
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(summary[0].size(), 15u);
  EXPECT_EQ(summary[0][14], "PREDATOR_SENESCED");
  EXPECT_EQ(summary[3][0], "2");
}

TEST(WholeRun, SnapshotsAgreeWithTheSummary) {
  Scratch here;
  ASSERT_EQ(here.run(exampleConfig({{"days", "40"}})).status, 0);
  // The start-of-day snapshot of day 0 is filed under animals_each_day_end.
  const auto dayZero = rowsOf(here.file("run1/animals_each_day_end/run1_animals_day_0.txt"));
  ASSERT_EQ(dayZero.size(), 1u + 120 + 40);
  EXPECT_EQ(dayZero[0].size(), 32u);
  for (std::size_t i = 1; i < dayZero.size(); ++i) EXPECT_EQ(dayZero[i][3], "0");
  const auto summary = rowsOf(here.file("run1/outputs/run1_summary.txt"));
  for (int day : {0, 10, 25, 40}) {
    const auto animals = rowsOf(here.file("run1/animals_each_day_start/run1_animals_day_" + std::to_string(day) + ".txt"));
    int counts[2][7] = {};
    for (std::size_t i = 1; i < animals.size(); ++i) ++counts[animals[i][1] == "predator"][std::stoi(animals[i][3])];
    const auto& line = summary.at(day + 1);
    const int expected[13] = {counts[0][0], counts[0][1], counts[0][2], counts[0][3], counts[0][4], counts[0][6],
                              counts[1][0], counts[1][1], counts[1][2], counts[1][3], counts[1][4], counts[1][5],
                              counts[1][6]};
    for (int k = 0; k < 13; ++k) EXPECT_EQ(std::stoi(line[2 + k]), expected[k]) << "day " << day << " column " << k;
    const auto cells = rowsOf(here.file("run1/cells/run1_cells_day_" + std::to_string(day) + ".txt"));
    ASSERT_EQ(cells.size(), 12u);
    EXPECT_EQ(cells[10], std::vector<std::string>{});
    EXPECT_EQ(cells[11][0], "TOTAL: " + std::to_string(counts[0][1]));
    EXPECT_EQ(cells[11][1], std::to_string(counts[1][1]));
  }
}

// The tables layout holds the daily files' lines, each after its day, in one
// file per kind; everything else is the same as in the daily layout.
TEST(WholeRun, TheTablesLayoutHoldsEveryLineOfTheDailyFiles) {
  for (const std::string thinning : {"", " --set simulation.outputs.snapshotEvery=4 "
                                         "--set simulation.outputs.snapshots='[\"animals_end\", \"cells\"]'"}) {
    SCOPED_TRACE(thinning);
    Scratch daily, tables;
    const std::string config = exampleConfig({{"days", "30"}});
    ASSERT_EQ(daily.run(config, thinning).status, 0);
    const Outcome run = tables.run(config, thinning + " --set simulation.outputs.layout=tables");
    ASSERT_EQ(run.status, 0) << run.err;
    auto dailyFiles = daily.results(), tableFiles = tables.results();
    // Each daily file, as the rows of its day: header and totals aside, no trailing tab.
    const std::regex dailyName("run1/(animals_each_day_end|animals_each_day_start|cells)/run1_[a-z]+_day_([0-9]+)\\.txt");
    std::map<int, std::string> byDay[3];
    std::string animalHeader;
    for (auto it = dailyFiles.begin(); it != dailyFiles.end();) {
      std::smatch match;
      if (!std::regex_match(it->first, match, dailyName)) {
        ++it;
        continue;
      }
      const int kind = match[1] == "animals_each_day_end" ? 0 : match[1] == "animals_each_day_start" ? 1 : 2;
      std::istringstream lines(it->second);
      std::string line, rows;
      if (kind < 2) {
        std::getline(lines, line);
        animalHeader = line + "\n";
      }
      while (std::getline(lines, line) && !line.empty()) {
        if (!line.empty() && line.back() == '\t') line.pop_back();
        rows += std::string(match[2]) + "\t" + line + "\n";
      }
      byDay[kind][std::stoi(match[2])] = rows;
      it = dailyFiles.erase(it);
    }
    const char* const tableNames[3] = {"animals_start.tsv", "animals_end.tsv", "cells.tsv"};
    const std::string headers[3] = {"day\t" + animalHeader, "day\t" + animalHeader,
                                    "day\tid\tfungi\tactive_prey\tactive_predators\n"};
    for (int kind = 0; kind < 3; ++kind) {
      const std::string name = std::string("run1/outputs/run1_") + tableNames[kind];
      if (byDay[kind].empty()) {
        EXPECT_EQ(tableFiles.count(name), 0u) << name << " written, though its kind was not chosen";
        continue;
      }
      std::string expected = headers[kind];
      for (const auto& [day, rows] : byDay[kind]) expected += rows;
      EXPECT_EQ(tableFiles[name], expected) << name;
      tableFiles.erase(name);
    }
    tableFiles.erase("run1/outputs/run1_traits.tsv");  // on by default in the tables layout
    EXPECT_EQ(tableFiles, dailyFiles) << "the summary and food-web files differ between the layouts";
  }
}

// The trait statistics are computed in the run; the end-of-day animal file of
// the same day gives the same values (to the six digits it is written with).
TEST(WholeRun, TraitStatisticsAgreeWithTheEndOfDaySnapshot) {
  Scratch here;
  ASSERT_EQ(here.run(exampleConfig({{"days", "40"}}), "--set simulation.outputs.traitStatistics=true").status, 0);
  const auto statistics = rowsOf(here.file("run1/outputs/run1_traits.tsv"));
  ASSERT_EQ(statistics.at(0).size(), 4u + 4 * 13);
  EXPECT_EQ(statistics.size(), 1u + 41 * 2 * 4) << "every day, two species, four stages";
  const char* const stages[] = {"egg", "juvenile", "adult", "reproducing"};
  int adultsSeen = 0;
  for (int day : {0, 10, 25, 40}) {
    const auto animals = rowsOf(here.file("run1/animals_each_day_start/run1_animals_day_" + std::to_string(day) + ".txt"));
    // By species and stage, each trait's values; the traits are the last 13 columns.
    std::map<std::pair<std::string, std::string>, std::vector<std::vector<double>>> values;
    for (std::size_t i = 1; i < animals.size(); ++i) {
      const auto& a = animals[i];
      const int state = std::stoi(a[3]);
      if (state != 0 && state != 1 && state != 4) continue;
      const std::string stage = state == 0 ? "egg" : state == 4 ? "reproducing" : std::stoi(a[4]) >= 4 ? "adult" : "juvenile";
      auto& traits = values[{a[1], stage}];
      traits.resize(13);
      for (int t = 0; t < 13; ++t) traits[t].push_back(std::stod(a[a.size() - 13 + t]));
    }
    for (const auto& row : statistics) {
      if (row[0] != std::to_string(day)) continue;
      SCOPED_TRACE("day " + row[0] + " " + row[1] + " " + row[2]);
      ASSERT_NE(std::find(std::begin(stages), std::end(stages), row[2]), std::end(stages));
      const auto found = values.find({row[1], row[2]});
      const std::size_t n = found == values.end() ? 0 : found->second[0].size();
      ASSERT_EQ(row[3], std::to_string(n));
      if (row[2] == "adult") adultsSeen += static_cast<int>(n);
      for (int t = 0; t < 13; ++t) {
        const std::string* cells = &row[4 + 4 * t];
        if (n == 0) {
          for (int k = 0; k < 4; ++k) EXPECT_EQ(cells[k], "NA");
          continue;
        }
        const auto& v = found->second[t];
        const double mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(n);
        double squares = 0;
        for (double x : v) squares += (x - mean) * (x - mean);
        const double low = *std::min_element(v.begin(), v.end()), high = *std::max_element(v.begin(), v.end());
        const double tolerance = 2e-5 * std::max(std::fabs(low), std::fabs(high)) + 1e-12;
        EXPECT_NEAR(std::stod(cells[0]), mean, tolerance) << "trait " << t;
        if (n > 1)
          EXPECT_NEAR(std::stod(cells[1]), std::sqrt(squares / static_cast<double>(n - 1)), tolerance) << "trait " << t;
        else
          EXPECT_EQ(cells[1], "NA");
        EXPECT_NEAR(std::stod(cells[2]), low, tolerance) << "trait " << t;
        EXPECT_NEAR(std::stod(cells[3]), high, tolerance) << "trait " << t;
      }
    }
  }
  EXPECT_GT(adultsSeen, 0) << "no adult on the days compared: the test shows less than it should";
}

TEST(WholeRun, FoodWebRunsWithAndWithoutPurging) {
  Scratch kept, purged;
  ASSERT_EQ(kept.run(exampleConfig({{"days", "60"}})).status, 0);
  const Outcome purging = purged.run(exampleConfig({{"days", "60"}, {"purgeDeadAnimals", "1"}}));
  ASSERT_EQ(purging.status, 0);
  EXPECT_NE(purging.out.find(banner("Skipping encounter-predation analysis...\nReason: \"purgeDeadAnimals\" must be set to 0 (deactivated)")),
            std::string::npos);
  EXPECT_EQ(purged.tree().count("run1/outputs/run1_nodes.txt"), 0u);

  const auto summary = rowsOf(kept.file("run1/outputs/run1_summary.txt"));
  const auto& last = summary.back();
  EXPECT_GT(std::stoi(last[5]), 0);  // prey eaten
  int hatched = 0;
  const auto animals = rowsOf(kept.file("run1/animals_each_day_start/run1_animals_day_60.txt"));
  for (std::size_t i = 1; i < animals.size(); ++i) hatched += std::stoi(animals[i][0]) >= 160 && animals[i][3] != "0";
  EXPECT_GT(hatched, 0) << "offspring became active";
  const auto encounters = rowsOf(kept.file("run1/outputs/run1_encounters.txt"));
  EXPECT_EQ(encounters.size(), 161u);
  const auto nodes = rowsOf(kept.file("run1/outputs/run1_nodes.txt"));
  EXPECT_EQ(nodes[1], (std::vector<std::string>{"X0", "invertebrate"}));
  EXPECT_EQ(nodes[160], (std::vector<std::string>{"X159", "vert.ecto"}));

  // With purging, every day starts without the dead of the day before.
  for (int day = 1; day <= 60; ++day)
    for (const auto& row : rowsOf(purged.file("run1/animals_each_day_end/run1_animals_day_" + std::to_string(day) + ".txt")))
      ASSERT_TRUE(row[3] != "2" && row[3] != "3" && row[3] != "5" && row[3] != "6")
          << "day " << day << " starts with the dead animal " << row[0] << ": the dead were not purged after day "
          << day - 1 << "'s summary line";
  // And the dead columns count only each day's deaths.
  const auto daily = rowsOf(purged.file("run1/outputs/run1_summary.txt"));
  const auto lastDay = rowsOf(purged.file("run1/animals_each_day_start/run1_animals_day_60.txt"));
  int deadToday = 0;
  for (std::size_t i = 1; i < lastDay.size(); ++i) deadToday += lastDay[i][3] == "2" || lastDay[i][3] == "3" || lastDay[i][3] == "5" || lastDay[i][3] == "6";
  int deadColumns = 0;
  for (int k : {4, 5, 7, 10, 11, 13, 14}) deadColumns += std::stoi(daily.back()[k]);
  EXPECT_EQ(deadColumns, deadToday);
}

// The node and edge tables hold the whole food web: the founders' matrices
// and node list of the same run are rebuilt from them byte for byte.
TEST(WholeRun, FoodWebEdgesRebuildTheMatricesExactly) {
  Scratch matrices, tables;
  const std::string config = exampleConfig({{"days", "60"}});
  ASSERT_EQ(matrices.run(config).status, 0);
  const Outcome run = tables.run(config, "--set simulation.outputs.foodWeb=edges");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(tables.tree().count("run1/outputs/run1_encounters.txt"), 0u);
  const auto nodes = rowsOf(tables.file("run1/outputs/run1_foodweb_nodes.tsv"));
  const auto edges = rowsOf(tables.file("run1/outputs/run1_foodweb_edges.tsv"));
  ASSERT_EQ(nodes.at(0), (std::vector<std::string>{"id", "species", "category", "birth_day", "death_day", "fate"}));
  ASSERT_EQ(edges.at(0), (std::vector<std::string>{"hunter", "victim", "encounters", "predations"}));
  const int founders = 160;
  std::map<std::pair<int, int>, std::pair<int, int>> met;  // (victim, hunter) -> (encounters, predations)
  int eaten = 0;
  for (std::size_t k = 1; k < edges.size(); ++k) {
    const auto& e = edges[k];
    ASSERT_TRUE(std::stoi(e[2]) > 0 || std::stoi(e[3]) > 0) << "an edge of a pair that never met";
    met[{std::stoi(e[1]), std::stoi(e[0])}] = {std::stoi(e[2]), std::stoi(e[3])};
    eaten += std::stoi(e[3]);
  }
  int predatedNodes = 0;
  for (std::size_t k = 1; k < nodes.size(); ++k) predatedNodes += nodes[k][5] == "predated";
  EXPECT_EQ(eaten, predatedNodes) << "each animal eaten once";
  auto matrix = [&](bool predations) {
    std::string text;
    for (int j = 0; j < founders; ++j) text += "\t" + std::to_string(j);
    text += "\n";
    for (int i = 0; i < founders; ++i) {
      text += std::to_string(i);
      for (int j = 0; j < founders; ++j) {
        const auto found = met.find({i, j});
        const int count = found == met.end() ? 0 : predations ? found->second.second : found->second.first;
        text += count > 0 ? "\t1" : "\t0";
      }
      text += "\n";
    }
    return text;
  };
  std::string nodeList = "node\tcategory\n";
  for (int i = 0; i < founders; ++i) {
    ASSERT_EQ(nodes.at(1 + i).at(0), std::to_string(i)) << "nodes are listed by id";
    nodeList += "X" + std::to_string(i) + "\t" + nodes[1 + i][2] + "\n";
  }
  EXPECT_EQ(matrix(false), matrices.file("run1/outputs/run1_encounters.txt"));
  EXPECT_EQ(matrix(true), matrices.file("run1/outputs/run1_predations.txt"));
  EXPECT_EQ(nodeList, matrices.file("run1/outputs/run1_nodes.txt"));
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
      {missingDays, "soilweb: run_params: missing key 'simulation.days'\n"},
      {badPurge, "soilweb: run_params: 'simulation.purgeDeadAnimals' must be a whole number, got 'no'\n"},
      {missingMatrix, "soilweb: run_params: missing key 'simulation.outputs.nodesMatrixFilename'\n"},
      {twoMissing, "soilweb: run_params: missing key 'world.soil.minCarryingCapacity'\n"},
      {exampleConfig({{"seed", "\"12ab\""}}), "soilweb: run_params: 'simulation.seed' must be a whole number, got '12ab'\n"},
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
  expectRefused(blocked.run(exampleConfig({{"days", "1"}}), "--overwrite"),
                "soilweb: --overwrite kept 1 file soilweb did not write: run1/cells\n"
                "soilweb: 'run1/cells' is not a folder\n");

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

TEST(WholeRun, TheSameSeedRepeatsTheRunByteForByte) {
  Scratch first, second;
  ASSERT_EQ(first.run(exampleConfig({{"days", "30"}})).status, 0);
  ASSERT_EQ(second.run(exampleConfig({{"days", "30"}, {"parallel", "1"}})).status, 0);
  EXPECT_TRUE(first.results() == second.results());
  // The C library picks its exp, log and pow by processor; without FMA (as on
  // older machines) the results must be the same.
  Scratch plain;
  ASSERT_EQ(plain.run(exampleConfig({{"days", "30"}}), "", "export GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA; ").status, 0);
  EXPECT_TRUE(first.results() == plain.results());
  Scratch other;
  ASSERT_EQ(other.run(exampleConfig({{"days", "30"}, {"seed", "99"}})).status, 0);
  EXPECT_FALSE(first.results() == other.results());
}

// Checksums of every result file of two seeded 70-day runs that reach
// breeding, hatching and the predation of offspring: one keeps the dead and
// has active hunters, the other purges them and has sit-and-wait hunters. A
// change of results must be deliberate: rerun with SOILWEB_UPDATE_GOLDEN=1 and
// say why in the commit.
TEST(WholeRun, GoldenRuns) {
  for (const auto& [name, args] : {std::make_pair(std::string("kept"), std::string()),
                                   std::make_pair(std::string("purged"),
                                                  std::string("--set simulation.purgeDeadAnimals=1 "
                                                              "--set world.life.animals.1.huntingMode=sit_and_wait"))}) {
    Scratch here;
    ASSERT_EQ(here.run(exampleConfig({{"days", "70"}}), args).status, 0) << name;
    std::set<std::string> born, hatched, eaten;
    for (const auto& [path, text] : here.results())
      if (path.find("animals_each_day_start") != std::string::npos)
        for (const auto& row : rowsOf(text))
          if (row[0] != "id" && std::stoi(row[0]) >= 160) {
            born.insert(row[0]);
            if (row[3] != "0") hatched.insert(row[0]);
            if (row[3] == "3") eaten.insert(row[0]);
          }
    EXPECT_GT(born.size(), 50u) << name;
    EXPECT_GT(hatched.size(), 50u) << name;
    EXPECT_GT(eaten.size(), 20u) << name;

    std::system(("cd " + shellQuote(here.path) +
                 " && find run1 -path run1/.soilweb -prune -o -type f ! -name '*_run_info.json' -print | LC_ALL=C sort | xargs sha256sum > sums.txt")
                    .c_str());
    const std::string actual = here.file("sums.txt");
    const fs::path golden = fs::path(SOILWEB_SOURCE_DIR) / "tests" / "golden" / (name + "_run.sha256");
    if (std::getenv("SOILWEB_UPDATE_GOLDEN")) writeFile(golden, actual);
    EXPECT_EQ(actual, readFile(golden)) << name;
  }
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
  EXPECT_EQ(here.run("", "--seed twelve").status, 2);
  EXPECT_EQ(here.run("", "a b").err, "soilweb: unexpected argument 'b'\nusage: soilweb [OPTIONS] [CONFIG]\n");
  writeFile(here.path / "run_params", exampleConfig({{"days", "0"}}));
  for (const auto& [setting, error] :
       {std::make_pair(std::string("simulation.temperatur=3"), std::string("--set simulation.temperatur: no such key in the configuration")),
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

TEST(WholeRun, FilesThatCannotBeWrittenWholeAreNeitherLeftNorReportedSaved) {
  Scratch here;
  // A file-size limit of 16 or 32 KiB (as the shell counts): the first animal
  // snapshot exceeds it, and the run ends there as on a full disk.
  const Outcome run = here.run(exampleConfig({{"days", "1"}}), "", "ulimit -f 32; ");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("soilweb: the file-size limit was reached: 'run1/animals_each_day_end/run1_animals_day_0.txt' "
                         "could not be written (File too large); the run stopped after no day\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find(saved("run1/outputs/run1_encounters.txt")), std::string::npos);
  EXPECT_NE(run.out.find(saved("run1/outputs/run1_summary.txt")), std::string::npos);
  const auto files = here.tree();
  for (const auto& [path, text] : files) {
    EXPECT_EQ(path.find("animals_day"), std::string::npos) << path;
    EXPECT_EQ(path.find(".partial"), std::string::npos) << path;
  }
  EXPECT_EQ(files.at("run1/outputs/run1_summary.txt").find('\n'), files.at("run1/outputs/run1_summary.txt").size() - 1)
      << "the summary holds its header only: no day's files are whole";
  EXPECT_EQ(infoField(files.at("run1/outputs/run1_run_info.json"), "status"), "\"failed\"");
}

TEST(WholeRun, HugeButValidNumbersEndInAClearError) {
  std::string population = exampleConfig();
  population.replace(population.find("\"initialPopulation\": 40"), 23, "\"initialPopulation\": 4000000000");
  std::string loci = exampleConfig();
  loci.replace(loci.find("\"numberOfLoci\": 10"), 18, "\"numberOfLoci\": 1000000000");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {population, "soilweb: run_params: the world would need about 16555.2 GiB of memory at the start, more than the 8 GiB "
                   "allowed (check simulation.worldLength, initialPopulation and numberOfLoci)\n"},
      {exampleConfig({{"worldLength", "2000000000"}}),
       "soilweb: run_params: the world would need about 745.059 GiB of memory at the start, more than the 8 GiB allowed "
       "(check simulation.worldLength, initialPopulation and numberOfLoci)\n"},
      {loci, "soilweb: run_params: 'world.life.animals[0].genetics.numberOfAlleles' with numberOfLoci 1000000000 would "
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


// Every run leaves its record: first while it runs (so a run killed outright
// still tells its seed), then complete, with how it ended.
TEST(WholeRun, TheRunInfoRecordsTheRunFromItsStart) {
  Scratch here;
  const Outcome run = here.run(exampleConfig({{"days", "3"}}), "--set simulation.temperature=21 --output-dir out");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string info = readFile(here.path / "out/run1/outputs/run1_run_info.json");
  EXPECT_EQ(infoField(info, "status"), "\"completed\"");
  EXPECT_EQ(infoField(info, "exit_status"), "0");
  EXPECT_EQ(infoField(info, "seed"), "20261208");
  EXPECT_EQ(infoField(info, "seed_source"), "\"file\"");
  EXPECT_EQ(infoField(info, "days_run"), "4");
  EXPECT_EQ(infoField(info, "last_day"), "3");
  EXPECT_EQ(infoField(info, "working_directory"), "\"" + here.path.string() + "\"");
  EXPECT_TRUE(std::regex_match(infoField(info, "start_time"), std::regex("\"20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z\"")));
  EXPECT_NE(infoField(info, "commit"), "(absent)");
  EXPECT_NE(infoField(info, "peak_memory_bytes"), "null");
  EXPECT_NE(info.find("\"command_line\": [\"" + std::string(SOILWEB_BINARY) + "\", \"--set\", \"simulation.temperature=21\""),
            std::string::npos);
  EXPECT_NE(info.find("\"temperature\": 21,"), std::string::npos) << "the configuration as read, after --set";

  // Killed outright while running: the first record is there, whole.
  Scratch killed;
  writeFile(killed.path / "run_params", withoutSeed(readFile(fs::path(SOILWEB_SOURCE_DIR) / "tests/soak/soak.json")));
  std::system(("cd " + shellQuote(killed.path) + " && { " + shellQuote(SOILWEB_BINARY) +
               " >out.txt 2>err.txt & pid=$!; for i in $(seq 200); do [ -e soak/outputs/soak_run_info.json ] && break; "
               "sleep 0.05; done; kill -KILL $pid; wait $pid; }")
                  .c_str());
  const std::string first = killed.file("soak/outputs/soak_run_info.json");
  EXPECT_EQ(infoField(first, "status"), "\"running\"");
  EXPECT_EQ(infoField(first, "exit_status"), "null");
  EXPECT_EQ(infoField(first, "seed_source"), "\"drawn\"");
  EXPECT_NE(killed.file("out.txt").find("Seed: " + infoField(first, "seed") + "\n"), std::string::npos);
}

// A run without a seed draws one from the system, prints and records it, and
// can be repeated exactly from it; two such runs started together differ.
TEST(WholeRun, AnUnseededRunIsRepeatableFromItsRecordedSeed) {
  Scratch first, second, again;
  const std::string config = withoutSeed(exampleConfig({{"days", "8"}}));
  writeFile(first.path / "run_params", config);
  writeFile(second.path / "run_params", config);
  std::system(("(cd " + shellQuote(first.path) + " && " + shellQuote(SOILWEB_BINARY) + " >out.txt 2>&1) & (cd " +
               shellQuote(second.path) + " && " + shellQuote(SOILWEB_BINARY) + " >out.txt 2>&1); wait")
                  .c_str());
  const std::string out = first.file("out.txt");
  const std::string opening = banner("Configuration Read            ") + "Seed: ";
  const auto at = out.find(opening);
  ASSERT_NE(at, std::string::npos) << out;
  const std::string seed = out.substr(at + opening.size(), out.find('\n', at + opening.size()) - at - opening.size());
  EXPECT_EQ(infoField(first.file("run1/outputs/run1_run_info.json"), "seed"), seed);
  EXPECT_FALSE(first.results() == second.results());

  const Outcome repeated = again.run(config, "--seed " + seed);
  ASSERT_EQ(repeated.status, 0) << repeated.err;
  EXPECT_EQ(repeated.out.find("Seed: "), std::string::npos) << "a given seed is not announced";
  EXPECT_EQ(infoField(again.file("run1/outputs/run1_run_info.json"), "seed_source"), "\"--seed\"");
  EXPECT_TRUE(first.results() == again.results());
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
  EXPECT_EQ(unlisted.err,
            "soilweb: --overwrite: output folder 'run1' holds no list of the files a soilweb run wrote there (it was made "
            "by hand, by another program or by an older soilweb), so nothing in it is removed; remove it yourself or "
            "change simulation.outputs.simulationName\n");
  EXPECT_EQ(foreign.file("run1/data.txt"), "someone's");
}

// Values read leniently keep their value but never pass unremarked; unknown
// keys are named; --strict refuses both before anything is written.
TEST(WholeRun, MisreadValuesAndUnknownKeysAreWarnedAboutOrRefused) {
  std::string config = exampleConfig({{"days", "1e1"}, {"temperature", "\"20,5\""}});
  config.replace(config.find("\"seed\""), 6, "\"Seed\"");
  config.replace(config.find("\"huntingMode\""), 0, "\"colour\": \"red\", ");
  Scratch here, strict;
  const Outcome run = here.run(config);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string warnings =
      "soilweb: run_params: warning: 'simulation.temperature' is \"20,5\"; read as 20\n"
      "soilweb: run_params: warning: 'simulation.days' is \"1e1\"; read as 1\n"
      "soilweb: run_params: warning: unknown key 'simulation.Seed' (ignored)\n"
      "soilweb: run_params: warning: unknown key 'world.life.animals[0].colour' (ignored)\n";
  EXPECT_EQ(run.err, warnings);
  EXPECT_EQ(infoField(here.file("run1/outputs/run1_run_info.json"), "warnings"),
            "[\"'simulation.temperature' is \\\"20,5\\\"; read as 20\", \"'simulation.days' is \\\"1e1\\\"; read as 1\", "
            "\"unknown key 'simulation.Seed' (ignored)\", \"unknown key 'world.life.animals[0].colour' (ignored)\"]");
  EXPECT_EQ(rowsOf(here.file("run1/outputs/run1_summary.txt")).size(), 3u);

  const Outcome refused = strict.run(config, "--strict");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, std::regex_replace(warnings, std::regex(": warning: "), ": error (--strict): "));
  EXPECT_FALSE(fs::exists(strict.path / "run1"));
  EXPECT_EQ(strict.run(exampleConfig(), "--strict").status, 0) << "the bundled example is clean";
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
  EXPECT_EQ(causes.err,
            "soilweb: run_params: warning: 'simulation.minTemperature' equals 'simulation.maxTemperature' (10): the "
            "temperature factor makes the traits pheno, voracity, speed and search_area of every animal infinite or NaN\n"
            "soilweb: run_params: warning: 'world.life.animals[0].maxEncountersT' is 0: the trait search_area of every prey "
            "is NaN from its first day\n"
            "soilweb: run_params: warning: 'world.life.animals[1].sdSizeHunter' is 0: the hunting scores of the trait "
            "body_size of every predator are infinite or NaN\n");
  // No step: every active animal is still in the cell it was founded in.
  std::map<std::string, std::string> founded;
  for (const auto& row : rowsOf(here.file("run1/animals_each_day_end/run1_animals_day_0.txt"))) founded[row[0]] = row[2];
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
  ASSERT_TRUE(std::regex_match(run.err, match,
                               std::regex("soilweb: note: the predators died out; the last day run was ([0-9]+) of 300\n")))
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
  EXPECT_EQ(refused.err, "soilweb: cannot create output file '" + folder + "/outputs/" + folder +
                             "_run_info.json': File name too long (the file system allows 255 bytes a name; shorten the "
                             "names in simulation.outputs)\n");
  EXPECT_FALSE(fs::exists(tooLong.path / folder));
}

// Output controls: snapshot days thinned, kinds chosen, files compressed; the
// files a run keeps are byte for byte those of a run writing everything.
TEST(WholeRun, SnapshotEveryThinsTheSnapshotDaysOnly) {
  Scratch daily, thinned, extinct;
  ASSERT_EQ(daily.run(exampleConfig()).status, 0);
  const Outcome run = thinned.run(exampleConfig(), "--set simulation.outputs.snapshotEvery=5");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto all = daily.results(), kept = thinned.results();
  EXPECT_EQ(kept.size(), 4u + 3 * 4);  // days 0, 5, 10 and the last, 12
  for (const auto& [path, text] : kept) {
    ASSERT_EQ(all.count(path), 1u) << path;
    EXPECT_EQ(text, all.at(path)) << path;
  }
  for (int day : {0, 5, 10, 12})
    EXPECT_EQ(kept.count("run1/cells/run1_cells_day_" + std::to_string(day) + ".txt"), 1u) << day;
  EXPECT_EQ(rowsOf(kept.at("run1/outputs/run1_summary.txt")).size(), 14u);

  // A world that dies out writes the files of its last day too, its start included.
  std::string config = exampleConfig({{"days", "300"}});
  config.replace(config.find("\"initialPopulation\": 40"), 23, "\"initialPopulation\": 1");
  const Outcome dying = extinct.run(config, "--set simulation.outputs.snapshotEvery=1000");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(dying.err, match, std::regex("the last day run was ([0-9]+) of 300"))) << dying.err;
  const auto files = extinct.results();
  for (const char* folder : {"animals_each_day_start", "animals_each_day_end", "cells"})
    EXPECT_EQ(files.count("run1/" + std::string(folder) + "/run1_" + (folder[0] == 'c' ? "cells" : "animals") + "_day_" +
                          match[1].str() + ".txt"),
              1u)
        << folder;
  EXPECT_EQ(files.size(), 4u + 3 + 3);  // day 0, and the last day's files
}

TEST(WholeRun, SnapshotsChooseTheKindsWritten) {
  Scratch cells, none, refused;
  ASSERT_EQ(cells.run(exampleConfig({{"days", "2"}}), "--set 'simulation.outputs.snapshots=[\"cells\"]'").status, 0);
  for (const auto& [path, text] : cells.results())
    EXPECT_TRUE(path.rfind("run1/cells/", 0) == 0 || path.rfind("run1/outputs/", 0) == 0) << path;
  EXPECT_EQ(cells.results().size(), 4u + 3);
  EXPECT_FALSE(fs::exists(cells.path / "run1/animals_each_day_start"));

  ASSERT_EQ(none.run(exampleConfig({{"days", "2"}}), "--set 'simulation.outputs.snapshots=[]'").status, 0);
  EXPECT_EQ(none.results().size(), 4u);
  for (const char* folder : {"cells", "animals_each_day_start", "animals_each_day_end"})
    EXPECT_FALSE(fs::exists(none.path / "run1" / folder)) << folder;

  for (const auto& [setting, error] :
       {std::make_pair(std::string("snapshots=[\"animals\"]"),
                       std::string("'simulation.outputs.snapshots' must list only animals_start, animals_end and cells, "
                                   "got 'animals'")),
        std::make_pair(std::string("snapshots=cells"),
                       std::string("'simulation.outputs.snapshots' must be a JSON list of animals_start, animals_end and "
                                   "cells, got 'cells'")),
        std::make_pair(std::string("snapshotEvery=0"), std::string("'simulation.outputs.snapshotEvery' must be at least 1, got 0")),
        std::make_pair(std::string("compression=zip"),
                       std::string("'simulation.outputs.compression' must be none or gzip, got 'zip'"))}) {
    const Outcome run = refused.run(exampleConfig(), "--set 'simulation.outputs." + setting + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "soilweb: run_params: " + error + "\n");
    EXPECT_FALSE(fs::exists(refused.path / "run1"));
  }
}

TEST(WholeRun, GzipFilesDecompressToThePlainRun) {
  Scratch plain, packed;
  ASSERT_EQ(plain.run(exampleConfig({{"days", "4"}})).status, 0);
  const Outcome run = packed.run(exampleConfig({{"days", "4"}}), "--set simulation.outputs.compression=gzip");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(saved("run1/outputs/run1_summary.txt.gz")), std::string::npos);
  const auto files = packed.tree();
  EXPECT_EQ(files.size(), plain.tree().size());
  for (const auto& [path, text] : files)
    if (path.find("_run_info.json") == std::string::npos) {
      EXPECT_EQ(path.substr(path.size() - 3), ".gz") << path;
      EXPECT_EQ(text.substr(0, 2), "\x1f\x8b") << path;
    }
  EXPECT_EQ(packed.file("run1/outputs/run1_run_info.json").substr(0, 1), "{");
  ASSERT_EQ(std::system(("cd " + shellQuote(packed.path) + " && find run1 -name '*.gz' -exec gunzip {} +").c_str()), 0);
  EXPECT_TRUE(packed.results() == plain.results());
}

// A day's animal file larger than soilweb holds (8 MiB) is written in parts as
// it is built: it still appears whole, with every animal the summary counts,
// and compressed it decompresses to the same.
TEST(WholeRun, AnimalFilesLargerThanTheBoundAreWrittenWhole) {
  const std::string config = exampleConfig({{"days", "0"}, {"initialPopulation", "60000"}, {"purgeDeadAnimals", "1"}});
  Scratch plain, packed;
  ASSERT_EQ(plain.run(config).status, 0);
  ASSERT_EQ(packed.run(config, "--set simulation.outputs.compression=gzip").status, 0);
  const auto summary = rowsOf(plain.file("run1/outputs/run1_summary.txt"));
  const std::string text = plain.file("run1/animals_each_day_start/run1_animals_day_0.txt");
  EXPECT_GT(text.size(), std::size_t(8) << 20) << "the file fits the bound: nothing was streamed";
  long counted = 0;
  for (int k = 2; k < 15; ++k) counted += std::stol(summary.at(1).at(k));
  EXPECT_EQ(static_cast<long>(std::count(text.begin(), text.end(), '\n')), 1 + counted);
  for (const auto& [path, text] : plain.tree()) EXPECT_EQ(path.find(".partial"), std::string::npos) << path;
  ASSERT_EQ(std::system(("cd " + shellQuote(packed.path) + " && find run1 -name '*.gz' -exec gunzip {} +").c_str()), 0);
  EXPECT_TRUE(packed.results() == plain.results());
}

// In the tables layout gzip cuts each block into members of 1 MiB of text,
// compressed on several threads: the files are the same whatever their number,
// and decompress to the plain run.
TEST(WholeRun, CompressionThreadsChangeNoByte) {
  const std::string config = exampleConfig({{"days", "3"}, {"initialPopulation", "6000"}, {"purgeDeadAnimals", "1"}});
  const std::string tables = "--set simulation.outputs.layout=tables ";
  const std::string gzip = tables + "--set simulation.outputs.compression=gzip --set simulation.outputs.threads=";
  Scratch plain, one, three;
  ASSERT_EQ(plain.run(config, tables).status, 0);
  ASSERT_EQ(one.run(config, gzip + "1").status, 0);
  ASSERT_EQ(three.run(config, gzip + "3").status, 0);
  EXPECT_TRUE(one.results() == three.results());
  const std::string table = three.file("run1/outputs/run1_animals_end.tsv.gz");
  EXPECT_GT(plain.file("run1/outputs/run1_animals_end.tsv").size(), 2 * (std::size_t(1) << 20)) << "a day's rows fit one member";
  std::size_t members = 0;
  for (std::size_t at = table.find("\x1f\x8b\x08"); at != std::string::npos; at = table.find("\x1f\x8b\x08", at + 1)) ++members;
  EXPECT_GT(members, 4u);
  ASSERT_EQ(std::system(("cd " + shellQuote(three.path) + " && find run1 -name '*.gz' -exec gunzip {} +").c_str()), 0);
  EXPECT_TRUE(three.results() == plain.results());
}


// A run stopped (by SIGTERM, which writes a checkpoint of the last day run, or
// by SIGKILL after a periodic checkpoint) and carried on with --resume leaves
// the very files and day lines of a run never stopped: dead animals kept
// (food-web matrices) and purged, the threaded soil step, both hunting modes,
// compressed and thinned files. The stop comes at a chosen day, through the
// run's test hook, so the test never depends on timing.
TEST(WholeRun, AStoppedRunCarriesOnFromItsCheckpointAsIfNeverStopped) {
  struct Variant {
    std::string settings;
    std::string stop;
  };
  const Variant variants[] = {
      {"--set simulation.days=120 --set simulation.purgeDeadAnimals=0 "
       "--set world.life.animals.1.huntingMode=active_hunting --set simulation.outputs.traitStatistics=true",
       "day@37:TERM"},
      {"--set simulation.days=300 --set simulation.parallel=1", "day@151:TERM"},
      {"--set simulation.days=300 --checkpoint-every 10 --set simulation.outputs.compression=gzip "
       "--set simulation.outputs.snapshotEvery=3 --set simulation.outputs.layout=tables",
       "day@123:KILL"},
  };
  const std::string config = readFile(fs::path(SOILWEB_SOURCE_DIR) / "tests/soak/soak.json");
  for (const auto& [settings, stop] : variants) {
    SCOPED_TRACE(settings);
    Scratch whole, stopped;
    const Outcome never = whole.run(config, settings);
    ASSERT_EQ(never.status, 0) << never.err;

    const Outcome halted = stopped.run(config, settings, "export SOILWEB_TEST_AT=" + stop + "; ");
    const bool killed = stop.find("KILL") != std::string::npos;
    // A shell reports a process killed by a signal as 128 + the signal.
    EXPECT_TRUE(killed ? halted.status == -1 || halted.status == 128 + SIGKILL : halted.status == 128 + SIGTERM)
        << halted.status << halted.err;
    if (!killed) {
      EXPECT_NE(halted.err.find("; carry on with --resume soak\n"), std::string::npos) << halted.err;
    }

    // The configuration comes from the run's record: the stop line's hint is the whole command.
    fs::remove(stopped.path / "run_params");
    const Outcome resumed = stopped.run("", "--resume soak");
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    std::smatch day;
    ASSERT_TRUE(std::regex_search(resumed.out, day, std::regex("Resuming from the checkpoint of day ([0-9]+)\n")));
    EXPECT_EQ(day[1], killed ? "119" : stop.substr(4, stop.find(':') - 4));
    EXPECT_EQ(daysAfter(resumed.out, std::stoi(day[1])), daysAfter(never.out, std::stoi(day[1])));
    EXPECT_TRUE(stopped.results("soak") == whole.results("soak"));
    EXPECT_FALSE(fs::exists(stopped.path / "soak/checkpoint")) << "a finished run keeps no checkpoint";
    EXPECT_NE(stopped.file("soak/outputs/soak_run_info.json").find("\"resumed_from_day\": " + std::string(day[1])),
              std::string::npos);
  }
}

// A checkpoint is refused, in one line and with nothing written, unless it is
// whole and of this version, this configuration and this seed.
TEST(WholeRun, ACheckpointOfAnotherRunIsRefused) {
  Scratch here;
  const std::string days = "--set simulation.days=400 ";
  writeFile(here.path / "run_params", readFile(fs::path(SOILWEB_SOURCE_DIR) / "tests/soak/soak.json"));
  here.run("", days + "--checkpoint-every 5", "export SOILWEB_TEST_AT=day@7:KILL; ");
  const std::string path = "soak/checkpoint/soak_checkpoint.bin";
  ASSERT_TRUE(fs::exists(here.path / path));
  auto untouched = [&] {
    auto files = here.tree("soak");
    files.erase(path);
    return files;
  };
  const auto before = untouched();
  const std::string saved = here.file(path);
  const std::string refusal = "soilweb: checkpoint '" + path + "' ";
  auto refused = [&](const std::string& args, const std::string& because) {
    const Outcome run = here.run("", "--resume soak " + args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_TRUE(std::regex_match(run.err, std::regex(because + "\n"))) << run.err;
    EXPECT_TRUE(untouched() == before) << args;
    writeFile(here.path / path, saved);
  };
  refused(days + "--set simulation.temperature=21",
          refusal + "was written by a run of another configuration: resume with the configuration file and --set "
                    "settings the run started with");
  refused(days + "--seed 5", refusal + "was written by a run of seed 4242, not 5");

  std::string changed = saved;
  changed[changed.size() / 2] ^= 0x10;
  writeFile(here.path / path, changed);
  refused(days, refusal + "is damaged: its checksum does not match its contents");

  changed = saved;
  changed[28] = '9';  // the first digit of the version that wrote it
  writeFile(here.path / path, changed);
  refused(days, refusal + "was written by soilweb 9[^;]*; this is soilweb [^:]*: resume it with the soilweb that wrote it");

  writeFile(here.path / path, saved.substr(0, 10));
  refused(days, refusal + "is not a soilweb checkpoint");

  fs::remove(here.path / path);
  refused(days, refusal + "cannot be read: No such file or directory");
  refused(days.substr(0, days.size() - 1) + " --set simulation.outputs.simulationName=other",
          "soilweb: soak/outputs/soak_run_info.json: 'simulation.outputs.simulationName' names the run 'other', not "
          "'soak' given to --resume");
  EXPECT_EQ(here.run("", "--resume soak --overwrite").status, 2);

  // Looked at, never opened, when it is not a file: a FIFO would wait for ever.
  fs::remove(here.path / path);
  ASSERT_EQ(mkfifo((here.path / path).c_str(), 0666), 0);
  EXPECT_EQ(here.run("", "--resume soak").err, refusal + "is not a regular file\n");
  fs::remove(here.path / path);
  fs::create_symlink("../../run_params", here.path / path);
  EXPECT_EQ(here.run("", "--resume soak").err, refusal + "is a link, not a checkpoint soilweb wrote\n");
}

// Runs the binary in folder with standard error on a pseudo-terminal and
// standard output to stdout.txt; returns what the terminal showed.
std::string runOnTerminal(const Scratch& here, const std::string& args) {
  int terminal = -1;
  const std::string command = "cd " + shellQuote(here.path) + " && exec " + shellQuote(SOILWEB_BINARY) + " " + args +
                              " >stdout.txt </dev/null";
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
