// Reading a trace of the recorder (recorder/): JSON Lines, one record per
// operation between the module and a framework library. Used by the simulated
// TV's replay and by tvsim's trace commands.
#ifndef QUV_SRC_SIM_TRACEFILE_H
#define QUV_SRC_SIM_TRACEFILE_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quvimpl {

// A trace that cannot be read: the message names the file and the line.
struct TraceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TraceRecord {
  std::int64_t t = 0;  // microseconds, monotonic
  long thread = 0;
  unsigned conn = 0;
  std::string kind;                // construct, open, execute, reply, event, ...
  std::vector<std::string> texts;  // execute, open: the texts; event: its two texts
  std::string text;                // reply: the reply; log: the text
  long long type = 0;              // event: its type
  bool result = false;             // open, event-result
  std::int64_t us = -1;            // the call's duration, when recorded
  int redacted = -1;               // execute: the text left out
  std::uint64_t count = 0;         // dropped: how many records
};

// One command and its reply (execute and reply records paired by thread).
struct TraceCommand {
  std::int64_t t;
  unsigned conn;
  std::vector<std::string> texts;
  int redacted;
  std::string reply;
  std::int64_t us;
};

struct Trace {
  std::vector<TraceRecord> records;
  std::vector<TraceCommand> commands;  // in the order their replies came
};

// Limits on what is read from outside.
constexpr std::size_t kTraceMaxLine = 1 << 20;        // bytes per record
constexpr std::uint64_t kTraceMaxBytes = 256ull << 20;  // bytes in all
constexpr int kTraceMaxDepth = 32;                      // JSON nesting

// Throws TraceError for a file that cannot be read, a record that is not
// JSON, nests deeper than kTraceMaxDepth, is longer than kTraceMaxLine, lacks
// its fields, or is cut short (the last line without its line break).
Trace ReadTrace(const std::string& path);

}  // namespace quvimpl

#endif
