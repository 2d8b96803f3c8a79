// The registry of connections and the framework thread that raises OnEvent.
#include <quv/CQuvPluginWrapper.h>

#include "Internal.h"

namespace quvimpl {

Framework::~Framework() { Stop(); }

unsigned Framework::Register(quv::CQuvPluginWrapper* wrapper, int clientType) {
  std::lock_guard<std::mutex> lk(m_);
  StartLocked();  // first: a thread that cannot start (no memory) leaves no connection behind
  Conn c;
  c.id = nextId_++;
  c.clientType = clientType;
  c.wrapper = wrapper;
  conns_.emplace(c.id, c);
  return c.id;
}

void Framework::WaitNotDeliveringLocked(std::unique_lock<std::mutex>& lk, Conn& c) {
  // On the framework thread itself (Close from inside an OnEvent) nothing can
  // be in flight to another connection, and waiting for our own would hang.
  if (std::this_thread::get_id() == threadId_) return;
  doneCv_.wait(lk, [&] { return !c.delivering; });
}

void Framework::MisuseLocked(std::string line) {
  // Bounded: a runaway caller must not exhaust memory through its records.
  if (misuses_.size() < 1000) misuses_.push_back(line);
  Complain("misuse: " + line);
}

void Framework::Unregister(unsigned id) {
  std::unique_lock<std::mutex> lk(m_);
  auto it = conns_.find(id);
  if (it != conns_.end() && it->second.open)
    MisuseLocked("connection " + std::to_string(id) + " destroyed while open (no Close)");
  if (CloseLocked(lk, id)) conns_.erase(id);
}

bool Framework::Open(unsigned id, const std::string& name, const std::string& version,
                     const std::string& credential) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = conns_.find(id);
  if (it == conns_.end()) return false;
  Conn& c = it->second;
  ++c.opens;
  if (c.open) {
    MisuseLocked("Open of connection " + std::to_string(id) + ", which is open already");
    return false;
  }
  if (c.closes) {
    MisuseLocked("Open of connection " + std::to_string(id) + " after its Close");
    return false;
  }
  it->second.open = true;
  it->second.name = name;
  it->second.version = version;
  it->second.credential = credential;
  return true;
}

void Framework::Close(unsigned id) {
  std::unique_lock<std::mutex> lk(m_);
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  if (it->second.closes++) {
    MisuseLocked("second Close of connection " + std::to_string(id));
    return;
  }
  CloseLocked(lk, id);
}

void Framework::CheckExecute(unsigned id, const std::string& command) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = conns_.find(id);
  if (it != conns_.end() && it->second.closes)
    MisuseLocked("Execute(\"" + command + "\") on connection " + std::to_string(id) +
                 " after its Close");
}

std::vector<std::string> Framework::Misuses() {
  std::lock_guard<std::mutex> lk(m_);
  return misuses_;
}

void Framework::ClearMisuses() {
  std::lock_guard<std::mutex> lk(m_);
  misuses_.clear();
}

bool Framework::CloseLocked(std::unique_lock<std::mutex>& lk, unsigned id) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return false;
  it->second.open = false;
  WaitNotDeliveringLocked(lk, it->second);
  return true;
}

bool Framework::IsOpen(unsigned id) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = conns_.find(id);
  return it != conns_.end() && it->second.open;
}

std::vector<quvstub::ConnectionInfo> Framework::Connections() {
  std::lock_guard<std::mutex> lk(m_);
  std::vector<quvstub::ConnectionInfo> out;
  for (const auto& [id, c] : conns_)
    out.push_back({c.id, c.clientType, c.open, c.name, c.version, c.credential, c.opens, c.closes});
  return out;
}

std::size_t Framework::Raise(int type, const std::string& p1, const std::string& p2,
                             const std::vector<unsigned>* only) {
  std::lock_guard<std::mutex> lk(m_);
  std::size_t n = 0;
  for (const auto& [id, c] : conns_) {
    if (!c.open) continue;
    if (only) {
      bool wanted = false;
      for (unsigned o : *only) wanted = wanted || o == id;
      if (!wanted) continue;
    }
    queue_.push_back({id, type, p1, p2});
    ++queued_;
    ++n;
  }
  if (n) {
    StartLocked();
    wakeCv_.notify_all();
  }
  return n;
}

