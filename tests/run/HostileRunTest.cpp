// Whole runs under an attacker's or a fault injector's hand: links placed at
// the run's own files, files soilweb did not write, a lock file removed,
// names holding control characters, closed pipes and file-size limits,
// records that are not files, numbers that do not fit, damaged tables to
// resume. Moments are chosen through the run's test hook, never by timing.
#include "WholeRunFixtures.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <tuple>

namespace {
std::string hook(const std::string& at) { return "export SOILWEB_TEST_AT=" + at + "; "; }

// A file outside the run folder and a hard link to it at link.
void hardLink(const Scratch& here, const std::string& outside, const std::string& link) {
  writeFile(here.path / outside, "precious");
  fs::create_directories((here.path / link).parent_path());
  fs::remove(here.path / link);
  fs::create_hard_link(here.path / outside, here.path / link);
}
}  // namespace

// Every file soilweb starts is created anew, and a file it adds to is never a
// hard link: hard links at its bookkeeping files and at an output file leave
// the linked files outside as they were.
TEST(HostileRun, HardLinksAtItsFilesAreNeverWrittenThrough) {
  const std::string config = exampleConfig({{"days", "6"}});
  Scratch here;
  for (const char* own : {"reserve", "written", "lock"})
    hardLink(here, std::string("outside_") + own, std::string("run1/.soilweb/") + own);
  const Outcome run = here.run(config, "--checkpoint-every 2", hook("day@3:TERM"));
  ASSERT_EQ(run.status, 143) << run.err;
  for (const char* own : {"reserve", "written", "lock"})
    EXPECT_EQ(here.file(std::string("outside_") + own), "precious");

  // Resumed: the summary it adds to and the list of files it extends are hard links.
  hardLink(here, "outside_summary", "run1/outputs/run1_summary.txt");
  const Outcome summary = here.run("", "--resume run1");
  EXPECT_EQ(summary.status, 1);
  EXPECT_NE(summary.err.find("soilweb: cannot open 'run1/outputs/run1_summary.txt': Too many links\n"),
            std::string::npos)
      << summary.err;
  EXPECT_EQ(here.file("outside_summary"), "precious");
  EXPECT_EQ(here.file("outside_written"), "precious");
}

// --overwrite never writes over a file the earlier run did not list: it
// refuses before anything is removed, naming the file, plain or a hard link.
TEST(HostileRun, OverwriteKeepsWhatItSaysItKeeps) {
  const std::string config = exampleConfig({{"days", "3"}});
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "a hard link" : "a plain file");
    Scratch here;
    ASSERT_EQ(here.run(config).status, 0);
    const std::string mine = "run1/cells/run1_cells_day_1.txt";
    std::string list = here.file("run1/.soilweb/written");
    list.erase(list.find("cells/run1_cells_day_1.txt\n"), std::strlen("cells/run1_cells_day_1.txt\n"));
    writeFile(here.path / "run1/.soilweb/written", list);
    if (linked)
      hardLink(here, "outside", mine);
    else
      writeFile(here.path / mine, "precious");
    const auto before = here.tree();
    const Outcome run = here.run(config, "--overwrite");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "soilweb: --overwrite: '" + mine +
                           "' was not written by soilweb (it is not in the run's list of files written), and this run "
                           "would write over it; move it away or change simulation.outputs.simulationName\n");
    EXPECT_EQ(here.file(mine), "precious");
    EXPECT_TRUE(here.tree() == before) << "nothing was removed";
  }
  // A file the run would not write is kept and named, as before.
  Scratch here;
  ASSERT_EQ(here.run(config).status, 0);
  writeFile(here.path / "run1/outputs/notes.txt", "mine");
  const Outcome run = here.run(config, "--overwrite");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "soilweb: --overwrite kept 1 file soilweb did not write: run1/outputs/notes.txt\n");
  EXPECT_EQ(here.file("run1/outputs/notes.txt"), "mine");
}

