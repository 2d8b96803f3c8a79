// The control API of the stand-in (quvstub/Control.h).
#include <quvstub/Control.h>

#include "Internal.h"
#include "sim/ControlServer.h"

namespace quvstub {

using quvimpl::Library;

void SetReply(const std::string& command, const std::string& reply, int times) {
  Library::Get().responder.SetReply(command, reply, times);
}
void SetDelay(const std::string& command, int ms) {
  Library::Get().responder.SetDelay(command, ms);
}
void ClearReplies() { Library::Get().responder.Clear(); }
void UseSimulator(bool on) { Library::Get().UseSimulator(on); }

std::vector<JournalEntry> Journal() { return Library::Get().journal.All(); }
void ClearJournal() { Library::Get().journal.Clear(); }

std::vector<ConnectionInfo> Connections() { return Library::Get().framework.Connections(); }
std::vector<std::string> Misuses() { return Library::Get().framework.Misuses(); }
void ClearMisuses() { Library::Get().framework.ClearMisuses(); }

std::size_t RaiseEvent(int type, const std::string& param1, const std::string& param2) {
  return Library::Get().framework.Raise(type, param1, param2);
}
void WaitForEvents() { Library::Get().framework.WaitForEvents(); }
std::vector<bool> TakeEventResults() { return Library::Get().framework.TakeResults(); }
std::thread::id FrameworkThreadId() { return Library::Get().framework.ThreadId(); }

void CaptureLog(bool on) { quvimpl::LogSink::Get().Capture(on); }
std::vector<LogCall> TakeLog() { return quvimpl::LogSink::Get().Take(); }

bool StartControlSocket(const std::string& path) {
  return !path.empty() && Library::Get().ListenAt(path);
}
void StopControlSocket() { Library::Get().ListenAt(""); }
std::string ControlRequest(const std::string& line) {
  return quvimpl::ControlServer::Handle(Library::Get(), line);
}

void Reset() { Library::Get().Reset(); }

// ---- A framework that misbehaves ---------------------------------------------

void RefuseOpen(bool on) { Library::Get().framework.RefuseOpen(on); }
bool RaiseEventOn(unsigned id, int type, const std::string& param1, const std::string& param2) {
  return Library::Get().framework.RaiseOn(id, type, param1, param2);
}

}  // namespace quvstub