void Framework::WaitForEvents() {
  std::unique_lock<std::mutex> lk(m_);
  if (std::this_thread::get_id() == threadId_) return;  // would wait for itself
  const std::uint64_t target = queued_;
  doneCv_.wait(lk, [&] { return done_ >= target || stop_; });
}

std::vector<bool> Framework::TakeResults() {
  std::lock_guard<std::mutex> lk(m_);
  std::vector<bool> out;
  out.swap(results_);
  return out;
}

void Framework::ClearResults() {
  std::lock_guard<std::mutex> lk(m_);
  results_.clear();
}

std::thread::id Framework::ThreadId() {
  std::lock_guard<std::mutex> lk(m_);
  StartLocked();
  return threadId_;
}

void Framework::SetTicker(Ticker* ticker) {
  std::lock_guard<std::mutex> lk(m_);
  ticker_ = ticker;
  wake_ = true;
  wakeCv_.notify_all();
}

void Framework::Wake() {
  std::lock_guard<std::mutex> lk(m_);
  wake_ = true;
  wakeCv_.notify_all();
}

void Framework::StartLocked() {
  if (started_ || stop_) return;
  thread_ = std::thread([this] { Run(); });  // may throw: then not started, tried again later
  started_ = true;
  threadId_ = thread_.get_id();
}

void Framework::Stop() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lk(m_);
    stop_ = true;
    done_ += queue_.size();  // dropped
    queue_.clear();
    wakeCv_.notify_all();
    doneCv_.notify_all();
    t.swap(thread_);
  }
  if (!t.joinable()) return;
  if (t.get_id() == std::this_thread::get_id())
    t.detach();  // the process is ending from inside an OnEvent
  else
    t.join();
}

void Framework::Run() {
  std::unique_lock<std::mutex> lk(m_);
  while (!stop_) {
    if (!queue_.empty()) {
      Delivery d = std::move(queue_.front());
      queue_.pop_front();
      auto it = conns_.find(d.connection);
      if (it != conns_.end() && (it->second.open || d.anyState)) {
        Conn& c = it->second;  // stays put: erasing it waits for `delivering`
        c.delivering = true;
        quv::CQuvPluginWrapper* w = c.wrapper;
        lk.unlock();
        bool result = false;
        try {
          result = w->OnEvent(d.type, std::move(d.p1), std::move(d.p2));
        } catch (...) {
          result = false;
        }
        lk.lock();
        c.delivering = false;
        results_.push_back(result);
      }
      ++done_;
      doneCv_.notify_all();
      continue;
    }
    std::optional<SteadyTime> next;
    wake_ = false;
    if (ticker_) {
      Ticker* t = ticker_;
      lk.unlock();
      next = t->Tick();
      lk.lock();
    }
    auto ready = [&] { return stop_ || !queue_.empty() || wake_; };
    if (next)
      wakeCv_.wait_until(lk, *next, ready);
    else
      wakeCv_.wait(lk, ready);
  }
}

// ---- Misbehaviour on request ------------------------------------------------

void Framework::RefuseOpen(bool on) {
  std::lock_guard<std::mutex> lk(m_);
  refuseOpen_ = on;
}

bool Framework::OpenRefused() {
  std::lock_guard<std::mutex> lk(m_);
  return refuseOpen_;
}

bool Framework::RaiseOn(unsigned id, int type, const std::string& p1, const std::string& p2) {
  std::lock_guard<std::mutex> lk(m_);
  if (conns_.find(id) == conns_.end()) return false;
  queue_.push_back({id, type, p1, p2, true});
  ++queued_;
  StartLocked();
  wakeCv_.notify_all();
  return true;
}

}  // namespace quvimpl
