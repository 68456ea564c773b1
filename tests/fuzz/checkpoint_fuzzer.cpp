// Fuzz target: arbitrary bytes as a checkpoint. The bytes are written as a
// checkpoint file whose version is made this binary's and whose length and
// CRC-32 trailer are made to fit, so that what is fuzzed is the reading of
// the body, not the checksum; an accepted file is restored into the world of
// the configuration the seed checkpoints were written with
// ($SOILWEB_FUZZ_CONFIG) and written again: what the reader accepts it must
// give back byte for byte (no day is run: a checkpoint, like a
// configuration, may ask for days as long as it likes). A refusal is the
// only allowed failure: anything else (a crash, a hang, a sanitizer report,
// another exception, a checkpoint written back otherwise) is a finding.
#include "core/Configuration.h"
#include "model/RunState.h"
#include "model/World.h"
#include "output/RunInfo.h"
#include "io/RunLayout.h"
#include "run/Checkpoint.h"

#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

using namespace soilweb;

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

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

boost::property_tree::ptree configuration() {
  const char* path = std::getenv("SOILWEB_FUZZ_CONFIG");
  if (!path) {
    std::cerr << "checkpoint_fuzzer: set SOILWEB_FUZZ_CONFIG to the configuration of the seed checkpoints\n";
    std::abort();
  }
  return Configuration::parse(readWhole(path));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream quiet;
  static const boost::property_tree::ptree tree = [] {
    std::cout.rdbuf(quiet.rdbuf());
    std::cerr.rdbuf(quiet.rdbuf());
    World::MEMORY_BUDGET = 64.0 * (1 << 20);
    World::CHECK_REGISTRY = true;
    ::mkdir("again", 0777);  // where the checkpoint is written again
    return configuration();
  }();
  static const std::string path = "checkpoint-under-test.bin";
  quiet.str("");
  const std::string written = asCheckpoint(data, size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << written;
  }
  RunState::resetCounters();
  Configuration::clearRecords();
  try {
    Checkpoint checkpoint(path);
    World world(tree, false);
    checkpoint.restore(world);
    Checkpoint::write("again", checkpoint.run(), world);
    if (readWhole(RunLayout::checkpointPath("again")) != written) {
      std::cout << std::flush;
      std::abort();
    }
  } catch (const Checkpoint::Refused&) {
  }
  return 0;
}
