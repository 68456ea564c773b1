// The writer of the files on a second thread: everything handed over is written, in order, and a
// failure is reported once, after which nothing more is written.
#include "Fixtures.h"
#include "io/BackgroundWriter.h"
#include "io/OutputFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace soilweb;

TEST(BackgroundWriter, WritesEverythingInOrderAndReportsFailures) {
  fixtures::ScratchFolder scratch;
  fixtures::SilencedErrors errors;
  BackgroundWriter writer(64);  // a tiny allowance: the producer keeps waiting for the writer
  OutputFile log("log.txt", OutputFile::IN_PLACE);
  for (int i = 0; i < 200; ++i) {
    auto text = std::make_shared<const std::string>(std::string(100, static_cast<char>('a' + i % 26)));
    writer.writeWhole("file" + std::to_string(i) + ".txt", text);
    writer.append(log, std::to_string(i) + "\n");
  }
  EXPECT_TRUE(writer.finish());
  EXPECT_TRUE(log.commit());
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += std::to_string(i) + "\n";
  EXPECT_EQ(fixtures::contentOf("log.txt"), expected);
  EXPECT_EQ(fixtures::contentOf("file199.txt"), std::string(100, 'a' + 199 % 26));

  writer.writeWhole("missing/file.txt", std::make_shared<const std::string>("x"));
  EXPECT_FALSE(writer.finish());
  EXPECT_EQ(errors.sink.str(),
            "Error opening the file.\nsoilweb: cannot open 'missing/file.txt': No such file or directory\n");
}

// No table runs ahead of a file that was lost: once a write fails, what was handed over after it
// is dropped.
TEST(BackgroundWriter, AfterAFailureNothingMoreIsWritten) {
  fixtures::ScratchFolder scratch;
  fixtures::SilencedErrors errors;
  BackgroundWriter writer(1 << 20);
  OutputFile table("table.txt", OutputFile::IN_PLACE);
  writer.append(table, "day 0\n");
  writer.writeWhole("missing/day0.txt", std::make_shared<const std::string>("lost"));
  writer.append(table, "day 1\n");
  writer.writeWhole("day1.txt", std::make_shared<const std::string>("after the loss"));
  EXPECT_FALSE(writer.finish());
  table.commit();
  EXPECT_EQ(fixtures::contentOf("table.txt"), "day 0\n");
  EXPECT_FALSE(std::filesystem::exists("day1.txt"));
}
