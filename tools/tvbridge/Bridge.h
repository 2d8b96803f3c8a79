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

// The events of one page, from the host thread to its socket or event stream.
class Channel {
 public:
  // Queues one event (a JSON text); ignored once closed.
  void Push(std::string event);
  // `ready` runs (under the channel's lock: it must only hand over) when
  // events came or the channel closed, and at once if either already
  // happened; null stops it (once Listen returns, it no longer runs).
  void Listen(std::function<void()> ready);
  // Waits up to `wait` for events; empty when none came. `closed` tells
  // whether the page is gone (then no more events will come).
  std::deque<std::string> Take(std::chrono::milliseconds wait, bool* closed);
  void Close();
  // The first caller gets true: a page has one event stream.
  bool Attach();
  bool Attached();

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  std::deque<std::string> m_events;
  bool m_closed = false;
  bool m_attached = false;
  std::function<void()> m_ready;
};

// The host thread: runs posted work, and the pump (SetPump) whenever the
// plug-in queued an async call.
class HostLoop {
 public:
  void SetPump(std::function<void()> pump) { m_pumpWork = std::move(pump); }
  // Runs `work` on the host thread and waits for it.
  void Run(const std::function<void()>& work);
  // Runs `work` on the host thread and waits up to `limit`: false when it
  // had not ended by then (it still runs, later; it must own what it uses).
  // Rethrows what the work threw.
  bool RunFor(std::function<void()> work, std::chrono::milliseconds limit);
  // Runs `work` on the host thread later, without waiting (dropped once the
  // loop stopped).
  void Post(std::function<void()> work);
  // Runs `tick` on the host thread every `period` while the loop runs (set
  // before Loop).
  void SetTick(std::function<void()> tick, std::chrono::milliseconds period);
  // Called from any thread: the async queue has work.
  void Wake();
  // The loop of the host thread; returns after Stop.
  void Loop();
  void Stop();
  bool OnHostThread() const { return std::this_thread::get_id() == m_thread; }

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  bool Enqueue(std::function<void()> work);  // false once stopped

  std::deque<std::function<void()>> m_work;
  bool m_pump = false;
  std::function<void()> m_pumpWork;
  std::function<void()> m_tick;
  std::chrono::milliseconds m_period{0};
  bool m_stop = false;
  std::thread::id m_thread;
};

class Bridge {
 public:
  explicit Bridge(nphost::Host& host) : m_host(host) {}
  ~Bridge();

  // Host thread only. One request of a page: `action` is the last part of
  // the endpoint's path; throws Refusal for bad input.
  Json Handle(const std::string& action, const Json& body);
  // The page's event channel (to stream it), or null for an unknown page.
  // Any thread.
  std::shared_ptr<Channel> ChannelOf(const std::string& page) const;
  // Destroys the page's instances and forgets it (its stream ended).
  void ClosePage(const std::string& page);
  // Closes the pages whose socket or event stream has not opened within
  // kStreamLimit of their making (a tab that died first): nothing else
  // would ever close them.
  void CloseSilentPages();
  void CloseAll();
  // NPN_Evaluate of an instance: queued to its page as an "eval" event.
  bool Evaluate(NPP npp, const std::string& script);

  // The plug-in's async calls. A page's calls run only when the page asks
  // (action "pump"), between its own tasks, as on a browser's main thread:
  // once a page has some, Pump tells it with a "work" event on its event
  // stream (once until it asked), so that a page holds one long-lived
  // request only. Calls of instances whose page is gone run at once.
  void Pump();

 private:
  struct Instance {
    NPP npp;
    NPObject* object;
  };
  struct Page {
    std::shared_ptr<Channel> channel;
    std::map<long long, Instance> instances;
    long long next = 1;
    bool told = false;  // a "work" event is on its way; no other until it asks
    std::chrono::steady_clock::time_point made = std::chrono::steady_clock::now();
  };

  Page& FindPage(const Json& body);
  Instance& FindInstance(Page& page, const Json& body);
  void DestroyInstance(Instance& instance);

  nphost::Host& m_host;
  std::map<std::string, Page> m_pages;  // changed on the host thread only, under m_pagesMu
  mutable std::mutex m_pagesMu;
  struct Owner {
    std::shared_ptr<Channel> channel;
    long long instance;
    std::string page;
  };
  bool OfPage(NPP npp, const std::string& page) const;
  std::unordered_map<NPP, Owner> m_byNpp;
};

// How many pages a bridge keeps at once. A page whose socket or event
// stream has not opened within kStreamLimit of its making is closed.
constexpr std::size_t kMaxPages = 64;
constexpr std::chrono::seconds kStreamLimit{10};

// How long a page's request may take before its answer is 504 (the module
// or the simulated TV did not answer).
constexpr std::chrono::milliseconds kAnswerLimit{5000};

// One request of a page (Bridge::Handle on the host thread), bounded by
// kAnswerLimit: throws Refusal 504 when no answer came in time. The body is
// moved, never copied, into the work (which may outlive the request).
Json HandleBounded(HostLoop& loop, Bridge& bridge, const std::string& action, Json body);

// A random page token (128 bits, hex).
std::string NewToken();

}  // namespace tvbridge

#endif