// The lock is on the run folder itself: removing the lock file of a running
// (stopped) run does not let an --overwrite in, and the first run finishes whole.
TEST(HostileRun, TheLockCannotBeRemoved) {
  const std::string config = exampleConfig({{"days", "8"}});
  Scratch alone;
  ASSERT_EQ(alone.run(config).status, 0);
  Scratch here;
  writeFile(here.path / "run_params", config);
  const pid_t pid = here.start("", hook("day@3:STOP"));
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(raw));
  fs::remove(here.path / "run1/.soilweb/lock");
  const Outcome overwrite = here.run("", "--overwrite --seed 9");
  EXPECT_EQ(overwrite.status, 1);
  EXPECT_EQ(overwrite.err, "soilweb: run folder 'run1' is in use by another soilweb process\n");
  EXPECT_EQ(here.run("", "--resume run1").status, 1);
  kill(pid, SIGCONT);
  ASSERT_EQ(here.finish(pid).status, 0);
  EXPECT_TRUE(here.results() == alone.results());
}

// Names are names: a control character in the run name, a file-name key or a
// species name is refused in one line naming the key and the position, before
// anything is written; a species name a spreadsheet would take for a formula
// is warned about.
TEST(HostileRun, NamesHoldingControlCharactersAreRefused) {
  const std::string prefix = "soilweb: run_params: ";
  const std::string rest = "; names may not hold NUL, tabs, newlines or other control characters\n";
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"simulationName", "\"exa\\u0000mple\"",
       "'simulation.outputs.simulationName' holds a control character (U+0000) at position 4"},
      {"summaryFilename", "\"sum\\nmary.txt\"",
       "'simulation.outputs.summaryFilename' holds a control character (U+000A) at position 4"},
      {"nodesMatrixFilename", "\"nodes\\u007f.txt\"",
       "'simulation.outputs.nodesMatrixFilename' holds a control character (U+007F) at position 6"},
      {"name", "\"pr\\tey\\n999\\tfake\"",
       "'world.life.animals[0].name' holds a control character (U+0009) at position 3"},
  };
  for (const auto& [key, value, error] : cases) {
    SCOPED_TRACE(key);
    Scratch here;
    const Outcome run = here.run(exampleConfig({{key, value}}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, prefix + error + rest);
    EXPECT_EQ(fs::directory_iterator(here.path)->path().filename(), "run_params") << "nothing written";
    EXPECT_EQ(here.run("", "--check").err, prefix + error + rest) << "--check says the same";
  }
  Scratch here;
  const Outcome formula = here.run(exampleConfig({{"days", "1"}, {"name", "\"=HYPERLINK(1)\""}}));
  EXPECT_EQ(formula.status, 0);
  EXPECT_EQ(formula.err,
            prefix +
                "warning: 'world.life.animals[0].name' starts with '=': a spreadsheet opening the tables may take "
                "the name for a formula\n");
}

