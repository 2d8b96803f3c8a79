// tvsim trace summary|to-config TRACE: what a recorder's trace says.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/TraceFile.h"
#include "sim/TvConfig.h"

using nlohmann::json;
using quvimpl::TraceCommand;

namespace {

bool IntReply(const std::string& reply, long long* v) {
  if (reply.size() < 2 || reply[0] != 'I') return false;
  try {
    *v = std::stoll(reply.substr(1));
  } catch (...) {
    return false;
  }
  return true;
}

// A 'U' reply (UTF-16 little-endian units, the last one the terminator) as UTF-8.
std::string Utf16Text(const std::string& reply) {
  std::vector<unsigned> units;
  for (std::size_t i = 1; i + 1 < reply.size(); i += 2)
    units.push_back(static_cast<unsigned char>(reply[i]) | static_cast<unsigned char>(reply[i + 1]) << 8);
  if (!units.empty()) units.pop_back();
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    unsigned c = units[i];
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 63))};
    } else if (c < 0x10000) {
      out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 63)),
              static_cast<char>(0x80 | (c & 63))};
    } else {
      out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 63)),
              static_cast<char>(0x80 | (c >> 6 & 63)), static_cast<char>(0x80 | (c & 63))};
    }
  }
  return out;
}

int Summary(const quvimpl::Trace& trace) {
  std::map<std::string, std::vector<std::int64_t>> latency;
  std::map<std::string, int> errors;
  for (const TraceCommand& c : trace.commands) {
    latency[c.texts[0]].push_back(c.us);
    if (!c.reply.empty() && c.reply[0] == 'E') ++errors[c.texts[0]];
  }
  std::map<std::string, int> events;
  std::uint64_t dropped = 0;
  int connections = 0;
  for (const auto& r : trace.records) {
    if (r.kind == "event")
      ++events["type " + std::to_string(r.type) +
               (r.type == 0 && !r.texts.empty() ? ", param1 " + r.texts[0] : "")];
    if (r.kind == "dropped") dropped += r.count;
    if (r.kind == "construct") ++connections;
  }
  std::printf("%zu commands on %d connections; %zu records dropped by the recorder\n",
              trace.commands.size(), connections, static_cast<std::size_t>(dropped));
  std::printf("%-28s %7s %7s %10s %10s\n", "command", "count", "errors", "median us", "p99 us");
  for (auto& entry : latency) {
    const std::string& name = entry.first;
    auto& us = entry.second;
    std::sort(us.begin(), us.end());
    auto at = [&us](double q) { return us[std::min(us.size() - 1, static_cast<std::size_t>(q * us.size()))]; };
    std::printf("%-28s %7zu %7d %10lld %10lld\n", name.c_str(), us.size(), errors[name],
                static_cast<long long>(at(0.5)), static_cast<long long>(at(0.99)));
  }
  std::printf("events:\n");
  for (const auto& [what, n] : events) std::printf("  %-40s %d\n", what.c_str(), n);
  return 0;
}

// The state the recorded TV answered, as a configuration of the simulated TV.
int ToConfig(const quvimpl::Trace& trace) {
  using namespace quvimpl::tvconfig;
  json config = json::object();
  long long v = 0;
  struct Prog {
    long long start = -1, seconds = -1;
    std::string title;
    bool hasTitle = false;
  };
  std::map<int, std::map<int, Prog>> guide;  // channel -> index -> programme (day 0)
  std::map<unsigned, std::pair<int, int>> selected;  // connection -> (channel, day)
  long long presentStart = -1;
  for (const TraceCommand& c : trace.commands) {
    const std::string& cmd = c.texts[0];
    const std::string& reply = c.reply;
    int p1 = 0, p2 = 0;
    bool hasP1 = c.texts.size() > 1 && ParseInt(c.texts[1], &p1);
    bool hasP2 = c.texts.size() > 2 && ParseInt(c.texts[2], &p2);
    auto g = Getters().find(cmd);
    if (g != Getters().end() && IntReply(reply, &v) && !config.contains(g->second)) config[g->second] = v;
    if (cmd == "GetProductCode" && hasP1 && reply.size() >= 1 && reply[0] == 'A') {
      const char* key = p1 ? "product_code_full" : "product_code";
      if (!config.contains(key)) config[key] = reply.substr(1, reply.find('\0', 1) - 1);
    }
    if (cmd == "CheckPIP" && hasP1 && p1 == 1 && IntReply(reply, &v) && !config.contains("pip_supported"))
      config["pip_supported"] = v;
    // The password only when the trace kept it (NPTV_QUV_TRACE_SECRETS=1).
    if (cmd == "IsValidPassword" && c.redacted < 0 && c.texts.size() > 1 && reply == "I1")
      config["password"] = c.texts[1];
    if (cmd == "GetPresentProgram_StartTime" && IntReply(reply, &v) && presentStart < 0) presentStart = v;
    if (cmd == "GetProgramList" && hasP1 && hasP2 && reply == "I1") selected[c.conn] = {p1, p2};
    auto sel = selected.find(c.conn);
    if (cmd.rfind("GetProgram_", 0) == 0 && hasP1 && sel != selected.end() && sel->second.second == 0) {
      Prog& p = guide[sel->second.first][p1];
      if (cmd == "GetProgram_StartTime" && IntReply(reply, &v)) p.start = v;
      if (cmd == "GetProgram_Duration" && IntReply(reply, &v)) p.seconds = v;
      if (cmd == "GetProgram_Title" && !reply.empty() && reply[0] == 'U') {
        p.title = Utf16Text(reply);
        p.hasTitle = true;
      }
    }
  }
  const int dst = config.value("dst", 0);
  const int offset = config.value("time_zone_offset", 0) * 60 +
                     ((dst == 1 || (dst == 2 && config.value("stream_dst", 0) == 1)) ? 3600 : 0);
  std::vector<quvimpl::Channel> channels;
  for (int ch = 0; guide.count(ch); ++ch) {
    quvimpl::Channel channel{"Channel " + std::to_string(ch + 1), {}};
    for (const auto& [index, p] : guide[ch]) {
      if (p.start < 0 || p.seconds <= 0 || !p.hasTitle) continue;
      int local = static_cast<int>(((p.start + offset) % 86400 + 86400) % 86400);
      channel.slots.push_back({local, static_cast<int>(p.seconds / 60), p.title});
    }
    if (channel.slots.empty()) break;
    channels.push_back(std::move(channel));
  }
  if (!channels.empty()) config["channels"] = ChannelsJson(channels);
  if (config.contains("current_channel") && config["current_channel"].get<int>() >= static_cast<int>(channels.size()))
    config.erase("current_channel");
  if (presentStart >= 0) {
    config["clock_mode"] = "fixed";  // stands still within the programme the TV had on air
    config["clock_start"] = presentStart;
  }
  std::cout << config.dump(2) << "\n";
  return 0;
}

}  // namespace

// tvsim trace summary|to-config TRACE. Exit status 0, 2 for bad usage or a
// trace that cannot be read (one line naming the line of the trace).
int TraceCommand(const std::vector<std::string>& args) {
  if (args.size() != 3 || (args[1] != "summary" && args[1] != "to-config")) {
    std::cerr << "tvsim: usage: tvsim trace summary|to-config TRACE\n";
    return 2;
  }
  try {
    quvimpl::Trace trace = quvimpl::ReadTrace(args[2]);
    return args[1] == "summary" ? Summary(trace) : ToConfig(trace);
  } catch (const quvimpl::TraceError& e) {
    std::cerr << "tvsim: " << e.what() << "\n";
    return 2;
  }
}
