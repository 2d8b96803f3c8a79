// TV events from the framework's thread to the page's handler on the main
// thread: raised with the stand-in's RaiseEvent, handed over through the test
// browser's async queue, delivered when the test pumps it. Which handler
// receives what (function or name, the name's call text byte for byte, other
// event types, handlers changed before delivery, records that outlive their
// instance) is checked by the lifecycle fuzz target (tests/fuzz) against its
// model, with those cases among its seeds.
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

TEST_F(Events, EventBeforeTheInstanceIsSetIsDropped) {
  // m_NPP is set in the last steps of construction; until then events are dropped.
  auto* tvObject = static_cast<CPlugin*>(instance->pdata)->m_pTV;
  tvObject->m_NPP = nullptr;
  Raise(0, "1", "2");
  EXPECT_EQ(quvstub::TakeEventResults(), std::vector<bool>{false});
  EXPECT_EQ(tb::PendingAsyncCalls(), 0u);
  tvObject->m_NPP = instance;
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

// The call text of a handler given by name, for texts a broadcast could hold:
// by default the texts' bytes as they are (the module's defined behaviour);
// in a build with NPTV_QUOTE_EVENT_TEXTS the two texts as string literals.
TEST_F(Events, NameHandlerCallTextForHostileTexts) {
  struct Case {
    const char* what;
    std::string p1, p2;
    std::string quoted;  // the call text when texts are quoted
  };
  const std::vector<Case> cases = {
      {"plain", "3", "1", R"(h("3","1");)"},
      {"a quote that would run script", "x\",alert(1),\"", "",
       R"(h("x\",alert(1),\"","");)"},
      {"a backslash at the end", "\\", "\\", R"(h("\\","\\");)"},
      {"line breaks and U+2028", "a\nb", "c\xe2\x80\xa8" "d", R"(h("a\nb","c\u2028d");)"},
      {"markup", "</script>", "<b>", R"(h("</script>","<b>");)"},
      {"ill-formed UTF-8 before a quote", "\xe2\"", "\xff", R"(h("\uFFFD\"","\uFFFD");)"},
  };
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("h")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Raise(0, c.p1, c.p2);
    ASSERT_EQ(tb::PumpAsyncCalls(), 1u);
    ASSERT_FALSE(tb::EvaluateCalls().empty());
#if NPTV_QUOTE_EVENT_TEXTS
    EXPECT_EQ(tb::EvaluateCalls().back().script, c.quoted);
#else
    EXPECT_EQ(tb::EvaluateCalls().back().script, "h(\"" + c.p1 + "\",\"" + c.p2 + "\");");
#endif
    EXPECT_EQ(tb::EvaluateCalls().back().object, tb::WindowObject());
  }
}

}  // namespace
