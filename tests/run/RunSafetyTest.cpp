// Whole runs that try to lose, mix or misplace a run's results: two soilweb
// processes on one folder, links in and around the run folder, file names
// that collide, stops and kills at every phase of a run, running out of
// memory and disk. Moments are chosen through the run's test hook
// (SOILWEB_TEST_AT), never by timing.
#include "WholeRunFixtures.h"

#include <sys/mount.h>

#include <cstring>

namespace {
// Every file or link below a scratch folder whose name says it was left half written.
std::vector<std::string> partialFiles(const Scratch& here) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(here.path))
    if (entry.path().string().find(".partial") != std::string::npos) found.push_back(entry.path().string());
  return found;
}

std::string hook(const std::string& at) { return "export SOILWEB_TEST_AT=" + at + "; "; }

// A 20-day run that keeps its dead, so that it ends with the food-web files.
std::string shortRun() { return exampleConfig({{"days", "20"}}); }
}  // namespace

// Two runs started together into one folder: exactly one runs, the other is
// refused before it writes anything, and the folder holds one run's files.
TEST(SafeRun, TwoRunsIntoOneFolderNeverMix) {
  const std::string config = exampleConfig({{"days", "5"}});
  std::map<std::string, std::string> alone[2];
  for (int seed : {1, 2}) {
    Scratch reference;
    ASSERT_EQ(reference.run(config, "--seed " + std::to_string(seed)).status, 0);
    alone[seed - 1] = reference.results();
  }
  const std::regex refusal(
      "soilweb: (run folder 'run1' is in use by another soilweb process( \\(pid [0-9]+\\))?|output folder 'run1' "
      "already "
      "exists; remove it, change simulation.outputs.simulationName or pass --overwrite)\n");
  for (int attempt = 0; attempt < 20; ++attempt) {
    Scratch here;
    writeFile(here.path / "run_params", config);
    const std::string binary = shellQuote(SOILWEB_BINARY);
    std::system(("cd " + shellQuote(here.path) + " && { (" + binary + " --seed 1 >o1 2>e1; echo $? >s1) & (" + binary +
                 " --seed 2 >o2 2>e2; echo $? >s2) & wait; }")
                    .c_str());
    const int first = std::stoi(here.file("s1")), second = std::stoi(here.file("s2"));
    ASSERT_EQ(first + second, 1) << "exactly one runs: " << first << " " << second;
    const int winner = first == 0 ? 1 : 2;
    EXPECT_TRUE(std::regex_match(here.file(winner == 1 ? "e2" : "e1"), refusal))
        << here.file(winner == 1 ? "e2" : "e1");
    EXPECT_TRUE(here.results() == alone[winner - 1]) << "attempt " << attempt;
    EXPECT_EQ(infoField(here.file("run1/outputs/run1_run_info.json"), "seed"), std::to_string(winner));
  }
}

// While a run goes on (held still by SIGSTOP at a chosen day), neither a run
// with --overwrite nor a resume may touch its folder.
TEST(SafeRun, ARunningFolderIsRefusedToOverwriteAndResume) {
  Scratch here;
  writeFile(here.path / "run_params", shortRun());
  const pid_t pid = here.start("", hook("day@3:STOP"));
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(raw));
  const std::string inUse =
      "soilweb: run folder 'run1' is in use by another soilweb process (pid " + std::to_string(pid) + ")\n";
  const Outcome overwrite = here.run("", "--overwrite --seed 9");
  EXPECT_EQ(overwrite.status, 1);
  EXPECT_EQ(overwrite.err, inUse);
  const Outcome resume = here.run("", "--resume run1");
  EXPECT_EQ(resume.status, 1);
  EXPECT_EQ(resume.err, inUse);
  kill(pid, SIGCONT);
  ASSERT_EQ(here.finish(pid).status, 0);
  Scratch alone;
  ASSERT_EQ(alone.run(shortRun()).status, 0);
  EXPECT_TRUE(here.results() == alone.results());
}

