#include "Bridge.h"

#include <algorithm>
#include <future>
#include <random>

#include "Variants.h"

namespace tvbridge {

// ---- Channel ----------------------------------------------------------------------------

void Channel::Push(std::string event) {
  std::lock_guard<std::mutex> lock(m_mu);
  if (m_closed) return;
  m_events.push_back(std::move(event));
  m_cv.notify_all();
  if (m_ready) m_ready();
}

void Channel::Listen(std::function<void()> ready) {
  std::lock_guard<std::mutex> lock(m_mu);
  m_ready = std::move(ready);
  if (m_ready && (m_closed || !m_events.empty())) m_ready();
}

std::deque<std::string> Channel::Take(std::chrono::milliseconds wait, bool* closed) {
  std::unique_lock<std::mutex> lock(m_mu);
  m_cv.wait_for(lock, wait, [this] { return !m_events.empty() || m_closed; });
  std::deque<std::string> out;
  out.swap(m_events);
  *closed = m_closed;
  return out;
}

void Channel::Close() {
  std::lock_guard<std::mutex> lock(m_mu);
  m_closed = true;
  m_cv.notify_all();
  if (m_ready) m_ready();
}

bool Channel::Attached() {
  std::lock_guard<std::mutex> lock(m_mu);
  return m_attached;
}

bool Channel::Attach() {
  std::lock_guard<std::mutex> lock(m_mu);
  if (m_attached) return false;
  m_attached = true;
  return true;
}

// ---- HostLoop -----------------------------------------------------------------------------

bool HostLoop::Enqueue(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(m_mu);
  if (m_stop) return false;
  m_work.push_back(std::move(work));
  m_cv.notify_all();
  return true;
}

void HostLoop::Run(const std::function<void()>& work) {
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  if (!Enqueue([&task] { task(); })) throw Refusal{503, "the bridge is shutting down"};
  done.get();  // rethrows what the work threw
}

bool HostLoop::RunFor(std::function<void()> work, std::chrono::milliseconds limit) {
  auto task = std::make_shared<std::packaged_task<void()>>(std::move(work));
  std::future<void> done = task->get_future();
  if (!Enqueue([task] { (*task)(); })) throw Refusal{503, "the bridge is shutting down"};
  if (done.wait_for(limit) != std::future_status::ready) return false;
  done.get();
  return true;
}

void HostLoop::Post(std::function<void()> work) { Enqueue(std::move(work)); }

void HostLoop::SetTick(std::function<void()> tick, std::chrono::milliseconds period) {
  m_tick = std::move(tick);
  m_period = period;
}

void HostLoop::Wake() {
  std::lock_guard<std::mutex> lock(m_mu);
  m_pump = true;
  m_cv.notify_all();
}

void HostLoop::Loop() {
  m_thread = std::this_thread::get_id();
  auto next = std::chrono::steady_clock::now() + m_period;
  for (;;) {
    std::function<void()> work;
    bool pump = false, tick = false;
    {
      std::unique_lock<std::mutex> lock(m_mu);
      auto ready = [this] { return m_stop || m_pump || !m_work.empty(); };
      if (m_tick) m_cv.wait_until(lock, next, ready);
      else m_cv.wait(lock, ready);
      pump = m_pump;
      m_pump = false;
      if (!m_work.empty()) {
        work = std::move(m_work.front());
        m_work.pop_front();
      }
      if (!pump && !work && m_stop) return;  // stopped, nothing left to do
      tick = m_tick && std::chrono::steady_clock::now() >= next;
    }
    if (pump && m_pumpWork) m_pumpWork();
    if (work) work();
    if (tick) {
      next = std::chrono::steady_clock::now() + m_period;
      m_tick();
    }
  }
}

void HostLoop::Stop() {
  std::lock_guard<std::mutex> lock(m_mu);
  m_stop = true;
  m_cv.notify_all();
}

Json HandleBounded(HostLoop& loop, Bridge& bridge, const std::string& action, Json body) {
  auto reply = std::make_shared<Json>();
  auto in = std::make_shared<const Json>(std::move(body));
  if (!loop.RunFor([&bridge, reply, action, in] { *reply = bridge.Handle(action, *in); }, kAnswerLimit))
    throw Refusal{504, action + ": no answer within " + std::to_string(kAnswerLimit.count() / 1000) + " s"};
  return std::move(*reply);
}

// ---- Bridge ---------------------------------------------------------------------------------

std::string NewToken() {
  static std::mutex mu;
  static std::random_device device;
  std::lock_guard<std::mutex> lock(mu);
  std::string token;
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    unsigned word = device();
    for (int j = 0; j < 4; ++j) token += kHex[(word >> (4 * j)) & 15];
  }
  return token;
}

Bridge::~Bridge() { CloseAll(); }

namespace {

const std::string& Text(const Json& body, const char* field) {
  if (!body.is_object() || !body.contains(field) || !body[field].is_string())
    throw Refusal{400, std::string("the request has no text \"") + field + "\""};
  return body[field].get_ref<const std::string&>();
}

}  // namespace

Bridge::Page& Bridge::FindPage(const Json& body) {
  auto it = m_pages.find(Text(body, "page"));
  if (it == m_pages.end()) throw Refusal{404, "unknown page (closed, or its event stream ended)"};
  return it->second;
}

Bridge::Instance& Bridge::FindInstance(Page& page, const Json& body) {
  if (!body.contains("instance") || !body["instance"].is_number_integer())
    throw Refusal{400, "the request has no number \"instance\""};
  auto it = page.instances.find(body["instance"].get<long long>());
  if (it == page.instances.end()) throw Refusal{404, "unknown instance (destroyed, or never made)"};
  return it->second;
}

