// Whole runs of the binary: the run's record, its seed, repeating a run byte for byte, and the
// golden runs.
#include "WholeRunFixtures.h"

#include <cmath>
#include <numeric>

#include <pty.h>
#include <sys/stat.h>

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
  EXPECT_TRUE(
      std::regex_match(infoField(info, "start_time"), std::regex("\"20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z\"")));
  EXPECT_NE(infoField(info, "commit"), "(absent)");
  EXPECT_NE(infoField(info, "peak_memory_bytes"), "null");
  EXPECT_NE(
      info.find("\"command_line\": [\"" + std::string(SOILWEB_BINARY) + "\", \"--set\", \"simulation.temperature=21\""),
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

TEST(WholeRun, TheSameSeedRepeatsTheRunByteForByte) {
  Scratch first, second;
  ASSERT_EQ(first.run(exampleConfig({{"days", "30"}})).status, 0);
  ASSERT_EQ(second.run(exampleConfig({{"days", "30"}, {"parallel", "1"}})).status, 0);
  EXPECT_TRUE(first.results() == second.results());
  // The C library picks its exp, log and pow by processor; without FMA (as on
  // older machines) the results must be the same.
  Scratch plain;
  ASSERT_EQ(
      plain.run(exampleConfig({{"days", "30"}}), "", "export GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA; ").status, 0);
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
  for (const auto& [name, args] :
       {std::make_pair(std::string("kept"), std::string()),
        std::make_pair(std::string("purged"), std::string("--set simulation.purgeDeadAnimals=1 "
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
                 " && find run1 -path run1/.soilweb -prune -o -type f ! -name '*_run_info.json' -print | LC_ALL=C sort "
                 "| xargs sha256sum > sums.txt")
                    .c_str());
    const std::string actual = here.file("sums.txt");
    const fs::path golden = fs::path(SOILWEB_SOURCE_DIR) / "tests" / "golden" / (name + "_run.sha256");
    if (std::getenv("SOILWEB_UPDATE_GOLDEN")) writeFile(golden, actual);
    EXPECT_EQ(actual, readFile(golden)) << name;
  }
}
