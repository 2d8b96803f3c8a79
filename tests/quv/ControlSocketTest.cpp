// The control protocol of the simulated TV, its UNIX domain socket, and the
// tvsim tool that speaks it.
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <functional>

#include <nlohmann/json.hpp>

#include "TestSupport.h"

using namespace quvtest;
using nlohmann::json;

namespace {

class Control : public QuvTest {
 protected:
  void TearDown() override {
    quvstub::StopControlSocket();
    QuvTest::TearDown();
  }
};

json Request(const std::string& line) { return json::parse(quvstub::ControlRequest(line)); }

// ---- the protocol ---------------------------------------------------------------

struct ProtocolCase {
  std::string request;
  bool ok;
  std::string errorHas;  // for ok == false
};

TEST_F(Control, RequestsAreCheckedAndAnsweredWithOkOrAnError) {
  const std::vector<ProtocolCase> cases = {
      {"not json", false, "not JSON"},
      {"[1]", false, "\"cmd\""},
      {R"({"cmd":"dance"})", false, "unknown cmd \"dance\""},
      {R"({"cmd":"state"})", true, ""},
      {R"({"cmd":"set","key":"country","value":44})", true, ""},
      {R"({"cmd":"set","key":"country","value":"x"})", false, "expected an integer in 0..255"},
      {R"({"cmd":"set","key":"colour","value":1})", false, "unknown key"},
      {R"({"cmd":"set","key":"runtime","value":1})", false, "read-only"},
      {R"({"cmd":"set","key":"now","value":5})", false, "real time"},
      {R"({"cmd":"event","type":0,"param1":3})", false, "\"param1\" must be a text"},
      {R"({"cmd":"event","type":0,"param1_hex":"0g"})", false, "hex"},
      {R"({"cmd":"event","count":0})", false, "\"count\" must be an integer in 1..100000"},
      {R"({"cmd":"event","count":100001})", false, "\"count\""},
      {R"({"cmd":"event","count":"3"})", false, "\"count\""},
      {R"({"cmd":"reply","command":"GetCountry","reply":"E","times":1})", true, ""},
      {R"({"cmd":"reply","command":"GetCountry"})", false, "\"reply\" (or \"reply_hex\") is missing"},
      {R"({"cmd":"reply","command":"GetCountry","reply_hex":"555"})", false, "hex"},
      {R"({"cmd":"delay","command":"GetCountry","ms":-1})", false, "\"ms\""},
      {R"({"cmd":"simulator","on":"yes"})", false, "true or false"},
      {R"({"cmd":"reset"})", true, ""},
      {R"({"cmd":"set","key":"country","value":)" + std::string(1000000, '[') + std::string(1000000, ']') + "}",
       false, "nested deeper than 32"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    json r = Request(c.request);
    ASSERT_TRUE(r.is_object());
    EXPECT_EQ(r["ok"], c.ok);
    if (!c.ok) {
      EXPECT_NE(r["error"].get<std::string>().find(c.errorHas), std::string::npos) << r;
    }
  }
}

TEST_F(Control, EventsGoToEveryOpenConnectionWithTextOrHexParameters) {
  Recorder a, b, closed(false);
  json r = Request(R"({"cmd":"event","type":0,"param1":"3","param2_hex":"41ff00"})");
  EXPECT_EQ(r["queued"], 2);
  EXPECT_TRUE(Request(R"({"cmd":"wait_events"})")["ok"]);
  for (Recorder* w : {&a, &b}) {
    ASSERT_EQ(w->Texts(), std::vector<std::string>{"3|" + Bytes({'A', 0xFF, 0})});
    EXPECT_EQ(std::make_pair(w->Got()[0].type, w->Got()[0].thread), std::make_pair(0, quvstub::FrameworkThreadId()));
  }
  EXPECT_TRUE(closed.Got().empty());
}

TEST_F(Control, ABurstRaisesCountEventsNumberedInOrder) {
  Recorder w;
  json r = Request(R"({"cmd":"event","type":0,"param1":"s","param2":"x","count":3})");
  EXPECT_EQ(r["queued"], 1);
  EXPECT_TRUE(Request(R"({"cmd":"wait_events"})")["ok"]);
  EXPECT_EQ(w.Texts(), (std::vector<std::string>{"s0|x", "s1|x", "s2|x"}));
}

TEST_F(Control, TheJournalIsValidJsonWhateverTheBytes) {
  Recorder w;
  Cmd(w, {"SetAppInfo", "caf\xC3\xA9", "\xFF\xFE", std::string("a\0b", 3), "\"q\"\n"});
  json r = Request(R"({"cmd":"journal"})");
  ASSERT_EQ(r["journal"].size(), 1u);
  const json& e = r["journal"][0];
  EXPECT_EQ(e["connection"], quvstub::Connections().back().id);
  EXPECT_EQ(e["texts"][0], "SetAppInfo");
  EXPECT_EQ(e["texts"][1], "caf\xC3\xA9");
  EXPECT_EQ(e["texts"][2], "\xEF\xBF\xBD\xEF\xBF\xBD") << "bad bytes become U+FFFD in texts";
  EXPECT_EQ(e["texts"][3], std::string("a\0b", 3));
  EXPECT_EQ(e["hex"], json({"536574417070496e666f", "636166c3a9", "fffe", "610062", "2271220a"}));
}

TEST_F(Control, ConnectionsAndStateAreReported) {
  Recorder w;
  Cmd(w, {"SetEvent", "2"});
  Cmd(w, {"GetProgramList", "1", "0"});
  json c = Request(R"({"cmd":"connections"})")["connections"];
  ASSERT_FALSE(c.empty());
  EXPECT_EQ(c.back()["credential"], "TV|widgetpath|/w");
  EXPECT_EQ(c.back()["open"], true);
  const std::string id = std::to_string(c.back()["id"].get<unsigned>());
  json rt = Request(R"({"cmd":"state"})")["state"]["runtime"];
  EXPECT_EQ(rt["subscriptions"][id], json({2}));
  EXPECT_EQ(rt["selections"][id]["channel"], 1);
  EXPECT_EQ(rt["selections"][id]["size"], 6);
}

// ---- the socket -------------------------------------------------------------------

// A new socket, and the address of `path` for it.
int Socket(const std::string& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  return socket(AF_UNIX, SOCK_STREAM, 0);
}

int Connect(const std::string& path) {
  sockaddr_un addr;
  int fd = Socket(path, addr);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// Sends what the peer takes of `s` (it may close first); how much that was.
std::size_t Send(int fd, const std::string& s) {
  std::size_t done = 0;
  for (ssize_t n; done < s.size(); done += static_cast<std::size_t>(n))
    if ((n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL)) <= 0) break;
  return done;
}

void SendAll(int fd, const std::string& s) { ASSERT_EQ(Send(fd, s), s.size()); }

void ReceiveTimeout(int fd, long seconds, long microseconds = 0) {
  timeval tv{seconds, microseconds};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// Reads one line (blocking); empty when the peer closed first.
std::string ReadLine(int fd, std::string& pending) {
  for (;;) {
    auto nl = pending.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      return line;
    }
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return "";
    pending.append(buf, static_cast<std::size_t>(n));
  }
}

// A socket file bound at path; listening when `listening`, else left stale.
int Bound(const std::string& path, bool listening) {
  sockaddr_un addr;
  int fd = Socket(path, addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (listening && listen(fd, 1) != 0))
    ADD_FAILURE() << "bind/listen " << path;
  if (!listening) close(fd);
  return fd;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

TEST_F(Control, SeveralClientsAtOnceEachGetTheirOwnReplies) {
  const std::string path = TempPath("ctl.sock");
  ASSERT_TRUE(quvstub::StartControlSocket(path));
  int a = Connect(path), b = Connect(path);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  std::string pa, pb;
  // a sends half a request; b's whole requests are answered meanwhile.
  SendAll(a, R"({"cmd":"set","key":)");
  SendAll(b, "{\"cmd\":\"set\",\"key\":\"language\",\"value\":7}\n{\"cmd\":\"state\"}\n\n");
  EXPECT_EQ(json::parse(ReadLine(b, pb)), json({{"ok", true}}));
  EXPECT_EQ(json::parse(ReadLine(b, pb))["state"]["language"], 7);
  SendAll(a, "\"country\",\"value\":9}\r\n{\"cmd\":\"nope\"}\n");
  EXPECT_EQ(json::parse(ReadLine(a, pa)), json({{"ok", true}}));
  EXPECT_EQ(json::parse(ReadLine(a, pa))["ok"], false);
  close(b);
  // a is still served after b went away.
  SendAll(a, "{\"cmd\":\"state\"}\n");
  EXPECT_EQ(json::parse(ReadLine(a, pa))["state"]["country"], 9);
  close(a);
  quvstub::StopControlSocket();
  EXPECT_FALSE(Exists(path)) << "the socket file is removed";
}

TEST_F(Control, AnOverlongLineIsRefusedAndTheClientDropped) {
  const std::string path = TempPath("long.sock");
  ASSERT_TRUE(quvstub::StartControlSocket(path));
  int fd = Connect(path);
  ASSERT_GE(fd, 0);
  std::string pending;
  // The server may drop the client before the whole line is sent.
  const std::size_t limit = std::size_t(8) << 20;
  EXPECT_GT(Send(fd, std::string(limit + 70000, ' ')), limit);
  json r = json::parse(ReadLine(fd, pending));
  EXPECT_EQ(r["ok"], false);
  EXPECT_NE(r["error"].get<std::string>().find("longer than"), std::string::npos);
  EXPECT_EQ(ReadLine(fd, pending), "") << "closed";
  close(fd);
}

TEST_F(Control, AStaleSocketFileIsReplacedAndOtherFilesAreLeftAlone) {
  // A socket file whose listener is gone.
  const std::string stale = TempPath("stale.sock");
  Bound(stale, false);
  EXPECT_TRUE(quvstub::StartControlSocket(stale));
  int fd = Connect(stale);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  quvstub::StopControlSocket();

  struct Case {
    const char* what;
    std::string path, complaint;
  };
  const std::string plain = TempPath("plain-file");
  WriteFile(plain, "keep me");
  const std::string live = TempPath("live.sock");
  int listener = Bound(live, true);
  const std::vector<Case> cases = {
      {"not a socket", plain, "not a socket"},
      {"too long", "/tmp/" + std::string(200, 'x'), "longer than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::CaptureLog(true);
    EXPECT_FALSE(quvstub::StartControlSocket(c.path));
    auto log = quvstub::TakeLog();
    quvstub::CaptureLog(false);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].text.find(c.complaint), std::string::npos) << log[0].text;
  }
  EXPECT_EQ(ReadFile(plain), "keep me");
  // A path another process serves: the process says so and ends.
#ifdef QUV_EMULATED
  GTEST_FLAG_SET(death_test_style, "fast");
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
  EXPECT_EXIT(quvstub::StartControlSocket(live), testing::ExitedWithCode(3), "another process is listening there");
  close(listener);
  std::remove(plain.c_str());
  std::remove(live.c_str());
}

// The socket is its user's: mode 0600 whatever the umask, a client of another
// uid refused (even through a file opened to all), tvsim refusing a server of
// another uid; clients that do not read, or hold unfinished lines, cost
// bounded memory and never stop the others from being served.
TEST_F(Control, TheSocketServesItsOwnUserAndNoClientHoldsItUp) {
  const std::string path = TempPath("own.sock");
  const mode_t mask = umask(0);
  ASSERT_TRUE(quvstub::StartControlSocket(path));
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  auto answered = [&] {  // a new client's request is answered (within 20 s)
    int fd = Connect(path);
    ReceiveTimeout(fd, 20);
    std::string pending;
    SendAll(fd, "{\"cmd\":\"connections\"}\n");
    bool ok = fd >= 0 && ReadLine(fd, pending).find("\"ok\":true") != std::string::npos;
    close(fd);
    return ok;
  };
  // A client that sends requests and never reads the replies.
  int deaf = Connect(path);
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "{\"cmd\":\"state\"}\n";
  SendAll(deaf, many);
  EXPECT_TRUE(answered()) << "a client that does not read holds up the others";
  // Unfinished lines of several clients: past 16 MiB in all, one is dropped.
  std::vector<int> holders;
  int dropped = 0;
  const std::string part(std::size_t(4) << 20, ' ');
  for (int i = 0; i < 6; ++i) {
    int fd = Connect(path);
    holders.push_back(fd);
    Send(fd, part);
    std::string pending;
    ReceiveTimeout(fd, 0, 300000);
    if (ReadLine(fd, pending).find("unfinished lines") != std::string::npos) ++dropped;
  }
  EXPECT_GE(dropped, 1) << "six clients hold 24 MiB of unfinished lines";
  EXPECT_TRUE(answered());
  for (int fd : holders) close(fd);
  close(deaf);

  if (geteuid() != 0) GTEST_SKIP() << "the other uid needs root (useradd, setuid)";
  const std::string user = "nptv-ctl-test";
  ASSERT_EQ(std::system(("id -u " + user + " >/dev/null 2>&1 || useradd --system --no-create-home --shell "
                         "/usr/sbin/nologin " + user).c_str()), 0);
  const passwd* pw = getpwnam(user.c_str());
  ASSERT_NE(pw, nullptr);
  const uid_t other = pw->pw_uid;
  chmod(path.c_str(), 0666);  // as a careless folder or umask would leave it
  auto asOther = [&](const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(setgid(other) == 0 && setuid(other) == 0 ? body() : 99);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(asOther([&] {
              int fd = Connect(path);
              if (fd < 0) return 2;
              ReceiveTimeout(fd, 20);
              std::string pending;
              Send(fd, "{\"cmd\":\"set\",\"key\":\"password\",\"value\":\"0000\"}\n");  // it may be closed already
              return ReadLine(fd, pending).find("its own user only") != std::string::npos ? 0 : 1;
            }), 0) << "the server answers another uid";
  quvstub::StopControlSocket();
#ifdef TVSIM
  // Another uid listening at the path: tvsim will not talk to it.
  const std::string squat = TempPath("squat.sock");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t squatter = fork();
  if (squatter == 0) {
    if (setgid(other) != 0 || setuid(other) != 0) _exit(99);
    sockaddr_un addr;
    int fd = Socket(squat, addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) _exit(98);
    if (write(ready[1], "x", 1) != 1) _exit(97);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  std::string out;
  EXPECT_EQ(RunWithEnv("-u QUV_SIM_SOCKET", std::string(TVSIM) + " --socket " + squat + " state", &out), 3);
  EXPECT_NE(out.find("is served by uid " + std::to_string(other)), std::string::npos) << out;
  kill(squatter, SIGKILL);
  waitpid(squatter, nullptr, 0);
  std::remove(squat.c_str());
#endif
  std::system(("userdel " + user + " >/dev/null 2>&1").c_str());
}

// ---- tvsim --------------------------------------------------------------------------

#ifdef TVSIM
struct TvsimCase {
  std::string args;
  int exitCode;
  std::string outputHas;
};

TEST_F(Control, TvsimDrivesTheTvOfARunningProcess) {
  const std::string path = TempPath("tvsim.sock");
  ASSERT_TRUE(quvstub::StartControlSocket(path));
  Recorder w;
  Cmd(w, {"SetEvent", "2"});
  Cmd(w, {"IsValidPassword", "12\xFF"});
  const std::string tvsim = std::string(TVSIM) + " --socket " + path + " ";
  const std::vector<TvsimCase> cases = {
      {"event 0 3 1", 0, "queued for 1 connection(s)"},
      {"set country 44", 0, "ok"},
      {"set country 999", 1, "expected an integer in 0..255"},
      {"set password '\"4321\"'", 0, "ok"},
      {"state country", 0, "44"},
      {"journal", 0, "connection " + std::to_string(quvstub::Connections().back().id) +
                         ": \"IsValidPassword\" \"12\xEF\xBF\xBD\""},
      {"reply GetCountry E 1", 0, "ok"},
      {"reply-hex GetLanguage 4939 1", 0, "ok"},
      {"raw '{\"cmd\":\"nope\"}'", 1, "unknown cmd"},
      {"event x", 2, "TYPE must be an integer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(RunWithEnv("-u QUV_SIM_SOCKET", tvsim + c.args, &out), c.exitCode) << out;
    EXPECT_NE(out.find(c.outputHas), std::string::npos) << out;
  }
  quvstub::WaitForEvents();
  EXPECT_EQ(w.Texts(), (std::vector<std::string>{"3|1", "2|44"}));  // the raised event, then the country change
  EXPECT_EQ(Cmd(w, {"IsValidPassword", "4321"}), "I1");
  EXPECT_EQ(Cmd(w, {"GetCountry"}), "E");
  EXPECT_EQ(Cmd(w, {"GetLanguage"}), "I9");

  // The socket path from the environment; and no socket at all.
  std::string out;
  EXPECT_EQ(RunWithEnv("QUV_SIM_SOCKET=" + path, std::string(TVSIM) + " state country", &out), 0);
  EXPECT_EQ(out, "44\n");
  EXPECT_EQ(RunWithEnv("-u QUV_SIM_SOCKET", std::string(TVSIM) + " state", &out), 2);
  EXPECT_NE(out.find("QUV_SIM_SOCKET"), std::string::npos);
  EXPECT_EQ(RunWithEnv("-u QUV_SIM_SOCKET",
                       std::string(TVSIM) + " --socket " + TempPath("nobody.sock") + " state", &out),
            3);
  EXPECT_NE(out.find("cannot connect"), std::string::npos) << out;
}

// Another process serving QUV_SIM_SOCKET (over a stale file), driven by tvsim; the file goes at its end.
TEST(ControlProcess, QuvSimSocketServesFromTheFirstWrapperToTheEnd) {
  const std::string path = TempPath("proc.sock");
  const std::string out = TempPath("proc.out");
  Bound(path, false);  // a stale socket file first
  const std::string cmd =
      "env -u QUV_LOG QUV_SIM_SOCKET=" + path + " " QUV_HELPER " serve > " + out;
  FILE* helper = popen(cmd.c_str(), "w");
  ASSERT_NE(helper, nullptr);
  // Wait (bounded) until the helper listens.
  int fd = -1;
  for (int i = 0; i < 1000 && fd < 0; ++i) {
    fd = Connect(path);
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(fd, 0) << "the helper never listened";
  close(fd);
  const std::string tvsim = std::string(TVSIM) + " --socket " + path + " ";
  std::string o;
  EXPECT_EQ(RunWithEnv("", tvsim + "event 0 3 1", &o), 0) << o;
  EXPECT_EQ(RunWithEnv("", tvsim + "set power 0", &o), 0) << o;
  EXPECT_EQ(RunWithEnv("", tvsim + "wait", &o), 0) << o;
  std::fputs("cmd GetPowerState\n", helper);
  EXPECT_EQ(pclose(helper), 0);
  const std::string printed = ReadFile(out);
  EXPECT_NE(printed.find("EVENT 0 3 1\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("EVENT 0 1 0\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("REPLY 4930\n"), std::string::npos) << printed;  // "I0"
  EXPECT_FALSE(Exists(path));
  std::remove(out.c_str());
}
#endif

}  // namespace
