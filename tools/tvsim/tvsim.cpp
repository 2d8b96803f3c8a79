// tvsim: the simulated TV's control protocol for people.
//
//   tvsim [--socket PATH] [--json] COMMAND [ARGS...]
//
// The socket path comes from --socket or QUV_SIM_SOCKET. Exit codes: 0 the TV
// answered ok, 1 it answered ok:false, 2 bad usage, 3 no connection.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BoundedJson.h"
#include "SimSocket.h"

using nlohmann::json;

int TraceCommand(const std::vector<std::string>& args);  // Trace.cpp: reads a file, no socket

namespace {

const char* kUsage =
    "usage: tvsim [--socket PATH] [--json] [--timeout SECONDS] COMMAND [ARGS...]\n"
    "\n"
    "  event TYPE [PARAM1 [PARAM2]]   raise an event now to every open connection\n"
    "  set KEY VALUE                  change the TV (VALUE is JSON, or else a text)\n"
    "  state [KEY]                    the TV's state (or one key of it)\n"
    "  journal                        the commands the TV received\n"
    "  clear-journal                  forget them\n"
    "  reply COMMAND REPLY [TIMES]    force the reply to COMMAND (TIMES < 0: until cleared)\n"
    "  reply-hex COMMAND HEX [TIMES]  the same, the reply given as hex bytes\n"
    "  delay COMMAND MS               delay every reply to COMMAND (0 removes)\n"
    "  clear-replies                  remove forced replies and delays\n"
    "  wait                           until every event raised so far was delivered\n"
    "  connections                    the framework connections of the process\n"
    "  simulator on|off               answer commands from the TV, or \"E\" for all\n"
    "  reset                          the TV back to its configured state\n"
    "  raw JSON                       send one request line as it is\n"
    "  trace summary TRACE            a recorder's trace: commands, latency, events, drops\n"
    "  trace to-config TRACE          the recorded TV as a simulated-TV configuration\n"
    "\n"
    "The socket path comes from --socket or the environment variable QUV_SIM_SOCKET.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "tvsim: " << problem << "\n\n";
  std::cerr << kUsage;
  return 2;
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// Builds the request from the command line; empty with `problem` set on error.
json Request(const std::vector<std::string>& a, std::string* problem) {
  auto need = [&](std::size_t lo, std::size_t hi) {
    if (a.size() - 1 < lo || a.size() - 1 > hi) {
      *problem = "\"" + a[0] + "\" takes " +
                 (lo == hi ? std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi)) +
                 " argument(s)";
      return false;
    }
    return true;
  };
  auto integer = [&](const std::string& s, const char* what, long long lo, long long hi,
                     long long* out) {
    if (!ParseInt(s, lo, hi, out)) {
      *problem = std::string(what) + " must be an integer, not \"" + s + "\"";
      return false;
    }
    return true;
  };
  const std::string& c = a[0];
  long long n = 0;
  if (c == "event") {
    if (!need(1, 3) || !integer(a[1], "TYPE", INT_MIN, INT_MAX, &n)) return {};
    return {{"cmd", "event"},
            {"type", n},
            {"param1", a.size() > 2 ? a[2] : ""},
            {"param2", a.size() > 3 ? a[3] : ""}};
  }
  if (c == "set") {
    if (!need(2, 2)) return {};
    std::string notJson;
    json value = nptvjson::Parse(a[2], &notJson);
    if (value.is_discarded()) value = a[2];  // a plain text
    return {{"cmd", "set"}, {"key", a[1]}, {"value", value}};
  }
  if (c == "state") return need(0, 1) ? json{{"cmd", "state"}} : json{};
  if (c == "journal") return need(0, 0) ? json{{"cmd", "journal"}} : json{};
  if (c == "clear-journal") return need(0, 0) ? json{{"cmd", "clear_journal"}} : json{};
  if (c == "clear-replies") return need(0, 0) ? json{{"cmd", "clear_replies"}} : json{};
  if (c == "wait") return need(0, 0) ? json{{"cmd", "wait_events"}} : json{};
  if (c == "connections") return need(0, 0) ? json{{"cmd", "connections"}} : json{};
  if (c == "reset") return need(0, 0) ? json{{"cmd", "reset"}} : json{};
  if (c == "reply" || c == "reply-hex") {
    if (!need(2, 3)) return {};
    long long times = -1;
    if (a.size() > 3 && !integer(a[3], "TIMES", INT_MIN, INT_MAX, &times)) return {};
    return {{"cmd", "reply"},
            {"command", a[1]},
            {c == "reply" ? "reply" : "reply_hex", a[2]},
            {"times", times}};
  }
  if (c == "delay") {
    if (!need(2, 2) || !integer(a[2], "MS", 0, 600000, &n)) return {};
    return {{"cmd", "delay"}, {"command", a[1]}, {"ms", n}};
  }
  if (c == "simulator") {
    if (!need(1, 1)) return {};
    if (a[1] != "on" && a[1] != "off") {
      *problem = "simulator takes on or off";
      return {};
    }
    return {{"cmd", "simulator"}, {"on", a[1] == "on"}};
  }
  *problem = "unknown command \"" + c + "\"";
  return {};
}

