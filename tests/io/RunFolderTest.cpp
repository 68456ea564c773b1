// The run's folder: one writer at a time, every file it makes listed, an earlier run replaced by
// exactly the files it listed, and no link followed out of the folder.
#include "Fixtures.h"
#include "io/RunFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace soilweb;
namespace fs = std::filesystem;

namespace {
// Makes a file of the run through the folder, as every writer does.
void make(const std::string& path, const std::string& text) {
  const int fd = RunFolder::openFile(path, O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_GT(fd, 0) << path;
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
}

}  // namespace

TEST(RunFolder, OneWriterAtATimeAndAnEarlierRunReplacedByItsOwnList) {
  fixtures::ScratchFolder scratch;
  fixtures::SilencedErrors errors;
  {
    RunFolder first("run2", "run2");
    ASSERT_TRUE(first.claim());
    RunFolder second("run2", "run2");
    EXPECT_FALSE(second.claim()) << "a second writer while the first holds the folder";
    EXPECT_EQ(errors.sink.str(), "soilweb: run folder 'run2' is in use by another soilweb process (pid " +
                                     std::to_string(::getpid()) + ")\n");
    errors.sink.str("");
    ASSERT_TRUE(first.create({"/outputs"}, false));
    make("run2/outputs/run2_summary.txt", "summary");
  }
  std::ofstream("run2/outputs/notes.txt") << "the user's own";
  RunFolder again("run2", "run2");
  ASSERT_TRUE(again.claim());
  EXPECT_EQ(again.unlisted(), std::vector<std::string>{"outputs/notes.txt"});
  ASSERT_TRUE(again.removeEarlierRun());
  EXPECT_FALSE(fs::exists("run2/outputs/run2_summary.txt"));
  EXPECT_EQ(fixtures::contentOf("run2/outputs/notes.txt"), "the user's own");
  EXPECT_EQ(errors.sink.str(), "soilweb: --overwrite kept 1 file soilweb did not write: run2/outputs/notes.txt\n");
}

TEST(RunFolder, NoLinkIsFollowedOutOfTheFolder) {
  fixtures::ScratchFolder scratch;
  fixtures::SilencedErrors errors;
  std::ofstream("outside.txt") << "not the run's";
  fs::create_directory("elsewhere");
  fs::create_directory_symlink("elsewhere", "linked");
  EXPECT_FALSE(RunFolder("linked", "linked").claim()) << "a run folder that is a link";

  RunFolder run("run2", "run2");
  ASSERT_TRUE(run.claim());
  ASSERT_TRUE(run.create({"/outputs"}, false));
  fs::create_symlink("../../outside.txt", "run2/outputs/run2_summary.txt");
  make("run2/outputs/run2_summary.txt", "summary");  // made anew, in place of the link
  EXPECT_EQ(fixtures::contentOf("outside.txt"), "not the run's");
  EXPECT_FALSE(fs::is_symlink("run2/outputs/run2_summary.txt"));
  fs::create_directory_symlink("../elsewhere", "run2/cells");
  EXPECT_FALSE(run.refuseWhatIsNotAFolder({"/outputs", "/cells"}));
  EXPECT_NE(errors.sink.str().find("'run2/cells'"), std::string::npos) << errors.sink.str();
}
