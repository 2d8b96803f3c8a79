// A self-test report as the collector takes it: read from a request body
// that may come from anyone, and written out as JUnit XML.
#ifndef NPTV_TVCOLLECT_REPORT_H
#define NPTV_TVCOLLECT_REPORT_H

#include <string>
#include <vector>

namespace tvcollect {

constexpr std::size_t kMaxChecks = 200;   // a report has 53
constexpr std::size_t kMaxText = 300;     // of a check's texts kept for the JUnit file

struct Check {
  std::string name, verdict, why, answer;
};

struct Entry {
  std::string tv, verdict, json, peer, file;
  std::vector<Check> checks;
};

// Fills `e` from a report body (JSON nested 32 deep at most); the reason it
// was refused, or "" when taken.
std::string Read(const std::string& body, Entry& e);
// One JUnit XML document: a test suite per report, a test case per check.
std::string Junit(const std::vector<Entry>& entries);
// "tvcollect: NAME: PASS (N pass, N warn, N fail) from PEER -> FILE"
std::string VerdictLine(const Entry& e);

}  // namespace tvcollect

#endif
