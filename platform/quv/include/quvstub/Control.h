// Control of our stand-in of the TV service framework, for tests and tools.
// Nothing here exists in the TV maker's library: the shipped module never
// includes this header.
//
// The stand-in is split in two: the connection side (CQuvPluginWrapper: open
// connections, the command journal, the framework thread that raises OnEvent)
// and what answers commands (forced replies and delays first, then the
// backend: the simulated TV, or "E" for everything when the simulator is off).
#ifndef QUVSTUB_CONTROL_H
#define QUVSTUB_CONTROL_H

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#define QUVSTUB_API __attribute__((visibility("default")))

namespace quvstub {

// ---- Replies -------------------------------------------------------------

// Forces the reply to a command (given by its name) for the next `times`
// commands of that name; times < 0: until cleared. The reply is used byte for
// byte (it may hold NUL bytes, e.g. UTF-16 texts).
QUVSTUB_API void SetReply(const std::string& command, const std::string& reply, int times = -1);
// Delays every reply to the command by `ms` milliseconds (0 removes the delay).
QUVSTUB_API void SetDelay(const std::string& command, int ms);
// Removes all forced replies and delays.
QUVSTUB_API void ClearReplies();
// On (the default): commands without a forced reply are answered by the
// simulated TV. Off: they are answered with the error reply "E".
QUVSTUB_API void UseSimulator(bool on);

// Builds a 'U' reply: the marker, the text as UTF-16 little-endian units and
// the terminator unit. Bad UTF-8 is replaced by U+FFFD.
QUVSTUB_API std::string Utf16Reply(const std::string& utf8);

// ---- Journal -------------------------------------------------------------

struct JournalEntry {
  unsigned connection;             // id of the connection that sent it
  std::vector<std::string> texts;  // texts[0] is the command name; 5 or 11 texts in all
};
QUVSTUB_API std::vector<JournalEntry> Journal();
QUVSTUB_API void ClearJournal();

// ---- Connections ---------------------------------------------------------

struct ConnectionInfo {
  unsigned id;  // unique for the life of the process, from 1
  int clientType;
  bool open;  // Open was called and Close not yet
  std::string name, version, credential;  // the Open texts
  unsigned opens, closes;  // how often Open and Close were called on it
};
// Every wrapper alive now (constructed and not yet destroyed).
QUVSTUB_API std::vector<ConnectionInfo> Connections();

// ---- Misuse ----------------------------------------------------------------

// What a user of the framework did that the maker's library need not
// tolerate: an Open of a connection that is open or was closed, a second
// Close, an Execute after Close, a wrapper destroyed while its connection is
// still open. Each is kept here (one line each, oldest first) and written to
// the log; suites fail when this is not empty at the end of a test.
QUVSTUB_API std::vector<std::string> Misuses();
QUVSTUB_API void ClearMisuses();

// ---- Events --------------------------------------------------------------

// Queues an event for every open connection; the framework's own thread calls
// each one's OnEvent(type, param1, param2), in the order events were raised.
// Returns the number of connections it was queued for.
QUVSTUB_API std::size_t RaiseEvent(int type, const std::string& param1, const std::string& param2);
// Blocks until every event raised before the call has been handed to OnEvent
// (or dropped because its connection closed meanwhile).
QUVSTUB_API void WaitForEvents();
// What OnEvent returned, oldest first, for every delivery since the last call.
QUVSTUB_API std::vector<bool> TakeEventResults();
// The framework thread's id (events never arrive on any other thread).
QUVSTUB_API std::thread::id FrameworkThreadId();

// ---- Log -----------------------------------------------------------------

struct LogCall {
  unsigned module, level;  // PrintLog's two leading numbers
  std::string text;        // the formatted text of this one call
};
// While capturing, every PrintLog call is kept in memory (and not written to
// QUV_LOG). Turning capture on discards what was kept.
QUVSTUB_API void CaptureLog(bool on);
QUVSTUB_API std::vector<LogCall> TakeLog();

// ---- Control socket --------------------------------------------------------

// The simulated TV's control protocol: one JSON request per line, one JSON
// reply per line (docs/simulator.md). When QUV_SIM_SOCKET names a path, the
// library listens there from the construction of the first wrapper on.
// StartControlSocket listens at `path` instead (closing a socket this process
// listens at already); false, with a log line, when it cannot.
QUVSTUB_API bool StartControlSocket(const std::string& path);
// Closes the control socket and removes its file.
QUVSTUB_API void StopControlSocket();
// Handles one request line in this process, as the socket would, and returns
// the reply line (without line break).
QUVSTUB_API std::string ControlRequest(const std::string& line);

// ---- Everything ----------------------------------------------------------

// Forced replies, delays, journal, misuse records, event results and
// captured log cleared;
// the simulated TV back to its default state; simulator on.
QUVSTUB_API void Reset();

// ---- A framework that misbehaves (on request) ------------------------------

// While on, Open refuses every connection: it answers false and the
// connection stays unopened (commands on it answer "E"). Reset turns it off.
QUVSTUB_API void RefuseOpen(bool on);
// Queues an event for the connection `id` whether it is open or not (never
// opened, or closed), as a faulty framework might; the framework thread
// delivers it like any other. False when no wrapper has that id.
QUVSTUB_API bool RaiseEventOn(unsigned id, int type, const std::string& param1,
                              const std::string& param2);

}  // namespace quvstub

#endif
