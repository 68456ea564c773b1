// One output file being written. Text is gathered in a buffer and written in
// large blocks. A snapshot-style file is written under a temporary name beside
// its final path and renamed only when complete, so a file under its final
// name is always whole; an in-place file (the summary) is written where it
// stands and flushed line by line so that users can watch it grow. With gzip
// on, each block written is one gzip member (readers take concatenated
// members) and the file's name ends in ".gz". Every failure is reported on
// standard error once, and commit() says whether the file was written. Lives
// for the writing of one file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace soilweb {

class OutputFile {
 public:
  // CONTINUED: an in-place file that already holds the lines of an earlier,
  // stopped part of the run (see keepFirst).
  enum Mode { WHOLE, IN_PLACE, CONTINUED };
  // Whether files are written gzip-compressed; set once before a run writes.
  static bool gzip;
  // 0: each block written is one gzip member. Otherwise every block is cut
  // into members of CHUNK bytes of text, compressed on this many threads at
  // once; the bytes of a file do not depend on the number. Set once before a run writes.
  static int compressionThreads;
  // libdeflate's level, 1 to 12. Level 6 (the default) makes the animal files
  // about a third of their text at about 60 MB/s a thread; level 1 a sixth
  // larger, twice as fast. Set once before a run writes.
  static int compressionLevel;
  static const std::size_t CHUNK;
  // The daily layout with gzip: how many whole files the background writer compresses at once
  // (each still one member, the same bytes). Set once before a run writes.
  static int wholeFileThreads;

  // Opens the file (path + ".gz" when compressed, unless plain); reports
  // "Error opening the file." when it cannot.
  explicit OutputFile(std::string path, Mode mode = WHOLE, bool plain = false);
  // The one gzip member writeWhole writes for content when it is compressed ("" for no content,
  // or when out of memory), made apart so that several files' members are made at once.
  static std::string gzipped(const std::string& content);
  // Calls make(k) for every k below count, on up to `threads` threads at once (fewer when no
  // more can be started), each taking the next k left; returns when every k is made.
  static void onThreads(std::size_t count, std::size_t threads, const std::function<void(std::size_t)>& make);
  // writeWhole of content, given the member gzipped made of it.
  static bool writeWholeGzipped(const std::string& path, const std::string& content, const std::string& member);
  // append(text) and flush(), given the member gzipped made of text.
  void appendGzipped(const std::string& text, const std::string& member);
  ~OutputFile();  // a file not committed is removed (WHOLE) or closed (IN_PLACE)
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool isOpen() const { return fd >= 0; }
  // Whether it could not be opened or a write has failed.
  bool hasFailed() const { return fd < 0 || error != 0; }
  // The name the file has once written.
  const std::string& finalPath() const { return path; }
  void append(std::string_view more);
  // What a file holds so far, as a checkpoint keeps it: its length and the
  // CRC-32 of its bytes (what is pending until flushed is not counted).
  struct Written {
    std::uint64_t bytes = 0;
    std::uint32_t crc = 0;
  };
  Written written() const { return {bytesInFile, crc}; }
  // A continued file: keeps its first bytes and writes after them; false
  // (after one line on standard error) when it holds fewer or they are not
  // the bytes the run wrote.
  bool keepFirst(const Written& kept);
  // Remembers what the file holds now (after writing what is pending), and
  // cuts it back to that: lines written in between are taken away.
  void mark();
  void cutBackToMark();
  // Remembers what the file holds at the end of a whole day, and, after a
  // write failed (a full disk), cuts it back to that: a table ends whole at
  // the run's last whole day (a gzip table with no member cut short), even
  // the table whose write failed.
  void dayEnded() { wholeDay = written(); }
  void cutBackToWholeDay();
  // Writes what is pending now.
  void flush();
  // Writes the rest, closes and (WHOLE) renames; false when anything failed.
  bool commit();

  // Writes content as the whole file at path; false when anything failed.
  static bool writeWhole(const std::string& path, const std::string& content, bool plain = false);
  // Writes content over the existing file at path, in place: on a full disk
  // the blocks it frees make room for the new text. False when anything failed.
  static bool rewrite(const std::string& path, const std::string& content);

  // The last line of the first failure any file reported, "" when none.
  static std::string firstFailure();
  // Whether a file failed because the disk, the quota or the file-size limit is full; such
  // failures are not reported one by one: the run stops and says so once.
  static bool diskIsFull();
  // Forgets every failure reported, as a fresh process would know none (the resume fuzzer runs many runs in one).
  static void forgetFailures();
  // The first such failure, "'PATH' could not be written (REASON)"; "" when none.
  static std::string fullDiskFailure();
  // Whether that failure was the file-size limit (EFBIG) rather than the disk.
  static bool fileSizeLimited();

  // Writes lines (each ending in a newline) to standard error, remembering
  // the first failure; error: the errno behind it (0 when none), path: the file.
  static void report(const std::string& lines, int error, const std::string& path);

 private:
  void fail(int error);
  // Writes a block as it is, or as gzip members.
  void writeBlock(const char* data, std::size_t size);
  // Writes a block as members of CHUNK bytes each, compressed on compressionThreads threads.
  void writeChunked(const char* data, std::size_t size);
  void writeAll(const char* data, std::size_t size);

  std::string path;
  bool compressed;
  std::string writtenPath;  // the temporary name while a WHOLE file is written
  Mode mode;
  int fd = -1;
  std::string pending;
  std::uint64_t bytesInFile = 0;  // written so far (compressed, when compressed)
  std::uint32_t crc = 0;          // CRC-32 of those bytes (in-place files only)
  Written marked;                 // see mark()
  Written wholeDay;               // see dayEnded()
  int error = 0;                  // first errno of a failed write, 0 while all is well
  bool done = false;
};

}  // namespace soilweb
