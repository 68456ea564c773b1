// Whole runs of the binary: a stopped run carried on from its checkpoint, and checkpoints refused.
#include "WholeRunFixtures.h"

#include <cmath>
#include <numeric>

#include <pty.h>
#include <sys/stat.h>

// A run stopped (by SIGTERM, which writes a checkpoint of the last day run, or
// by SIGKILL after a periodic checkpoint) and carried on with --resume leaves
// the very files and day lines of a run never stopped: dead animals kept
// (food-web matrices) and purged, the threaded soil step, both hunting modes,
// compressed and thinned files, the pedigree and genetic statistics under a
// temperature series, neutral markers. The stop comes at a chosen day, through the
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
       "--set simulation.outputs.snapshotEvery=3 --set simulation.outputs.layout=tables "
       "--set 'simulation.temperatureSeries=[[0, 15], [150, 25]]'",
       "day@123:KILL"},
      {"--set simulation.days=200 --checkpoint-every 25 --set simulation.outputs.layout=tables "
       "--set 'simulation.outputs.files=[\"summary\", \"genetics\"]'",
       "day@90:KILL"},
      // Neutral markers: their genomes and their generator's state carry over too.
      {"--set simulation.days=150 --set world.life.animals.0.genetics.neutralLoci=9 "
       "--set world.life.animals.1.genetics.neutralLoci=3 --set simulation.outputs.pedigree=true "
       "--set simulation.outputs.geneticStatistics=true",
       "day@71:TERM"},
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
    EXPECT_EQ(day[1], !killed ? stop.substr(4, stop.find(':') - 4) : settings.find("every 10") != std::string::npos ? "119" : "74");
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
          refusal +
              "was written by a run of another configuration: resume with the configuration file and --set "
              "settings the run started with");
  refused(days + "--seed 5", refusal + "was written by a run of seed 4242, not 5");

  std::string changed = saved;
  changed[changed.size() / 2] ^= 0x10;
  writeFile(here.path / path, changed);
  refused(days, refusal + "is damaged: its checksum does not match its contents");

  changed = saved;
  changed[28] = '9';  // the first digit of the version that wrote it
  writeFile(here.path / path, changed);
  refused(days,
          refusal + "was written by soilweb 9[^;]*; this is soilweb [^:]*: resume it with the soilweb that wrote it");

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