// What soilweb reads must be a regular file of a bounded size: a FIFO or a
// device in place of a record or a configuration is refused at once (never
// waited on or read without end), and memory running out while reading gives
// one line.
TEST(HostileRun, RecordsAndConfigurationsAreReadSafely) {
  Scratch here;
  const std::string config = exampleConfig({{"days", "6"}});
  ASSERT_EQ(here.run(config, "--checkpoint-every 2", hook("day@3:TERM")).status, 143);
  const std::string record = "run1/outputs/run1_run_info.json";
  fs::remove(here.path / record);
  ASSERT_EQ(::mkfifo((here.path / record).c_str(), 0666), 0);
  Outcome run = here.run("", "--resume run1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "soilweb: cannot read run1/outputs/run1_run_info.json: it is not a regular file\n");
  fs::remove(here.path / record);
  fs::create_symlink("/dev/zero", here.path / record);
  run = here.run("", "--resume run1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "soilweb: cannot read run1/outputs/run1_run_info.json: it is a link, not a file soilweb wrote\n");

  run = here.run("", "--check /dev/zero");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "soilweb: cannot read /dev/zero: it is not a regular file\n");
  writeFile(here.path / "big.json", std::string((64 << 20) + 1, ' '));
  run = here.run("", "--check big.json");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "soilweb: cannot read big.json: it is larger than 64 MiB, the most soilweb reads\n");
  fs::remove(here.path / "big.json");

  // A configuration may be a link to a file; under a tight limit of address space it is still
  // read (not where sanitizers need more address space than that).
  fs::create_symlink("run_params", here.path / "linked.json");
#if defined(SOILWEB_SANITIZED)
  const std::string limit;
#else
  const std::string limit = "ulimit -v 60000; ";
#endif
  EXPECT_EQ(here.run("", "--check linked.json", limit).out, "soilweb: linked.json: the configuration is valid\n");
  run = here.run("", "--check", hook("configuration:oom"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "soilweb: out of memory before the run started (while reading the configuration); nothing was run\n");
}

// A whole number that does not fit its key is an error naming the key, never
// a wrapped value; a --set value for a number must be one, whole; and a
// configuration --check passes is never refused by the run.
TEST(HostileRun, NumbersThatDoNotFitAreRefused) {
  const std::string prefix = "soilweb: run_params: ";
  for (const auto& [key, value, error] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"days", "99999999999999999999999",
            "'simulation.days' is out of range: 99999999999999999999999 does not fit a whole number from -2147483648 "
            "to 2147483647"},
           {"worldLength", "3e9",
            "'simulation.worldLength' is out of range: 3e9 does not fit a whole number from -2147483648 to "
            "2147483647"}}) {
    Scratch here;
    const Outcome run = here.run(exampleConfig({{key, value}}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, prefix + error + "\n");
    EXPECT_FALSE(fs::exists(here.path / "run1"));
  }
  Scratch here;
  EXPECT_EQ(here.run(exampleConfig({{"days", "-1"}})).status, 0) << "-1 still runs no day";
  for (const auto& [setting, error] : std::vector<std::pair<std::string, std::string>>{
           {"simulation.days=2o0", "the key takes a whole number, got '2o0'"},
           {"simulation.days=2.5", "the key takes a whole number, got '2.5'"},
           {"simulation.temperature=warm", "the key takes a number, got 'warm'"},
           {"world.life.animals.1.initialPopulation=[3]", "the key takes a whole number, got '[3]'"}}) {
    const Outcome check = here.run("", "--check --set " + shellQuote(setting));
    EXPECT_EQ(check.status, 2) << setting;
    EXPECT_EQ(check.err, "soilweb: --set " + setting + ": " + error + "\n");
  }
  EXPECT_EQ(here.run("", "--check --set simulation.days=20 --set simulation.temperature=\\\"21.5\\\"").status, 0);

  // A name the file system cannot hold is refused by --check as by the run.
  const std::string longName = "\"" + std::string(250, 'n') + "\"";
  const Outcome check = here.run(exampleConfig({{"simulationName", longName}}), "--check");
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.err.find("soilweb: cannot create output file '" + std::string(250, 'n')), 0u) << check.err;
  EXPECT_EQ(here.run("").err, check.err);
}