// Prints the reply for people.
void Show(const std::string& command, const std::vector<std::string>& args, const json& reply) {
  if (!reply.value("ok", false)) {
    std::cerr << "tvsim: the TV says: " << reply.value("error", std::string("(no reason given)"))
              << "\n";
    return;
  }
  const auto dump = [](const json& j) {
    return j.dump(2, ' ', false, json::error_handler_t::replace);
  };
  if (command == "journal") {
    std::size_t i = 0;
    for (const auto& e : reply["journal"]) {
      std::cout << ++i << "  connection " << e["connection"].get<unsigned>() << ":";
      for (const auto& t : e["texts"]) std::cout << " " << t.dump(-1, ' ', false, json::error_handler_t::replace);
      std::cout << "\n";
    }
    if (i == 0) std::cout << "(no commands)\n";
  } else if (command == "state") {
    const json& st = reply["state"];
    if (!args.empty()) {
      if (st.contains(args[0]))
        std::cout << dump(st[args[0]]) << "\n";
      else if (st.contains("runtime") && st["runtime"].contains(args[0]))
        std::cout << dump(st["runtime"][args[0]]) << "\n";
      else
        std::cerr << "tvsim: the state has no key \"" << args[0] << "\"\n";
    } else {
      std::cout << dump(st) << "\n";
    }
  } else if (command == "connections") {
    for (const auto& c : reply["connections"])
      std::cout << c["id"].get<unsigned>() << "  " << (c["open"].get<bool>() ? "open  " : "closed")
                << "  " << dump(c["credential"]) << "\n";
    if (reply["connections"].empty()) std::cout << "(no connections)\n";
  } else if (command == "event") {
    std::cout << "queued for " << reply["queued"].get<unsigned long long>() << " connection(s)\n";
  } else if (command != "raw") {
    std::cout << "ok\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath;
  if (const char* env = std::getenv("QUV_SIM_SOCKET")) socketPath = env;
  bool rawJson = false;
  long long timeout = 30;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--socket" && i + 1 < argc) {
      socketPath = argv[++i];
    } else if (a.rfind("--socket=", 0) == 0) {
      socketPath = a.substr(9);
    } else if (a == "--json") {
      rawJson = true;
    } else if (a == "--timeout" && i + 1 < argc) {
      if (!ParseInt(argv[++i], 1, 3600, &timeout)) return Usage("--timeout takes 1 to 3600 seconds");
    } else if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (a.rfind("--", 0) == 0) {
      return Usage("unknown option " + a);
    } else {
      break;
    }
  }
  if (i >= argc) return Usage("no command given");
  std::vector<std::string> args(argv + i, argv + argc);
  const std::string command = args[0];
  if (command == "trace") return TraceCommand(args);

  std::string line;
  if (command == "raw") {
    if (args.size() != 2) return Usage("raw takes one JSON request");
    line = args[1];
  } else {
    std::string problem;
    json req = Request(args, &problem);
    if (req.is_null()) return Usage(problem);
    line = req.dump();
  }
  if (socketPath.empty()) return Usage("no socket: give --socket PATH or set QUV_SIM_SOCKET");

  SimSocket sim(socketPath);
  sim.SetTimeout(static_cast<long>(timeout));
  std::string in, error;
  if (!sim.Request(line, in, error)) {
    std::cerr << "tvsim: " << error
              << (error.rfind("cannot connect", 0) == 0
                      ? " (is a process with the simulated TV running, with QUV_SIM_SOCKET set?)"
                      : "")
              << "\n";
    return 3;
  }
  json reply = nptvjson::Parse(in, &error);
  if (reply.is_discarded()) {
    std::cerr << "tvsim: the reply is not JSON (" << error << "): " << in.substr(0, 200) << "\n";
    return 3;
  }
  if (rawJson || command == "raw")
    std::cout << in << "\n";
  if (!rawJson) Show(command, std::vector<std::string>(args.begin() + 1, args.end()), reply);
  return reply.is_object() && reply.value("ok", false) ? 0 : 1;
}
