// The framework-thread side of the event path: what OnEvent logs and queues,
// records whose owner was destroyed dropped, and what the module assumes of
// the library's threads (docs/firmware.md): events on any thread while the
// main thread sends commands, during construction, and a teardown that waits
// for the event in flight.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "Support.h"
#include "TestBrowser.h"
#include "bridge/CQuvBase.h"
#include "module/CPlugin.h"
#include "module/NPNFuncs.h"
#include "tv/CPlTV.h"

namespace {

using NSPlTV::CQuvBase;
namespace tb = testbrowser;
using namespace std::string_literals;

struct Queued {
  NPP npp;
  void (*func)(void*);
  ExecuteParam* record;
  std::thread::id thread;
};

// The module's browser is the test browser without application texts or a
// window object; the test takes the async calls and runs them on this, the
// "main" thread. Hooks: the async call, the window object's NPN_GetValue.
struct Browser {
  static inline std::function<void()> onAsyncCall, onWindowObject;
  static inline std::size_t seen = 0;  // page calls before Invoked()'s

  static void Install() {
    tb::Reset();
    seen = 0;
    onAsyncCall = nullptr;
    onWindowObject = nullptr;
    tb::ScriptHooks hooks;
    hooks.queued = [] { if (onAsyncCall) onAsyncCall(); };
    hooks.window = [](NPP) -> NPObject* { if (onWindowObject) onWindowObject(); return nullptr; };
    tb::SetScriptHooks(hooks);
    tb::SetWindowObject(false);
    NPNFuncs = tb::Browser();
  }
  static std::vector<Queued> Take() {
    std::vector<Queued> queued;
    for (const tb::AsyncCallRecord& c : tb::TakeAsyncCalls())
      queued.push_back({c.npp, c.func, static_cast<ExecuteParam*>(c.data), c.thread});
    return queued;
  }
  static void RunQueued() { for (const Queued& q : Take()) q.func(q.record); }
  // The string arguments of each call of a page function, joined.
  static std::vector<std::string> Invoked() {
    std::vector<std::string> all;
    auto calls = tb::InvokeDefaultCalls();
    for (std::size_t i = seen; i < calls.size(); ++i) {
      std::string joined;
      for (const std::string& arg : calls[i].args) joined += arg + "|";
      all.push_back(joined);
    }
    return all;
  }
  static void ClearInvoked() { seen = tb::InvokeDefaultCalls().size(); }
};

class EventTest : public nptv_test::FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    saved_ = NPNFuncs;
    Browser::Install();
    objects_ = tb::LiveObjects();
  }
  void TearDown() override {
    Browser::RunQueued();  // every record freed
    EXPECT_EQ(tb::LiveObjects(), objects_) << "page objects leaked";
    EXPECT_TRUE(tb::Misuses().empty()) << ::testing::PrintToString(tb::Misuses());
    EXPECT_TRUE(quvstub::Misuses().empty()) << ::testing::PrintToString(quvstub::Misuses());
    NPNFuncs = saved_;
    FrameworkTest::TearDown();
  }
  NPNetscapeFuncs saved_;
  std::size_t objects_ = 0;
  NPP_t instance_{};
  char path_[9] = "/apps/tv";
};

TEST_F(EventTest, OnEventLogsAndQueuesCopiesOfTypeZeroEvents) {
  const struct {
    int type;
    bool withInstance, result;
    std::string param1, param2, copy1;
  } cases[] = {
      {1, true, true, "1", "2", ""},
      {0, false, false, "3", "1", ""},
      {0, true, true, "3", "1", "3"},
      {0, true, true, "say \"hi\" \xc3\xa9", "x", "say \"hi\" \xc3\xa9"},
      {0, true, true, "a\0b"s, "", "a"},
      {0, true, true, std::string(40000, 'z'), "", std::string(40000, 'z')},
  };
  CQuvBase tv(path_);
  for (const auto& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + ", param1 '" + c.param1.substr(0, 10) + "'");
    tv.m_NPP = c.withInstance ? &instance_ : nullptr;
    quvstub::TakeLog();
    EXPECT_EQ(tv.OnEvent(c.type, c.param1, c.param2), c.result);
    auto log = quvstub::TakeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].text.rfind("[QUV][OnEvent(", 0), 0u);
    EXPECT_EQ(log[1].text.rfind(
                  "[virtual bool NSPlTV::CQuvBase::OnEvent(int, std::string, std::string)][", 0),
              0u);
    std::string message = "]type : " + std::to_string(c.type) + ", param1 : " + c.param1.c_str() +
                          ", param2 : " + c.param2;
    EXPECT_EQ(log[1].text.substr(log[1].text.size() - std::min(message.size(), log[1].text.size())),
              message);
    auto queued = Browser::Take();
    ASSERT_EQ(queued.size(), c.type == 0 && c.withInstance ? 1u : 0u);
    for (const Queued& q : queued) {
      EXPECT_EQ(q.npp, &instance_);
      EXPECT_EQ(q.func, &NSPlTV::AsyncEvent);
      const ExecuteParam& r = *q.record;
      EXPECT_EQ(
          std::make_tuple(r.type, r.owner, r.ownerSerial, r.npp, r.callbackObj, r.callbackName),
          std::make_tuple(0, &tv, tv.m_Serial, NPP(nullptr), (NPObject*)nullptr, (char*)nullptr));
      ASSERT_TRUE(r.param1 && r.param2);
      EXPECT_EQ(r.param1, c.copy1);
      EXPECT_EQ(r.param2, c.param2);
      q.func(q.record);  // nothing registered: freed, nothing called
    }
  }
  EXPECT_TRUE(Browser::Invoked().empty());
}