// A transcript that cannot be written ends the run like a stop, with a
// checkpoint and a record saying why (never a death by SIGPIPE, never exit 0
// with the transcript lost); a file-size limit ends it like a full disk.
TEST(HostileRun, ClosedPipesFullDevicesAndFileSizeLimitsEndTheRunTruthfully) {
  const std::string config = exampleConfig({{"days", "10"}});
  Scratch never;
  ASSERT_EQ(never.run(config).status, 0);
  Scratch here;
  Outcome run = here.run(config, "--checkpoint-every 2", hook("day@3:PIPE"));
  EXPECT_EQ(run.status, 1);
  const std::string line =
      "soilweb: the transcript could not be written to standard output (Broken pipe); the run "
      "stopped after day 4; carry on with --resume run1";
  EXPECT_EQ(run.err, line + "\n");
  EXPECT_EQ(run.closing.substr(0, 46), "soilweb: failed: day 4 of 10 reached, 5 days r");
  const std::string info = here.file("run1/outputs/run1_run_info.json");
  EXPECT_EQ(infoField(info, "status"), "\"failed\"");
  EXPECT_EQ(infoField(info, "error"), "\"" + line + "\"");
  ASSERT_EQ(here.run("", "--resume run1").status, 0);
  EXPECT_TRUE(here.results() == never.results());

  // A real `| head -1`: whenever head goes, before the run starts or during it, the run ends
  // with status 1 and one line saying why, never by SIGPIPE; a run it cut short is recorded.
  Scratch piped;
  writeFile(piped.path / "run_params", exampleConfig({{"days", "300"}}));
  const int piping = std::system(("cd " + shellQuote(piped.path) + " && { " + shellQuote(SOILWEB_BINARY) +
                                  " --checkpoint-every 10 2>stderr.txt; echo $? >status.txt; } | head -1 >/dev/null")
                                     .c_str());
  EXPECT_EQ(WEXITSTATUS(piping), 0);
  const std::string pipedStatus = piped.file("status.txt");
  EXPECT_TRUE(pipedStatus == "1\n" || pipedStatus == "0\n") << pipedStatus;
  if (pipedStatus == "1\n") {
    EXPECT_NE(piped.file("stderr.txt").find("the transcript could not be written to standard output (Broken pipe)"),
              std::string::npos)
        << piped.file("stderr.txt");
    if (fs::exists(piped.path / "run1")) {
      EXPECT_EQ(infoField(piped.file("run1/outputs/run1_run_info.json"), "status"), "\"failed\"");
    }
  }

  Scratch full;
  writeFile(full.path / "run_params", config);
  const int raw = std::system(
      ("cd " + shellQuote(full.path) + " && " + shellQuote(SOILWEB_BINARY) + " >/dev/full 2>stderr.txt").c_str());
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  EXPECT_EQ(full.file("stderr.txt"),
            "soilweb: the transcript could not be written to standard output (No space left on device) "
            "before the run started; nothing was written\n");
  EXPECT_FALSE(fs::exists(full.path / "run1"));

  Scratch limited;
  run = limited.run(exampleConfig({{"days", "30"}, {"initialPopulation", "400"}}), "", "ulimit -f 200; ");
  EXPECT_EQ(run.status, 1);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      run.err, match,
      std::regex(
          "soilweb: warning: cannot keep 256 KiB of room for the run's record in 'run1/.soilweb/reserve' \\(File "
          "too large\\); should the disk fill, the record is written over in place\n"
          "(soilweb: the file-size limit was reached: 'run1/[a-z_]+/run1_[a-z_0-9]+\\.txt' could not be "
          "written \\(File too large\\); the run stopped after day ([0-9]+))\n")))
      << run.err;
  const std::string limitedInfo = limited.file("run1/outputs/run1_run_info.json");
  EXPECT_EQ(infoField(limitedInfo, "status"), "\"failed\"");
  EXPECT_EQ(infoField(limitedInfo, "error"), "\"" + std::string(match[1]) + "\"");
  for (const auto& entry : fs::recursive_directory_iterator(limited.path))
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
}

namespace {
// A tmpfs of the given size at here/disk, unmounted when it goes; skips the test where none can be mounted.
struct SmallDisk {
  fs::path at;
  bool mounted = false;
  SmallDisk(const Scratch& here, const std::string& size) : at(here.path / "disk") {
    fs::create_directories(at);
    mounted = ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount(at.c_str());
  }
};
}  // namespace

