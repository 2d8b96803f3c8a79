// Shared by the foundation tests: the framework stand-in in a known state (no
// simulator, so commands without a forced reply get "E"), and 'U' replies.
#ifndef NPTV_TESTS_FOUNDATION_SUPPORT_H
#define NPTV_TESTS_FOUNDATION_SUPPORT_H

#include <gtest/gtest.h>
#include <quvstub/Control.h>

#include <string>
#include <vector>

namespace nptv_test {

using std::string_literals::operator""s;

// Replies are built little-endian: the machine's byte order here and on the target.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "replies are built little-endian");

// The marker and the units, byte for byte; no terminator is added.
inline std::string U16Reply(const std::u16string& units) {
  std::string reply = "U";
  for (char16_t u : units) reply += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return reply;
}

class FrameworkTest : public ::testing::Test {
 protected:
  using Journal = std::vector<std::vector<std::string>>;
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
  static Journal Sent() {
    Journal texts;
    for (const auto& entry : quvstub::Journal()) texts.push_back(entry.texts);
    return texts;
  }
};

}  // namespace nptv_test

#endif
