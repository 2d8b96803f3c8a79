// The event path at unit level: what OnEvent queues on the framework's side,
// and what a queued record does on the main thread, against a minimal fake
// browser table (counting allocations, references and calls).
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "Support.h"
#include "bridge/CQuvBase.h"
#include "module/NPNFuncs.h"

namespace {

using NSPlTV::CQuvBase;
using nptv_test::FrameworkTest;
using std::string_literals::operator""s;

struct Queued {
  NPP npp;
  void (*func)(void*);
  ExecuteParam* record;
  std::thread::id thread;
};

// The fake browser. pluginthreadasynccall may run on the framework's thread;
// everything else runs on the test's thread.
struct Fake {
  static inline std::mutex mutex;
  static inline std::vector<Queued> queued;
  static inline int allocs, frees, retains, releases;
  static inline int allocCalls, failingCall;  // failingCall: the memalloc call that fails
  static inline std::vector<std::vector<std::string>> invoked;  // the string arguments
  static inline std::vector<std::string> evaluated;
  static inline NPObject* window;
  static inline bool evaluateResult;

  static void Install() {
    queued.clear();
    invoked.clear();
    evaluated.clear();
    allocs = frees = retains = releases = allocCalls = failingCall = 0;
    window = nullptr;
    evaluateResult = true;
    NPNFuncs.pluginthreadasynccall = [](NPP npp, void (*func)(void*), void* data) {
      std::lock_guard<std::mutex> lock(mutex);
      queued.push_back({npp, func, static_cast<ExecuteParam*>(data), std::this_thread::get_id()});
    };
    NPNFuncs.memalloc = [](uint32_t size) -> void* {
      if (++allocCalls == failingCall) return nullptr;
      ++allocs;
      return std::malloc(size);
    };
    NPNFuncs.memfree = [](void* p) {
      ++frees;
      std::free(p);
    };
    NPNFuncs.retainobject = [](NPObject* o) {
      ++retains;
      return o;
    };
    NPNFuncs.releaseobject = [](NPObject*) { ++releases; };
    NPNFuncs.invokeDefault = [](NPP, NPObject*, const NPVariant* args, uint32_t count,
                                NPVariant* result) {
      EXPECT_EQ(result->type, NPVariantType_Void);
      std::vector<std::string> texts;
      for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(args[i].type, NPVariantType_String);
        const NPString& s = args[i].value.stringValue;
        EXPECT_EQ(s.UTF8Characters[s.UTF8Length], '\0');
        texts.emplace_back(s.UTF8Characters, s.UTF8Length);
      }
      invoked.push_back(texts);
      INT32_TO_NPVARIANT(1, *result);
      return true;
    };
    NPNFuncs.getvalue = [](NPP, NPNVariable variable, void* value) -> NPError {
      if (variable != NPNVWindowNPObject || !window) return 1;
      ++retains;  // the browser hands out a reference of the caller's
      *static_cast<NPObject**>(value) = window;
      return 0;
    };
    NPNFuncs.evaluate = [](NPP, NPObject* o, NPString* script, NPVariant* result) {
      EXPECT_EQ(o, window);
      EXPECT_EQ(result->type, NPVariantType_Void);
      evaluated.emplace_back(script->UTF8Characters, script->UTF8Length);
      return evaluateResult;
    };
    NPNFuncs.releasevariantvalue = [](NPVariant* v) {
      if (v->type == NPVariantType_String) NPNFuncs.memfree(const_cast<char*>(v->value.stringValue.UTF8Characters));
      if (v->type == NPVariantType_Object) NPNFuncs.releaseobject(v->value.objectValue);
      VOID_TO_NPVARIANT(*v);
    };
  }
  static std::vector<Queued> TakeQueued() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(queued, {});
  }
};

class EventTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    saved_ = NPNFuncs;
    Fake::Install();
  }
  void TearDown() override {
    for (const Queued& q : Fake::TakeQueued()) q.func(q.record);  // nothing left allocated
    NPNFuncs = saved_;
    FrameworkTest::TearDown();
  }
  static bool Logged(const std::string& text) {
    for (const auto& call : quvstub::TakeLog())
      if (call.text.find(text) != std::string::npos) return true;
    return false;
  }
  NPNetscapeFuncs saved_;
  NPP_t instance_{};
  char path_[9] = "/apps/tv";
};

const char kOnEventSignature[] =
    "virtual bool NSPlTV::CQuvBase::OnEvent(int, std::string, std::string)";

