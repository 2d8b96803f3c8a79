// Inner parts of the stand-in framework library. Nothing here is exported.
//
// The library is split in two halves that meet only through `Backend`:
//  - the connection side (Framework: the registry of wrappers, the framework
//    thread with its FIFO of events, the journal), which never knows what
//    answers a command;
//  - the responders: forced replies and delays (Responder), then a Backend
//    (the simulated TV, or "E" for everything).
#ifndef QUV_SRC_INTERNAL_H
#define QUV_SRC_INTERNAL_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <quvstub/Control.h>

#include "Texts.h"

namespace quv {
class CQuvPluginWrapper;
}

namespace quvimpl {

using SteadyTime = std::chrono::steady_clock::time_point;

// What answers commands after forced replies and delays.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::string Answer(unsigned connection, const Texts& texts) = 0;
};

// Something that wants to be called on the framework thread from time to
// time (the simulated TV's clock). Returns when it wants to be called again.
class Ticker {
 public:
  virtual ~Ticker() = default;
  virtual std::optional<SteadyTime> Tick() = 0;
};

// The registry of connections and the framework thread.
class Framework {
 public:
  Framework() = default;
  ~Framework();
  Framework(const Framework&) = delete;
  Framework& operator=(const Framework&) = delete;

  unsigned Register(quv::CQuvPluginWrapper* wrapper, int clientType);
  // Closes, waits for an in-flight delivery to it, forgets it.
  void Unregister(unsigned id);
  bool Open(unsigned id, const std::string& name, const std::string& version,
            const std::string& credential);
  // After Close returns, no OnEvent is running or will run for the connection
  // (unless Close is called on the framework thread itself).
  void Close(unsigned id);
  bool IsOpen(unsigned id);
  std::vector<quvstub::ConnectionInfo> Connections();
  // Records an Execute on a closed connection as misuse.
  void CheckExecute(unsigned id, const std::string& command);
  std::vector<std::string> Misuses();
  void ClearMisuses();

  // Queues the event for every open connection (only: those in `only`, when
  // given). Returns the number of deliveries queued.
  std::size_t Raise(int type, const std::string& p1, const std::string& p2,
                    const std::vector<unsigned>* only = nullptr);
  void WaitForEvents();
  std::vector<bool> TakeResults();
  void ClearResults();
  std::thread::id ThreadId();

  // The ticker is called on the framework thread when no event is waiting.
  void SetTicker(Ticker* ticker);
  // Makes the thread ask the ticker again (its deadline may have moved).
  void Wake();
  // Stops and joins the thread; events still queued are dropped.
  void Stop();

  // Misbehaviour on request (quvstub::RefuseOpen, quvstub::RaiseEventOn).
  void RefuseOpen(bool on);
  bool OpenRefused();
  bool RaiseOn(unsigned id, int type, const std::string& p1, const std::string& p2);

 private:
  struct Conn {
    unsigned id = 0;
    int clientType = 0;
    bool open = false;
    unsigned opens = 0, closes = 0;
    std::string name, version, credential;
    quv::CQuvPluginWrapper* wrapper = nullptr;
    bool delivering = false;
  };
  struct Delivery {
    unsigned connection;
    int type;
    std::string p1, p2;
    bool anyState = false;  // delivered even when the connection is not open
  };

  void StartLocked();
  void Run();
  void WaitNotDeliveringLocked(std::unique_lock<std::mutex>& lk, Conn& c);
  // Marks the connection closed and waits until no OnEvent runs for it;
  // false when there is no such connection.
  bool CloseLocked(std::unique_lock<std::mutex>& lk, unsigned id);
  void MisuseLocked(std::string line);

  std::mutex m_;
  std::condition_variable wakeCv_;   // the thread waits here
  std::condition_variable doneCv_;   // deliveries finished
  std::map<unsigned, Conn> conns_;
  unsigned nextId_ = 1;
  std::deque<Delivery> queue_;
  std::uint64_t queued_ = 0, done_ = 0;
  std::vector<bool> results_;
  std::vector<std::string> misuses_;
  Ticker* ticker_ = nullptr;
  bool wake_ = false;
  bool stop_ = false;
  bool started_ = false;
  std::thread thread_;
  std::thread::id threadId_;
  bool refuseOpen_ = false;
};

