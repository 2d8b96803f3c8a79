// Helpers shared by the stand-in's tests.
#ifndef TESTS_QUV_TESTSUPPORT_H
#define TESTS_QUV_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
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

// A connection that records every event it gets.
class Recorder : public quv::CQuvPluginWrapper {
 public:
  explicit Recorder(bool open = true, bool result = true)
      : CQuvPluginWrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN), result_(result) {
    if (open) Open("TV", "1.0", "TV|widgetpath|/w");
  }
  // Close before the derived part goes away, as the module's own class does.
  ~Recorder() override { Close(); }

  bool OnEvent(int type, std::string p1, std::string p2) override {
    std::lock_guard<std::mutex> lk(m_);
    got_.push_back({type, p1, p2, std::this_thread::get_id()});
    return result_;
  }
  std::vector<Received> Got() {
    std::lock_guard<std::mutex> lk(m_);
    return got_;
  }
  void Forget() {
    std::lock_guard<std::mutex> lk(m_);
    got_.clear();
  }

 private:
  std::mutex m_;
  std::vector<Received> got_;
  bool result_;
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
    quvstub::Reset();
  }
};

inline std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

}  // namespace quvtest

#endif
