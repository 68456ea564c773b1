#include "Configuration.h"

#include "Fixtures.h"
#include "RunDriver.h"

#include <fstream>
#include <iostream>
#include <regex>
#include <set>

#include <gtest/gtest.h>

namespace {
std::string errorOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const Configuration::Error& e) {
    return e.what();
  }
  return "no error";
}
}  // namespace

TEST(Configuration, LenientReadsTakeTheLeadingNumber) {
  auto tree = fixtures::parse(R"({"a": 10, "b": "10", "c": "ten", "d": "20.5abc", "e": true, "f": {"x": 1}, "g": " 7"})");
  const Configuration config(tree);
  EXPECT_EQ(config.integer("a"), 10);
  EXPECT_EQ(config.integer("b"), 10);
  EXPECT_EQ(config.integer("c"), 0);
  EXPECT_DOUBLE_EQ(config.real("d"), 20.5);
  EXPECT_EQ(config.integer("e"), 0);
  EXPECT_EQ(config.real("f"), 0);
  EXPECT_EQ(config.integer("g"), 7);
}

TEST(Configuration, StrictReadsRejectAnythingButANumberOfTheType) {
  auto tree = fixtures::parse(
      R"({"s": {"ok": "5", "neg": -1, "frac": 2.5, "word": "five", "tail": "5x", "padded": " 5 ", "real": "1e3",
          "huge": "1e999", "hex": "0x10", "inf": "inf", "big": "99999999999"}})");
  const Configuration config = Configuration(tree).section("s");
  EXPECT_EQ(config.strictUnsigned("ok"), 5u);
  EXPECT_EQ(config.strictInt("neg"), -1);
  EXPECT_EQ(config.strictUnsigned("padded"), 5u);
  EXPECT_DOUBLE_EQ(config.strictReal("real"), 1000);
  EXPECT_DOUBLE_EQ(config.strictReal("frac"), 2.5);
  EXPECT_EQ(errorOf([&] { config.strictUnsigned("neg"); }), "'s.neg' must be a whole number of at least 0, got '-1'");
  EXPECT_EQ(errorOf([&] { config.strictInt("frac"); }), "'s.frac' must be a whole number, got '2.5'");
  EXPECT_EQ(errorOf([&] { config.strictInt("tail"); }), "'s.tail' must be a whole number, got '5x'");
  EXPECT_EQ(errorOf([&] { config.strictReal("word"); }), "'s.word' must be a number, got 'five'");
  EXPECT_EQ(errorOf([&] { config.strictReal("huge"); }), "'s.huge' is out of range, got '1e999'");
  EXPECT_EQ(errorOf([&] { config.strictReal("hex"); }), "'s.hex' must be a number, got '0x10'");
  EXPECT_EQ(errorOf([&] { config.strictReal("inf"); }), "'s.inf' must be a number, got 'inf'");
  EXPECT_EQ(errorOf([&] { config.strictInt("big"); }), "'s.big' is out of range, got '99999999999'");
}

TEST(Configuration, MissingKeyIsNamedByItsFullPath) {
  auto tree = fixtures::parse(R"({"simulation": {"outputs": {}}})");
  const Configuration config(tree);
  EXPECT_EQ(errorOf([&] { config.integer("simulation.days"); }), "missing key 'simulation.days'");
  EXPECT_EQ(errorOf([&] { config.section("simulation.outputs").text("summaryFilename"); }),
            "missing key 'simulation.outputs.summaryFilename'");
}

// Every key a run reads must be described in the user guide.
TEST(Configuration, EveryKeyReadIsDocumented) {
  std::ifstream guideFile(std::string(SOILWEB_SOURCE_DIR) + "/docs/configuration.md");
  std::ostringstream guide;
  guide << guideFile.rdbuf();
  ASSERT_FALSE(guide.str().empty());

  fixtures::ScratchFolder scratch;
  std::ofstream("run_params") << fixtures::validConfigText(1, 4, 3, 2);
  std::vector<std::string> keys;
  Configuration::keysLookedUp = &keys;
  std::ostringstream console;
  auto* saved = std::cout.rdbuf(console.rdbuf());
  const int status = RunDriver::run("run_params");
  std::cout.rdbuf(saved);
  Configuration::keysLookedUp = nullptr;
  ASSERT_EQ(status, 0);

  const std::regex speciesEntry(R"(^world\.life\.animals\[[0-9]+\]\.)");
  std::set<std::string> distinct;
  for (const auto& key : keys) distinct.insert(std::regex_replace(key, speciesEntry, ""));
  EXPECT_GT(distinct.size(), 60u);
  for (const auto& key : distinct) EXPECT_NE(guide.str().find("`" + key + "`"), std::string::npos) << key;
}

TEST(Configuration, ParseRefusesMalformedAndAbsurdlyNestedDocuments) {
  // Nesting this deep overflows the JSON reader's stack if it gets that far.
  EXPECT_EQ(errorOf([] { Configuration::parse(std::string(200000, '[')); }),
            "malformed JSON: nested more than 64 levels deep");
  EXPECT_EQ(errorOf([] { Configuration::parse(R"({"a": "[[[[", "b": 1)"); }), "malformed JSON at line 1: expected '}' or ','");
  EXPECT_EQ(Configuration::parse(R"({"a": "[[[[\"{{"})").get<std::string>("a"), "[[[[\"{{");
}
