// Helpers shared by the stand-in's tests.
#ifndef TESTS_QUV_TESTSUPPORT_H
#define TESTS_QUV_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <quv/CQuvPluginWrapper.h>
#include <quvstub/Control.h>

namespace quvtest {

struct Received {
  int type;
  std::string p1, p2;
  std::thread::id thread;
};

// A connection that closes before its derived part goes away, and only once,
// as the module's own class does.
class Closing : public quv::CQuvPluginWrapper {
 public:
  Closing() : CQuvPluginWrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN) {}
  ~Closing() override { Close(); }
  void Close() {
    if (closed_.exchange(true)) return;
    CQuvPluginWrapper::Close();
  }

 private:
  std::atomic<bool> closed_{false};
};

// A connection that records every event it gets.
class Recorder : public Closing {
 public:
  explicit Recorder(bool open = true) {
    if (open) Open("TV", "1.0", "TV|widgetpath|/w");
  }
  ~Recorder() override { Close(); }

  bool OnEvent(int type, std::string p1, std::string p2) override {
    std::lock_guard<std::mutex> lk(m_);
    got_.push_back({type, p1, p2, std::this_thread::get_id()});
    cv_.notify_all();
    return true;
  }
  // Waits until `n` events have arrived (false if not within `seconds`, a
  // bound against hanging, not a measure).
  bool WaitFor(std::size_t n, int seconds) {
    std::unique_lock<std::mutex> lk(m_);
    return cv_.wait_for(lk, std::chrono::seconds(seconds), [&] { return got_.size() >= n; });
  }
  std::vector<Received> Got() {
    std::lock_guard<std::mutex> lk(m_);
    return got_;
  }
  // The events' texts, "p1|p2" each.
  std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const Received& r : Got()) texts.push_back(r.p1 + "|" + r.p2);
    return texts;
  }
  void Forget() {
    std::lock_guard<std::mutex> lk(m_);
    got_.clear();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Received> got_;
};

// Each test starts from the stand-in's default state.
class QuvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quvstub::WaitForEvents();
    quvstub::Reset();
  }
  void TearDown() override {
    quvstub::WaitForEvents();
    EXPECT_TRUE(quvstub::Misuses().empty()) << ::testing::PrintToString(quvstub::Misuses());
    quvstub::Reset();
  }
};

inline std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

// A command through a connection, the unused slots "0".
inline std::string Cmd(quv::CQuvPluginWrapper& w, const std::vector<std::string>& t) {
  std::vector<std::string> x = t;
  x.resize(5, "0");
  return w.Execute(x[0], x[1], x[2], x[3], x[4]);
}

inline std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/quvtest-" + std::to_string(getpid()) + "-" +
         name;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

// Runs a shell command with extra environment (env syntax), stderr joined to
// stdout; returns its exit status.
inline int RunWithEnv(const std::string& env, const std::string& command,
                      std::string* output = nullptr) {
  std::string cmd = "env " + env + " " + command + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The simulated TV configured by a file (QUV_SIM_CONFIG) for one scope.
class ScopedConfig {
 public:
  explicit ScopedConfig(const std::string& text) : path_(TempPath("config.json")) {
    WriteFile(path_, text);
    setenv("QUV_SIM_CONFIG", path_.c_str(), 1);
    quvstub::Reset();
  }
  ~ScopedConfig() {
    unsetenv("QUV_SIM_CONFIG");
    std::remove(path_.c_str());
    quvstub::Reset();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A fixed clock at 2023-11-14 22:13:20 UTC (23:13:20 local with the default
// zone offset of 60 minutes and DST off).
constexpr long long kFixedNow = 1700000000;
inline const char* kFixedClock = R"({"clock_mode": "fixed", "clock_start": 1700000000})";

}  // namespace quvtest

#endif
