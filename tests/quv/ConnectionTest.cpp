// The connection side of the stand-in: forced replies, connections and their
// misuse, events, the log, the journal's bound, and the clean end of the
// library. (The journal's texts: tests/foundation/Bridge_test.cpp through the
// module, ControlSocketTest.cpp byte for byte with their connection.)
#include <quv/CQUVDebug.h>

#include "TestSupport.h"

using namespace quvtest;

namespace {

class Connection : public QuvTest {};

struct ForcedCase {
  const char* what;
  int times;
  std::vector<std::string> expected;  // replies to successive GetCountry
};

TEST_F(Connection, ForcedRepliesAreUsedTheirNumberOfTimes) {
  const std::vector<ForcedCase> cases = {
      {"once", 1, {"I3", "E", "E"}},
      {"twice", 2, {"I3", "I3", "E"}},
      {"until cleared", -1, {"I3", "I3", "I3", "I3"}},
      {"zero removes", 0, {"E", "E"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::Reset();
    quvstub::UseSimulator(false);  // everything not forced is "E"
    Recorder w;
    quvstub::SetReply("GetCountry", "I3", c.times);
    quvstub::SetReply("GetLanguage", "I9", -1);  // another command is not touched
    for (const auto& want : c.expected) EXPECT_EQ(Cmd(w, {"GetCountry"}), want);
    EXPECT_EQ(Cmd(w, {"GetLanguage"}), "I9");
  }
}

// Replies are handed back byte for byte, bytes 0 among them: through the
// module in tests/foundation/Bridge_test.cpp, at 1 MiB in tests/plugin.
TEST_F(Connection, Utf16ReplyEncodesLittleEndianWithTerminator) {
  struct Case {
    std::string utf8, reply;
  };
  const std::vector<Case> cases = {
      {"TV", Bytes({'U', 'T', 0, 'V', 0, 0, 0})},
      {"\xF0\x9D\x84\x9E", Bytes({'U', 0x34, 0xD8, 0x1E, 0xDD, 0, 0})},     // U+1D11E
      {"a\xFF" "b", Bytes({'U', 'a', 0, 0xFD, 0xFF, 'b', 0, 0, 0})},        // bad byte
      {std::string("a\0b", 3), Bytes({'U', 'a', 0, 0, 0, 'b', 0, 0, 0})},  // NUL kept
  };
  for (const auto& c : cases) EXPECT_EQ(quvstub::Utf16Reply(c.utf8), c.reply) << c.utf8;
}

TEST_F(Connection, ConnectionsShowOpenTextsAndLifetime) {
  const auto before = quvstub::Connections().size();
  unsigned firstId = 0;
  {
    Recorder closed(false);
    Recorder open;
    auto conns = quvstub::Connections();
    ASSERT_EQ(conns.size(), before + 2);
    const auto& c0 = conns[conns.size() - 2];
    const auto& c1 = conns[conns.size() - 1];
    firstId = c0.id;
    EXPECT_EQ(c1.id, c0.id + 1);
    EXPECT_FALSE(c0.open);
    EXPECT_TRUE(c1.open);
    EXPECT_EQ(c1.credential, "TV|widgetpath|/w");
    open.Close();
    EXPECT_FALSE(quvstub::Connections().back().open);
  }
  EXPECT_EQ(quvstub::Connections().size(), before);
  Recorder again;
  EXPECT_GT(quvstub::Connections().back().id, firstId + 1) << "ids are never reused";
}

// What the maker's library need not tolerate is recorded (and logged), so
// that suites fail on it; the well-behaved sequence records nothing.
TEST_F(Connection, MisuseOfAConnectionIsRecordedAndLogged) {
  enum Step { kOpen, kClose, kExecute, kDestroy };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::string misuse;  // "" for none; %u stands for the connection id
  };
  const std::vector<Case> cases = {
      {"open, execute, close, destroy", {kOpen, kExecute, kClose, kDestroy}, ""},
      {"close without open", {kClose, kDestroy}, ""},
      {"second Close", {kOpen, kClose, kClose, kDestroy}, "second Close of connection %u"},
      {"Execute after Close",
       {kOpen, kClose, kExecute, kDestroy},
       "Execute(\"GetCountry\") on connection %u after its Close"},
      {"Open of an open connection",
       {kOpen, kOpen, kClose, kDestroy},
       "Open of connection %u, which is open already"},
      {"destroyed while open", {kOpen, kDestroy}, "connection %u destroyed while open (no Close)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::Reset();
    quvstub::CaptureLog(true);
    auto w = std::make_unique<quv::CQuvPluginWrapper>(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN);
    const unsigned id = quvstub::Connections().back().id;
    for (Step s : c.steps) {
      if (s == kOpen) w->Open("TV", "1.0", "TV|widgetpath|");
      if (s == kClose) w->Close();
      if (s == kExecute) Cmd(*w, {"GetCountry"});
      if (s == kDestroy) w.reset();
    }
    std::vector<std::string> want;
    if (!c.misuse.empty()) {
      char line[128];
      std::snprintf(line, sizeof line, c.misuse.c_str(), id);
      want.push_back(line);
    }
    EXPECT_EQ(quvstub::Misuses(), want);
    bool logged = false;
    for (const auto& call : quvstub::TakeLog())
      logged = logged || (!want.empty() && call.text.find(want[0]) != std::string::npos);
    EXPECT_EQ(logged, !want.empty());
    quvstub::CaptureLog(false);
    quvstub::ClearMisuses();
  }
}

// A connection whose OnEvent holds the framework thread until told to go on.
class Gate : public Closing {
 public:
  Gate() { Open("TV", "1.0", "TV|widgetpath|"); }
  ~Gate() override { Close(); }
  bool OnEvent(int, std::string, std::string) override {
    std::unique_lock<std::mutex> lk(m);
    entered = true;
    cv.notify_all();
    cv.wait(lk, [&] { return released; });
    return true;
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> lk(m);
    cv.wait(lk, [&] { return entered; });
  }
  void Release() {
    std::lock_guard<std::mutex> lk(m);
    released = true;
    cv.notify_all();
  }
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, released = false;
};

TEST_F(Connection, EventsQueuedBeforeCloseAreDroppedAfterIt) {
  Gate gate;
  Recorder victim;
  EXPECT_EQ(quvstub::RaiseEvent(0, "first", ""), 2u);  // gate's holds the thread
  gate.WaitEntered();
  EXPECT_EQ(quvstub::RaiseEvent(0, "queued", ""), 2u);
  // victim's "first" and both "queued" are still waiting in the queue.
  victim.Close();
  gate.Release();
  quvstub::WaitForEvents();
  EXPECT_TRUE(victim.Got().empty());
  EXPECT_EQ(quvstub::TakeEventResults().size(), 2u) << "gate got both, victim none";
}

// An OnEvent may call back into the library (log, commands, even Close).
class Reentrant : public Closing {
 public:
  Reentrant() { Open("TV", "1.0", "TV|widgetpath|"); }
  ~Reentrant() override { Close(); }
  bool OnEvent(int type, std::string p1, std::string) override {
    quv::CQUVDebug::PrintLog(0, 4, "event %d", type);
    reply = Execute("GetCountry", "0", "0", "0", "0");
    quvstub::WaitForEvents();  // on the framework thread: must not hang
    quvstub::Connections();
    if (p1 == "close") Close();
    ++count;
    return true;
  }
  std::string reply;
  std::atomic<int> count{0};
};

TEST_F(Connection, OnEventMayCallTheLibraryAndCloseItself) {
  quvstub::SetReply("GetCountry", "I44", -1);
  Reentrant w;
  quvstub::RaiseEvent(0, "a", "");
  quvstub::RaiseEvent(0, "close", "");
  quvstub::RaiseEvent(0, "after", "");
  quvstub::WaitForEvents();
  EXPECT_EQ(w.count.load(), 2);
  EXPECT_EQ(w.reply, "I44");
}

// Each PrintLog call is one captured entry with its module and level: the
// module's records in tests/plugin/Log_test.cpp and tests/foundation.
TEST_F(Connection, PrintLogFromManyThreadsKeepsEveryCallWhole) {
  quvstub::CaptureLog(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) quv::CQUVDebug::PrintLog(0, 4, "t%d-%d;", t, i);
    });
  for (auto& th : threads) th.join();
  auto got = quvstub::TakeLog();
  quvstub::CaptureLog(false);
  ASSERT_EQ(got.size(), 800u);
  std::vector<int> next(4, 0);
  for (const auto& c : got) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(c.text.c_str(), "t%d-%d;", &t, &i), 2) << c.text;
    ASSERT_TRUE(t >= 0 && t < 4);
    EXPECT_EQ(i, next[t]++) << "calls of one thread keep their order";
  }
}

