// The recorder's trace: one JSON line per operation between the module and the
// maker's framework library, written by a thread of its own.
//
// Callers (the browser's main thread, the framework's thread) only append a
// record to a bounded queue under a short lock; the writer thread formats and
// writes. A record that finds the queue full is dropped and counted; the count
// is written as a record of its own as soon as there is room.
#ifndef NPTV_RECORDER_TRACE_H
#define NPTV_RECORDER_TRACE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nptvrec {

enum class Kind { kConstruct, kOpen, kExecute, kReply, kEvent, kEventResult, kClose, kDestroy, kLog };

struct Record {
  std::int64_t t = 0;      // monotonic clock, microseconds
  long thread = 0;         // kernel thread id of the caller
  unsigned conn = 0;       // the recorder's number of the connection (0: none, as for logs)
  Kind kind = Kind::kLog;
  std::vector<std::string> texts;  // the operation's texts, exactly
  long long a = 0, b = 0;          // client type; event type; result; log module and level
  std::int64_t us = -1;            // duration of the call (reply, open, event-result)
  int redacted = -1;               // index of a text replaced by nothing
};

struct TraceOptions {
  std::string path;                    // empty: no trace
  std::uint64_t maxBytes = 64u << 20;  // a file that grows past this is rotated to PATH.1
  std::size_t queue = 65536;           // records waiting for the writer, at most
};

class Trace {
 public:
  explicit Trace(TraceOptions options, std::string target);
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;
  // Never waits for the disk: queues the record or counts it as dropped.
  void Add(Record&& r);
  bool On() const { return !options_.path.empty(); }
  // Writes what is queued and stops the writer (waiting two seconds at most
  // for it); later records are written by the caller itself (the process is
  // ending).
  void Finish();
  // The longest time the framework's thread spent in the recorder for one
  // event, written in the "end" record by Finish.
  void NoteEventWait(std::int64_t us) {
    std::int64_t prev = longestEventWait_.load(std::memory_order_relaxed);
    while (us > prev && !longestEventWait_.compare_exchange_weak(prev, us, std::memory_order_relaxed)) {
    }
  }

  static std::int64_t NowUs();
  static long ThreadId();

 private:
  void Run();
  void OpenFile(bool rotated);
  void WriteLine(const std::string& line);

  const TraceOptions options_;
  const std::string target_;
  std::mutex m_;
  std::condition_variable cv_, doneCv_;
  std::deque<Record> queue_;
  std::uint64_t dropped_ = 0;
  std::atomic<std::int64_t> longestEventWait_{0};
  bool stop_ = false, finished_ = false;
  bool writerDone_ = false;  // the writer thread wrote all it was given and ended
  std::thread thread_;
  // Writer side (the writer thread, or the caller after Finish under m_).
  std::FILE* file_ = nullptr;
  std::uint64_t bytes_ = 0;
};

// One record as its JSON line (without the line break). Exposed for the tests.
std::string FormatRecord(const Record& r);
// A text as JSON: a string when it is valid UTF-8, else {"base64": "..."}.
void AppendText(std::string& out, const std::string& bytes);

}  // namespace nptvrec

#endif