// No link in or at the run folder is followed: nothing outside is written or
// removed, and the run is refused with the link named.
TEST(SafeRun, LinksAreNeverFollowed) {
  const std::string config = exampleConfig({{"days", "2"}});
  {  // outputs/ a link to another folder, in a folder an earlier run wrote
    Scratch here;
    ASSERT_EQ(here.run(config).status, 0);
    fs::create_directories(here.path / "elsewhere");
    writeFile(here.path / "elsewhere/run1_summary.txt", "not soilweb's");
    fs::remove_all(here.path / "run1/outputs");
    fs::create_directory_symlink("../elsewhere", here.path / "run1/outputs");
    const Outcome run = here.run(config, "--overwrite");
    EXPECT_EQ(run.status, 1);
    // Refused before the earlier run is removed: both are left as they were.
    EXPECT_EQ(run.err,
              "soilweb: 'run1/outputs' is a link; soilweb writes only into folders of its own, not through links\n");
    EXPECT_TRUE(fs::exists(here.path / "run1/cells/run1_cells_day_2.txt"));
    EXPECT_EQ(here.file("elsewhere/run1_summary.txt"), "not soilweb's");
    EXPECT_EQ(fs::directory_iterator(here.path / "elsewhere")->path().filename(), "run1_summary.txt");
  }
  {  // the summary a link to a file outside: removed as a link, the file kept
    Scratch here;
    ASSERT_EQ(here.run(config).status, 0);
    writeFile(here.path / "victim.txt", "precious");
    fs::remove(here.path / "run1/outputs/run1_summary.txt");
    fs::create_symlink("../../victim.txt", here.path / "run1/outputs/run1_summary.txt");
    const Outcome run = here.run(config, "--overwrite");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(here.file("victim.txt"), "precious");
    EXPECT_FALSE(fs::is_symlink(here.path / "run1/outputs/run1_summary.txt"));
  }
  {  // a folder holding only a link is not empty; a run folder that is a link is refused
    Scratch here;
    fs::create_directories(here.path / "run1");
    fs::create_directories(here.path / "elsewhere");
    fs::create_directory_symlink("../elsewhere", here.path / "run1/outputs");
    EXPECT_EQ(
        here.run(config).err,
        "soilweb: output folder 'run1' already exists; remove it, change simulation.outputs.simulationName or pass "
        "--overwrite\n");
    fs::remove_all(here.path / "run1");
    fs::create_directory_symlink("elsewhere", here.path / "run1");
    const Outcome run = here.run(config);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "soilweb: run folder 'run1' is a link; soilweb writes only into folders of its own, not through links\n");
    EXPECT_TRUE(fs::is_empty(here.path / "elsewhere"));
  }
}

// Output names that would write outside the run's folder or onto another of
// its files are refused in one line naming the keys, before anything is written.
TEST(SafeRun, OutputNamesThatCollideOrHoldPathsAreRefused) {
  const std::string prefix = "soilweb: run_params: ";
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"summaryFilename", "\"run_info.json\""}},
       "'simulation.outputs.summaryFilename' names the file 'run_info.json', which is the run's record; choose another "
       "name"},
      {{{"encountersMatrixFilename", "\"summary.txt\""}},
       "'simulation.outputs.summaryFilename' and 'simulation.outputs.encountersMatrixFilename' name the same file "
       "'summary.txt'; give each its own name"},
      {{{"predationsMatrixFilename", "\"nodes.txt\""}},
       "'simulation.outputs.predationsMatrixFilename' and 'simulation.outputs.nodesMatrixFilename' name the same file "
       "'nodes.txt'; give each its own name"},
      {{{"nodesMatrixFilename", "\"a/b\""}},
       "'simulation.outputs.nodesMatrixFilename' must be a plain file name (not empty, '.' or '..', no '/', newline or "
       "NUL), got 'a/b'"},
      {{{"summaryFilename", "\"..\""}},
       "'simulation.outputs.summaryFilename' must be a plain file name (not empty, '.' or '..', no '/', newline or "
       "NUL), got '..'"},
  };
  for (const auto& [edits, error] : cases) {
    Scratch here;
    const Outcome run = here.run(exampleConfig(edits));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, prefix + error + "\n");
    EXPECT_FALSE(fs::exists(here.path / "run1"));
  }
  // With the dead purged the matrices are not written, so their names do not matter.
  Scratch purged;
  EXPECT_EQ(
      purged.run(exampleConfig({{"days", "1"}, {"purgeDeadAnimals", "1"}, {"nodesMatrixFilename", "\"a/b\""}})).status,
      0);
}

