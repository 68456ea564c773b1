#include "core/Configuration.h"

#include "Fixtures.h"
#include "run/RunDriver.h"
#include "run/RunSettings.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>

#include <gtest/gtest.h>

using namespace soilweb;

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

// Lenient reads keep the value they always gave, and say so when the text was
// not wholly a number of the key's type.
TEST(Configuration, LenientReadsTakeTheLeadingNumberAndWarnWhenTheyGuess) {
  auto tree = fixtures::parse(
      R"({"a": 10, "b": "10", "c": "ten", "d": "20.5abc", "e": true, "f": {"x": 1}, "g": " 7", "h": "20,5",
          "i": 1e3, "k": null, "l": -2.5e-3, "m": 1e999})");
  Configuration::clearRecords();
  const Configuration config(tree);
  EXPECT_EQ(config.integer("a"), 10);
  EXPECT_EQ(config.integer("b"), 10);
  EXPECT_EQ(config.integer("g"), 7);
  EXPECT_DOUBLE_EQ(config.real("l"), -2.5e-3);
  EXPECT_EQ(Configuration::warnings, std::vector<std::string>{});
  EXPECT_EQ(config.integer("c"), 0);
  EXPECT_DOUBLE_EQ(config.real("d"), 20.5);
  EXPECT_EQ(config.integer("e"), 0);
  EXPECT_EQ(config.real("f"), 0);
  EXPECT_EQ(config.real("h"), 20);
  EXPECT_EQ(config.integer("i"), 1);
  EXPECT_EQ(config.integer("k"), 0);
  EXPECT_TRUE(std::isinf(config.real("m")));
  EXPECT_EQ(Configuration::warnings,
            (std::vector<std::string>{"'c' is \"ten\"; read as 0", "'d' is \"20.5abc\"; read as 20.5",
                                      "'e' is \"true\"; read as 0", "'f' is a JSON object or array; read as 0",
                                      "'h' is \"20,5\"; read as 20", "'i' is \"1e3\"; read as 1",
                                      "'k' is \"null\"; read as 0", "'m' is \"1e999\"; read as inf"}));
}

TEST(Configuration, KeysNobodyReadAreReportedAtAnyDepth) {
  auto tree = fixtures::parse(R"({"simulation": {"days": 1, "Seed": 4, "days": 2},
      "world": {"life": {"animals": [{"name": "a", "colour": "red", "traits": {"x": 1}}, {"name": "b"}]}}, "extra": [1]})");
  Configuration::clearRecords();
  const Configuration config(tree);
  config.integer("simulation.days");
  config.has("simulation.seed");
  int index = 0;
  for (const auto& node : config.child("world.life.animals")) {
    const Configuration entry(node.second, "world.life.animals[" + std::to_string(index++) + "]");
    entry.text("name");
    if (entry.has("traits")) entry.child("traits");  // read as a whole
  }
  std::vector<std::string> nearMisses;
  EXPECT_EQ(Configuration::unknownKeyWarnings(tree, nearMisses),
            (std::vector<std::string>{"key 'simulation.days' is given twice (the first is used)",
                                      "unknown key 'world.life.animals[0].colour' (ignored)",
                                      "unknown key 'extra' (ignored)"}));
  // A near miss of a key soilweb reads is an error: the run would go on without what it asks for.
  EXPECT_EQ(nearMisses, std::vector<std::string>{"unknown key 'simulation.Seed'; did you mean 'simulation.seed'?"});
}

