// The framework's log: CQUVDebug::PrintLog.
#include <quv/CQUVDebug.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "Internal.h"

namespace quvimpl {

namespace {
std::atomic<bool> g_sinkGone{false};
}

LogSink& LogSink::Get() {
  static LogSink sink;
  return sink;
}

LogSink::~LogSink() {
  g_sinkGone = true;
  std::lock_guard<std::mutex> lk(m_);
  if (file_ && ownsFile_) std::fclose(file_);
  file_ = nullptr;
  wanted_ = kNotWanted;
}

void LogSink::OpenLocked() {
  if (opened_) return;
  opened_ = true;
  const char* path = std::getenv("QUV_LOG");
  if (!path || !*path) return;
  if (std::string(path) == "-") {
    file_ = stderr;
    return;
  }
  file_ = std::fopen(path, "a");
  if (file_)
    ownsFile_ = true;
  else
    std::fprintf(stderr, "libQuv: cannot open the log file named by QUV_LOG (%s); no log\n",
                 path);
}

void LogSink::UpdateWantedLocked() {
  wanted_.store(capture_ || file_ ? kWanted : kNotWanted, std::memory_order_release);
}

bool LogSink::Wanted() {
  int state = wanted_.load(std::memory_order_acquire);
  if (state == kUnknown) {
    std::lock_guard<std::mutex> lk(m_);
    OpenLocked();
    UpdateWantedLocked();
    state = wanted_.load(std::memory_order_relaxed);
  }
  return state == kWanted;
}

void LogSink::Write(unsigned module, unsigned level, const std::string& text) {
  std::lock_guard<std::mutex> lk(m_);
  if (capture_) {
    kept_.push_back({module, level, text});
    return;
  }
  OpenLocked();
  if (!file_) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

void LogSink::Capture(bool on) {
  std::lock_guard<std::mutex> lk(m_);
  capture_ = on;
  kept_.clear();
  OpenLocked();
  UpdateWantedLocked();
}

std::vector<quvstub::LogCall> LogSink::Take() {
  std::lock_guard<std::mutex> lk(m_);
  std::vector<quvstub::LogCall> out;
  out.swap(kept_);
  return out;
}

bool LogSink::WritesToStderr() {
  std::lock_guard<std::mutex> lk(m_);
  if (capture_) return false;
  OpenLocked();
  return file_ == stderr;
}

// One line each, whatever a configuration file or a trace put in a key or a
// text: control characters are written as \xNN.
void Complain(const std::string& line) {
  std::string text = "libQuv: ";
  text.reserve(text.size() + line.size() + 1);
  for (unsigned char c : line) {
    if (c >= 0x20 && c != 0x7f) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      AppendHex(text, c);
    }
  }
  text += '\n';
  if (g_sinkGone) {
    std::fputs(text.c_str(), stderr);
    return;
  }
  LogSink& sink = LogSink::Get();
  if (!sink.WritesToStderr()) std::fputs(text.c_str(), stderr);
  sink.Write(0, 1, text);
}

}  // namespace quvimpl

namespace quv {

// A log call never throws into its caller (which may be the framework's own
// thread): a record that cannot be made for want of memory is dropped.
void CQUVDebug::PrintLog(unsigned int module, unsigned int level, const char* format, ...) {
  // A record nobody reads is not formatted.
  if (!format || quvimpl::g_sinkGone || !quvimpl::LogSink::Get().Wanted()) return;
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  try {
    std::string text;
    if (n > 0) {
      text.resize(static_cast<std::size_t>(n) + 1);
      std::vsnprintf(&text[0], text.size(), format, ap2);
      text.resize(static_cast<std::size_t>(n));
    }
    if (!quvimpl::g_sinkGone)  // the library is being unloaded
      quvimpl::LogSink::Get().Write(module, level, text);
  } catch (const std::bad_alloc&) {
  }
  va_end(ap2);
}

}  // namespace quv
