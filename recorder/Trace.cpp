// The trace's records, their JSON form and the writer thread.
#include "Trace.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <utility>

namespace nptvrec {

namespace {

const char* KindName(Kind k) {
  switch (k) {
    case Kind::kConstruct: return "construct";
    case Kind::kOpen: return "open";
    case Kind::kExecute: return "execute";
    case Kind::kReply: return "reply";
    case Kind::kEvent: return "event";
    case Kind::kEventResult: return "event-result";
    case Kind::kClose: return "close";
    case Kind::kDestroy: return "destroy";
    case Kind::kLog: return "log";
  }
  return "?";
}

// Length of the UTF-8 sequence at s[i], 0 when it is not one (overlong forms,
// surrogates and code points past U+10FFFF are refused).
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = at(i);
  if (c < 0x80) return 1;
  std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (n == 0 || c > 0xF4 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((at(i + k) & 0xC0) != 0x80) return 0;
  unsigned char d = at(i + 1);
  if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
      (c == 0xF4 && d > 0x8F))
    return 0;
  return n;
}

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = Utf8Length(s, i);
    if (!n) return false;
    i += n;
  }
  return true;
}

void AppendBase64(std::string& out, const std::string& in) {
  static const char k[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
    out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], k[v & 63]};
  }
  if (i + 1 == in.size()) {
    unsigned v = (unsigned char)in[i] << 16;
    out += {k[v >> 18], k[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == in.size()) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
    out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], '='};
  }
}

void Field(std::string& out, const char* name, long long v) {
  out += ",\"";
  out += name;
  out += "\":";
  out += std::to_string(v);
}

}  // namespace

void AppendText(std::string& out, const std::string& bytes) {
  if (!ValidUtf8(bytes)) {
    out += "{\"base64\":\"";
    AppendBase64(out, bytes);
    out += "\"}";
    return;
  }
  out += '"';
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

std::string FormatRecord(const Record& r) {
  std::string out = "{\"t\":" + std::to_string(r.t);
  Field(out, "thread", r.thread);
  Field(out, "conn", r.conn);
  out += ",\"kind\":\"";
  out += KindName(r.kind);
  out += '"';
  const char* textsName = r.kind == Kind::kReply ? "reply" : r.kind == Kind::kLog ? "text" : "texts";
  bool one = r.kind == Kind::kReply || r.kind == Kind::kLog;
  if (!r.texts.empty() || r.kind == Kind::kExecute || r.kind == Kind::kOpen ||
      r.kind == Kind::kEvent) {
    out += ",\"";
    out += textsName;
    out += "\":";
    if (one) {
      AppendText(out, r.texts.empty() ? std::string() : r.texts[0]);
    } else {
      out += '[';
      for (std::size_t i = 0; i < r.texts.size(); ++i) {
        if (i) out += ',';
        AppendText(out, r.texts[i]);
      }
      out += ']';
    }
  }
  switch (r.kind) {
    case Kind::kConstruct: Field(out, "client", r.a); break;
    case Kind::kEvent: Field(out, "type", r.a); break;
    case Kind::kOpen:
    case Kind::kEventResult: out += r.a ? ",\"result\":true" : ",\"result\":false"; break;
    case Kind::kLog:
      Field(out, "module", r.a);
      Field(out, "level", r.b);
      break;
    default: break;
  }
  if (r.us >= 0) Field(out, "us", r.us);
  if (r.redacted >= 0) Field(out, "redacted", r.redacted);
  out += '}';
  return out;
}

std::int64_t Trace::NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long Trace::ThreadId() {
  thread_local long id = syscall(SYS_gettid);
  return id;
}

Trace::Trace(TraceOptions options, std::string target)
    : options_(std::move(options)), target_(std::move(target)) {
  // The file is opened by the writer thread: opening may block too (a slow
  // or remote file system, a pipe nobody reads).
  if (On()) thread_ = std::thread([this] { Run(); });
}

void Trace::Add(Record&& r) {
  if (!On()) return;
  std::unique_lock<std::mutex> lk(m_);
  if (finished_) {  // the process is ending: nobody else writes now
    if (writerDone_) WriteLine(FormatRecord(r));
    return;
  }
  if (queue_.size() >= options_.queue) {
    ++dropped_;
    return;
  }
  queue_.push_back(std::move(r));
  if (queue_.size() == 1) cv_.notify_one();
}

void Trace::Run() {
  OpenFile(false);
  std::deque<Record> batch;
  for (;;) {
    std::uint64_t dropped = 0;
    bool stop;
    {
      std::unique_lock<std::mutex> lk(m_);
      cv_.wait(lk, [&] { return stop_ || !queue_.empty(); });
      batch.swap(queue_);
      std::swap(dropped, dropped_);
      stop = stop_;
    }
    for (const Record& r : batch) WriteLine(FormatRecord(r));
    if (dropped)
      WriteLine("{\"t\":" + std::to_string(NowUs()) + ",\"kind\":\"dropped\",\"count\":" +
                std::to_string(dropped) + "}");
    batch.clear();
    if (file_) std::fflush(file_);
    if (stop) {
      std::lock_guard<std::mutex> lk(m_);
      writerDone_ = true;
      doneCv_.notify_all();
      return;
    }
  }
}

void Trace::OpenFile(bool rotated) {
  if (file_) std::fclose(file_);
  file_ = std::fopen(options_.path.c_str(), "w");
  bytes_ = 0;
  if (!file_) {
    std::fprintf(stderr, "nptv recorder: cannot write the trace %s\n", options_.path.c_str());
    return;
  }
  std::string head = "{\"t\":" + std::to_string(NowUs()) + ",\"kind\":\"start\",\"format\":1";
  Field(head, "pid", getpid());
  head += ",\"library\":";
  AppendText(head, target_);
  head += rotated ? ",\"rotated\":true}" : "}";
  WriteLine(head);
}

void Trace::WriteLine(const std::string& line) {
  if (!file_) return;
  if (bytes_ > 0 && bytes_ + line.size() + 1 > options_.maxBytes) {
    std::fclose(file_);
    file_ = nullptr;
    std::rename(options_.path.c_str(), (options_.path + ".1").c_str());
    OpenFile(true);
    if (!file_) return;
  }
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  bytes_ += line.size() + 1;
}

void Trace::Finish() {
  std::unique_lock<std::mutex> lk(m_);
  if (finished_ || stop_ || !thread_.joinable()) return;
  stop_ = true;
  cv_.notify_one();
  // A writer stuck on its file (a pipe nobody reads) does not hold up the
  // end of the process: after two seconds it is left behind.
  bool done = doneCv_.wait_for(lk, std::chrono::seconds(2), [this] { return writerDone_; });
  finished_ = true;
  if (!done) {
    thread_.detach();
    return;
  }
  lk.unlock();
  thread_.join();
  lk.lock();
  for (const Record& r : queue_) WriteLine(FormatRecord(r));  // queued after its last round
  queue_.clear();
  if (dropped_)
    WriteLine("{\"t\":" + std::to_string(NowUs()) + ",\"kind\":\"dropped\",\"count\":" +
              std::to_string(dropped_) + "}");
  dropped_ = 0;
  WriteLine("{\"t\":" + std::to_string(NowUs()) + ",\"kind\":\"end\",\"longest_event_wait_us\":" +
            std::to_string(longestEventWait_.load()) + "}");
  if (file_) std::fflush(file_);
}

}  // namespace nptvrec
