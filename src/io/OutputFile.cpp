#include "io/OutputFile.h"

#include "io/RunFolder.h"
#include "io/RunLayout.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace soilweb {

namespace {
const std::size_t BLOCK = 1 << 20;  // write in blocks of about this size

std::mutex failureMutex;  // files fail on the writing thread too
std::string failure;      // the first failure reported
std::string fullDisk;     // the first file that found the disk or quota full
std::atomic<bool> diskFull{false};

// A file-size limit (EFBIG, SIGXFSZ ignored) ends the run as a full disk does.
bool isFullDisk(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }
int fullDiskError = 0;
}  // namespace

void OutputFile::report(const std::string& lines, int error, const std::string& path) {
  std::lock_guard<std::mutex> lock(failureMutex);
  if (isFullDisk(error)) {
    // The run stops and says so once; every further file would only repeat it.
    if (fullDisk.empty()) {
      fullDisk = "'" + path + "' could not be written (" + std::strerror(error) + ")";
      fullDiskError = error;
    }
    diskFull = true;
    return;
  }
  if (failure.empty()) {
    const std::size_t lastLine = lines.rfind('\n', lines.size() - 2) + 1;
    failure = lines.substr(lastLine, lines.size() - 1 - lastLine);
  }
  std::cerr << lines << std::flush;
}

std::string OutputFile::firstFailure() {
  std::lock_guard<std::mutex> lock(failureMutex);
  return failure;
}

bool OutputFile::diskIsFull() { return diskFull; }

std::string OutputFile::fullDiskFailure() {
  std::lock_guard<std::mutex> lock(failureMutex);
  return fullDisk;
}

void OutputFile::forgetFailures() {
  std::lock_guard<std::mutex> lock(failureMutex);
  failure.clear();
  fullDisk.clear();
  fullDiskError = 0;
  diskFull = false;
}

bool OutputFile::fileSizeLimited() {
  std::lock_guard<std::mutex> lock(failureMutex);
  return fullDiskError == EFBIG;
}

bool OutputFile::gzip = false;

OutputFile::OutputFile(std::string path_, Mode mode_, bool plain)
    : path(gzip && !plain ? std::move(path_) + ".gz" : std::move(path_)), compressed(gzip && !plain), mode(mode_) {
  writtenPath = mode == WHOLE ? path + RunLayout::PARTIAL : path;
  // A continued file is read back too: its kept part is checked.
  fd = RunFolder::openFile(writtenPath, mode == CONTINUED ? O_RDWR | O_CREAT : O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) {
    const int reason = errno;
    report("Error opening the file.\nsoilweb: cannot open '" + path + "': " + std::strerror(reason) + "\n", reason,
           path);
  }
}

OutputFile::~OutputFile() {
  if (fd < 0 || done) return;
  ::close(fd);
  if (mode == WHOLE) RunFolder::removeFile(writtenPath);
}

void OutputFile::append(std::string_view more) {
  pending.append(more);
  if (pending.size() >= BLOCK) flush();
}

namespace {
// The CRC-32 of the first bytes of the file fd; false when they cannot be read.
bool crcOfFirst(int fd, std::uint64_t bytes, std::uint32_t& crc) {
  std::vector<char> block(1 << 20);
  crc = 0;
  for (std::uint64_t at = 0; at < bytes;) {
    const ssize_t got =
        ::pread(fd, block.data(), std::min<std::uint64_t>(block.size(), bytes - at), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    crc = libdeflate_crc32(crc, block.data(), static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
  }
  return true;
}
}  // namespace

bool OutputFile::keepFirst(const Written& kept) {
  const std::uint64_t bytes = kept.bytes;
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0) return false;
  if (static_cast<std::uint64_t>(info.st_size) < bytes) {
    report("soilweb: '" + path + "' holds " + std::to_string(info.st_size) + " bytes, fewer than the " +
               std::to_string(bytes) + " it held at the checkpoint\n",
           0, path);
    return false;
  }
  std::uint32_t found = 0;
  if (!crcOfFirst(fd, bytes, found) || found != kept.crc) {
    report("soilweb: '" + path + "' has changed since the checkpoint: its first " + std::to_string(bytes) +
               " bytes are not those the run wrote, so the run cannot be carried on from it\n",
           0, path);
    return false;
  }
  if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0 || ::lseek(fd, 0, SEEK_END) < 0) {
    const int reason = errno;
    report("soilweb: cannot continue '" + path + "': " + std::strerror(reason) + "\n", reason, path);
    return false;
  }
  bytesInFile = bytes;
  crc = found;
  return true;
}

void OutputFile::mark() {
  flush();
  marked = written();
}

void OutputFile::cutBackToMark() {
  flush();
  if (fd < 0 || error != 0) return;
  if (::ftruncate(fd, static_cast<off_t>(marked.bytes)) != 0 || ::lseek(fd, 0, SEEK_END) < 0) return fail(errno);
  bytesInFile = marked.bytes;
  crc = marked.crc;
}

void OutputFile::cutBackToWholeDay() {
  pending.clear();  // never written: it belongs to a day that is not whole
  if (fd < 0 || bytesInFile == wholeDay.bytes) return;
  if (::ftruncate(fd, static_cast<off_t>(wholeDay.bytes)) != 0 || ::lseek(fd, 0, SEEK_END) < 0) return fail(errno);
  bytesInFile = wholeDay.bytes;
  crc = wholeDay.crc;
}

