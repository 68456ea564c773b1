#include "output/KeptLines.h"

#include <gtest/gtest.h>

#include <string>

using namespace soilweb;

// A run that removes its dead must not hold their text for ever: a block of
// ids is let go once none of its animals is seen in a whole build after a purge.
TEST(KeptLines, TheTextOfPurgedAnimalsIsLetGo) {
  KeptLines kept;
  const std::string fields = "1\tprey\t";
  kept.buildStarting();
  for (int id = 0; id < 1000; ++id) kept.keepFixed(id, fields, {});
  kept.buildEnded();
  EXPECT_EQ(kept.blocksHeld(), 4u);

  kept.buildStarting();  // no purge yet: what was not seen stays
  for (int id = 900; id < 1000; ++id) ASSERT_NE(kept.find(id), nullptr);
  kept.buildEnded();
  EXPECT_EQ(kept.blocksHeld(), 4u);
  EXPECT_NE(kept.find(10), nullptr);

  kept.animalsRemoved();  // only 900 to 999 are left
  kept.buildStarting();
  for (int id = 900; id < 1000; ++id) ASSERT_NE(kept.find(id), nullptr);
  kept.buildEnded();
  EXPECT_EQ(kept.blocksHeld(), 1u);
  EXPECT_EQ(kept.find(10), nullptr);
  EXPECT_EQ(kept.find(899), nullptr) << "an id of a block still held, not seen, is let go too";
  ASSERT_NE(kept.find(950), nullptr);
  EXPECT_EQ(std::string(kept.find(950)->chars(), kept.find(950)->size), fields);
}

TEST(KeptLines, ADeadAnimalsLineReplacesItsFixedFields) {
  KeptLines kept;
  kept.buildStarting();
  kept.keepFixed(7, "7\tprey\t", {0, 2, 7, 7, 7, 7});
  const std::string line = "7\tprey\t3\t2\n";
  kept.keepFrozen(7, line.data(), line.size());
  const KeptLines::Text* text = kept.find(7);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->frozen);
  EXPECT_EQ(std::string(text->chars(), text->size), line);
}
