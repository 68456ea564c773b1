// A run's state in binary form, written to or read from an open file in one
// pass. Each class lists its fields once, in its transferState, and the archive
// either writes them or reads them back into place, so saving and loading
// cannot drift apart. Numbers are kept as an x86-64 machine holds them
// (little-endian, IEEE doubles); a CRC-32 runs over every byte. Lives for the
// writing or the reading of one checkpoint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace soilweb {

class StateArchive {
 public:
  // What was read makes no sense: past the end, an impossible count or value.
  class Damaged : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };
  enum Direction { SAVING, LOADING };

  // fd stays open and owned by the caller; loading stops at limit bytes.
  StateArchive(int fd, Direction direction, std::uint64_t limit = UINT64_MAX);

  bool isLoading() const { return direction == LOADING; }

  template <class T>
  void io(T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "only plain values are kept as bytes");
    ioBytes(&value, sizeof value);
  }
  template <class T>
  void io(std::vector<T>& values) {
    static_assert(std::is_trivially_copyable_v<T>, "only plain values are kept as bytes");
    values.resize(ioCount(values.size(), sizeof(T)));
    if (!values.empty()) ioBytes(values.data(), values.size() * sizeof(T));
  }
  void io(std::string& text);
  void ioBytes(void* data, std::size_t size);
  // A number of items that follow, each of at least minBytes bytes: on
  // loading, refused when they could not fit in what is left.
  std::uint64_t ioCount(std::uint64_t count, std::size_t minBytes);
  // Refuses the value just read unless it holds.
  void expect(bool holds, const std::string& what) const;

  // Saving: writes what is pending; false when a write failed (see error()).
  bool flush();
  int error() const { return writeError; }
  // The CRC-32 and the count of the bytes written or read so far.
  std::uint32_t checksum() const { return crc; }
  std::uint64_t position() const { return done; }

 private:
  void fill();

  int fd;
  Direction direction;
  std::uint64_t limit;
  std::string buffer;
  std::size_t at = 0;      // next byte of the buffer (loading)
  std::size_t end = 0;     // bytes in the buffer (loading)
  std::uint64_t done = 0;  // bytes passed through so far
  std::uint32_t crc = 0;
  int writeError = 0;  // errno of the first failed write
};

}  // namespace soilweb
