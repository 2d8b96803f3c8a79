#include "TraceFile.h"

#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

namespace quvimpl {

namespace {

using nlohmann::json;

// A text as the recorder writes it: a JSON string, or {"base64": "..."}.
std::string Text(const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (!v.is_object() || !v.contains("base64") || !v["base64"].is_string())
    throw std::invalid_argument("a text is neither a string nor {\"base64\": ...}");
  const std::string in = v["base64"].get<std::string>();
  std::string out;
  unsigned bits = 0, n = 0;
  for (char c : in) {
    int d = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
            : c == '='             ? -2
                                   : -1;
    if (d == -1) throw std::invalid_argument("bad base64");
    if (d == -2) break;
    bits = bits << 6 | unsigned(d);
    if ((n += 6) >= 8) out += static_cast<char>((bits >> (n -= 8)) & 0xFF);
  }
  return out;
}

TraceRecord ToRecord(const json& j) {
  if (!j.is_object() || !j.contains("kind") || !j["kind"].is_string())
    throw std::invalid_argument("a record is an object with a text \"kind\"");
  TraceRecord r;
  r.kind = j["kind"].get<std::string>();
  r.t = j.value("t", std::int64_t(0));
  r.thread = j.value("thread", 0L);
  r.conn = j.value("conn", 0u);
  r.us = j.value("us", std::int64_t(-1));
  r.redacted = j.value("redacted", -1);
  r.type = j.value("type", 0LL);
  r.result = j.value("result", false);
  r.count = j.value("count", std::uint64_t(0));
  if (j.contains("texts")) {
    if (!j["texts"].is_array()) throw std::invalid_argument("\"texts\" is not a list");
    for (const json& t : j["texts"]) r.texts.push_back(Text(t));
  }
  if (j.contains("reply")) r.text = Text(j["reply"]);
  if (j.contains("text")) r.text = Text(j["text"]);
  if (r.kind == "execute" && r.texts.empty()) throw std::invalid_argument("an execute without texts");
  if (r.kind == "reply" && !j.contains("reply")) throw std::invalid_argument("a reply without \"reply\"");
  if (r.redacted >= static_cast<int>(r.texts.size())) throw std::invalid_argument("bad \"redacted\"");
  return r;
}

}  // namespace

Trace ReadTrace(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TraceError("trace " + path + ": cannot be read");
  Trace trace;
  std::map<long, std::size_t> pending;  // thread -> its execute record
  std::uint64_t total = 0;
  std::string line;
  for (std::size_t n = 1; std::getline(in, line); ++n) {
    const std::string where = "trace " + path + " line " + std::to_string(n) + ": ";
    total += line.size() + 1;
    if (line.size() > kTraceMaxLine) throw TraceError(where + "longer than 1 MiB");
    if (total > kTraceMaxBytes) throw TraceError(where + "the trace is larger than 256 MiB");
    if (in.eof()) throw TraceError(where + "cut short (no line break at its end)");
    TraceRecord r;
    try {
      int depth = 0;
      json j = json::parse(line, [&](int d, json::parse_event_t, json&) {
        if (d > depth) depth = d;
        if (depth > kTraceMaxDepth) throw std::invalid_argument("nested deeper than 32");
        return true;
      });
      r = ToRecord(j);
    } catch (const json::exception& e) {
      std::string what = e.what();
      auto at = what.find("] ");
      throw TraceError(where + (at == std::string::npos ? what : what.substr(at + 2)));
    } catch (const std::invalid_argument& e) {
      throw TraceError(where + e.what());
    }
    if (r.kind == "execute") {
      pending[r.thread] = trace.records.size();
    } else if (r.kind == "reply") {
      auto it = pending.find(r.thread);
      if (it == pending.end()) throw TraceError(where + "a reply without its command");
      const TraceRecord& e = trace.records[it->second];
      trace.commands.push_back({e.t, e.conn, e.texts, e.redacted, r.text, r.us});
      pending.erase(it);
    }
    trace.records.push_back(std::move(r));
  }
  return trace;
}

}  // namespace quvimpl