void Bridge::DestroyInstance(Instance& instance) {
  if (instance.object) nphost::Release(instance.object);
  instance.object = nullptr;
  m_host.Destroy(instance.npp);
  m_byNpp.erase(instance.npp);
}

void Bridge::CloseSilentPages() {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = m_pages.begin(); it != m_pages.end();) {
    auto next = std::next(it);
    if (!it->second.channel->Attached() && now - it->second.made > kStreamLimit) ClosePage(it->first);
    it = next;
  }
}

Json Bridge::Handle(const std::string& action, const Json& body) {
  if (action == "page") {
    if (m_pages.size() >= kMaxPages) CloseSilentPages();
    if (m_pages.size() >= kMaxPages)
      throw Refusal{503, "the bridge has " + std::to_string(kMaxPages) + " pages open already"};
    std::string token = NewToken();
    std::lock_guard<std::mutex> lock(m_pagesMu);
    m_pages[token].channel = std::make_shared<Channel>();
    return {{"page", token}};
  }
  static const char* const kActions[] = {"close", "new", "destroy", "invoke", "get", "set", "pump"};
  if (std::find(std::begin(kActions), std::end(kActions), action) == std::end(kActions))
    throw Refusal{404, "unknown request " + action};
  Page& page = FindPage(body);
  if (action == "close") {
    ClosePage(Text(body, "page"));
    return Json::object();
  }
  if (action == "pump") {
    const std::string& token = Text(body, "page");
    page.told = false;
    return {{"ran", nphost::PumpAsyncCalls([&](NPP npp) {
               return OfPage(npp, token) || m_byNpp.count(npp) == 0;
             })}};
  }
  if (action == "new") {
    NPError error = NPERR_NO_ERROR;
    NPP npp = m_host.New(&error);
    if (error != NPERR_NO_ERROR) {
      m_host.Destroy(npp);
      throw Refusal{500, "NPP_New failed with error " + std::to_string(error)};
    }
    NPObject* object = m_host.ScriptObject(npp);
    if (!object) {
      m_host.Destroy(npp);
      throw Refusal{500, "the plug-in gave no script object"};
    }
    long long id = page.next++;
    page.instances[id] = Instance{npp, object};
    m_byNpp[npp] = Owner{page.channel, id, Text(body, "page")};
    return {{"instance", id}};
  }
  Instance& instance = FindInstance(page, body);
  if (action == "destroy") {
    DestroyInstance(instance);
    page.instances.erase(body["instance"].get<long long>());
    return Json::object();
  }
  if (action == "invoke") {
    const std::string& method = Text(body, "method");
    if (!body.contains("args") || !body["args"].is_array())
      throw Refusal{400, "the request has no list \"args\""};
    if (!nphost::HasMethod(instance.object, method))
      throw Refusal{404, "the TV object has no method " + method};
    Arguments args;
    for (std::size_t i = 0; i < body["args"].size(); ++i)
      args.Add(body["args"][i], "argument " + std::to_string(i + 1), page.channel,
               body["instance"].get<long long>());
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    bool ok = nphost::Invoke(instance.object, method, args.values(), &result);
    Json reply = {{"ok", ok}};
    if (ok) reply["result"] = Encode(result, page.channel);
    nphost::ReleaseValue(&result);
    return reply;
  }
  if (action == "get" || action == "set") {
    const std::string& name = Text(body, "property");
    if (!nphost::HasProperty(instance.object, name))
      throw Refusal{404, "the TV object has no property " + name};
    if (action == "set") {
      if (!body.contains("value")) throw Refusal{400, "the request has no \"value\""};
      Arguments value;
      value.Add(body["value"], "value", page.channel, body["instance"].get<long long>());
      return {{"ok", nphost::SetProperty(instance.object, name, value.values()[0])}};
    }
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    bool ok = nphost::GetProperty(instance.object, name, &result);
    Json reply = {{"ok", ok}};
    if (ok) reply["result"] = Encode(result, page.channel);
    nphost::ReleaseValue(&result);
    return reply;
  }
  throw Refusal{500, "request " + action + " is not handled"};
}

std::shared_ptr<Channel> Bridge::ChannelOf(const std::string& page) const {
  std::lock_guard<std::mutex> lock(m_pagesMu);
  auto it = m_pages.find(page);
  return it == m_pages.end() ? nullptr : it->second.channel;
}

void Bridge::ClosePage(const std::string& token) {
  auto it = m_pages.find(token);
  if (it == m_pages.end()) return;
  for (auto& entry : it->second.instances) DestroyInstance(entry.second);
  it->second.channel->Close();
  std::lock_guard<std::mutex> lock(m_pagesMu);
  m_pages.erase(it);
}

void Bridge::CloseAll() {
  while (!m_pages.empty()) ClosePage(m_pages.begin()->first);
}

bool Bridge::OfPage(NPP npp, const std::string& page) const {
  auto it = m_byNpp.find(npp);
  return it != m_byNpp.end() && it->second.page == page;
}

void Bridge::Pump() {
  nphost::PumpAsyncCalls([this](NPP npp) { return m_byNpp.count(npp) == 0; });
  for (auto& entry : m_pages) {
    const std::string& token = entry.first;
    Page& page = entry.second;
    if (page.told || nphost::PendingAsyncCalls([&](NPP npp) { return OfPage(npp, token); }) == 0) continue;
    page.told = true;
    page.channel->Push(R"({"kind":"work"})");
  }
}

bool Bridge::Evaluate(NPP npp, const std::string& script) {
  auto it = m_byNpp.find(npp);
  if (it == m_byNpp.end()) return false;
  Json event = {{"kind", "eval"}, {"instance", it->second.instance}, {"script", script}};
  it->second.channel->Push(event.dump(-1, ' ', false, Json::error_handler_t::replace));
  return true;
}

}  // namespace tvbridge
