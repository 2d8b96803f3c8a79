// The framework-thread side of the event path: what OnEvent logs and queues
// through NPN_PluginThreadAsyncCall, and that a queued record whose owner was
// destroyed meanwhile is dropped. Delivery to the page is tested end to end
// with the test browser.
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "Support.h"
#include "bridge/CQuvBase.h"
#include "module/NPNFuncs.h"

namespace {

using NSPlTV::CQuvBase;
using namespace std::string_literals;

struct Queued {
  NPP npp;
  void (*func)(void*);
  ExecuteParam* record;
  std::thread::id thread;
};

// A browser table with just what the records need; the async call only
// records (it may be called on the framework's thread).
struct Browser {
  static inline std::mutex mutex;
  static inline std::vector<Queued> queued;
  static inline std::vector<std::string> invoked;  // the string arguments of each call, joined

  static void Install() {
    queued.clear();
    invoked.clear();
    NPNFuncs.pluginthreadasynccall = [](NPP npp, void (*func)(void*), void* data) {
      std::lock_guard<std::mutex> lock(mutex);
      queued.push_back({npp, func, static_cast<ExecuteParam*>(data), std::this_thread::get_id()});
    };
    NPNFuncs.memalloc = [](uint32_t size) { return std::malloc(size); };
    NPNFuncs.memfree = [](void* p) { std::free(p); };
    NPNFuncs.retainobject = [](NPObject* o) { return o; };
    NPNFuncs.releaseobject = [](NPObject*) {};
    NPNFuncs.invokeDefault = [](NPP, NPObject*, const NPVariant* args, uint32_t count, NPVariant*) {
      std::string joined;
      for (uint32_t i = 0; i < count; ++i)
        joined += std::string(args[i].value.stringValue.UTF8Characters,
                              args[i].value.stringValue.UTF8Length) +
                  "|";
      invoked.push_back(joined);
      return true;
    };
    NPNFuncs.releasevariantvalue = [](NPVariant* v) {
      if (v->type == NPVariantType_String)
        std::free(const_cast<char*>(v->value.stringValue.UTF8Characters));
    };
  }
  static std::vector<Queued> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(queued, {});
  }
  static void RunQueued() {  // on this, the "main" thread
    for (const Queued& q : Take()) q.func(q.record);
  }
};

class EventTest : public nptv_test::FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    saved_ = NPNFuncs;
    Browser::Install();
  }
  void TearDown() override {
    Browser::RunQueued();  // every record freed
    NPNFuncs = saved_;
    FrameworkTest::TearDown();
  }
  NPNetscapeFuncs saved_;
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
      {-1, true, true, "", "", ""},
      {0, false, false, "3", "1", ""},
      {0, true, true, "3", "1", "3"},
      {0, true, true, "", "", ""},
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
  EXPECT_TRUE(Browser::invoked.empty());
}

TEST_F(EventTest, EventsComeFromTheFrameworkThread) {
  CQuvBase tv(path_);
  tv.m_NPP = &instance_;
  EXPECT_EQ(quvstub::RaiseEvent(0, "ch", "12"), 1u);
  EXPECT_EQ(quvstub::RaiseEvent(2, "ignored", ""), 1u);
  quvstub::WaitForEvents();
  EXPECT_EQ(quvstub::TakeEventResults(), (std::vector<bool>{true, true}));
  auto queued = Browser::Take();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].thread, quvstub::FrameworkThreadId());
  EXPECT_STREQ(queued[0].record->param1, "ch");
  queued[0].func(queued[0].record);
}

// A record that reaches the main thread after its owner was destroyed is
// dropped, also when a new object lives at the same address by then.
TEST_F(EventTest, RecordsOutlivingTheirOwnerAreDropped) {
  alignas(CQuvBase) unsigned char storage[sizeof(CQuvBase)];
  NPObject handler{};
  for (bool reused : {false, true}) {
    SCOPED_TRACE(reused ? "address reused" : "address free");
    auto* first = new (storage) CQuvBase(path_);
    first->m_NPP = &instance_;
    ASSERT_TRUE(first->OnEvent(0, "1", "2"));
    first->~CQuvBase();
    auto* second = reused ? new (storage) CQuvBase(path_) : nullptr;
    if (second) {
      second->m_NPP = &instance_;
      second->m_pEventCallbackObj = &handler;
      ASSERT_TRUE(second->OnEvent(0, "3", "4"));
    }
    Browser::RunQueued();
    EXPECT_EQ(Browser::invoked,
              (reused ? std::vector<std::string>{"3|4|"} : std::vector<std::string>{}));
    Browser::invoked.clear();
    if (second) second->~CQuvBase();
  }
}

}  // namespace
