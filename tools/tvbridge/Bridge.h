// tvbridge's pages and their plug-in instances. Everything here runs on the
// host thread (the bridge's "main thread"): every NPAPI call, every NPP_*
// call and every pump of the async queue. The HTTP threads only parse and
// hand requests over (HostLoop), and read a page's events (Channel).
#ifndef TVBRIDGE_BRIDGE_H
#define TVBRIDGE_BRIDGE_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "Host.h"

namespace tvbridge {

using Json = nlohmann::json;

// A request the bridge refuses: an HTTP status (4xx) and a one-line reason.
struct Refusal {
  int status;
  std::string reason;
};

// The events of one page, from the host thread to its event stream.
class Channel {
 public:
  // Queues one event (a JSON text); ignored once closed.
  void Push(std::string event);
  // Waits up to `wait` for events; empty when none came. `closed` tells
  // whether the page is gone (then no more events will come).
  std::deque<std::string> Take(std::chrono::milliseconds wait, bool* closed);
  void Close();
  // The first caller gets true: a page has one event stream.
  bool Attach();

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  std::deque<std::string> m_events;
  bool m_closed = false;
  bool m_attached = false;
};

// The host thread: runs posted work and pumps the plug-in's async queue
// whenever something was queued.
class HostLoop {
 public:
  // Runs `work` on the host thread and waits for it.
  void Run(const std::function<void()>& work);
  // Called from any thread: the async queue has work.
  void Wake();
  // The loop of the host thread; returns after Stop.
  void Loop();
  void Stop();
  bool OnHostThread() const { return std::this_thread::get_id() == m_thread; }

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  std::deque<std::function<void()>*> m_work;
  bool m_pump = false;
  bool m_stop = false;
  std::thread::id m_thread;
};

class Bridge {
 public:
  explicit Bridge(testbrowser::Host& host) : m_host(host) {}
  ~Bridge();

  // Host thread only. One request of a page: `action` is the last part of
  // the endpoint's path; throws Refusal for bad input.
  Json Handle(const std::string& action, const Json& body);
  // The page's event channel (to stream it), or null for an unknown page.
  std::shared_ptr<Channel> ChannelOf(const std::string& page);
  // Destroys the page's instances and forgets it (its stream ended).
  void ClosePage(const std::string& page);
  void CloseAll();
  // NPN_Evaluate of an instance: queued to its page as an "eval" event.
  bool Evaluate(NPP npp, const std::string& script);

 private:
  struct Instance {
    NPP npp;
    NPObject* object;
  };
  struct Page {
    std::shared_ptr<Channel> channel;
    std::map<long long, Instance> instances;
    long long next = 1;
  };

  Page& FindPage(const Json& body);
  Instance& FindInstance(Page& page, const Json& body);
  void DestroyInstance(Instance& instance);

  testbrowser::Host& m_host;
  std::map<std::string, Page> m_pages;
  std::unordered_map<NPP, std::shared_ptr<Channel>> m_byNpp;
};

// A random page token (128 bits, hex).
std::string NewToken();

}  // namespace tvbridge

#endif