// Forced replies and delays, in front of the backend.
class Responder {
 public:
  void SetReply(const std::string& command, const std::string& reply, int times);
  void SetDelay(const std::string& command, int ms);
  void Clear();
  // The forced reply (consuming one of its times) and the delay for a command.
  std::optional<std::string> TakeForced(const std::string& command, int* delayMs);
  struct ForcedInfo {
    std::string command, reply;
    int times;
  };
  std::vector<ForcedInfo> Forced();
  std::map<std::string, int> Delays();

 private:
  std::mutex m_;
  struct Forced_ {
    std::string reply;
    int times;
  };
  std::map<std::string, Forced_> forced_;
  std::map<std::string, int> delays_;
};

// The most recent commands, oldest first. Bounded: a ring of kCapacity slots
// whose texts keep their storage, so that once the ring has gone round a
// command is recorded without allocating. QUV_JOURNAL=0 in the environment
// switches it off (nothing is recorded; the benchmarks measure that way).
class Journal {
 public:
  static constexpr std::size_t kCapacity = 4096;
  Journal();
  void Add(unsigned connection, const Texts& texts) {
    if (on_) Record(connection, texts);
  }
  std::vector<quvstub::JournalEntry> All();
  void Clear();
  // With QUV_JOURNAL_FILE set: appends the command and its reply to that file
  // as one line of hexadecimal texts, "CONNECTION TEXT... = REPLY" (for
  // comparing what passed through a library in front of this one).
  void Replied(unsigned connection, const Texts& texts, const std::string& reply);

 private:
  void Record(unsigned connection, const Texts& texts);
  const bool on_;
  std::FILE* file_ = nullptr;
  std::mutex m_;
  std::vector<quvstub::JournalEntry> slots_;  // grows to kCapacity, then reused
  std::size_t next_ = 0;                      // slot of the next command
  std::size_t count_ = 0;                     // commands kept (<= kCapacity)
};

// The log behind CQUVDebug::PrintLog.
class LogSink {
 public:
  static LogSink& Get();
  ~LogSink();
  // False when a record would go nowhere (no QUV_LOG file, not capturing):
  // the log call then formats nothing. Lock-free once the log is opened.
  bool Wanted();
  void Write(unsigned module, unsigned level, const std::string& text);
  void Capture(bool on);
  std::vector<quvstub::LogCall> Take();
  // True while the text is going to stderr already (QUV_LOG=-, not capturing).
  bool WritesToStderr();

 private:
  LogSink() = default;
  void OpenLocked();
  void UpdateWantedLocked();
  std::mutex m_;
  enum : int { kUnknown, kNotWanted, kWanted };
  std::atomic<int> wanted_{kUnknown};
  bool capture_ = false;
  std::vector<quvstub::LogCall> kept_;
  bool opened_ = false;
  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;
};

// A log line of the stand-in itself: to the log and, unless the log already
// goes there, to stderr.
void Complain(const std::string& line);

// Appends a byte as two lower-case hex digits.
inline void AppendHex(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789abcdef";
  out += kDigits[c >> 4];
  out += kDigits[c & 15];
}

class Simulator;     // sim/Simulator.h
class Replay;        // sim/Replay.h
class ControlServer;  // sim/ControlServer.h

// Everything the library keeps, built on first use and torn down at unload in
// a fixed order (socket, framework thread, then the rest).
class Library {
 public:
  static Library& Get();
  // False once the library's state is gone (static destruction at exit or
  // unload): a wrapper that outlives it then does nothing.
  static bool Alive();
  ~Library();

  Framework framework;
  Responder responder;
  Journal journal;

  std::string Execute(unsigned connection, const Texts& texts);
  void UseSimulator(bool on);
  bool SimulatorOn();
  Simulator& Sim() { return *sim_; }
  // Starts the control socket when QUV_SIM_SOCKET names a path (once).
  void StartControlSocket();
  // Listens at `path` (an empty path: closes the socket).
  bool ListenAt(const std::string& path);
  void Reset();

 private:
  Library();
  std::string Answer(unsigned connection, const Texts& texts);
  std::mutex m_;
  std::atomic<bool> simOn_{true};
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<Replay> replay_;  // QUV_SIM_REPLAY
  std::unique_ptr<ControlServer> control_;
  bool controlTried_ = false;
};

}  // namespace quvimpl

#endif
