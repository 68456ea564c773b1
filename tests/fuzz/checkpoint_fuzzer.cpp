// Fuzz target: arbitrary bytes as a checkpoint. The bytes are written as a
// checkpoint file whose version is made this binary's and whose length and
// CRC-32 trailer are made to fit, so that what is fuzzed is the reading of
// the body, not the checksum; an accepted file is restored into the world of
// the configuration the seed checkpoints were written with
// ($SOILWEB_FUZZ_CONFIG), which then runs a day. A refusal is the only
// allowed failure: anything else (a crash, a hang, a sanitizer report,
// another exception) is a finding.
#include "Checkpoint.h"
#include "Configuration.h"
#include "RunInfo.h"
#include "RunState.h"
#include "World.h"

#include <libdeflate.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {
const std::size_t MAGIC = 16, LAYOUT = 4, LENGTH = 8;

// data with its version string replaced by this binary's (when it has one) and the trailer appended.
std::string asCheckpoint(const std::uint8_t* data, std::size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  if (body.size() >= MAGIC + LAYOUT + LENGTH) {
    std::uint64_t length = 0;
    std::memcpy(&length, body.data() + MAGIC + LAYOUT, LENGTH);
    const std::size_t from = MAGIC + LAYOUT + LENGTH;
    const std::string version = RunInfo::version();
    if (length <= body.size() - from) {
      const std::uint64_t ours = version.size();
      body.replace(from, static_cast<std::size_t>(length), version);
      body.replace(MAGIC + LAYOUT, LENGTH, reinterpret_cast<const char*>(&ours), LENGTH);
    }
  }
  const std::uint64_t length = body.size();
  const std::uint32_t crc = libdeflate_crc32(0, body.data(), body.size());
  body.append(reinterpret_cast<const char*>(&length), sizeof length);
  body.append(reinterpret_cast<const char*>(&crc), sizeof crc);
  return body;
}

boost::property_tree::ptree configuration() {
  const char* path = std::getenv("SOILWEB_FUZZ_CONFIG");
  if (!path) {
    std::cerr << "checkpoint_fuzzer: set SOILWEB_FUZZ_CONFIG to the configuration of the seed checkpoints\n";
    std::abort();
  }
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return Configuration::parse(text.str());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream quiet;
  static const boost::property_tree::ptree tree = [] {
    std::cout.rdbuf(quiet.rdbuf());
    std::cerr.rdbuf(quiet.rdbuf());
    World::MEMORY_BUDGET = 64.0 * (1 << 20);
    World::CHECK_REGISTRY = true;
    return configuration();
  }();
  static const std::string path = "checkpoint-under-test.bin";
  quiet.str("");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << asCheckpoint(data, size);
  }
  RunState::resetCounters();
  Configuration::clearRecords();
  try {
    Checkpoint checkpoint(path);
    World world(tree, false);
    checkpoint.restore(world);
    if (!world.isExtinguished()) world.runNextDay(checkpoint.run().day + 1);
  } catch (const Checkpoint::Refused&) {
  }
  return 0;
}
