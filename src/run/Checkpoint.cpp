#include "run/Checkpoint.h"

#include "core/StateArchive.h"
#include "model/RunState.h"
#include "io/OutputFile.h"
#include "io/RunFolder.h"
#include "output/RunInfo.h"
#include "io/RunLayout.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

namespace soilweb {

const std::uint32_t Checkpoint::LAYOUT = 5;

namespace {
// The file starts with these 16 bytes, its layout version and the version of
// soilweb that wrote it, whatever the layout; it ends with a trailer: the
// length of all before it (8 bytes) and their CRC-32 (4 bytes).
const char MAGIC[16] = {'s', 'o', 'i', 'l', 'w', 'e', 'b', ' ', 'c', 'h', 'e', 'c', 'k', 'p', 't', '\n'};
const std::uint64_t TRAILER = 12;

void transferRun(StateArchive& archive, Checkpoint::Run& run) {
  archive.io(run.configurationHash);
  archive.io(run.seed);
  archive.io(run.day);
  for (OutputFile::Written* file :
       {&run.summaryBytes, &run.traitsBytes, &run.geneticsBytes, &run.pedigreeBytes, &run.deathsBytes}) {
    archive.io(file->bytes);
    archive.io(file->crc);
  }
  for (OutputFile::Written& file : run.snapshotBytes) {
    archive.io(file.bytes);
    archive.io(file.crc);
  }
  for (std::int32_t& day : run.goneAfterDay) archive.io(day);
}

std::string systemReason(int error) { return std::strerror(error); }
}  // namespace

std::uint64_t Checkpoint::hashOf(const boost::property_tree::ptree& configuration) {
  boost::property_tree::ptree kept = configuration;
  if (auto simulation = kept.get_child_optional("simulation")) {
    simulation->erase("seed");
    simulation->erase("checkpointEvery");
  }
  std::ostringstream text;
  boost::property_tree::write_json(text, kept, false);
  std::uint64_t hash = 0xcbf29ce484222325ull;  // 64-bit FNV-1a
  for (unsigned char c : text.str()) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

bool Checkpoint::write(const std::string& runName, const Run& run, World& world) {
  const std::string finalPath = RunLayout::checkpointPath(runName), partial = finalPath + RunLayout::PARTIAL;
  auto fail = [&](int error) {
    OutputFile::report("soilweb: cannot write the checkpoint '" + finalPath + "': " + systemReason(error) + "\n", error,
                       finalPath);
    RunFolder::removeFile(partial);
    return false;
  };
  if (RunFolder::makeFolder(RunLayout::checkpointFolder(runName)) != 0) return fail(errno);
  const int fd = RunFolder::openFile(partial, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return fail(errno);

  StateArchive archive(fd, StateArchive::SAVING);
  char magic[sizeof MAGIC];
  std::memcpy(magic, MAGIC, sizeof MAGIC);
  archive.ioBytes(magic, sizeof magic);
  std::uint32_t layout = LAYOUT;
  archive.io(layout);
  std::string version = RunInfo::version();
  archive.io(version);
  Run saved = run;
  transferRun(archive, saved);
  RunState::transfer(archive, world);
  std::uint64_t length = archive.position();
  std::uint32_t checksum = archive.checksum();
  archive.io(length);
  archive.io(checksum);

  int error = archive.flush() ? 0 : archive.error();
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && RunFolder::renameFile(partial, finalPath) != 0) error = errno;
  if (error != 0) return fail(error);
  // The rename itself must reach the disk before the run relies on it.
  RunFolder::syncFolder(RunLayout::checkpointFolder(runName));
  return true;
}

void Checkpoint::remove(const std::string& runName) {
  RunFolder::removeFile(RunLayout::checkpointPath(runName));
  RunFolder::removeFolder(RunLayout::checkpointFolder(runName));  // only when empty
}

Checkpoint::Checkpoint(const std::string& path) : shownPath(path) {
  // Looked at before it is opened: opening a FIFO or a device to read could wait for ever.
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) refuse("cannot be read: " + systemReason(errno));
  if (S_ISDIR(info.st_mode)) refuse("is a folder");
  if (!S_ISREG(info.st_mode))
    refuse(S_ISLNK(info.st_mode) ? "is a link, not a checkpoint soilweb wrote" : "is not a regular file");
  fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) refuse("cannot be read: " + systemReason(errno));
  try {
    if (::fstat(fd, &info) != 0) refuse("cannot be read: " + systemReason(errno));
    if (!S_ISREG(info.st_mode)) refuse("is not a regular file");
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size < sizeof MAGIC + TRAILER) refuse("is not a soilweb checkpoint");
    bodyEnd = size - TRAILER;
    archive = std::make_unique<StateArchive>(fd, StateArchive::LOADING, bodyEnd);
    checkVersion();
    checkChecksum(size);
    transferRun(*archive, saved);
  } catch (const StateArchive::Damaged& e) {
    ::close(fd);
    refuse(std::string("is damaged: ") + e.what());
  } catch (...) {
    ::close(fd);
    throw;
  }
}

void Checkpoint::refuse(const std::string& reason) const {
  throw Refused("soilweb: checkpoint '" + shownPath + "' " + reason);
}

Checkpoint::~Checkpoint() { ::close(fd); }

void Checkpoint::checkVersion() {
  char magic[sizeof MAGIC];
  archive->ioBytes(magic, sizeof magic);
  if (std::memcmp(magic, MAGIC, sizeof MAGIC) != 0) refuse("is not a soilweb checkpoint");
  std::uint32_t layout = 0;
  archive->io(layout);
  std::string version;
  archive->io(version);
  if (layout != LAYOUT || version != RunInfo::version())
    refuse("was written by soilweb " + version + " (checkpoint layout " + std::to_string(layout) +
           "); this is soilweb " + RunInfo::version() + " (layout " + std::to_string(LAYOUT) +
           "): resume it with the soilweb that wrote it");
}

void Checkpoint::checkChecksum(std::uint64_t size) {
  std::string block(1 << 20, '\0');
  std::uint32_t computed = 0;
  for (std::uint64_t at = 0; at < bodyEnd;) {
    const ssize_t got =
        ::pread(fd, block.data(), std::min<std::uint64_t>(block.size(), bodyEnd - at), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) refuse("cannot be read: " + systemReason(got < 0 ? errno : EIO));
    computed = libdeflate_crc32(computed, block.data(), static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
  }
  unsigned char trailer[TRAILER];
  if (::pread(fd, trailer, TRAILER, static_cast<off_t>(bodyEnd)) != static_cast<ssize_t>(TRAILER))
    refuse("cannot be read: " + systemReason(errno));
  std::uint64_t length;
  std::uint32_t checksum;
  std::memcpy(&length, trailer, 8);
  std::memcpy(&checksum, trailer + 8, 4);
  if (length != bodyEnd || checksum != computed || size != bodyEnd + TRAILER)
    refuse("is damaged: its checksum does not match its contents");
}

void Checkpoint::restore(World& world) {
  try {
    RunState::transfer(*archive, world);
    archive->expect(archive->position() == bodyEnd, "it holds more than a run's state");
  } catch (const StateArchive::Damaged& e) {
    refuse(std::string("is damaged: ") + e.what());
  }
}

}  // namespace soilweb
