// Whole runs of the binary: what the files hold in each layout, thinned, chosen, compressed,
// streamed, and the food web.
#include "WholeRunFixtures.h"

#include <cmath>
#include <numeric>
#include <set>

#include <pty.h>
#include <sys/stat.h>

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
    const auto animals =
        rowsOf(here.file("run1/animals_each_day_start/run1_animals_day_" + std::to_string(day) + ".txt"));
    int counts[2][7] = {};
    for (std::size_t i = 1; i < animals.size(); ++i) ++counts[animals[i][1] == "predator"][std::stoi(animals[i][3])];
    const auto& line = summary.at(day + 1);
    const int expected[13] = {counts[0][0], counts[0][1], counts[0][2], counts[0][3], counts[0][4],
                              counts[0][6], counts[1][0], counts[1][1], counts[1][2], counts[1][3],
                              counts[1][4], counts[1][5], counts[1][6]};
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
  for (const std::string thinning : {"",
                                     " --set simulation.outputs.snapshotEvery=4 "
                                     "--set simulation.outputs.snapshots='[\"animals_end\", \"cells\"]'"}) {
    SCOPED_TRACE(thinning);
    Scratch daily, tables;
    const std::string config = exampleConfig({{"days", "30"}});
    ASSERT_EQ(daily.run(config, thinning).status, 0);
    const Outcome run = tables.run(config, thinning + " --set simulation.outputs.layout=tables");
    ASSERT_EQ(run.status, 0) << run.err;
    auto dailyFiles = daily.results(), tableFiles = tables.results();
    // Each daily file, as the rows of its day: header and totals aside, no trailing tab.
    const std::regex dailyName(
        "run1/(animals_each_day_end|animals_each_day_start|cells)/run1_[a-z]+_day_([0-9]+)\\.txt");
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
    for (const char* own : {"traits", "genetics", "pedigree", "deaths"})  // on by default in the tables layout
      tableFiles.erase(std::string("run1/outputs/run1_") + own + ".tsv");
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
    const auto animals =
        rowsOf(here.file("run1/animals_each_day_start/run1_animals_day_" + std::to_string(day) + ".txt"));
    // By species and stage, each trait's values; the traits are the last 13 columns.
    std::map<std::pair<std::string, std::string>, std::vector<std::vector<double>>> values;
    for (std::size_t i = 1; i < animals.size(); ++i) {
      const auto& a = animals[i];
      const int state = std::stoi(a[3]);
      if (state != 0 && state != 1 && state != 4) continue;
      const std::string stage = state == 0             ? "egg"
                                : state == 4           ? "reproducing"
                                : std::stoi(a[4]) >= 4 ? "adult"
                                                       : "juvenile";
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
  EXPECT_NE(
      purging.out.find(banner(
          "Skipping encounter-predation analysis...\nReason: \"purgeDeadAnimals\" must be set to 0 (deactivated)")),
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
    for (const auto& row :
         rowsOf(purged.file("run1/animals_each_day_end/run1_animals_day_" + std::to_string(day) + ".txt")))
      ASSERT_TRUE(row[3] != "2" && row[3] != "3" && row[3] != "5" && row[3] != "6")
          << "day " << day << " starts with the dead animal " << row[0] << ": the dead were not purged after day "
          << day - 1 << "'s summary line";
  // And the dead columns count only each day's deaths.
  const auto daily = rowsOf(purged.file("run1/outputs/run1_summary.txt"));
  const auto lastDay = rowsOf(purged.file("run1/animals_each_day_start/run1_animals_day_60.txt"));
  int deadToday = 0;
  for (std::size_t i = 1; i < lastDay.size(); ++i)
    deadToday += lastDay[i][3] == "2" || lastDay[i][3] == "3" || lastDay[i][3] == "5" || lastDay[i][3] == "6";
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
    EXPECT_EQ(files.count("run1/" + std::string(folder) + "/run1_" + (folder[0] == 'c' ? "cells" : "animals") +
                          "_day_" + match[1].str() + ".txt"),
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
       {std::make_pair(
            std::string("snapshots=[\"animals\"]"),
            std::string("'simulation.outputs.snapshots' must list only animals_start, animals_end and cells, "
                        "got 'animals'")),
        std::make_pair(
            std::string("snapshots=cells"),
            std::string("'simulation.outputs.snapshots' must be a JSON list of animals_start, animals_end and "
                        "cells, got 'cells'")),
        std::make_pair(std::string("snapshotEvery=0"),
                       std::string("'simulation.outputs.snapshotEvery' must be at least 1, got 0")),
        std::make_pair(std::string("compression=zip"),
                       std::string("'simulation.outputs.compression' must be none or gzip, got 'zip'")),
        std::make_pair(std::string("deadAnimals=twice"),
                       std::string("'simulation.outputs.deadAnimals' must be every day or once, got 'twice'")),
        std::make_pair(std::string("deadAnimals=once"),
                       std::string("'simulation.outputs.deadAnimals' can be once only in the tables layout (simulation.outputs.layout tables)"))}) {
    const Outcome run = refused.run(exampleConfig(), "--set 'simulation.outputs." + setting + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "soilweb: run_params: " + error + "\n");
    EXPECT_FALSE(fs::exists(refused.path / "run1"));
  }
}

// simulation.outputs.files writes the kinds listed and nothing else, each byte for byte as the
// full run writes it; foodWeb "none" leaves out the food web alone; a contradiction is refused.
TEST(WholeRun, OnlyTheResultKindsListedAreWritten) {
  const std::string config = exampleConfig({{"days", "20"}});
  const std::string tables = " --set simulation.outputs.layout=tables";
  Scratch full, lean, some, noFoodWeb, refused;
  ASSERT_EQ(full.run(config, tables).status, 0);
  const auto all = full.results();

  const Outcome summaryOnly = lean.run(config, tables + " --set 'simulation.outputs.files=[\"summary\"]'");
  ASSERT_EQ(summaryOnly.status, 0) << summaryOnly.err;
  EXPECT_EQ(lean.results(), (std::map<std::string, std::string>{
                                {"run1/outputs/run1_summary.txt", all.at("run1/outputs/run1_summary.txt")}}));
  EXPECT_NE(summaryOnly.out.find("Reason: the food web was not asked for\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(lean.path / "run1/outputs/run1_run_info.json"));

  ASSERT_EQ(some.run(config, tables + " --set 'simulation.outputs.files=[\"summary\", \"genetics\", \"cells\", "
                                      "\"foodweb\"]'").status, 0);
  for (const auto& [path, text] : some.results()) EXPECT_EQ(text, all.at(path)) << path;
  std::set<std::string> written;
  for (const auto& [path, text] : some.results()) written.insert(path.substr(path.rfind('/') + 1));
  EXPECT_EQ(written, (std::set<std::string>{"run1_summary.txt", "run1_genetics.tsv", "run1_cells.tsv",
                                            "run1_encounters.txt", "run1_predations.txt", "run1_nodes.txt"}));

  ASSERT_EQ(noFoodWeb.run(config, tables + " --set simulation.outputs.foodWeb=none").status, 0);
  auto withoutFoodWeb = all;
  for (const char* matrix : {"encounters", "predations", "nodes"})
    withoutFoodWeb.erase(std::string("run1/outputs/run1_") + matrix + ".txt");
  EXPECT_EQ(noFoodWeb.results(), withoutFoodWeb);

  for (const auto& [setting, error] : std::vector<std::pair<std::string, std::string>>{
           {"files=[\"traits\"]", "'simulation.outputs.files' must list summary: every run writes its daily summary"},
           {"files=[\"summary\", \"trait\"]",
            "'simulation.outputs.files' must list only summary, traits, genetics, pedigree, snapshots, animals_start, "
            "animals_end, cells, foodweb, got 'trait'"},
           {"files=summary",
            "'simulation.outputs.files' must be a JSON list of result kinds (summary, traits, genetics, pedigree, "
            "snapshots, animals_start, animals_end, cells, foodweb), got 'summary'"},
           {"foodWeb=nne", "'simulation.outputs.foodWeb' must be matrices, edges or none, got 'nne'"}}) {
    const Outcome run = refused.run(config, "--set 'simulation.outputs." + setting + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "soilweb: run_params: " + error + "\n");
  }
  for (const auto& [settings, error] : std::vector<std::pair<std::string, std::string>>{
           {"files=[\"summary\"]' --set 'simulation.outputs.traitStatistics=true",
            "'simulation.outputs.files' leaves out traits, but 'simulation.outputs.traitStatistics' asks for it; "
            "change one of them"},
           {"files=[\"summary\", \"animals_end\"]' --set 'simulation.outputs.snapshots=[\"cells\"]",
            "'simulation.outputs.files' lists animals_end, but 'simulation.outputs.snapshots' leaves it out; change "
            "one of them"},
           {"files=[\"summary\", \"foodweb\"]' --set 'simulation.outputs.foodWeb=none",
            "'simulation.outputs.files' lists foodweb, but 'simulation.outputs.foodWeb' is none; change one of them"},
           {"files=[\"summary\", \"foodweb\"]' --set 'simulation.purgeDeadAnimals=1",
            "'simulation.outputs.files' lists foodweb, which needs simulation.purgeDeadAnimals 0 (the dead are kept "
            "to make it)"}}) {
    const Outcome run = refused.run(config, "--set 'simulation.outputs." + settings + "'");
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
  EXPECT_GT(plain.file("run1/outputs/run1_animals_end.tsv").size(), 2 * (std::size_t(1) << 20))
      << "a day's rows fit one member";
  std::size_t members = 0;
  for (std::size_t at = table.find("\x1f\x8b\x08"); at != std::string::npos; at = table.find("\x1f\x8b\x08", at + 1))
    ++members;
  EXPECT_GT(members, 4u);
  ASSERT_EQ(std::system(("cd " + shellQuote(three.path) + " && find run1 -name '*.gz' -exec gunzip {} +").c_str()), 0);
  EXPECT_TRUE(three.results() == plain.results());
}

// In the daily layout the background writer compresses several waiting files (or blocks of the
// food-web matrices) at once: each is still the one member it is alone, byte for byte.
TEST(WholeRun, DailyFilesCompressedTogetherAreTheFilesCompressedAlone) {
  const std::string config = exampleConfig({{"days", "6"}});
  const std::string gzip = "--set simulation.outputs.compression=gzip --set simulation.outputs.threads=";
  Scratch one, three;
  ASSERT_EQ(one.run(config, gzip + "1").status, 0);
  ASSERT_EQ(three.run(config, gzip + "3").status, 0);
  const auto files = three.results();
  EXPECT_GT(files.size(), 20u);
  EXPECT_TRUE(one.results() == files);
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
