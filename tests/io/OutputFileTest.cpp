#include "Fixtures.h"
#include "io/OutputFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace soilweb;

TEST(OutputFile, AWholeFileAppearsOnlyWhenCommitted) {
  fixtures::ScratchFolder scratch;
  {
    OutputFile file("a.txt");
    file.append("first\n");
    file.flush();
    EXPECT_FALSE(std::filesystem::exists("a.txt"));  // still under its temporary name
    file.append("second\n");
    EXPECT_TRUE(file.commit());
  }
  EXPECT_EQ(fixtures::contentOf("a.txt"), "first\nsecond\n");
  {
    OutputFile abandoned("b.txt");
    abandoned.append("never committed");
  }
  EXPECT_FALSE(std::filesystem::exists("b.txt"));
  EXPECT_FALSE(std::filesystem::exists("b.txt.partial"));
}

TEST(OutputFile, FailuresAreReportedOnceAndLinksNeverFollowed) {
  fixtures::ScratchFolder scratch;
  fixtures::SilencedErrors errors;
  OutputFile missing("no/such/folder.txt");
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(missing.commit());
  // A link is never written through, whatever it points to.
  std::ofstream("target.txt") << "mine";
  std::filesystem::create_symlink("target.txt", "link.txt");
  OutputFile linked("link.txt", OutputFile::IN_PLACE);
  EXPECT_FALSE(linked.isOpen());
  EXPECT_FALSE(linked.commit());
  EXPECT_EQ(fixtures::contentOf("target.txt"), "mine");
  EXPECT_EQ(errors.sink.str(),
            "Error opening the file.\nsoilweb: cannot open 'no/such/folder.txt': No such file or directory\n"
            "Error opening the file.\nsoilweb: cannot open 'link.txt': Too many levels of symbolic links\n");
}
