// Fuzz target: the simulated TV's control requests and configuration file.
// The first byte chooses: 0 request lines, 1 a request from MessagePack,
// 2 configuration file bytes, 3 a configuration from MessagePack.
// Every request gets one JSON reply line whose "ok" says whether it was
// taken; a rejected one has an "error" and leaves the TV as it was. Every
// problem of a configuration file is one log line (exactly one for a file
// that is not a JSON object); the resulting state, written back as a file,
// is read without complaint and gives the same state.
#include <unistd.h>

#include <fstream>

#include <nlohmann/json.hpp>
#include <quvstub/Control.h>

#include "Fuzz.h"

using nlohmann::json;

namespace {

const char* const kCommands[] = {"event", "set", "state", "reply", "delay", "clear_replies",
                                 "journal", "clear_journal", "wait_events", "connections",
                                 "simulator", "reset", "bogus"};

json Parse(const std::string& text) { return json::parse(text, nullptr, false); }

// The TV's state without what changes with the passing of time.
json Stable() {
  json state = Parse(quvstub::ControlRequest(R"({"cmd":"state"})"))["state"];
  FUZZ_CHECK(state.is_object(), "the state request failed");
  json& runtime = state["runtime"];
  runtime.erase("now");
  runtime.erase("local_time");
  runtime.erase("on_air");
  return state;
}

// What a request may change: the state, the journal and the connections.
json Snapshot() {
  return {Stable(), Parse(quvstub::ControlRequest(R"({"cmd":"journal"})")),
          Parse(quvstub::ControlRequest(R"({"cmd":"connections"})"))};
}

// The TV as the last request left it (a rejected request leaves it unchanged).
json current;

void Request(const std::string& line) {
  const std::string reply = quvstub::ControlRequest(line);
  FUZZ_CHECK(reply.find('\n') == std::string::npos, "a reply of more than one line");
  json r = Parse(reply);
  FUZZ_CHECK(r.is_object() && r.contains("ok") && r["ok"].is_boolean(),
             "the reply is not an object with \"ok\": %s", reply.c_str());
  if (r["ok"].get<bool>()) {
    current = Snapshot();
    return;
  }
  FUZZ_CHECK(r.contains("error") && r["error"].is_string() &&
                 r["error"].get<std::string>().find_first_not_of(' ') != std::string::npos,
             "a rejection without an error text: %s", reply.c_str());
  FUZZ_CHECK(Snapshot() == current, "a rejected request (%s) changed the TV", reply.c_str());
}

std::string ConfigPath() {
  static const std::string path =
      (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) +
      "/nptv-fuzz-config-" + std::to_string(getpid()) + ".json";
  return path;
}

// Loads a configuration file (as the stand-in does on reset); its log lines.
std::vector<std::string> Load(const std::string& bytes) {
  {
    std::ofstream out(ConfigPath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  setenv("QUV_SIM_CONFIG", ConfigPath().c_str(), 1);
  quvstub::CaptureLog(true);
  quvstub::Reset();
  std::vector<std::string> lines;
  for (const auto& call : quvstub::TakeLog()) lines.push_back(call.text);
  quvstub::CaptureLog(false);
  unsetenv("QUV_SIM_CONFIG");
  return lines;
}

void Config(const std::string& bytes) {
  const std::string prefix = "libQuv: simulated TV configuration " + ConfigPath() + ": ";
  std::vector<std::string> lines = Load(bytes);
  for (const std::string& line : lines) {
    FUZZ_CHECK(line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0 &&
                   line.find('\n') == line.size() - 1,
               "not one clear line: %s", line.c_str());
  }
  json config = Parse(bytes);
  if (!config.is_object())
    FUZZ_CHECK(lines.size() == 1, "%zu lines for a file that is not a JSON object", lines.size());

  // The state reached, written back, is read without a complaint.
  json state = Stable();
  json written = state;
  written.erase("runtime");
  std::vector<std::string> again = Load(written.dump());
  FUZZ_CHECK(again.empty(), "the TV's own state was refused: %s", again[0].c_str());
  FUZZ_CHECK(Stable() == state, "the TV's own state, read back, gave another state");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static bool once = [] {
    unsetenv("QUV_SIM_CONFIG");
    unsetenv("QUV_SIM_SOCKET");
    return true;
  }();
  (void)once;
  fuzz::Reader in(data, size);
  const uint8_t mode = in.Byte() % 4;
  quvstub::Reset();
  current = Snapshot();
  if (mode == 0) {
    std::string rest = in.Rest();
    std::size_t start = 0;
    for (int n = 0; n < 16 && start <= rest.size(); ++n) {
      std::size_t end = rest.find('\n', start);
      if (end == std::string::npos) end = rest.size();
      Request(rest.substr(start, end - start));
      start = end + 1;
    }
  } else if (mode == 1) {
    const char* cmd = kCommands[in.Byte() % (sizeof kCommands / sizeof kCommands[0])];
    std::string rest = in.Rest();
    json fields = json::from_msgpack(rest, true, false);
    if (fields.is_discarded() || !fields.is_object()) fields = json::object();
    fields["cmd"] = cmd;
    Request(fields.dump(-1, ' ', false, json::error_handler_t::replace));
  } else if (mode == 2) {
    Config(in.Rest());
  } else {
    json config = json::from_msgpack(in.Rest(), true, false);
    if (!config.is_discarded()) Config(config.dump(-1, ' ', false, json::error_handler_t::replace));
  }
  quvstub::Reset();
  return 0;
}
