// TV events from the framework's thread to the page's handler on the main
// thread: raised with the stand-in's RaiseEvent, handed over through the test
// browser's async queue, delivered when the test pumps it.
#include "Support.h"
#include "module/CPlugin.h"
#include "tv/CPlTV.h"

namespace {

class Events : public TvObjectTest {
 protected:
  // Raises one event and waits until the framework's thread has handed it on.
  void Raise(int type, const std::string& p1, const std::string& p2) {
    ASSERT_EQ(quvstub::RaiseEvent(type, p1, p2), 1u);
    quvstub::WaitForEvents();
  }
};

TEST_F(Events, FunctionHandlerIsCalledOnTheMainThreadWithBothTexts) {
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  Raise(0, "3", "1");
  EXPECT_EQ(quvstub::TakeEventResults(), std::vector<bool>{true});
  EXPECT_EQ(tb::PendingAsyncCalls(), 1u);
  EXPECT_TRUE(tb::InvokeDefaultCalls().empty()) << "called before the main thread took it";

  EXPECT_EQ(tb::PumpAsyncCalls(), 1u);
  auto calls = tb::InvokeDefaultCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].npp, instance);
  EXPECT_EQ(calls[0].object, f);
  EXPECT_EQ(calls[0].types,
            (std::vector<NPVariantType>{NPVariantType_String, NPVariantType_String}));
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"3", "1"}));
  EXPECT_EQ(calls[0].thread, std::this_thread::get_id());
  EXPECT_NE(calls[0].thread, quvstub::FrameworkThreadId());
  EXPECT_TRUE(tb::EvaluateCalls().empty());
  EXPECT_EQ(tb::RefCount(f), 2u) << "the call's own reference is released";
}

TEST_F(Events, NamedHandlerIsEvaluatedAsACallText) {
  struct Case {
    const char* what;
    std::string name, p1, p2, script;
  };
  const Case cases[] = {
      {"plain", "onTvEvent", "3", "1", "onTvEvent(\"3\",\"1\");"},
      {"empty texts", "onTvEvent", "", "", "onTvEvent(\"\",\"\");"},
      {"quote copied unchanged", "h", "a\"b", "x y", "h(\"a\"b\",\"x y\");"},
      {"dotted name", "app.tv.onEvent", "12", "-1", "app.tv.onEvent(\"12\",\"-1\");"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String(c.name)));
    std::size_t before = tb::EvaluateCalls().size();
    Raise(0, c.p1, c.p2);
    EXPECT_EQ(tb::PumpAsyncCalls(), 1u);
    auto calls = tb::EvaluateCalls();
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_EQ(calls.back().script, c.script);
    EXPECT_EQ(calls.back().npp, instance);
    EXPECT_EQ(calls.back().object, tb::WindowObject());
    EXPECT_EQ(calls.back().thread, std::this_thread::get_id());
  }
  EXPECT_TRUE(tb::InvokeDefaultCalls().empty());
  EXPECT_EQ(tb::RefCount(tb::WindowObject()), 2u) << "window reference of the delivery released";
}

TEST_F(Events, WhatReachesThePage) {
  struct Case {
    const char* what;
    bool function, name;
    int type;
    std::size_t queued, invoked, evaluated;
  };
  const Case cases[] = {
      {"function wins over name", true, true, 0, 1, 1, 0},
      {"no handler", false, false, 0, 1, 0, 0},
      {"type 1 is not delivered", true, true, 1, 0, 0, 0},
      {"type 7 is not delivered", true, false, 7, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NPP inst = NewInstance();
    NPObject* obj = TvObject(inst);
    if (c.function) {
      ASSERT_TRUE(tb::SetProperty(obj, "OnEvent", tb::Object(Function())));
    }
    if (c.name) {
      ASSERT_TRUE(tb::SetProperty(obj, "OnEvent", tb::String("byName")));
    }
    std::size_t invoked = tb::InvokeDefaultCalls().size(), evaluated = tb::EvaluateCalls().size();
    quvstub::TakeEventResults();
    // Only this instance's connection may receive it.
    if (instance) DestroyInstance(instance);
    instance = nullptr;
    Raise(c.type, "p", "q");
    EXPECT_EQ(quvstub::TakeEventResults(), std::vector<bool>{true});
    EXPECT_EQ(tb::PendingAsyncCalls(), c.queued);
    tb::PumpAsyncCalls();
    EXPECT_EQ(tb::InvokeDefaultCalls().size() - invoked, c.invoked);
    EXPECT_EQ(tb::EvaluateCalls().size() - evaluated, c.evaluated);
    DestroyInstance(inst);
  }
}

TEST_F(Events, HandlerRegisteredBeforeDeliveryReceivesTheEvent) {
  Raise(0, "5", "6");
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  tb::PumpAsyncCalls();
  auto calls = tb::InvokeDefaultCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].object, f);
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"5", "6"}));
}

