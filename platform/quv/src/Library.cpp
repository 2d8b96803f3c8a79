// The library's single state, built on first use, torn down at unload.
#include <atomic>
#include <chrono>
#include <cstdlib>

#include "Internal.h"
#include "sim/ControlServer.h"
#include "sim/Replay.h"
#include "sim/Simulator.h"

namespace quvimpl {

namespace {
std::atomic<bool> g_alive{false};
}

bool Library::Alive() { return g_alive; }

Library& Library::Get() {
  // The log is built first so that it outlives everything below.
  LogSink::Get();
  static Library lib;
  return lib;
}

Library::Library()
    : sim_(std::make_unique<Simulator>(framework)), replay_(Replay::FromEnvironment(framework)) {
  framework.SetTicker(sim_.get());
  g_alive = true;
}

Library::~Library() {
  g_alive = false;
  replay_.reset();  // its thread raises events
  // Threads first: the socket thread and the framework thread both reach the
  // simulator, which goes last.
  control_.reset();
  framework.Stop();
  framework.SetTicker(nullptr);
}

std::string Library::Execute(unsigned connection, const Texts& texts) {
  std::string reply = Answer(connection, texts);
  journal.Replied(connection, texts, reply);
  return reply;
}

std::string Library::Answer(unsigned connection, const Texts& texts) {
  static const std::string kNoName;
  const std::string& name = texts.empty() ? kNoName : texts[0];  // a reference: no copy
  journal.Add(connection, texts);
  framework.CheckExecute(connection, name);
  int delayMs = 0;
  std::optional<std::string> forced = responder.TakeForced(name, &delayMs);
  if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  if (forced) return std::move(*forced);
  if (!SimulatorOn()) return "E";
  // The model sees every command (subscriptions, settings), also when the
  // trace has the reply.
  std::string reply = sim_->Answer(connection, texts);
  if (replay_)
    if (std::optional<std::string> recorded = replay_->Answer(texts)) return std::move(*recorded);
  return reply;
}

void Library::UseSimulator(bool on) { simOn_ = on; }

bool Library::SimulatorOn() { return simOn_; }

void Library::StartControlSocket() {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (controlTried_) return;
    controlTried_ = true;
  }
  const char* path = std::getenv("QUV_SIM_SOCKET");
  if (path && *path) ListenAt(path);
}

bool Library::ListenAt(const std::string& path) {
  std::unique_ptr<ControlServer> old;
  {
    std::lock_guard<std::mutex> lk(m_);
    controlTried_ = true;
    old = std::move(control_);
  }
  old.reset();  // outside the lock: its thread may be using this library
  if (path.empty()) return true;
  auto server = std::make_unique<ControlServer>(*this, path);
  if (!server->Listening()) return false;
  {
    std::lock_guard<std::mutex> lk(m_);
    std::swap(control_, server);
  }
  return true;  // `server` now holds what a concurrent call had started, if anything
}

void Library::Reset() {
  responder.Clear();
  journal.Clear();
  framework.ClearResults();
  framework.ClearMisuses();
  LogSink::Get().Take();
  UseSimulator(true);
  sim_->Reset();
  framework.RefuseOpen(false);
}

}  // namespace quvimpl
