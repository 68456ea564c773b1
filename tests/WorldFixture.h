// A test that builds worlds runs in a scratch folder holding the run's output
// tree, with a fresh process state and the console captured.
#pragma once

#include "Fixtures.h"
#include "model/World.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace soilweb {

struct WorldTest : ::testing::Test {
  void SetUp() override {
    fixtures::freshProcess();
    seedRandom(1);
    World::PARALLEL = 0;
    saved = std::cout.rdbuf(console.rdbuf());
  }
  void TearDown() override { std::cout.rdbuf(saved); }
  std::ostringstream console;  // what a console report printed
  std::streambuf* saved = nullptr;
  fixtures::ScratchFolder scratch;
};

}  // namespace soilweb
