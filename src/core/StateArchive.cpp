#include "core/StateArchive.h"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace soilweb {

namespace {
const std::size_t BLOCK = 1 << 20;
}

StateArchive::StateArchive(int fd, Direction direction, std::uint64_t limit)
    : fd(fd), direction(direction), limit(limit) {
  buffer.reserve(BLOCK);
  if (direction == LOADING) buffer.resize(BLOCK);
}

void StateArchive::io(std::string& text) {
  text.resize(ioCount(text.size(), 1));
  if (!text.empty()) ioBytes(text.data(), text.size());
}

void StateArchive::ioBytes(void* data, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  if (direction == SAVING) {
    crc = libdeflate_crc32(crc, bytes, size);
    done += size;
    buffer.append(reinterpret_cast<const char*>(bytes), size);
    if (buffer.size() >= BLOCK) flush();
    return;
  }
  if (size > limit - done) throw Damaged("it ends early");
  while (size > 0) {
    if (at == end) fill();
    const std::size_t take = std::min(size, end - at);
    std::memcpy(bytes, buffer.data() + at, take);
    crc = libdeflate_crc32(crc, bytes, take);
    at += take;
    done += take;
    bytes += take;
    size -= take;
  }
}

void StateArchive::fill() {
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw Damaged(std::string("it cannot be read: ") + std::strerror(errno));
    if (got == 0) throw Damaged("it ends early");
    at = 0;
    end = static_cast<std::size_t>(got);
    return;
  }
}

std::uint64_t StateArchive::ioCount(std::uint64_t count, std::size_t minBytes) {
  io(count);
  if (direction == LOADING && minBytes > 0 && count > (limit - done) / minBytes)
    throw Damaged("a count of " + std::to_string(count) + " cannot fit in what is left");
  return count;
}

void StateArchive::expect(bool holds, const std::string& what) const {
  if (!holds) throw Damaged(what);
}

bool StateArchive::flush() {
  const char* data = buffer.data();
  std::size_t left = buffer.size();
  while (left > 0 && writeError == 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      writeError = written < 0 ? errno : ENOSPC;
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  buffer.clear();
  return writeError == 0;
}

}  // namespace soilweb