// A record reaching the main thread after its owner was destroyed is dropped, even when a new object lives at its address.
TEST_F(EventTest, RecordsOutlivingTheirOwnerAreDropped) {
  alignas(CQuvBase) unsigned char storage[sizeof(CQuvBase)];
  for (bool reused : {false, true}) {
    SCOPED_TRACE(reused ? "address reused" : "address free");
    auto* first = new (storage) CQuvBase(path_);
    first->m_NPP = &instance_;
    ASSERT_TRUE(first->OnEvent(0, "1", "2"));
    first->~CQuvBase();
    auto* second = reused ? new (storage) CQuvBase(path_) : nullptr;
    if (second) {
      second->m_NPP = &instance_;
      second->m_pEventCallbackObj = tb::NewFunction();  // released by the TV object
      ASSERT_TRUE(second->OnEvent(0, "3", "4"));
    }
    Browser::RunQueued();
    EXPECT_EQ(Browser::Invoked(),
              (reused ? std::vector<std::string>{"3|4|"} : std::vector<std::string>{}));
    Browser::ClearInvoked();
    if (second) second->~CQuvBase();
  }
}

// Tells the test that a thread has come (Enter), and holds it until released (Pass: both).
class Gate {
 public:
  void Enter() {
    std::lock_guard<std::mutex> lock(m_);
    entered_ = true;
    cv_.notify_all();
  }
  void Pass() {
    Enter();
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return released_; });
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool entered_ = false, released_ = false;
};

// OnEvent on the library's thread, another thread or the main thread, while
// the main thread sends commands (both overloads) without waiting; the page
// is called only from the queued record, never inside OnEvent.
TEST_F(EventTest, EventsOnAnyThreadWhileTheMainThreadSendsCommands) {
  enum class From { FrameworkThread, OtherThread, MainThread };
  const struct { const char* what; From from; } cases[] = {
      {"the framework's thread", From::FrameworkThread},
      {"another thread", From::OtherThread},
      {"the main thread", From::MainThread},
  };
  quvstub::SetReply("GetCountry", "I44");
  quvstub::SetReply("SetAlarm", "I7");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CQuvBase tv(path_);
    tv.m_NPP = &instance_;
    tv.m_pEventCallbackObj = tb::NewFunction();  // released by the TV object
    Gate gate;
    const bool held = c.from != From::MainThread;
    if (held) Browser::onAsyncCall = [&] { gate.Pass(); };
    std::thread other;
    std::thread::id expected = std::this_thread::get_id();
    switch (c.from) {
      case From::FrameworkThread:
        ASSERT_EQ(quvstub::RaiseEvent(0, "ev", "1"), 1u);
        expected = quvstub::FrameworkThreadId();
        break;
      case From::OtherThread:
        other = std::thread([&] { EXPECT_TRUE(tv.OnEvent(0, "ev", "1")); });
        expected = other.get_id();
        break;
      case From::MainThread:
        EXPECT_TRUE(tv.OnEvent(0, "ev", "1"));
        break;
    }
    if (held) gate.WaitEntered();  // OnEvent is running now
    EXPECT_EQ(tv.Execute("GetCountry", "0", "0", "0", "0"), "I44");
    EXPECT_EQ(tv.ExecuteWithTenParameters("SetAlarm", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                          "10"),
              "I7");
    gate.Release();
    if (other.joinable()) other.join();
    quvstub::WaitForEvents();
    Browser::onAsyncCall = nullptr;
    EXPECT_TRUE(Browser::Invoked().empty()) << "the page was called from inside OnEvent";
    auto queued = Browser::Take();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].thread, expected);
    queued[0].func(queued[0].record);
    EXPECT_EQ(Browser::Invoked(), std::vector<std::string>{"ev|1|"});
    Browser::ClearInvoked();
  }
  quvstub::TakeEventResults();
}

