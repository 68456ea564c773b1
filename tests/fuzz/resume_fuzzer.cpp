// Fuzz target: --resume of a damaged run folder. Each input is a list of
// damages done to a copy of a stopped run ($SOILWEB_FUZZ_RUN: a folder of the
// tables layout with gzip, stopped with a checkpoint): a file of it cut short,
// bytes appended to it or bytes of it changed. The resume must then carry the
// run on to its end or refuse it (exit status 0 or 1); a crash, a hang, a
// sanitizer report or any other status is a finding.
#include "model/RunState.h"
#include "io/OutputFile.h"
#include "run/RunDriver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace soilweb;

namespace fs = std::filesystem;

namespace {
// The files a damage may hit, below the run's folder, in a fixed order.
std::vector<fs::path> filesOf(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file() && entry.path().string().find("/.soilweb/") == std::string::npos)
      files.push_back(fs::relative(entry.path(), folder));
  std::sort(files.begin(), files.end());
  return files;
}

// Applies the damages the bytes describe: per damage, a file, a kind (cut,
// append, change), an offset and, to append or change, a length and the bytes.
void damage(const fs::path& folder, const std::uint8_t* data, std::size_t size) {
  const auto files = filesOf(folder);
  std::size_t at = 0;
  auto next = [&]() -> unsigned { return at < size ? data[at++] : 0; };
  while (at + 4 <= size && !files.empty()) {
    const fs::path file = folder / files[next() % files.size()];
    const unsigned kind = next() % 3;
    std::string bytes;
    {
      std::ifstream in(file, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      bytes = text.str();
    }
    const std::size_t offset = bytes.empty() ? 0 : ((next() << 8 | next()) * 97u) % bytes.size();
    const std::size_t length = next() % 16 + 1;
    if (kind == 0) {
      bytes.resize(offset);
    } else if (kind == 1) {
      for (std::size_t k = 0; k < length; ++k) bytes += static_cast<char>(next());
    } else {
      for (std::size_t k = 0; k < length && offset + k < bytes.size(); ++k)
        bytes[offset + k] ^= static_cast<char>(next() | 1);
    }
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream quiet;
  static const fs::path pristine = [] {
    const char* given = std::getenv("SOILWEB_FUZZ_RUN");
    if (!given) {
      std::cerr << "resume_fuzzer: set SOILWEB_FUZZ_RUN to a stopped run's folder\n";
      std::abort();
    }
    std::cerr.rdbuf(quiet.rdbuf());
    const int devNull = ::open("/dev/null", O_WRONLY);  // the transcript goes straight to standard output
    ::dup2(devNull, STDOUT_FILENO);
    return fs::absolute(given);
  }();
  quiet.str("");
  const fs::path copy = pristine.filename();
  try {
    fs::remove_all(copy);
    fs::copy(pristine, copy, fs::copy_options::recursive);
    damage(copy, data, size);
  } catch (const std::exception& e) {
    // The harness could not make its copy (a full disk, say): no finding of
    // the code under test. Said on the real standard error, and the fuzzer
    // ends with status 3 without a crash file (_exit skips its handlers).
    const std::string line = std::string("resume_fuzzer: harness failure: ") + e.what() + "\n";
    [[maybe_unused]] const ssize_t said = ::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(3);
  }
  RunState::resetCounters();
  OutputFile::forgetFailures();
  RunOptions options;
  options.resume = copy.string();
  const int status = RunDriver::run(options);
  if (status != 0 && status != 1) {
    std::cout << std::flush;
    std::abort();
  }
  return 0;
}
