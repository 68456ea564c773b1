#include "GlobalFunctions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>

TEST(LinearInterpolate, PassesThroughEndsAndExtrapolates) {
  EXPECT_DOUBLE_EQ(linearInterpolate(1, 1, 5, 2, 10), 2);
  EXPECT_DOUBLE_EQ(linearInterpolate(5, 1, 5, 2, 10), 10);
  EXPECT_DOUBLE_EQ(linearInterpolate(7, 1, 5, 2, 10), 14);
  EXPECT_TRUE(std::isnan(linearInterpolate(1, 1, 1, 2, 10)));
}

TEST(RandomHelpers, DrawFromOneSeededSequence) {
  seedRandom(42);
  const double first = randomUniform();
  const double second = randomUniform(3, 5);
  seedRandom(42);
  EXPECT_EQ(randomUniform(), first);
  const double u = randomUniform();
  EXPECT_EQ(second, u * 2 + 3);  // one draw, scaled
  EXPECT_EQ(randomUniform(3, 3), 3);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(randomIndex(1), 0);
    EXPECT_EQ(randomIndex(0), 0);
    const int k = randomIndex(7);
    EXPECT_GE(k, 0);
    EXPECT_LT(k, 7);
  }
}

TEST(Rounding, HalvesAwayFromZeroAndNoUndefinedConversions) {
  EXPECT_EQ(roundToInt(2.5), 3);
  EXPECT_EQ(roundToInt(-2.5), -3);
  EXPECT_EQ(roundToInt(2.4999), 2);
  EXPECT_EQ(truncateToInt(-2.7), -2);
  EXPECT_EQ(roundToInt(1e300), INT_MIN);
  EXPECT_EQ(roundToInt(NAN), INT_MIN);
  EXPECT_EQ(truncateToInt(INFINITY), INT_MIN);
  EXPECT_EQ(truncateToInt(2147483647.5), INT_MAX);
}

TEST(FormatDouble, MatchesTheDefaultStreamFormat) {
  for (double x : {0.0, -0.0, 1234567.0, 1e-7, 12.3456789, -3.5, 1e300}) {
    std::ostringstream out;
    out << x;
    EXPECT_EQ(formatDouble(x), out.str());
  }
  EXPECT_EQ(formatDouble(1234567.0), "1.23457e+06");
}
