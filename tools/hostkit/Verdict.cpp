#include "Verdict.h"

#include <csignal>
#include <cstdio>

namespace hostkit {

bool Verdict::Page(bool passed, const std::string& message) {
  if (m_decided) {
    m_print(m_program + ": ignored a second verdict (" + (passed ? "pass" : "fail") + "): " + message);
    return false;
  }
  m_decided = true;
  m_code = passed ? kPassed : kFailed;
  m_print(m_program + ": " + (passed ? "PASS" : "FAIL") + (message.empty() ? "" : ": " + message));
  return true;
}

bool Verdict::Fail(int code, const std::string& why) {
  if (m_decided) return false;
  m_decided = true;
  m_code = code;
  m_print(m_program + ": FAIL: " + why);
  return true;
}

bool Verdict::Timeout(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return Fail(kTimedOut, std::string("timeout: the page gave no verdict within ") + text + " s");
}

int Verdict::WindowClosed(bool stay) {
  if (m_decided) return m_code;
  if (!stay) {
    Fail(kFailed, "the window was closed before the page gave a verdict");
    return m_code;
  }
  m_print(m_program + ": window closed");
  m_decided = true;
  m_code = kPassed;
  return m_code;
}

int Verdict::Signal(int number) {
  m_decided = true;
  if (number == SIGUSR1) return m_code = kPassed;
  m_print(m_program + ": stopped by signal " + std::to_string(number));
  return m_code = kSignalBase + number;
}

}  // namespace hostkit
