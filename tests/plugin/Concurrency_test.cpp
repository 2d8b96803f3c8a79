// The framework's thread raises events without pause while the main thread
// creates, uses and destroys instances (records of theirs still queued) and
// pumps the async queue, also while instances are constructed: nothing
// reaches a destroyed instance or its released handler, nothing leaks. Meant
// for ThreadSanitizer and AddressSanitizer too.
#include <atomic>
#include <thread>

#include "Support.h"

namespace {

using Concurrency = PluginTest;

TEST_F(Concurrency, EventsWhileInstancesComeAndGo) {
  constexpr int kRounds = 60;
  constexpr long kMaxRaised = 20000;  // bounds the framework queue
  std::atomic<bool> stop{false};
  std::atomic<long> raised{0};
  std::thread raiser([&] {
    while (!stop.load() && raised.load() < kMaxRaised) {
      quvstub::RaiseEvent(0, std::to_string(raised.load()), "bg");
      raised.fetch_add(1);
      std::this_thread::yield();
    }
  });

  // Handlers of destroyed instances stay alive to the end: no address reused.
  struct Dead {
    NPObject* handler;
    std::size_t callsAtDeath;
  };
  std::vector<Dead> dead;
  struct DeadNamed {
    NPP instance;  // not reused within Host::kEndedRoom instances
    std::size_t evaluationsAtDeath;
  };
  std::vector<DeadNamed> deadNamed;
  std::size_t lateRecords = 0;
  auto callsTo = [](NPObject* handler) {
    std::size_t n = 0;
    for (const auto& call : tb::InvokeDefaultCalls()) n += call.object == handler;
    return n;
  };
  auto evaluationsFor = [](NPP instance) {
    std::size_t n = 0;
    for (const auto& call : tb::EvaluateCalls()) n += call.npp == instance;
    return n;
  };

  while (raised.load() == 0) std::this_thread::yield();  // the raiser is under way
  for (int round = 0; round < kRounds; ++round) {
    NPP a = NewInstance();
    NPP b = NewInstance();
    NPObject* tvA = host->ScriptObject(a);
    NPObject* tvB = host->ScriptObject(b);
    ASSERT_TRUE(tvA && tvB);
    NPObject* handler = tb::NewFunction();
    ASSERT_TRUE(tb::SetProperty(tvA, "OnEvent", tb::Object(handler)));
    ASSERT_TRUE(tb::SetProperty(tvB, "OnEvent", tb::String("onTvEvent")));
    NPVariant result;
    ASSERT_TRUE(tb::Invoke(tvA, "GetPluginInfo", {tb::Int(0)}, &result));
    tb::ReleaseValue(&result);
    ASSERT_TRUE(tb::Invoke(tvB, "GetCountry", {}, &result));
    tb::PumpAsyncCalls();

    if (round % 2 == 0) {
      // Make sure records of `a` are queued, then destroy it before they are pumped.
      quvstub::RaiseEvent(0, "late", std::to_string(round));
      quvstub::WaitForEvents();
      lateRecords += tb::PendingAsyncCalls();
    }
    dead.push_back({handler, callsTo(handler)});
    DestroyInstance(a);
    tb::Release(tvA);
    EXPECT_EQ(tb::RefCount(handler), 1u) << "the instance kept its handler";
    tb::PumpAsyncCalls();
    deadNamed.push_back({b, evaluationsFor(b)});
    DestroyInstance(b);
    tb::Release(tvB);
  }
  stop = true;
  raiser.join();
  quvstub::WaitForEvents();
  tb::PumpAsyncCalls();

  EXPECT_GT(lateRecords, 0u) << "no record ever outlived its instance: the case was not exercised";
  EXPECT_GT(raised.load(), 0);
  for (const Dead& d : dead) {
    EXPECT_EQ(callsTo(d.handler), d.callsAtDeath) << "delivered after its instance was destroyed";
    tb::Release(d.handler);
  }
  for (const DeadNamed& d : deadNamed)
    EXPECT_EQ(evaluationsFor(d.instance), d.evaluationsAtDeath) << "named handler evaluated after destroy";
  for (const auto& call : tb::EvaluateCalls()) EXPECT_EQ(call.thread, std::this_thread::get_id());
  for (const auto& call : tb::InvokeDefaultCalls())
    EXPECT_EQ(call.thread, std::this_thread::get_id());
  // The fixture's tear-down checks objects, allocations, connections and misuse.
}

}  // namespace
