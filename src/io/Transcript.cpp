#include "io/Transcript.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>

namespace soilweb {

namespace {
// Gathers text and writes it to standard output when flushed (each line ends
// in a flush) or full; after the first failure it drops what it is given.
class Buffer : public std::streambuf {
 public:
  std::atomic<int> error{0};  // errno of the first failed write, 0 while none

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      pending += traits_type::to_char_type(c);
      if (pending.size() >= 4096) writePending();
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending.append(text, static_cast<std::size_t>(count));
    if (pending.size() >= 4096) writePending();
    return count;
  }
  int sync() override {
    writePending();
    return 0;  // a failure is remembered, not raised: the stream stays usable for the rest of the run
  }

 private:
  void writePending() {
    std::size_t done = 0;
    while (error == 0 && done < pending.size()) {
      const ssize_t wrote = ::write(STDOUT_FILENO, pending.data() + done, pending.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0)
        error = wrote < 0 ? errno : ENOSPC;
      else
        done += static_cast<std::size_t>(wrote);
    }
    pending.clear();
  }
  std::string pending;
};

// Never destroyed: std::cout may still be flushed at exit.
Buffer* buffer = nullptr;
}  // namespace

void Transcript::install() {
  if (buffer) return;
  std::cout.flush();
  buffer = new Buffer;
  std::cout.rdbuf(buffer);
}

bool Transcript::failed() { return buffer && buffer->error != 0; }

std::string Transcript::failure() {
  if (!failed()) return "";
  return std::string("the transcript could not be written to standard output (") + std::strerror(buffer->error) + ")";
}

}  // namespace soilweb