// After a file of a day fails the run ends at the last day whose files are
// all whole: the summary never lists a day whose files are missing. On a disk
// with no room for the reserve the run says so and still records its end.
TEST(HostileRun, TheSummaryNeverRunsAheadOfLostFiles) {
  Scratch here;
  SmallDisk disk(here, "1m");
  if (!disk.mounted) GTEST_SKIP() << "a small disk cannot be mounted here (" << std::strerror(errno) << "); needs root";
  writeFile(here.path / "run_params", readFile(fs::path(SOILWEB_SOURCE_DIR) / "tests/soak/soak.json"));
  const Outcome run = here.run("", "--output-dir disk --force-size");
  EXPECT_EQ(run.status, 1);
  const auto summary = rowsOf(readFile(disk.at / "soak/outputs/soak_summary.txt"));
  ASSERT_GE(summary.size(), 2u) << run.err;
  const std::string last = summary.back()[0];
  for (const auto& folder : {"animals_each_day_start", "animals_each_day_end", "cells"})
    for (int day = 0; day <= std::stoi(last); ++day) {
      const std::string kind = std::string(folder) == "cells" ? "cells" : "animals";
      EXPECT_TRUE(fs::exists(disk.at / "soak" / folder / ("soak_" + kind + "_day_" + std::to_string(day) + ".txt")))
          << folder << " day " << day;
    }
  const std::string info = readFile(disk.at / "soak/outputs/soak_run_info.json");
  EXPECT_EQ(infoField(info, "status"), "\"failed\"");
  EXPECT_EQ(infoField(info, "last_day"), last);

  Scratch tiny;
  SmallDisk room(tiny, "200k");
  writeFile(tiny.path / "run_params", readFile(fs::path(SOILWEB_SOURCE_DIR) / "tests/soak/soak.json"));
  const Outcome cramped = tiny.run("", "--output-dir disk --force-size");
  EXPECT_EQ(cramped.status, 1);
  EXPECT_EQ(cramped.err.find("soilweb: warning: cannot keep 256 KiB of room for the run's record in "
                             "'disk/soak/.soilweb/reserve' (No space left on device)"),
            0u)
      << cramped.err;
  EXPECT_EQ(infoField(readFile(room.at / "soak/outputs/soak_run_info.json"), "status"), "\"failed\"");
}

// A table layout run on a full disk: every gzip table is valid gzip and ends
// at the record's last day, the table whose write failed cut back too.
TEST(HostileRun, AFullDiskLeavesEveryTableWholeToTheLastDay) {
  Scratch here;
  SmallDisk disk(here, "2600k");
  if (!disk.mounted) GTEST_SKIP() << "a small disk cannot be mounted here (" << std::strerror(errno) << "); needs root";
  const Outcome run = here.run(exampleConfig({{"days", "300"}, {"initialPopulation", "400"}, {"worldLength", "40"}}),
                               "--output-dir disk --force-size --set simulation.outputs.layout=tables "
                               "--set simulation.outputs.compression=gzip");
  ASSERT_EQ(run.status, 1) << run.err;
  const std::string lastDay = infoField(readFile(disk.at / "run1/outputs/run1_run_info.json"), "last_day");
  int tables = 0;
  for (const auto& entry : fs::directory_iterator(disk.at / "run1/outputs")) {
    const std::string path = entry.path().string();
    if (path.size() < 3 || path.substr(path.size() - 3) != ".gz" || path.find("pedigree") != std::string::npos)
      continue;
    ++tables;
    EXPECT_EQ(std::system(("gzip -t " + shellQuote(path)).c_str()), 0) << path;
    const std::string last = "zcat " + shellQuote(path) + " | tail -n 1 | cut -f 1 > " +
                             shellQuote((here.path / "last.txt").string());
    ASSERT_EQ(std::system(last.c_str()), 0);
    EXPECT_EQ(here.file("last.txt"), lastDay + "\n") << path;
  }
  EXPECT_EQ(tables, 7);
}

