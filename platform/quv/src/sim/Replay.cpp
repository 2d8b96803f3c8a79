#include "Replay.h"

#include <algorithm>
#include <chrono>
#include <fstream>

#include <nlohmann/json.hpp>
#include <cstdlib>
#include <cstring>

namespace quvimpl {

namespace {
// The key of a command whose parameter was left out of the trace.
const char kRedacted[] = "\x01redacted";
}  // namespace

Replay::Replay(Framework& framework, const std::string& path, double speed)
    : framework_(framework), speed_(speed) {
  Trace trace = ReadTrace(path);
  for (TraceCommand& c : trace.commands) {
    if (c.redacted >= 0) c.texts[c.redacted] = kRedacted;
    replies_[c.texts].push_back(c.reply);
  }
  std::int64_t base = -1;
  for (const TraceRecord& r : trace.records) {
    if (r.kind == "execute" && base < 0) base = r.t;
    if (r.kind == "event" && r.texts.size() == 2)
      events_.push_back({base < 0 ? 0 : r.t - base, r.conn, static_cast<int>(r.type), r.texts[0],
                         r.texts[1]});
  }
  // The plan: each event's time after the first command, recorded spacing
  // divided by the speed; one log line gives it (the first few).
  std::string plan = "replay: " + path + ": " + std::to_string(events_.size()) + " events";
  if (speed_ < 0) plan += ", not raised";
  else if (!events_.empty()) plan += ", raised at (us after the first command)";
  for (std::size_t i = 0; i < events_.size() && speed_ >= 0; ++i) {
    Event& e = events_[i];
    e.due = speed_ > 0 ? static_cast<std::int64_t>(e.at / speed_) : 0;
    if (i < kPlanShown) plan += " +" + std::to_string(e.due);
  }
  if (speed_ >= 0 && events_.size() > kPlanShown) plan += " ...";
  Complain(plan);
}

Replay::~Replay() {
  {
    std::lock_guard<std::mutex> lk(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<std::string> Replay::Answer(const Texts& texts) {
  std::vector<std::string> key(texts.begin(), texts.end());
  std::lock_guard<std::mutex> lk(m_);
  // The recorded events are timed from the first command, here as there.
  if (!started_ && !events_.empty() && speed_ >= 0) thread_ = std::thread([this] { Run(); });
  started_ = true;
  auto it = replies_.find(key);
  if (it == replies_.end() && key.size() > 1) {
    key[1] = kRedacted;
    it = replies_.find(key);
  }
  if (it == replies_.end()) {
    const std::string name = texts.empty() ? std::string() : *texts.begin();
    if (unseen_.insert(name).second)
      Complain("replay: " + name + " is not in the trace with these parameters; the simulated TV answers");
    return std::nullopt;
  }
  std::string reply = it->second.front();
  if (it->second.size() > 1) it->second.pop_front();
  return reply;
}

void Replay::Run() {
  const auto start = std::chrono::steady_clock::now();
  for (const Event& e : events_) {
    std::unique_lock<std::mutex> lk(m_);
    if (e.due > 0)
      cv_.wait_until(lk, start + std::chrono::microseconds(e.due), [this] { return stop_; });
    if (stop_) return;
    lk.unlock();
    const std::vector<unsigned> to{e.conn};
    framework_.Raise(e.type, e.p1, e.p2, &to);
  }
}

namespace {
// The "replay" object of the configuration file (QUV_SIM_CONFIG):
// {"trace": PATH (relative to the file's folder), "speed": FACTOR or "none"}.
bool FromConfig(std::string* path, std::string* speed) {
  const char* config = std::getenv("QUV_SIM_CONFIG");
  if (!config || !*config) return false;
  std::ifstream in(config, std::ios::binary);
  nlohmann::json j;
  try {
    int depth = 0;
    j = nlohmann::json::parse(in, [&](int d, nlohmann::json::parse_event_t, nlohmann::json&) {
      if ((depth = std::max(depth, d)) > kTraceMaxDepth) throw std::invalid_argument("too deep");
      return true;
    });
  } catch (const std::exception&) {
    return false;  // the configuration's own reading reports it
  }
  if (!j.is_object() || !j.contains("replay")) return false;
  const nlohmann::json& r = j["replay"];
  const std::string where = std::string("simulated TV configuration ") + config + ": at /replay: ";
  if (!r.is_object() || !r.contains("trace") || !r["trace"].is_string()) {
    Complain(where + "expected {\"trace\": PATH, \"speed\": FACTOR or \"none\"}; no replay");
    return false;
  }
  *path = r["trace"].get<std::string>();
  if (!path->empty() && (*path)[0] != '/') {
    std::string folder = config;
    auto slash = folder.rfind('/');
    *path = (slash == std::string::npos ? std::string(".") : folder.substr(0, slash)) + "/" + *path;
  }
  if (r.contains("speed"))
    *speed = r["speed"].is_number() ? std::to_string(r["speed"].get<double>())
             : r["speed"].is_string() ? r["speed"].get<std::string>() : "?";
  return true;
}
}  // namespace

std::unique_ptr<Replay> Replay::FromEnvironment(Framework& framework) {
  std::string configPath, configSpeed;
  const char* path = std::getenv("QUV_SIM_REPLAY");
  const char* speedText = std::getenv("QUV_SIM_REPLAY_SPEED");
  if ((!path || !*path) && FromConfig(&configPath, &configSpeed)) {
    path = configPath.c_str();
    if (!configSpeed.empty()) speedText = configSpeed.c_str();
  }
  if (!path || !*path) return nullptr;
  double speed = 1.0;
  if (speedText && std::strcmp(speedText, "none") == 0) {
    speed = -1;  // the recorded events are not raised
  } else if (speedText && *speedText) {
    char* end = nullptr;
    speed = std::strtod(speedText, &end);
    if (*end || !(speed >= 0)) {
      Complain(std::string("QUV_SIM_REPLAY_SPEED=") + speedText +
               ": expected a factor (0: as fast as possible) or none; 1 is used");
      speed = 1.0;
    }
  }
  try {
    return std::make_unique<Replay>(framework, path, speed);
  } catch (const TraceError& e) {
    Complain(std::string(e.what()) + "; the simulated TV answers without it");
    return nullptr;
  }
}

}  // namespace quvimpl