void OutputFile::fail(int errorNumber) {
  if (error == 0) error = errorNumber;
}

void OutputFile::flush() {
  writeBlock(pending.data(), pending.size());
  pending.clear();
}

namespace {
// One compressor per thread (files are written on several), made on first use
// and again when the level changes.
libdeflate_compressor* compressor() {
  thread_local std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> made(
      nullptr, libdeflate_free_compressor);
  thread_local int madeAt = 0;
  if (!made || madeAt != OutputFile::compressionLevel) {
    made.reset(libdeflate_alloc_compressor(OutputFile::compressionLevel));
    madeAt = OutputFile::compressionLevel;
  }
  return made.get();
}
}  // namespace

namespace {
// data as one gzip member; "" when it cannot be compressed (no memory).
std::string gzipMember(const char* data, std::size_t size) {
  libdeflate_compressor* gzipper = compressor();
  if (!gzipper) return "";
  std::string member(libdeflate_gzip_compress_bound(gzipper, size), '\0');
  member.resize(libdeflate_gzip_compress(gzipper, data, size, member.data(), member.size()));
  return member;
}
}  // namespace

int OutputFile::compressionThreads = 0;
int OutputFile::wholeFileThreads = 1;
int OutputFile::compressionLevel = 6;
const std::size_t OutputFile::CHUNK = std::size_t(1) << 20;

void OutputFile::writeBlock(const char* data, std::size_t size) {
  if (!compressed) return writeAll(data, size);
  if (size == 0 || fd < 0 || error != 0) return;
  if (compressionThreads > 0) return writeChunked(data, size);
  const std::string member = gzipMember(data, size);
  if (member.empty()) return fail(ENOMEM);
  writeAll(member.data(), member.size());
}

void OutputFile::writeChunked(const char* data, std::size_t size) {
  const std::size_t chunks = (size + CHUNK - 1) / CHUNK;
  std::vector<std::string> members(chunks);  // in the text's order, whichever thread made each
  onThreads(chunks, static_cast<std::size_t>(compressionThreads), [&](std::size_t k) {
    members[k] = gzipMember(data + k * CHUNK, std::min(CHUNK, size - k * CHUNK));
  });
  for (const std::string& member : members) {
    if (member.empty()) return fail(ENOMEM);
    writeAll(member.data(), member.size());
  }
}

void OutputFile::onThreads(std::size_t count, std::size_t threads, const std::function<void(std::size_t)>& make) {
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k = next++; k < count; k = next++) make(k);
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < std::min(threads, count); ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer helpers: the same results, a little later
    }
  }
  work();
  for (auto& helper : helpers) helper.join();
}

void OutputFile::writeAll(const char* data, std::size_t left) {
  if (fd < 0 || error != 0) return;
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      fail(written < 0 ? errno : ENOSPC);
      break;
    }
    // Only a file that grows in place is kept by a checkpoint, and checked by a resume.
    if (mode != WHOLE) crc = libdeflate_crc32(crc, data, static_cast<std::size_t>(written));
    data += written;
    left -= static_cast<std::size_t>(written);
    bytesInFile += static_cast<std::uint64_t>(written);
  }
}

bool OutputFile::commit() {
  if (fd < 0) return false;
  flush();
  if (::close(fd) != 0) fail(errno);
  done = true;
  if (error == 0 && mode == WHOLE && RunFolder::renameFile(writtenPath, path) != 0) fail(errno);
  if (error != 0) {
    if (mode == WHOLE) RunFolder::removeFile(writtenPath);
    report("Error writing the file \"" + path + "\": " + std::strerror(error) + "\n", error, path);
    return false;
  }
  return true;
}

bool OutputFile::rewrite(const std::string& path, const std::string& content) {
  const int fd = RunFolder::openFile(path, O_WRONLY);
  if (fd < 0) return false;
  bool written = ::ftruncate(fd, 0) == 0;
  for (std::size_t done = 0; written && done < content.size();) {
    const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    written = wrote > 0;
    if (written) done += static_cast<std::size_t>(wrote);
  }
  written = ::fsync(fd) == 0 && written;
  return ::close(fd) == 0 && written;
}

std::string OutputFile::gzipped(const std::string& content) {
  return content.empty() ? "" : gzipMember(content.data(), content.size());
}

bool OutputFile::writeWholeGzipped(const std::string& path, const std::string& content, const std::string& member) {
  if (!gzip || compressionThreads > 0 || content.empty()) return writeWhole(path, content);
  OutputFile file(path, WHOLE);
  if (!file.isOpen()) return false;
  if (member.empty())
    file.fail(ENOMEM);
  else
    file.writeAll(member.data(), member.size());
  return file.commit();
}

void OutputFile::appendGzipped(const std::string& text, const std::string& member) {
  if (!compressed || compressionThreads > 0 || !pending.empty() || text.empty() || fd < 0 || error != 0) {
    append(text);
    return flush();
  }
  if (member.empty()) return fail(ENOMEM);
  writeAll(member.data(), member.size());
}

bool OutputFile::writeWhole(const std::string& path, const std::string& content, bool plain) {
  OutputFile file(path, WHOLE, plain);
  if (!file.isOpen()) return false;
  file.writeBlock(content.data(), content.size());
  return file.commit();
}

}  // namespace soilweb