// The connection opens at the end of the TV object's constructor, m_NPP is
// set at the end of CPlugin's: an event in between (raised here while
// CPlugin asks for the window object) is dropped by OnEvent.
TEST_F(EventTest, AnEventDuringConstructionIsDroppedAndLaterOnesDelivered) {
  std::size_t reached = 0;
  std::vector<bool> results;
  Browser::onWindowObject = [&] {
    reached = quvstub::RaiseEvent(0, "early", "");
    quvstub::WaitForEvents();
    results = quvstub::TakeEventResults();
  };
  NPP_t instance{};
  auto plugin = std::make_unique<CPlugin>(&instance);
  Browser::onWindowObject = nullptr;
  EXPECT_EQ(reached, 1u) << "the connection was not open yet";
  EXPECT_EQ(results, std::vector<bool>{false});
  EXPECT_TRUE(Browser::Take().empty());

  ASSERT_EQ(quvstub::RaiseEvent(0, "later", ""), 1u);
  quvstub::WaitForEvents();
  EXPECT_EQ(quvstub::TakeEventResults(), std::vector<bool>{true});
  auto queued = Browser::Take();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].npp, &instance);
  EXPECT_STREQ(queued[0].record->param1, "later");
  plugin.reset();
  queued[0].func(queued[0].record);  // its owner is gone: dropped
  EXPECT_TRUE(Browser::Invoked().empty());
}

// A library may deliver as soon as Open has returned, on its own thread: the
// TV object must be complete by then (else the virtual OnEvent call races
// with the constructors' vtable writes, which ThreadSanitizer reports).
TEST_F(EventTest, EventsRightAfterOpenFindTheTvObjectComplete) {
  std::atomic<bool> stop{false}, delivered{false};
  std::thread raiser([&] {
    while (!stop) {
      quvstub::RaiseEvent(0, "now", "");
      quvstub::WaitForEvents();
      std::this_thread::yield();
    }
  });
  Browser::onAsyncCall = [&] { delivered = true; };
  for (int round = 0; round < 20; ++round) {
    NSPlTV::CPlTV tv(path_);
    tv.m_NPP = &instance_;
    while (!delivered) std::this_thread::yield();
    delivered = false;
    tv.Close();  // as CPlugin does before destroying it
  }
  stop = true;
  raiser.join();
  Browser::onAsyncCall = nullptr;
  Browser::RunQueued();  // every owner is gone: all dropped
  EXPECT_TRUE(Browser::Invoked().empty());
  quvstub::TakeEventResults();
}

// Destroying an instance while the library is inside its OnEvent: teardown
// returns after that OnEvent has (Close waits), nothing reaches the
// connection afterwards, the queued record is dropped.
TEST_F(EventTest, TeardownWaitsForTheEventInFlight) {
  NPP_t instance{};
  auto plugin = std::make_unique<CPlugin>(&instance);
  const quvstub::ConnectionInfo connection = quvstub::Connections().back();
  EXPECT_EQ(std::make_pair(connection.opens, connection.closes), std::make_pair(1u, 0u));
  const unsigned id = connection.id;
  auto isOpen = [id] {
    for (const auto& c : quvstub::Connections())
      if (c.id == id) return c.open;
    return false;
  };
  Gate gate;
  std::atomic<bool> finished{false};
  Browser::onAsyncCall = [&] {
    gate.Enter();
    while (isOpen()) std::this_thread::yield();  // until the teardown has begun
    finished = true;
  };
  ASSERT_EQ(quvstub::RaiseEvent(0, "in flight", ""), 1u);
  gate.WaitEntered();
  plugin.reset();
  EXPECT_TRUE(finished) << "the teardown returned while OnEvent was still running";
  Browser::onAsyncCall = nullptr;
  EXPECT_EQ(quvstub::RaiseEvent(0, "after", ""), 0u);
  quvstub::WaitForEvents();
  Browser::RunQueued();
  EXPECT_TRUE(Browser::Invoked().empty());
  quvstub::TakeEventResults();
}

}  // namespace
