// Shared by the foundation tests: a fixture that puts the framework stand-in
// into a known state (no simulator: commands without a forced reply get "E"),
// and builders of raw replies.
#ifndef NPTV_TESTS_FOUNDATION_SUPPORT_H
#define NPTV_TESTS_FOUNDATION_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quvstub/Control.h>

namespace nptv_test {

// The machine's byte order is the reply's; the replies below are built for
// the little-endian machines this suite runs on (the target included).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "replies are built little-endian");

// A 'U' reply: the marker and the given units, byte for byte. No terminator
// is added: tests that want one put the 0 unit in themselves.
inline std::string U16Reply(const std::u16string& units) {
  std::string reply = "U";
  for (char16_t u : units) {
    reply += static_cast<char>(u & 0xFF);
    reply += static_cast<char>(u >> 8);
  }
  return reply;
}

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quvstub::Reset();
    quvstub::UseSimulator(false);
    quvstub::CaptureLog(true);
  }
  void TearDown() override {
    quvstub::CaptureLog(false);
    quvstub::Reset();
  }
  // The texts of every command sent since the journal was last cleared.
  static std::vector<std::vector<std::string>> Sent() {
    std::vector<std::vector<std::string>> texts;
    for (const auto& entry : quvstub::Journal()) texts.push_back(entry.texts);
    return texts;
  }
};

}  // namespace nptv_test

#endif