TEST_F(EventTest, OnlyEventsOfTypeZeroWithAnInstanceAreQueued) {
  const struct {
    int type;
    bool withInstance;
    bool result;
    bool queued;
  } cases[] = {{1, true, true, false},  {-1, true, true, false}, {7, false, true, false},
               {0, false, false, false}, {0, true, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + (c.withInstance ? " with" : " without"));
    CQuvBase tv(path_);
    if (c.withInstance) tv.m_NPP = &instance_;
    quvstub::TakeLog();
    EXPECT_EQ(tv.OnEvent(c.type, "p 1", "p2"), c.result);
    EXPECT_TRUE(Logged(std::string("[") + kOnEventSignature + "]["));
    auto queued = Fake::TakeQueued();
    EXPECT_EQ(queued.size(), c.queued ? 1u : 0u);
    for (const Queued& q : queued) q.func(q.record);
  }
}

TEST_F(EventTest, OnEventLogsTheEvent) {
  CQuvBase tv(path_);
  quvstub::TakeLog();
  tv.OnEvent(5, "a b", "");
  auto log = quvstub::TakeLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].text.rfind("[QUV][OnEvent(", 0), 0u) << log[0].text;
  EXPECT_EQ(log[1].text.rfind("[" + std::string(kOnEventSignature) + "][", 0), 0u);
  EXPECT_NE(log[1].text.find("]type : 5, param1 : a b, param2 : "), std::string::npos)
      << log[1].text;
  EXPECT_EQ(log[2].text, "\n");
}

TEST_F(EventTest, TheQueuedRecordCarriesCopiesOfTheEvent) {
  const struct {
    std::string param1, param2;
    const char *copy1, *copy2;
  } cases[] = {{"3", "1", "3", "1"},
               {"", "", "", ""},
               {"say \"hi\"", "caf\xc3\xa9", "say \"hi\"", "caf\xc3\xa9"},
               {"a\0b"s, "x", "a", "x"},
               {std::string(40000, 'z'), "", nullptr, ""}};
  CQuvBase tv(path_);
  tv.m_NPP = &instance_;
  for (const auto& c : cases) {
    ASSERT_TRUE(tv.OnEvent(0, c.param1, c.param2));
    auto queued = Fake::TakeQueued();
    ASSERT_EQ(queued.size(), 1u);
    const Queued& q = queued[0];
    EXPECT_EQ(q.npp, &instance_);
    EXPECT_EQ(q.func, &NSPlTV::AsyncEvent);
    ExecuteParam* r = q.record;
    EXPECT_EQ(r->type, 0);
    EXPECT_EQ(r->owner, &tv);
    EXPECT_EQ(r->ownerSerial, tv.m_Serial);
    EXPECT_EQ(r->npp, nullptr);  // filled on the main thread
    EXPECT_EQ(r->callbackObj, nullptr);
    EXPECT_EQ(r->callbackName, nullptr);
    ASSERT_NE(r->param1, nullptr);
    ASSERT_NE(r->param2, nullptr);
    EXPECT_STREQ(r->param1, c.copy1 ? c.copy1 : c.param1.c_str());
    EXPECT_STREQ(r->param2, c.copy2);
    EXPECT_NE(r->param1, c.param1.c_str());
    q.func(r);  // no callback registered: freed, nothing called
  }
  EXPECT_TRUE(Fake::invoked.empty());
  EXPECT_TRUE(Fake::evaluated.empty());
}

TEST_F(EventTest, EventsArriveOnTheFrameworkThread) {
  CQuvBase tv(path_);
  tv.m_NPP = &instance_;
  NPObject handler{};
  tv.m_pEventCallbackObj = &handler;
  quvstub::TakeEventResults();
  EXPECT_EQ(quvstub::RaiseEvent(0, "ch", "12"), 1u);
  EXPECT_EQ(quvstub::RaiseEvent(2, "ignored", ""), 1u);
  quvstub::WaitForEvents();
  EXPECT_EQ(quvstub::TakeEventResults(), (std::vector<bool>{true, true}));
  auto queued = Fake::TakeQueued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].thread, quvstub::FrameworkThreadId());
  queued[0].func(queued[0].record);
  EXPECT_EQ(Fake::invoked, (std::vector<std::vector<std::string>>{{"ch", "12"}}));
  EXPECT_EQ(Fake::retains, Fake::releases);
  EXPECT_EQ(Fake::allocs, Fake::frees);
  tv.m_pEventCallbackObj = nullptr;
}

