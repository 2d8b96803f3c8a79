#include "Report.h"

#include <BoundedJson.h>

#include <sstream>

namespace tvcollect {

using Json = nlohmann::json;

namespace {

std::string Text(const Json& j, const char* key, std::size_t max) {
  if (!j.is_object() || !j.contains(key)) return "";
  const Json& v = j[key];
  std::string s = v.is_string() ? v.get<std::string>() : v.is_null() ? "" : v.dump(-1, ' ', false, Json::error_handler_t::replace);
  return s.size() > max ? s.substr(0, max) : s;
}

bool Verdict(const std::string& v) { return v == "pass" || v == "warn" || v == "fail" || v == "skip"; }

// XML text: markup escaped, characters XML cannot hold dropped.
std::string Xml(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
    else out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

std::string Read(const std::string& body, Entry& e) {
  std::string error;
  Json j = nptvjson::Parse(body, &error);
  if (j.is_discarded()) return "not JSON: " + error;
  if (!j.is_object() || Text(j, "format", 50) != "nptv-selftest-1") return "not a self-test report (format)";
  e.verdict = Text(j, "verdict", 10);
  if (e.verdict != "pass" && e.verdict != "warn" && e.verdict != "fail") return "no verdict";
  if (!j.contains("checks") || !j["checks"].is_array()) return "no checks";
  if (j["checks"].size() > kMaxChecks) return "more than " + std::to_string(kMaxChecks) + " checks";
  for (const Json& c : j["checks"]) {
    Check k{Text(c, "name", 200), Text(c, "verdict", 10), Text(c, "why", kMaxText), Text(c, "answer", kMaxText)};
    if (k.name.empty() || !Verdict(k.verdict)) return "a check without a name or a verdict";
    e.checks.push_back(k);
  }
  e.tv = j.contains("tv") ? Text(j["tv"], "name", 200) : "";
  if (e.tv.empty()) e.tv = "(unnamed TV)";
  e.json = j.dump(1, ' ', false, Json::error_handler_t::replace);
  return "";
}

std::string Junit(const std::vector<Entry>& entries) {
  std::ostringstream x;
  x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"nptv self-test\">\n";
  for (const Entry& e : entries) {
    int fails = 0, skips = 0;
    for (const Check& c : e.checks) {
      fails += c.verdict == "fail";
      skips += c.verdict == "skip";
    }
    x << " <testsuite name=\"" << Xml(e.tv + " (" + e.file + ")") << "\" tests=\"" << e.checks.size()
      << "\" failures=\"" << fails << "\" errors=\"0\" skipped=\"" << skips << "\">\n";
    for (const Check& c : e.checks) {
      x << "  <testcase classname=\"" << Xml(e.tv) << "\" name=\"" << Xml(c.name) << "\">";
      std::string what = Xml(c.why + (c.answer.empty() ? "" : " (answer " + c.answer + ")"));
      if (c.verdict == "fail") x << "<failure message=\"" << what << "\"/>";
      else if (c.verdict == "skip") x << "<skipped message=\"" << what << "\"/>";
      else if (c.verdict == "warn") x << "<system-out>WARN: " << what << "</system-out>";
      x << "</testcase>\n";
    }
    x << " </testsuite>\n";
  }
  x << "</testsuites>\n";
  return x.str();
}

std::string VerdictLine(const Entry& e) {
  int n[3] = {0, 0, 0};
  for (const Check& c : e.checks) n[c.verdict == "pass" ? 0 : c.verdict == "warn" ? 1 : c.verdict == "fail" ? 2 : 0] +=
      c.verdict != "skip";
  std::string v = e.verdict;
  for (char& ch : v) ch = static_cast<char>(ch - 32);
  std::string line = "tvcollect: " + e.tv + ": " + v + " (" + std::to_string(n[0]) + " pass, " +
                     std::to_string(n[1]) + " warn, " + std::to_string(n[2]) + " fail) from " + e.peer +
                     " -> " + e.file;
  for (const Check& c : e.checks)
    if (c.verdict == "fail" || c.verdict == "warn")
      line += "\n  " + std::string(c.verdict == "fail" ? "FAIL " : "warn ") + c.name + ": " + c.why;
  std::string out;
  for (unsigned char c : line) out += (c < 0x20 && c != '\n') ? ' ' : static_cast<char>(c);
  return out;
}

}  // namespace tvcollect