// The checkpoint keeps a CRC-32 of every file a resume cuts back and
// continues: a byte changed in the kept part refuses the resume in one line
// naming the file, and the file is left as it was.
TEST(HostileRun, ResumeChecksWhatItKeeps) {
  const std::string tables = exampleConfig(
      {{"days", "12"}, {"summaryFilename", "\"summary.txt\", \"layout\": \"tables\", \"compression\": \"gzip\""}});
  for (const auto& [config, file] : std::vector<std::pair<std::string, std::string>>{
           {exampleConfig({{"days", "12"}}), "run1/outputs/run1_summary.txt"},
           {tables, "run1/outputs/run1_animals_end.tsv.gz"},
           {tables, "run1/outputs/run1_traits.tsv.gz"}}) {
    SCOPED_TRACE(file);
    Scratch here;
    ASSERT_EQ(here.run(config, "--checkpoint-every 4", hook("day@9:TERM")).status, 143);
    std::string bytes = here.file(file);
    ASSERT_GT(bytes.size(), 60u);
    bytes[bytes.size() / 2] ^= 0x20;
    writeFile(here.path / file, bytes);
    const Outcome resumed = here.run("", "--resume run1");
    EXPECT_EQ(resumed.status, 1);
    EXPECT_NE(resumed.err.find("soilweb: '" + file + "' has changed since the checkpoint: its first "),
              std::string::npos)
        << resumed.err;
    EXPECT_EQ(here.file(file), bytes);
  }
}

// The smaller faults: a thinned run that died out writes the start of its
// last day too (daily files and tables), and --output-dir makes missing parents.
TEST(HostileRun, AThinnedRunThatDiesOutKeepsTheStartOfItsLastDay) {
  const std::string config = exampleConfig({{"days", "300"}, {"initialPopulation", "120"}});
  // The predators (one founder) die out long before day 300.
  const std::string dying = std::regex_replace(
      config, std::regex("(\"initialPopulation\"\\s*:\\s*)[0-9]+(,\\s*\"huntingMode\"\\s*:\\s*\"active_hunting\")"),
      "$011$2");
  ASSERT_NE(dying, config);
  Scratch every;
  ASSERT_EQ(every.run(dying).status, 0);
  const auto summary = rowsOf(every.file("run1/outputs/run1_summary.txt"));
  const std::string last = summary.back()[0];
  ASSERT_LT(std::stoi(last), 300);
  ASSERT_NE(std::stoi(last) % 10, 0) << "the last day must not be a thinned day that is due anyway";
  const std::string startOfLast = "run1/animals_each_day_end/run1_animals_day_" + last + ".txt";
  const std::string thin = "\"summary.txt\", \"snapshotEvery\": 10";
  Scratch thinned;
  ASSERT_EQ(thinned.run(std::regex_replace(dying, std::regex("\"summary.txt\""), thin), "--output-dir od/a/b").status,
            0);
  EXPECT_EQ(thinned.file("od/a/b/" + startOfLast), every.file(startOfLast));
  EXPECT_FALSE(fs::exists(thinned.path / "od/a/b/run1/animals_each_day_end/run1_animals_day_11.txt"));
  for (const auto& entry : fs::recursive_directory_iterator(thinned.path))
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();

  Scratch tables;
  ASSERT_EQ(
      tables.run(std::regex_replace(dying, std::regex("\"summary.txt\""), thin + ", \"layout\": \"tables\"")).status,
      0);
  std::string lastRows, days;
  for (const auto& row : rowsOf(tables.file("run1/outputs/run1_animals_start.tsv"))) {
    if (row[0] == last) lastRows += "x";
    if (days.empty() || days.substr(days.rfind(' ') + 1) != row[0]) days += " " + row[0];
  }
  EXPECT_EQ(lastRows.size(), rowsOf(every.file(startOfLast)).size() - 1) << "every animal at the start of day " << last;
  EXPECT_EQ(days.substr(0, 13), " day 0 10 20 ") << days;
}