// A record that reaches the main thread after its owner was destroyed is
// dropped, also when another object now lives at the same address.
TEST_F(EventTest, RecordsOutliveTheirOwnerHarmlessly) {
  alignas(CQuvBase) unsigned char storage[sizeof(CQuvBase)];
  NPObject handler{};
  char name[] = "onTvEvent";
  for (bool reused : {false, true}) {
    SCOPED_TRACE(reused ? "address reused" : "address free");
    auto* first = new (storage) CQuvBase(path_);
    first->m_NPP = &instance_;
    ASSERT_TRUE(first->OnEvent(0, "1", "2"));
    first->~CQuvBase();
    CQuvBase* second = nullptr;
    if (reused) {
      second = new (storage) CQuvBase(path_);
      second->m_NPP = &instance_;
      second->m_pEventCallbackObj = &handler;
      second->m_pszEventCallbackName = name;
    }
    auto queued = Fake::TakeQueued();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].record->owner, reinterpret_cast<CQuvBase*>(storage));
    queued[0].func(queued[0].record);
    EXPECT_TRUE(Fake::invoked.empty());
    EXPECT_TRUE(Fake::evaluated.empty());
    if (second) {
      // The new object's own events are still delivered.
      ASSERT_TRUE(second->OnEvent(0, "3", "4"));
      for (const Queued& q : Fake::TakeQueued()) q.func(q.record);
      EXPECT_EQ(Fake::invoked, (std::vector<std::vector<std::string>>{{"3", "4"}}));
      second->m_pEventCallbackObj = nullptr;
      second->m_pszEventCallbackName = nullptr;
      second->~CQuvBase();
    }
  }
}

// Delivery on the main thread: to the function object if there is one, else
// by evaluating a call of the registered name.
TEST_F(EventTest, DeliveryToTheRegisteredHandler) {
  NPObject handler{}, window{};
  char name[] = "onTvEvent";
  const struct {
    const char* what;
    bool object, named, hasWindow;
    int failingCall;  // 0: none
    std::string param1, param2;
    std::vector<std::string> invoked;  // empty: not invoked
    const char* script;                // null: not evaluated
    const char* logged;
  } cases[] = {
      {"function object", true, false, true, 0, "3", "1", {"3", "1"}, nullptr, nullptr},
      {"object wins over name", true, true, true, 0, "", "", {"", ""}, nullptr, nullptr},
      {"name", false, true, true, 0, "3", "1", {}, "onTvEvent(\"3\",\"1\");",
       "=======Value of script = onTvEvent(\"3\",\"1\");"},
      {"name, empty texts", false, true, true, 0, "", "", {}, "onTvEvent(\"\",\"\");",
       " NPNFuncs.evaluate ret = 1"},
      {"name, quote kept", false, true, true, 0, "a\"b", "c", {}, "onTvEvent(\"a\"b\",\"c\");",
       " Inside TV_AsyncEvent_str  = onTvEvent, param1=a\"b, param2=c"},
      {"name, no window", false, true, false, 0, "3", "1", {}, nullptr,
       " NPNFuncs.evaluate ret = 0"},
      {"nothing registered", false, false, true, 0, "3", "1", {}, nullptr, nullptr},
      {"argument copy fails", true, false, true, 1, "3", "1", {}, nullptr, nullptr},
      {"second copy fails", true, false, true, 2, "3", "1", {}, nullptr, nullptr},
      {"script text fails", false, true, true, 1, "3", "1", {}, nullptr,
       "=======MEMORY ALLOCATION FAILED!!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake::Install();
    Fake::window = c.hasWindow ? &window : nullptr;
    CQuvBase tv(path_);
    tv.m_NPP = &instance_;
    ASSERT_TRUE(tv.OnEvent(0, c.param1, c.param2));
    // Registered after the event was raised, before it reached the main thread.
    if (c.object) tv.m_pEventCallbackObj = &handler;
    if (c.named) tv.m_pszEventCallbackName = name;
    Fake::failingCall = c.failingCall;
    quvstub::TakeLog();
    for (const Queued& q : Fake::TakeQueued()) q.func(q.record);
    std::vector<std::vector<std::string>> invoked;
    if (!c.invoked.empty()) invoked.push_back(c.invoked);
    EXPECT_EQ(Fake::invoked, invoked);
    std::vector<std::string> evaluated;
    if (c.script) evaluated.push_back(c.script);
    EXPECT_EQ(Fake::evaluated, evaluated);
    if (c.logged) {
      EXPECT_TRUE(Logged(c.logged));
    }
    EXPECT_EQ(Fake::allocs, Fake::frees);
    EXPECT_EQ(Fake::retains, Fake::releases);
    tv.m_pEventCallbackObj = nullptr;
    tv.m_pszEventCallbackName = nullptr;
  }
}

}  // namespace
