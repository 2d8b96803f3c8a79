// The pass/fail protocol of the host programs (tvbrowser, tvwebkit): the
// page's own verdict, the ways a run ends without one, the lines each prints
// and the exit status each gives. The programs bring the browser; this is
// what they say and return.
#ifndef HOSTKIT_VERDICT_H
#define HOSTKIT_VERDICT_H

#include <functional>
#include <string>

namespace hostkit {

// The exit statuses (also in the programs' --help).
enum Exit : int {
  kPassed = 0,
  kFailed = 1,         // the page's "fail", or the window closed before a verdict
  kNotLoaded = 2,      // a bad command line, or the page could not be loaded
  kTimedOut = 3,       // no verdict within --timeout
  kNoDisplay = 4,      // the private X server could not be started
  kEngineEnded = 5,    // the web process crashed or was ended
  kSignalBase = 128,   // stopped by a signal: 128 + its number
};

class Verdict {
 public:
  using Print = std::function<void(const std::string&)>;
  Verdict(std::string program, Print print) : m_program(std::move(program)), m_print(std::move(print)) {}

  // The page's verdict: "PROG: PASS[: message]" or "PROG: FAIL[: message]".
  // Only the first counts; a later one is printed as ignored (false).
  bool Page(bool passed, const std::string& message);
  // A run that ends without the page's verdict: "PROG: FAIL: why", and the
  // exit status `code`. False (nothing printed) when a verdict was given.
  bool Fail(int code, const std::string& why);
  bool Timeout(double seconds);
  // The user closed the window: with `stay`, a verdict-less close is fine.
  // The exit status.
  int WindowClosed(bool stay);
  // A signal ends the run ("PROG: stopped by signal N"); SIGUSR1 ends it as
  // passed, silently (the screenshot it asks for is the program's).
  int Signal(int number);

  bool decided() const { return m_decided; }
  int code() const { return m_code; }

 private:
  std::string m_program;
  Print m_print;
  bool m_decided = false;
  int m_code = kFailed;
};

}  // namespace hostkit

#endif
