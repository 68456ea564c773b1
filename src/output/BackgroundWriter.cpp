#include "output/BackgroundWriter.h"

#include "output/OutputFile.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

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
      if (job.action == Job::MARK)
        job.file->mark();
      else
        job.file->cutBackToMark();
      written = !job.file->hasFailed();
    } else if (job.file) {
      job.file->append(job.text);
      job.file->flush();
      written = !job.file->hasFailed();
      if (written && job.day >= 0) lastDay = job.day;
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

void BackgroundWriter::append(OutputFile& file, std::string text, int day) {
  Job job;
  job.file = &file;
  job.text = std::move(text);
  job.day = day;
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

void BackgroundWriter::work() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(lock, [&] { return stopping || !jobs.empty(); });
    if (jobs.empty()) return;  // stopping, and nothing left to write
    Job job = std::move(jobs.front());
    jobs.pop_front();
    writing = true;
    lock.unlock();
    run(job);
    lock.lock();
    writing = false;
    pendingBytes -= job.size();
    changed.notify_all();
  }
}

}  // namespace soilweb