TEST(Configuration, SetReplacesKeysAndRefusesUnknownOnes) {
  auto tree =
      fixtures::parse(R"({"simulation": {"days": 1, "name": "x"}, "world": {"animals": [{"n": 1}, {"n": 2}]}})");
  Configuration::set(tree, "simulation.days", "50");
  Configuration::set(tree, "simulation.name", "two words");
  Configuration::set(tree, "world.animals.1.n", "20");
  Configuration::set(tree, "world.animals[0].n", "{\"deep\": [1, 2]}");
  Configuration::set(tree, "simulation.seed", "7");
  EXPECT_EQ(tree.get<std::string>("simulation.days"), "50");
  EXPECT_EQ(tree.get<std::string>("simulation.name"), "two words");
  EXPECT_EQ(std::next(tree.get_child("world.animals").begin())->second.get<std::string>("n"), "20");
  EXPECT_EQ(tree.get_child("world.animals").begin()->second.get_child("n.deep").size(), 2u);
  EXPECT_EQ(tree.get<std::string>("simulation.seed"), "7");
  EXPECT_EQ(errorOf([&] { Configuration::set(tree, "simulation.temperatur", "20"); }),
            "--set simulation.temperatur: no such key in the configuration");
  EXPECT_EQ(errorOf([&] { Configuration::set(tree, "simulation.dasy", "20"); }),
            "--set simulation.dasy: no such key in the configuration; did you mean 'simulation.days'?");
  EXPECT_EQ(errorOf([&] { Configuration::set(tree, "world.animals.2.n", "1"); }),
            "--set world.animals.2.n: 'world.animals' has 2 elements (indices from 0)");
  EXPECT_EQ(errorOf([&] { Configuration::set(tree, "world.animals.first.n", "1"); }),
            "--set world.animals.first.n: 'world.animals' is a list; give an element's index, not 'first'");
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

// A slip of the keyboard names the key meant, never a far one, and "//"
// entries are comments nobody warns about.
TEST(Configuration, SlipsOfTheKeyboardNameTheLikelyKey) {
  auto tree = fixtures::parse(R"({"simulation": {"temprature": 20, "//days": "a comment", "notes": "mine",
      "outputs": {"compresion": "gzip"}}, "world": {"life": {"animals": [{"Q10phenolgy": 1}]}}})");
  Configuration::clearRecords();
  const Configuration config(tree);
  EXPECT_EQ(errorOf([&] { config.real("simulation.temperature"); }),
            "missing key 'simulation.temperature'; the file has 'simulation.temprature': did you mean "
            "'simulation.temperature'?");
  EXPECT_EQ(errorOf([&] { config.integer("simulation.days"); }), "missing key 'simulation.days'");
  EXPECT_EQ(errorOf([&] { config.section("simulation").text("outputs.compression"); }),
            "missing key 'simulation.outputs.compression'; the file has 'simulation.outputs.compresion': did you "
            "mean 'simulation.outputs.compression'?");
  Configuration(config.child("world.life.animals").begin()->second, "world.life.animals[0]").has("name");
  std::vector<std::string> nearMisses;
  EXPECT_EQ(Configuration::unknownKeyWarnings(tree, nearMisses),
            std::vector<std::string>{"unknown key 'simulation.notes' (ignored)"});
  EXPECT_EQ(nearMisses, (std::vector<std::string>{
                            "unknown key 'simulation.temprature'; did you mean 'simulation.temperature'?",
                            "unknown key 'simulation.outputs.compresion'; did you mean 'simulation.outputs.compression'?",
                            "unknown key 'world.life.animals[0].Q10phenolgy'; did you mean "
                            "'world.life.animals[0].Q10phenology'?"}));
}

// Every key a run reads must be described in the user guide.
TEST(Configuration, EveryKeyReadIsDocumented) {
  std::ifstream guideFile(std::string(SOILWEB_SOURCE_DIR) + "/docs/configuration.md");
  std::ostringstream guide;
  guide << guideFile.rdbuf();
  ASSERT_FALSE(guide.str().empty());

  fixtures::ScratchFolder scratch;
  std::ofstream("run_params") << fixtures::validConfigText(1, 4, 3, 2);
  std::ostringstream console;
  auto* saved = std::cout.rdbuf(console.rdbuf());
  const int status = RunDriver::run(RunOptions{});
  std::cout.rdbuf(saved);
  ASSERT_EQ(status, 0);
  const std::vector<std::string> keys = Configuration::keysLookedUp;

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
  EXPECT_EQ(errorOf([] { Configuration::parse(R"({"a": "[[[[", "b": 1)"); }),
            "malformed JSON at line 1: expected '}' or ','");
  EXPECT_EQ(Configuration::parse(R"({"a": "[[[[\"{{"})").get<std::string>("a"), "[[[[\"{{");
  // A file under the size cap can still hold millions of values, gigabytes of tree: bounded by count.
  std::string many = "{\"//x\": [0";
  for (std::size_t k = 0; k < Configuration::MOST_VALUES; ++k) many += ",0";
  EXPECT_EQ(errorOf([&] { Configuration::parse(many + "]}"); }),
            "the document holds about 1000003 values, more than the 1000000 soilweb reads");
  EXPECT_EQ(Configuration::parse(R"({"s": "a,b,[c]"})").get<std::string>("s"), "a,b,[c]");
}

// The run's name becomes its folder: it is checked with the run-level keys,
// before the world is built or anything is written.
TEST(Configuration, RunNameMustBeAPlainFolderName) {
  for (const char* name : {"", ".", "..", "a/b"}) {
    auto tree = fixtures::validConfig();
    tree.put("simulation.outputs.simulationName", name);
    try {
      RunSettings::read(Configuration(tree), tree);
      ADD_FAILURE() << "accepted '" << name << "'";
    } catch (const Configuration::Error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'simulation.outputs.simulationName' must be a plain folder name "
                                                   "(not empty, '.' or '..', no '/'), got '") +
                                           name + "'");
    }
  }
  auto tree = fixtures::validConfig();
  tree.put("simulation.outputs.simulationName", "run 7");
  EXPECT_EQ(RunSettings::read(Configuration(tree), tree).simulation, "run 7");
}