// A run's record says what happened, whatever ended it: a resume refused for a
// damaged table leaves the record as it stood; a summary that cannot be opened
// is no extinction; memory that runs out, or would, leaves the last whole day
// and a checkpoint.
TEST(HostileRun, RecordsStayTrueWhateverEndsTheRun) {
  const std::string config = exampleConfig({{"days", "20"}});
  {
    SCOPED_TRACE("a refused resume");
    Scratch here;
    ASSERT_EQ(here.run(config, "--checkpoint-every 3", hook("day@7:INT")).status, 130);
    const std::string before = here.file("run1/outputs/run1_run_info.json");
    std::string summary = here.file("run1/outputs/run1_summary.txt");
    summary[summary.size() / 2] ^= 1;
    writeFile(here.path / "run1/outputs/run1_summary.txt", summary);
    const Outcome resumed = here.run("", "--resume run1");
    EXPECT_EQ(resumed.status, 1);
    EXPECT_NE(resumed.err.find("has changed since the checkpoint"), std::string::npos) << resumed.err;
    EXPECT_NE(resumed.err.find("soilweb: nothing was run; the run's record is left as it was\n"), std::string::npos);
    EXPECT_EQ(resumed.err.find("died out"), std::string::npos) << resumed.err;
    EXPECT_EQ(here.file("run1/outputs/run1_run_info.json"), before);
  }
  {
    SCOPED_TRACE("a summary that cannot be opened");
    Scratch here;
    fs::create_directories(here.path / "run1/outputs/run1_summary.txt");
    const Outcome run = here.run(config, "--overwrite");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("died out"), std::string::npos) << run.err;
    EXPECT_EQ(infoField(here.file("run1/outputs/run1_run_info.json"), "died_out_days"),
              "{\"resource\": null, \"prey\": null, \"predators\": null}");
  }
  {
    SCOPED_TRACE("out of memory mid-run");
    Scratch here;
    const Outcome run = here.run(config, "--checkpoint-every 2", hook("day@5:oom"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "soilweb: out of memory on day 5; every file holds the days to day 5; the checkpoint of day 5 is kept\n");
    const std::string info = here.file("run1/outputs/run1_run_info.json");
    EXPECT_EQ(infoField(info, "status"), "\"failed\"");
    EXPECT_EQ(infoField(info, "last_day"), "5");
    EXPECT_TRUE(fs::exists(here.path / "run1/checkpoint/run1_checkpoint.bin"));
  }
  {
    SCOPED_TRACE("more animals than the memory a run may use");
    Scratch here;
    const Outcome run = here.run(config, "", hook("started:budget=50000"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("soilweb: after day 0 the animals would need about "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("a run may use; the run stopped there with a checkpoint of that day\n"), std::string::npos);
    const std::string info = here.file("run1/outputs/run1_run_info.json");
    EXPECT_EQ(infoField(info, "status"), "\"failed\"");
    EXPECT_EQ(infoField(info, "last_day"), "0");
    EXPECT_TRUE(fs::exists(here.path / "run1/checkpoint/run1_checkpoint.bin"));
  }
}

// Numbers the model makes infinite or NaN are kept as computed, but said: one
// warning naming the first day, file and column, listed in the record, the
// closing line, and under --strict the run's end. "nan" as text reads the
// same from the file and from --set.
TEST(HostileRun, NonFiniteResultsAreSaid) {
  const std::string config = exampleConfig({{"days", "3"}});
  Scratch here;
  const Outcome run = here.run(config, "--set world.soil.rateForMaxFungiBiomass=1e308");
  EXPECT_EQ(run.status, 0);
  const std::string warning =
      "numbers that are not finite (nan or inf) in the results, first on day 0, column BIOMASS of "
      "run1/outputs/run1_summary.txt";
  EXPECT_EQ(run.err, "soilweb: warning: " + warning + "\n");
  EXPECT_EQ(run.closing.rfind("soilweb: completed with non-finite values: day 3 of 3 reached", 0), 0) << run.closing;
  EXPECT_NE(here.file("run1/outputs/run1_run_info.json").find("\"" + warning + "\""), std::string::npos);

  const Outcome strict = here.run("", "--overwrite --strict --set world.soil.rateForMaxFungiBiomass=1e308");
  EXPECT_EQ(strict.status, 1);
  EXPECT_EQ(strict.err, "soilweb: error (--strict): " + warning + "; the run stopped after that day\n");
  EXPECT_EQ(infoField(here.file("run1/outputs/run1_run_info.json"), "last_day"), "0");

  writeFile(here.path / "text.json",
            std::regex_replace(config, std::regex("\"temperature\": *[0-9.]+"), "\"temperature\": \"nan\""));
  const Outcome fromFile = here.run("", "text.json --check");
  const Outcome fromSet = here.run("", "--check --set simulation.temperature=nan");
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(fromSet.status, 0) << fromSet.err;
  EXPECT_NE(fromSet.err.find("warning: 'simulation.temperature' is \"nan\"; read as nan"), std::string::npos)
      << fromSet.err;
}

// The commands that only print (or --init, which writes one file) report a
// write that failed, with status 1: a full device, a file-size limit (which
// never kills them, and leaves no file cut short behind).
TEST(HostileRun, CommandsThatOnlyPrintReportWriteFailures) {
  Scratch here;
  // Standard output on a full device: what the command said on standard error, and its status.
  auto intoFullDevice = [&](const std::string& args) {
    const std::string command = "cd " + shellQuote(here.path) + " && " + shellQuote(SOILWEB_BINARY) + " " + args +
                                " >/dev/full 2>err.txt";
    const int raw = std::system(command.c_str());
    return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, here.file("err.txt"));
  };
  for (const char* command : {"--schema", "--list-keys", "--version", "--help", "--init -"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(intoFullDevice(command),
              std::make_pair(1, std::string("soilweb: cannot write to standard output: No space left on device\n")));
  }
  const Outcome limited = here.run("", "--init", "ulimit -f 10; ");
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "soilweb: --init: cannot write 'run_params': File too large\n");
  EXPECT_FALSE(fs::exists(here.path / "run_params"));
  EXPECT_EQ(here.run("", "--init").status, 0);  // nothing was left behind to refuse the next one
}

// A run that would fill its disk is refused before anything is written, with
// both figures; --force-size lets it start.
TEST(HostileRun, ARunLargerThanItsDiskIsRefusedFirst) {
  Scratch here;
  const std::string huge = "--set world.life.animals.0.initialPopulation=20000 --set simulation.days=1000000";
  const Outcome refused = here.run(exampleConfig(), huge);
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(std::regex_search(refused.err, std::regex("\nsoilweb: this run will write at least [0-9.]+ TB, more than "
                                                        "the [0-9.]+ [kMGT]?B free on the disk of its folder; shrink "
                                                        "it \\(see the note above\\), free some space, or pass "
                                                        "--force-size\n$")))
      << refused.err;
  EXPECT_FALSE(fs::exists(here.path / "run1"));
  const Outcome forced = here.run("", huge + " --force-size", hook("started:INT"));
  EXPECT_EQ(forced.status, 130) << forced.err;
}

// What a configuration says wrongly is echoed as it stands: a species name is
// checked as it is used (trimmed), a NUL in a value is shown, a day too far
// is said to be too far.
TEST(HostileRun, SlipsInTheConfigurationAreToldAsTheyStand) {
  Scratch here;
  std::string config = exampleConfig();
  config.replace(config.find("\"name\": \"predator\""), 18, "\"name\": \" \\tpredator\"");
  const Outcome tabbed = here.run(config, "--check");
  EXPECT_EQ(tabbed.status, 0) << tabbed.err;
  const Outcome nul = here.run(exampleConfig(), "--check --set 'simulation.stopWhen=\"never\\u0000x\"'");
  EXPECT_EQ(nul.err, "soilweb: run_params: 'simulation.stopWhen' must be any, resource or never, got \"never\\u0000x\"\n");
  const Outcome far = here.run("", "--check --set 'simulation.temperatureSeries=[[2147483647, 20]]'");
  EXPECT_EQ(far.err,
            "soilweb: run_params: 'simulation.temperatureSeries[0]' starts with day 2147483647, beyond the "
            "1000000000 days a series may span\n");
}