// A stop at any phase leaves only whole files and a record that tells how the
// run ended: before the last day it stops with a checkpoint, from which the
// run carries on to the very files of a run never stopped; after the last
// day the closing files are finished and the run is complete.
TEST(SafeRun, AStopAtAnyPhaseLeavesWholeFilesAndATruthfulRecord) {
  Scratch never;
  const Outcome whole = never.run(shortRun());
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::string stopLine = "; every file written so far is complete; the food-web matrices were not written";
  struct Case {
    std::string at;
    int status;
    std::string err;
    std::string recorded;
    std::string closing;  // the closing line, up to the animals alive
  };
  const std::string completed = "soilweb: completed: day 20 of 20 reached, 21 days run; ";
  auto completedAfter = [](const std::string& signal) {
    return "soilweb: completed (" + signal + " came after the last day: the closing files were finished): day 20 of 20";
  };
  auto noted = [](const std::string& signal) {
    return "soilweb: note: " + signal +
           " arrived while the run's closing files were written; they were finished first\n";
  };
  const std::vector<Case> cases = {
      {"started:TERM", 143, "soilweb: stopped by SIGTERM after no day" + stopLine + "\n", "stopped",
       "soilweb: stopped by SIGTERM: no day run; "},
      {"day@4:INT", 130, "soilweb: stopped by SIGINT after day 4" + stopLine + "; carry on with --resume run1\n",
       "stopped", "soilweb: stopped by SIGINT: day 4 of 20 reached, 5 days run; "},
      {"day@6:HUP", 129, "soilweb: stopped by SIGHUP after day 6" + stopLine + "; carry on with --resume run1\n",
       "stopped", "soilweb: stopped by SIGHUP: day 6 of 20 reached, 7 days run; "},
      {"day@20:TERM", 0,
       "soilweb: note: SIGTERM arrived after the last day; the run's closing files were finished first\n", "completed",
       completedAfter("SIGTERM")},
      {"closing:INT", 0, noted("SIGINT"), "completed", completedAfter("SIGINT")},
      {"matrices:HUP", 0, noted("SIGHUP"), "completed", completedAfter("SIGHUP")},
      {"record:TERM", 0, "", "completed", completed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    Scratch here;
    const Outcome run = here.run(shortRun(), "", hook(c.at));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.closing.substr(0, c.closing.size()), c.closing);
    EXPECT_EQ(partialFiles(here), std::vector<std::string>{});
    const std::string info = here.file("run1/outputs/run1_run_info.json");
    EXPECT_EQ(infoField(info, "status"), "\"" + c.recorded + "\"");
    EXPECT_EQ(infoField(info, "exit_status"), std::to_string(c.status));
    if (c.recorded == "completed") {
      EXPECT_TRUE(here.results() == never.results());
      EXPECT_FALSE(fs::exists(here.path / "run1/checkpoint"));
    } else if (c.at != "started:TERM") {
      const Outcome resumed = here.run("", "--resume run1");
      ASSERT_EQ(resumed.status, 0) << resumed.err;
      EXPECT_TRUE(here.results() == never.results());
    } else {
      EXPECT_FALSE(fs::exists(here.path / "run1/checkpoint")) << "no day ran: there is nothing to carry on";
    }
  }
}

// Killed outright at any phase of a run with checkpoints, the run carries on
// from what it left to the very files of a run never stopped; after the last
// day it carries on from the last day's checkpoint and writes only what is missing.
TEST(SafeRun, AKillAtAnyPhaseWithCheckpointsIsCarriedOnByteForByte) {
  const std::string every = "--checkpoint-every 4";
  Scratch never;
  ASSERT_EQ(never.run(shortRun(), every).status, 0);
  for (const auto& [at, from] : std::vector<std::pair<std::string, std::string>>{
           {"day@9:KILL", "7"}, {"closing:KILL", "20"}, {"matrices:KILL", "20"}, {"record:KILL", "20"}}) {
    SCOPED_TRACE(at);
    Scratch here;
    here.run(shortRun(), every, hook(at));
    EXPECT_EQ(infoField(here.file("run1/outputs/run1_run_info.json"), "status"), "\"running\"");
    const Outcome resumed = here.run("", "--resume run1");
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("Resuming from the checkpoint of day " + from + "\n"), std::string::npos) << resumed.out;
    if (from == "20") {
      EXPECT_EQ(resumed.out.find("Running day"), std::string::npos) << "every day had run";
    }
    EXPECT_TRUE(here.results() == never.results());
    EXPECT_EQ(partialFiles(here), std::vector<std::string>{});
  }
}

// Running out of memory after the folder exists ends the run with one line
// and a record that says so, and leaves no half-written file; a checkpoint
// that cannot be written is recorded with its reason.
TEST(SafeRun, EveryFailureIsRecordedWithItsReason) {
  for (const auto& [at, line] : std::vector<std::pair<std::string, std::string>>{
           {"day@3:oom", "soilweb: out of memory on day 3; every file holds the days to day 3"}, {"matrices:oom", "soilweb: out of memory after day 20"}}) {
    SCOPED_TRACE(at);
    Scratch here;
    const Outcome run = here.run(shortRun(), "", hook(at));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line + "\n");
    const std::string info = here.file("run1/outputs/run1_run_info.json");
    EXPECT_EQ(infoField(info, "status"), "\"failed\"");
    EXPECT_EQ(infoField(info, "error"), "\"" + line + "\"");
    EXPECT_EQ(partialFiles(here), std::vector<std::string>{});
  }
  // A file or a link where the checkpoints go is refused up front, as any other folder of the run is,
  // not found when the first checkpoint fails; the earlier run is left whole.
  Scratch here;
  ASSERT_EQ(here.run(exampleConfig({{"days", "1"}})).status, 0);
  const std::string before = here.file("run1/outputs/run1_run_info.json");
  writeFile(here.path / "run1/checkpoint", "a file where the checkpoints go");
  const Outcome run = here.run(exampleConfig({{"days", "3"}}), "--overwrite --checkpoint-every 2");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "soilweb: 'run1/checkpoint' is not a folder\n");
  EXPECT_EQ(here.file("run1/outputs/run1_run_info.json"), before);
  fs::remove(here.path / "run1/checkpoint");
  fs::create_directory_symlink("../outputs", here.path / "run1/checkpoint");
  EXPECT_EQ(here.run("", "--overwrite --checkpoint-every 2").err,
            "soilweb: 'run1/checkpoint' is a link; soilweb writes only into folders of its own, not through links\n");
}