TEST_F(Events, EventBeforeTheInstanceIsSetIsDropped) {
  // m_NPP is set in the last steps of construction; until then events are dropped.
  auto* tvObject = static_cast<CPlugin*>(instance->pdata)->m_pTV;
  tvObject->m_NPP = nullptr;
  Raise(0, "1", "2");
  EXPECT_EQ(quvstub::TakeEventResults(), std::vector<bool>{false});
  EXPECT_EQ(tb::PendingAsyncCalls(), 0u);
  tvObject->m_NPP = instance;
}

TEST_F(Events, RecordsThatOutliveTheirInstanceAreDropped) {
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("byName")));
  Raise(0, "1", "2");
  Raise(0, "3", "4");
  ASSERT_EQ(tb::PendingAsyncCalls(), 2u);
  DestroyInstance(instance);
  EXPECT_EQ(tb::RefCount(f), 1u);
  // A new instance may take the old one's memory; the records still must not reach it.
  NPP next = NewInstance();
  NPObject* nextTv = TvObject(next);
  NPObject* g = Function();
  ASSERT_TRUE(tb::SetProperty(nextTv, "OnEvent", tb::Object(g)));
  EXPECT_EQ(tb::PumpAsyncCalls(), 2u);
  EXPECT_TRUE(tb::InvokeDefaultCalls().empty());
  EXPECT_TRUE(tb::EvaluateCalls().empty());
}

TEST_F(Events, NoMemoryForTheDeliveryLosesOnlyThatEvent) {
  struct Case {
    const char* what;
    bool function;
    std::size_t invoked, evaluated;
  };
  for (const Case& c : {Case{"call text", false, 0, 0}, Case{"argument copies", true, 1, 0}}) {
    SCOPED_TRACE(c.what);
    NPObject* f = Function();
    if (c.function) {
      ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
    } else {
      ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("h")));
    }
    std::size_t invoked = tb::InvokeDefaultCalls().size(), evaluated = tb::EvaluateCalls().size();
    Raise(0, "1", "2");
    quvstub::CaptureLog(true);
    tb::FailAllocationsAfter(0);
    tb::PumpAsyncCalls();
    tb::FailAllocationsAfter(-1);
    EXPECT_LE(tb::InvokeDefaultCalls().size() - invoked, c.invoked);
    EXPECT_EQ(tb::EvaluateCalls().size() - evaluated, c.evaluated);
    if (!c.function) {
      bool logged = false;
      for (const std::string& t : LogTexts())
        logged |= t.find("]=======MEMORY ALLOCATION FAILED!!!") != std::string::npos;
      EXPECT_TRUE(logged);
    }
    // The next event is delivered again.
    Raise(0, "7", "8");
    tb::PumpAsyncCalls();
    if (c.function) {
      ASSERT_FALSE(tb::InvokeDefaultCalls().empty());
      EXPECT_EQ(tb::InvokeDefaultCalls().back().args, (std::vector<std::string>{"7", "8"}));
    } else {
      ASSERT_FALSE(tb::EvaluateCalls().empty());
      EXPECT_EQ(tb::EvaluateCalls().back().script, "h(\"7\",\"8\");");
    }
  }
}

TEST_F(Events, FailedEvaluateIsOnlyLogged) {
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("h")));
  tb::SetEvaluateResult(false);
  quvstub::CaptureLog(true);
  Raise(0, "1", "2");
  tb::PumpAsyncCalls();
  bool logged = false;
  for (const std::string& t : LogTexts())
    logged |= t.find("] NPNFuncs.evaluate ret = 0") != std::string::npos;
  EXPECT_TRUE(logged);
}

}  // namespace
