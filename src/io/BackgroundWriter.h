// Writes output files on a second thread, in the order they are handed over,
// so that writing one day's files overlaps simulating the next. Whole files
// still appear under their final names only when complete, summary lines are
// appended after the files of their day, and every failure is reported (on
// standard error, by the writing thread) and remembered. Once a file has
// failed nothing more is written: no table gains a line about a day whose
// files are not whole. At most a bounded
// amount of text waits at any time: a producer that gets ahead waits. Owned by
// the run driver for the whole run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soilweb {

class OutputFile;

class BackgroundWriter {
 public:
  explicit BackgroundWriter(std::size_t maxPendingBytes = std::size_t(32) << 20);
  ~BackgroundWriter();  // writes what is still pending
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Writes content as the whole file at path.
  void writeWhole(std::string path, std::shared_ptr<const std::string> content);
  // Appends text to an open in-place file and flushes it; the caller keeps the
  // file open until finish() has returned.
  void append(OutputFile& file, std::string text);
  // Appends a part of a whole file being streamed; after the last part the
  // file is committed (renamed to its final name) and let go.
  void stream(std::shared_ptr<OutputFile> file, std::string text, bool last);
  // Marks an open in-place file's length, and later cuts it back to the mark
  // (see OutputFile::mark), in order with what else is written to it.
  void mark(OutputFile& file);
  void cutBack(OutputFile& file);
  // Tells an open in-place file that day is whole in it (OutputFile::dayEnded),
  // in order with what else is written; only while nothing has failed.
  void dayEnded(OutputFile& file, int day);
  // Waits until everything handed over is written; false when any whole file
  // failed since the start.
  bool finish();
  // Whether a file has failed (known to the writing thread so far).
  bool hasFailed() const { return failed; }
  // The last day told whole (see dayEnded); -1 when none.
  int lastWholeDay() const { return wholeDay; }

 public:
  struct Job {
    std::string path;  // a whole file, or
    std::shared_ptr<const std::string> content;
    OutputFile* file = nullptr;            // an append to an open file, or
    std::shared_ptr<OutputFile> streamed;  // a part of a streamed whole file
    bool last = false;                     // the streamed file's last part
    std::string text;
    int day = -1;                                                     // the day a DAY_ENDED job tells of
    enum Action { WRITE, MARK, CUT_BACK, DAY_ENDED } action = WRITE;  // for an open in-place file
    std::size_t size() const { return content ? content->size() : text.size(); }
  };
 private:
  // Queues the job once there is room, or runs it at once without a thread.
  void hand(Job job);
  // Writes whole files, their members made at once on a thread each.
  void compressTogether(std::vector<Job>& batch);
  void run(Job& job);
  void work();

  const std::size_t maxPendingBytes;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Job> jobs;
  std::size_t pendingBytes = 0;
  bool writing = false;  // the thread holds a job
  bool stopping = false;
  std::atomic<bool> failed{false};
  std::atomic<int> wholeDay{-1};
  std::thread thread;  // not joinable when no thread could be started: then writes are made at once
};

}  // namespace soilweb