// On a full disk the run stops at the end of the day it notices, says which
// file could not be written, and still records how it ended.
TEST(SafeRun, AFullDiskStopsTheRunAndIsRecorded) {
  Scratch here;
  fs::create_directories(here.path / "disk");
  if (::mount("tmpfs", (here.path / "disk").c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "a small disk cannot be mounted here (" << std::strerror(errno) << "); needs root";
  struct Unmount {
    fs::path at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{here.path / "disk"};
  writeFile(here.path / "run_params", readFile(fs::path(SOILWEB_SOURCE_DIR) / "tests/soak/soak.json"));
  const Outcome run = here.run("", "--output-dir disk --checkpoint-every 2 --force-size");
  EXPECT_EQ(run.status, 1);
  std::smatch match;
  ASSERT_TRUE(
      std::regex_match(run.err, match,
                       std::regex("soilweb: no room left on the disk: 'soak/[a-z_]+/soak_[a-z_]+[0-9]+\\.[a-z]+' "
                                  "could not be written \\(No space left on device\\); the run stopped after "
                                  "day ([0-9]+)\n")))
      << run.err;
  const std::string info = here.file("disk/soak/outputs/soak_run_info.json");
  EXPECT_EQ(infoField(info, "status"), "\"failed\"");
  EXPECT_EQ(infoField(info, "last_day"), std::string(match[1]));
  EXPECT_EQ(infoField(info, "error"), "\"" + run.err.substr(0, run.err.size() - 1) + "\"");
  EXPECT_LT(std::stoi(match[1]), 100);
  EXPECT_EQ(partialFiles(here), std::vector<std::string>{});
}

// --resume says what it cannot carry on, and takes the configuration from the
// run's record; the record of a drawn seed repeats the run.
TEST(SafeRun, ResumeAndTheRecordRepeatTheRun) {
  Scratch here;
  EXPECT_EQ(here.run(exampleConfig(), "--resume nowhere").err, "soilweb: --resume: there is no run folder 'nowhere'\n");
  const Outcome drawn = here.run(withoutSeed(exampleConfig({{"days", "3"}})));
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  const std::string info = here.file("run1/outputs/run1_run_info.json");
  const std::string seed = infoField(info, "seed");
  EXPECT_NE(info.find("\"seed\": " + seed + "\n"), std::string::npos) << "the drawn seed is in the configuration too";
  const Outcome again = here.run("", "--resume run1");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err,
            "soilweb: --resume: the run in 'run1' has already ended (completed); there is nothing to carry on\n");

  // The recorded configuration, run as it stands, repeats the run.
  Scratch repeat;
  const Outcome rerun =
      repeat.run(std::regex_replace(info.substr(info.find("\"configuration\": ") + 17), std::regex("\n}\n$"), "\n"));
  ASSERT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_TRUE(repeat.results() == here.results());
}

// --check reads and checks a configuration like a run, and writes nothing.
TEST(SafeRun, CheckReportsWithoutWriting) {
  Scratch here;
  const Outcome valid = here.run(exampleConfig({{"temperature", "\"20 degrees\""}}), "--check");
  EXPECT_EQ(valid.status, 0);
  EXPECT_EQ(valid.out, "soilweb: run_params: the configuration is valid, with 1 warning\n");
  EXPECT_EQ(valid.err, "soilweb: run_params: warning: 'simulation.temperature' is \"20 degrees\"; read as 20\n");
  const Outcome invalid = here.run(exampleConfig({{"worldLength", "3"}}), "--check");
  EXPECT_EQ(invalid.status, 1);
  EXPECT_EQ(invalid.out, "");
  EXPECT_EQ(invalid.err,
            "soilweb: run_params: 'simulation.worldLength' must be 1 or an even number of at least 4, got 3\n");
  EXPECT_EQ(here.run(exampleConfig(), "--check --seed 4 --strict").status, 0);
  EXPECT_FALSE(fs::exists(here.path / "run1"));
}
