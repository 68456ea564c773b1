#include "io/BackgroundWriter.h"

#include "io/OutputFile.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

namespace soilweb {

BackgroundWriter::BackgroundWriter(std::size_t maxPendingBytes) : maxPendingBytes(maxPendingBytes) {
  try {
    thread = std::thread(&BackgroundWriter::work, this);
  } catch (const std::system_error&) {
    // No second thread: every write is made at once by the caller's thread.
  }
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

void BackgroundWriter::run(Job& job) {
  if (failed) return;  // dropped: a streamed file let go unfinished is removed
  bool written = true;
  try {
    if (job.file && job.action != Job::WRITE) {
      if (job.action == Job::MARK) {
        job.file->mark();
      } else if (job.action == Job::DAY_ENDED) {
        job.file->dayEnded();
        wholeDay = job.day;
      } else {
        job.file->cutBackToMark();
      }
      written = !job.file->hasFailed();
    } else if (job.file) {
      job.file->append(job.text);
      job.file->flush();
      written = !job.file->hasFailed();
    } else if (job.streamed) {
      job.streamed->append(job.text);
      if (job.last) written = job.streamed->commit();
    } else {
      written = OutputFile::writeWhole(job.path, *job.content);
    }
  } catch (const std::bad_alloc&) {
    // The file is left out, not the process: the run ends failed, with its record.
    const std::string& path = job.file ? job.file->finalPath() : job.streamed ? job.streamed->finalPath() : job.path;
    OutputFile::report("soilweb: out of memory while writing '" + path + "'\n", ENOMEM, path);
    written = false;
  }
  if (!written) failed = true;
}

void BackgroundWriter::writeWhole(std::string path, std::shared_ptr<const std::string> content) {
  Job job;
  job.path = std::move(path);
  job.content = std::move(content);
  hand(std::move(job));
}

void BackgroundWriter::append(OutputFile& file, std::string text) {
  Job job;
  job.file = &file;
  job.text = std::move(text);
  hand(std::move(job));
}

void BackgroundWriter::mark(OutputFile& file) {
  Job job;
  job.file = &file;
  job.action = Job::MARK;
  hand(std::move(job));
}

void BackgroundWriter::cutBack(OutputFile& file) {
  Job job;
  job.file = &file;
  job.action = Job::CUT_BACK;
  hand(std::move(job));
}

void BackgroundWriter::dayEnded(OutputFile& file, int day) {
  Job job;
  job.file = &file;
  job.day = day;
  job.action = Job::DAY_ENDED;
  hand(std::move(job));
}

void BackgroundWriter::stream(std::shared_ptr<OutputFile> file, std::string text, bool last) {
  Job job;
  job.streamed = std::move(file);
  job.text = std::move(text);
  job.last = last;
  hand(std::move(job));
}

void BackgroundWriter::hand(Job job) {
  if (!thread.joinable()) return run(job);
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [&] { return pendingBytes < maxPendingBytes; });
  pendingBytes += job.size();
  jobs.push_back(std::move(job));
  changed.notify_all();
}

bool BackgroundWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [&] { return jobs.empty() && !writing; });
  return !failed;
}

namespace {
using Job = BackgroundWriter::Job;
bool isWholeFile(const Job& job) { return !job.file && !job.streamed; }
bool isAppend(const Job& job) { return job.file && job.action == Job::WRITE; }
// Whether next can be compressed together with the batch that starts with first: whole files
// with whole files, blocks of one growing file with blocks of the same file.
bool goesWith(const Job& first, const Job& next) {
  return (isWholeFile(first) && isWholeFile(next)) || (isAppend(first) && isAppend(next) && first.file == next.file);
}
}  // namespace

// Compressing costs far more than writing: the whole files (or the blocks of one growing file,
// such as the food-web matrices) waiting next to each other at the front are made into their
// gzip members at once, one thread each, and then written one after the other, in the order
// they were handed over: each is the one member it would be alone.
void BackgroundWriter::compressTogether(std::vector<Job>& batch) {
  std::vector<std::string> members(batch.size());
  OutputFile::onThreads(batch.size(), batch.size(), [&](std::size_t k) {
    members[k] = OutputFile::gzipped(batch[k].file ? batch[k].text : *batch[k].content);
  });
  for (std::size_t k = 0; k < batch.size() && !failed; ++k) {
    Job& job = batch[k];
    bool written = false;
    try {
      if (job.file) {
        job.file->appendGzipped(job.text, members[k]);
        written = !job.file->hasFailed();
      } else {
        written = OutputFile::writeWholeGzipped(job.path, *job.content, members[k]);
      }
    } catch (const std::bad_alloc&) {
      const std::string& path = job.file ? job.file->finalPath() : job.path;
      OutputFile::report("soilweb: out of memory while writing '" + path + "'\n", ENOMEM, path);
    }
    if (!written) failed = true;
  }
}

void BackgroundWriter::work() {
  std::unique_lock<std::mutex> lock(mutex);
  const bool together = OutputFile::gzip && OutputFile::compressionThreads == 0 && OutputFile::wholeFileThreads > 1;
  for (;;) {
    changed.wait(lock, [&] { return stopping || !jobs.empty(); });
    if (jobs.empty()) return;  // stopping, and nothing left to write
    std::vector<Job> batch;
    do {
      batch.push_back(std::move(jobs.front()));
      jobs.pop_front();
    } while (together && !jobs.empty() && goesWith(batch.front(), jobs.front()) &&
             batch.size() < static_cast<std::size_t>(OutputFile::wholeFileThreads));
    writing = true;
    lock.unlock();
    if (batch.size() > 1 && !failed)
      compressTogether(batch);
    else
      run(batch.front());
    lock.lock();
    writing = false;
    for (const Job& job : batch) pendingBytes -= job.size();
    changed.notify_all();
  }
}

}  // namespace soilweb