TEST(QuvLog, QuvLogNamesAFileThatIsAppendedToDashIsStderrUnsetNowhere) {
  const std::string path = TempPath("log.txt");
  std::remove(path.c_str());
  std::string out;
  for (const char* run : {" log 'one ' 'two'", " log three"}) {
    ASSERT_EQ(RunWithEnv("QUV_LOG=" + path, QUV_HELPER + std::string(run), &out), 0) << out;
    EXPECT_EQ(out, "") << "nothing on the terminal";
  }
  EXPECT_EQ(ReadFile(path), "one twothree") << "appended, no line break added";
  std::remove(path.c_str());
  ASSERT_EQ(RunWithEnv("QUV_LOG=-", QUV_HELPER " log abc def", &out), 0);
  EXPECT_EQ(out, "abcdef");
  ASSERT_EQ(RunWithEnv("-u QUV_LOG", QUV_HELPER " log abc", &out), 0);
  EXPECT_EQ(out, "");
}

// The journal keeps the newest 4,096 commands, oldest first; QUV_JOURNAL=0
// switches it off for the whole process.
TEST(QuvJournal, BoundedAndSwitchable) {
  const struct {
    const char *env, *commands, *kept;
  } runs[] = {
      {"QUV_JOURNAL=0", "3", "journal 0 - -\n"},
      {"-u QUV_JOURNAL", "4096", "journal 4096 0 4095\n"},
      {"-u QUV_JOURNAL", "4097", "journal 4096 1 4096\n"},
  };
  for (const auto& r : runs) {
    std::string out;
    EXPECT_EQ(RunWithEnv(std::string("-u QUV_LOG ") + r.env,
                         std::string(QUV_HELPER " journal ") + r.commands, &out),
              0);
    EXPECT_EQ(out, r.kept) << r.env << ", " << r.commands << " commands";
  }
}

TEST(QuvLifetime, ProcessExitsCleanlyWithEventsInFlight) {
  for (const char* mode : {"exit-busy ", "exit-late "}) {
    for (const char* n : {"1", "500"}) {
      std::string out;
      EXPECT_EQ(RunWithEnv("-u QUV_LOG", std::string(QUV_HELPER " ") + mode + n, &out), 0)
          << mode << n << ": " << out;
      EXPECT_EQ(out, std::string("raised ") + n + "\n");
    }
  }
}

TEST(QuvLifetime, LibraryUnloadsWithItsThreadRunning) {
  std::string out;
  EXPECT_EQ(RunWithEnv("-u QUV_LOG", QUV_UNLOAD_HELPER " " QUV_LIBRARY, &out), 0) << out;
  EXPECT_EQ(out, "unloaded\n");
}

}  // namespace
