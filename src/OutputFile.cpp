#include "OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

namespace {
const std::size_t BLOCK = 1 << 20;  // write in blocks of about this size

std::mutex failureMutex;  // files fail on the writing thread too
std::string failure;      // the first failure reported
}  // namespace

void OutputFile::report(const std::string& lines) {
  std::lock_guard<std::mutex> lock(failureMutex);
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

OutputFile::OutputFile(std::string path_, Mode mode_) : path(std::move(path_)), mode(mode_) {
  writtenPath = mode == WHOLE ? path + ".partial" : path;
  fd = ::open(writtenPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int reason = errno;
    report("Error opening the file.\nsoilweb: cannot open '" + path + "': " + std::strerror(reason) + "\n");
  }
}

OutputFile::~OutputFile() {
  if (fd < 0 || done) return;
  ::close(fd);
  if (mode == WHOLE) ::unlink(writtenPath.c_str());
}

void OutputFile::append(std::string_view more) {
  pending.append(more);
  if (pending.size() >= BLOCK) flush();
}

void OutputFile::fail(int errorNumber) {
  if (error == 0) error = errorNumber;
}

void OutputFile::flush() {
  writeAll(pending.data(), pending.size());
  pending.clear();
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
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

bool OutputFile::commit() {
  if (fd < 0) return false;
  flush();
  if (::close(fd) != 0) fail(errno);
  done = true;
  if (error == 0 && mode == WHOLE && std::rename(writtenPath.c_str(), path.c_str()) != 0) fail(errno);
  if (error != 0) {
    if (mode == WHOLE) ::unlink(writtenPath.c_str());
    report("Error writing the file \"" + path + "\": " + std::strerror(error) + "\n");
    return false;
  }
  return true;
}

bool OutputFile::writeWhole(const std::string& path, const std::string& content) {
  OutputFile file(path);
  if (!file.isOpen()) return false;
  file.writeAll(content.data(), content.size());
  return file.commit();
}
