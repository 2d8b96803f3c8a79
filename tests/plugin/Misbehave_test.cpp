// A framework or browser that misbehaves: replies of 1 MiB (cut to each
// method's buffer) and without a terminator, deliveries the browser refuses,
// a command that blocks for seconds while events keep coming, events on a
// connection never opened: what the page gets; the fixture checks for leaks.
#include <atomic>
#include <thread>

#include "Support.h"

namespace {

const std::size_t kMiB = std::size_t(1) << 20;

// n bytes of a repeating printable pattern, so that a shifted or cut copy shows.
std::string Pattern(std::size_t n, char first = 'a') {
  std::string s(n, ' ');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 26);
  return s;
}

std::string Repeat(const std::string& unit, std::size_t times) {
  std::string s;
  s.reserve(unit.size() * times);
  for (std::size_t i = 0; i < times; ++i) s += unit;
  return s;
}

class Misbehave : public TvObjectTest {};

TEST_F(Misbehave, RepliesOfAnySizeAndWithoutTerminator) {
  struct Case {
    const char *what, *method;
    std::vector<NPVariant> args;
    std::string reply;
    NPVariantType type;
    int number;        // Int32 results
    std::string text;  // String results
  };
  const std::string mib = Pattern(kMiB);
  const Case cases[] = {
      // 'A': the text ends at the end of the reply when no byte 0 comes; the
      // product code's buffer is 256 bytes, the local time's 300.
      {"'A' without a byte 0", "GetProductCode", {tb::Int(0)}, "AZT-55", NPVariantType_String, 0, "ZT-55"},
      {"'A' of 1 MiB, product code", "GetProductCode", {tb::Int(1)}, "A" + mib, NPVariantType_String, 0,
       mib.substr(0, 255)},
      {"'A' of 1 MiB, local time", "ConvertEpochToLocalTime", {tb::String("0")}, "A" + mib,
       NPVariantType_String, 0, mib.substr(0, 299)},
      // 'U': the last whole unit is the terminator whatever it holds, and an
      // odd byte at the end is dropped (the decoder suite has the small cases).
      {"'U' odd length, no terminator unit", "GetProgram_Title", {tb::Int(0)}, std::string("UT\0V\0", 5),
       NPVariantType_String, 0, "T"},
      // 1 MiB of UTF-16: whole characters up to the title buffer's 511 bytes.
      {"'U' of 1 MiB of two-byte characters", "GetPresentProgram_Title", {},
       quvstub::Utf16Reply(Repeat("\xC3\xA9", kMiB / 2)), NPVariantType_String, 0, Repeat("\xC3\xA9", 255)},
      {"'U' of 1 MiB of three-byte characters, no terminator", "GetProgram_Title", {tb::Int(2)},
       [] {
         std::string r = quvstub::Utf16Reply(Repeat("\xE6\x96\xB0", kMiB / 2));
         r.resize(r.size() - 2);  // the terminator unit goes: the last character is lost with it
         return r;
       }(),
       NPVariantType_String, 0, Repeat("\xE6\x96\xB0", 170)},
      // 'I': strtol over 1 MiB of digits, clamped; no digits give 0.
      {"'I' of 1 MiB of digits", "GetCountry", {}, "I" + std::string(kMiB, '9'), NPVariantType_Int32,
       2147483647, ""},
      {"'I' of 1 MiB of minus digits", "GetPresentProgram_Duration", {}, "I-" + std::string(kMiB, '7'),
       NPVariantType_Int32, -2147483647 - 1, ""},
      // No marker is not an error: the country getter stores 0.
      {"1 MiB of bytes 0", "GetCountry", {}, std::string(kMiB, '\0'), NPVariantType_Int32, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::SetReply(c.method, c.reply, 1);
    NPVariant result = tb::Int(-777);
    ASSERT_TRUE(tb::Invoke(tv, c.method, c.args, &result));
    ASSERT_EQ(result.type, c.type);
    if (c.type == NPVariantType_Int32) {
      EXPECT_EQ(result.value.intValue, c.number);
    } else {
      const std::string text = tb::Text(result);
      EXPECT_EQ(text.size(), c.text.size());
      EXPECT_TRUE(text == c.text) << "first 40 bytes: " << text.substr(0, 40);
      EXPECT_EQ(result.value.stringValue.UTF8Characters[result.value.stringValue.UTF8Length], '\0');
    }
    tb::ReleaseValue(&result);
    EXPECT_EQ(quvstub::Journal().size(), 1u) << "one command per call";
    quvstub::ClearJournal();
  }
}

// A delivery the browser refuses (no memory for the call text or the copies,
// a failed evaluation) loses that event only, logged where the module logs;
// the next event arrives.
TEST_F(Misbehave, ARefusedDeliveryLosesOnlyThatEvent) {
  struct Case {
    const char* what;
    bool function, noMemory;
    std::size_t invokedAtMost, evaluated;
    const char* record;  // a log text; null: none asked for
  };
  const Case cases[] = {
      {"no memory for the call text", false, true, 0, 0, "]=======MEMORY ALLOCATION FAILED!!!"},
      {"the evaluation fails", false, false, 0, 1, "] NPNFuncs.evaluate ret = 0"},
      // Last: once a function is stored it wins over any name.
      {"no memory for the argument copies", true, true, 1, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", c.function ? tb::Object(Function()) : tb::String("h")));
    const std::size_t invoked = tb::InvokeDefaultCalls().size(), evaluated = tb::EvaluateCalls().size();
    ASSERT_EQ(quvstub::RaiseEvent(0, "1", "2"), 1u);
    quvstub::WaitForEvents();
    quvstub::CaptureLog(true);
    tb::FailAllocationsAfter(c.noMemory ? 0 : -1);
    tb::SetEvaluateResult(c.noMemory);
    tb::PumpAsyncCalls();
    tb::FailAllocationsAfter(-1);
    tb::SetEvaluateResult(true);
    EXPECT_LE(tb::InvokeDefaultCalls().size() - invoked, c.invokedAtMost);
    EXPECT_EQ(tb::EvaluateCalls().size() - evaluated, c.evaluated);
    bool logged = false;
    for (const std::string& t : LogTexts()) logged |= c.record && t.find(c.record) != std::string::npos;
    EXPECT_EQ(logged, c.record != nullptr);
    quvstub::CaptureLog(false);
    ASSERT_EQ(quvstub::RaiseEvent(0, "7", "8"), 1u);
    quvstub::WaitForEvents();
    ASSERT_EQ(tb::PumpAsyncCalls(), 1u);
    if (c.function)
      EXPECT_EQ(tb::InvokeDefaultCalls().back().args, (std::vector<std::string>{"7", "8"}));
    else
      EXPECT_EQ(tb::EvaluateCalls().back().script, "h(\"7\",\"8\");");
  }
}

TEST_F(Misbehave, ExecuteThatBlocksForSecondsWhileEventsArrive) {
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  quvstub::SetReply("GetCountry", "I44", 1);
  quvstub::SetDelay("GetCountry", 2000);
  // The framework raises events for as long as the command blocks (bounded).
  std::atomic<bool> returned{false};
  std::atomic<int> raised{0};
  std::thread framework([&] {
    while (!returned.load() && raised.load() < 20000) {
      quvstub::RaiseEvent(0, "during", std::to_string(raised.load()));
      raised.fetch_add(1);
      std::this_thread::yield();
    }
  });
  NPVariant result = tb::Int(-777);
  const bool ok = tb::Invoke(tv, "GetCountry", {}, &result);
  returned = true;
  framework.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(result.type, NPVariantType_Int32);
  EXPECT_EQ(result.value.intValue, 44);
  ASSERT_GT(raised.load(), 0) << "no event came while the command blocked: the case was not exercised";

  // Nothing ran on the blocked main thread; then every event arrives once, in order.
  quvstub::WaitForEvents();
  EXPECT_TRUE(tb::InvokeDefaultCalls().empty());
  const auto results = quvstub::TakeEventResults();
  EXPECT_EQ(results, std::vector<bool>(raised.load(), true));
  EXPECT_EQ(tb::PumpAsyncCalls(), static_cast<std::size_t>(raised.load()));
  const auto calls = tb::InvokeDefaultCalls();
  ASSERT_EQ(calls.size(), static_cast<std::size_t>(raised.load()));
  for (int i = 0; i < raised.load(); ++i) {
    ASSERT_EQ(calls[i].args, (std::vector<std::string>{"during", std::to_string(i)})) << "event #" << i;
  }
  quvstub::SetDelay("GetCountry", 0);
}

TEST_F(Misbehave, EventsOnAConnectionThatWasNeverOpened) {
  quvstub::RefuseOpen(true);
  NPP unopened = NewInstance();
  quvstub::RefuseOpen(false);
  NPObject* obj = TvObject(unopened);
  ASSERT_NE(obj, nullptr);
  unsigned id = 0;
  for (const auto& c : quvstub::Connections())
    if (!c.open) id = c.id;
  ASSERT_NE(id, 0u) << "the refused connection is not listed";

  // Commands still go out and get the framework's error reply: fallback values.
  NPVariant result = tb::Int(-777);
  ASSERT_TRUE(tb::Invoke(obj, "GetCountry", {}, &result));
  EXPECT_EQ(result.type, NPVariantType_Int32);
  EXPECT_EQ(result.value.intValue, 52);

  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(obj, "OnEvent", tb::Object(f)));
  struct Case {
    const char* what;
    int type;
    bool viaRaiseOn;  // else RaiseEvent, which a well-behaved framework sends to open connections only
    std::size_t delivered;
  };
  const Case cases[] = {
      {"an ordinary event skips the unopened connection", 0, false, 0},
      {"an event forced onto it reaches the page", 0, true, 1},
      {"a type-1 event forced onto it is only logged", 1, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t before = tb::InvokeDefaultCalls().size();
    quvstub::CaptureLog(true);
    if (c.viaRaiseOn) {
      ASSERT_TRUE(quvstub::RaiseEventOn(id, c.type, "p", "q"));
    } else {
      quvstub::RaiseEvent(c.type, "p", "q");
    }
    quvstub::WaitForEvents();
    tb::PumpAsyncCalls();
    std::size_t delivered = 0;
    const auto invoked = tb::InvokeDefaultCalls();
    for (std::size_t i = before; i < invoked.size(); ++i) {
      const auto& call = invoked[i];
      delivered += call.object == f && call.npp == unopened &&
                   call.args == std::vector<std::string>{"p", "q"};
    }
    EXPECT_EQ(delivered, c.delivered);
    std::size_t records = 0;
    for (const std::string& t : LogTexts())
      records += t.find("type : " + std::to_string(c.type) + ", param1 : p, param2 : q") != std::string::npos;
    // One record per connection reached: the open one gets ordinary events, the unopened one forced ones.
    EXPECT_EQ(records, 1u);
    quvstub::CaptureLog(false);
  }
  DestroyInstance(unopened);
  EXPECT_EQ(tb::RefCount(f), 1u) << "the handler of the destroyed instance is released";
  EXPECT_FALSE(quvstub::RaiseEventOn(id, 0, "p", "q")) << "a destroyed connection is gone";
}

}  // namespace
