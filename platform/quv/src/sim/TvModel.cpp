// The live simulated TV: its commands, its clock and events, its state as
// JSON and changes to it. The configuration (keys, defaults, reading) is in
// TvConfig.cpp.
#include "TvModel.h"
#include "TvConfig.h"

#include <unicode/ustring.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <quvstub/Control.h>

namespace quvimpl {

using namespace tvconfig;
using nlohmann::json;

TvModel::TvModel(Raiser raise, IsOpen isOpen)
    : raise_(std::move(raise)), isOpen_(std::move(isOpen)) {
  Load(Defaults());
}

void TvModel::Load(const TvState& state) {
  std::lock_guard<std::mutex> lk(m_);
  s_ = state;
  if (s_.clockMode != ClockMode::Real && s_.clockStart == 0) s_.clockStart = std::time(nullptr);
  clockBase_ = std::chrono::steady_clock::now();
  subscriptions_.clear();
  selections_.clear();
  appInfo_.clear();
  onAirStart_.reset();
  TrackProgrammeLocked(false);
}

void TvModel::Forget(unsigned connection) {
  std::lock_guard<std::mutex> lk(m_);
  subscriptions_.erase(connection);
  selections_.erase(connection);
  appInfo_.erase(connection);
}

// ---- clock and guide -------------------------------------------------------------

std::int64_t TvModel::NowLocked() {
  switch (s_.clockMode) {
    case ClockMode::Real:
      return std::time(nullptr);
    case ClockMode::Fixed:
      return s_.clockStart;
    case ClockMode::Accelerated: {
      auto real = std::chrono::steady_clock::now() - clockBase_;
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(real).count();
      return s_.clockStart + ms * s_.clockRate / 1000;
    }
  }
  return std::time(nullptr);
}

int TvModel::OffsetSecondsLocked() {
  const int dst = s_.ints["dst"];
  const bool dstOn = dst == 1 || (dst == 2 && s_.ints["stream_dst"] == 1);
  return s_.ints["time_zone_offset"] * 60 + (dstOn ? 3600 : 0);
}

std::vector<Programme> TvModel::DayListLocked(int channel, int day) {
  std::vector<Programme> out;
  if (channel < 0 || static_cast<std::size_t>(channel) >= s_.channels.size()) return out;
  const std::int64_t off = OffsetSecondsLocked();
  const std::int64_t localMidnight = FloorDiv(NowLocked() + off, 86400) * 86400 + day * 86400LL;
  for (const Slot& slot : s_.channels[static_cast<std::size_t>(channel)].slots) {
    std::int64_t start = localMidnight + slot.startSec - off;
    out.push_back({start, start + slot.minutes * 60LL, slot.title});
  }
  return out;
}

std::optional<Programme> TvModel::OnAirLocked(int* dayOut, int* indexOut) {
  const std::int64_t now = NowLocked();
  const int channel = s_.ints["current_channel"];
  for (int day : {0, -1}) {
    auto list = DayListLocked(channel, day);
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i].start <= now && now < list[i].end) {
        if (dayOut) *dayOut = day;
        if (indexOut) *indexOut = static_cast<int>(i);
        return list[i];
      }
    }
  }
  return std::nullopt;
}

void TvModel::TrackProgrammeLocked(bool raise) {
  int index = -1;
  auto p = OnAirLocked(nullptr, &index);
  std::optional<std::int64_t> start;
  if (p) start = p->start;
  if (start == onAirStart_) return;
  onAirStart_ = start;
  if (raise) RaiseLocked(kEventProgramme, std::to_string(index));
}

std::optional<std::chrono::steady_clock::time_point> TvModel::Tick() {
  std::lock_guard<std::mutex> lk(m_);
  TrackProgrammeLocked(true);
  if (s_.clockMode == ClockMode::Fixed) return std::nullopt;
  // The next boundary of the current channel: the end of the programme on
  // air, or the start of the next one.
  const std::int64_t now = NowLocked();
  std::int64_t next = now + 86400;
  for (int day : {-1, 0, 1}) {
    for (const auto& p : DayListLocked(s_.ints["current_channel"], day)) {
      if (p.start > now && p.start < next) next = p.start;
      if (p.end > now && p.end < next) next = p.end;
    }
  }
  const std::int64_t rate = s_.clockMode == ClockMode::Accelerated ? s_.clockRate : 1;
  // Milliseconds of real time until then; looked at again at least every
  // minute so that a changed system clock is noticed.
  std::int64_t ms = (next - now) * 1000 / rate + 1;
  if (ms > 60000) ms = 60000;
  if (ms < 1) ms = 1;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

std::string TvModel::LocalTimeLocked(std::int64_t epoch) {
  std::time_t t = static_cast<std::time_t>(epoch + OffsetSecondsLocked());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// ---- changes and events ---------------------------------------------------------------

void TvModel::RaiseLocked(int kind, const std::string& value) {
  std::vector<unsigned> to;
  for (const auto& [conn, kinds] : subscriptions_)
    if (kinds.count(kind)) to.push_back(conn);
  if (!to.empty()) raise_(to, kind, value);
}

void TvModel::ChangeLocked(const std::string& key, int value) {
  int& slot = s_.ints[key];
  if (slot == value) return;
  slot = value;
  const IntKey* k = FindIntKey(key);
  if (k && k->event) RaiseLocked(k->event, std::to_string(value));
  TrackProgrammeLocked(true);  // zone, DST and channel move the programme on air
}

// ---- commands --------------------------------------------------------------------

std::string TvModel::Answer(unsigned connection, const Texts& texts) {
  if (texts.empty() || !isOpen_(connection)) return "E";
  std::lock_guard<std::mutex> lk(m_);
  const std::string& cmd = texts[0];
  auto arg = [&](std::size_t i, int* v) { return i < texts.size() && ParseInt(texts[i], v); };
  int a = 0, b = 0;

  auto g = Getters().find(cmd);
  if (g != Getters().end()) return I(s_.ints[g->second]);

  auto st = Setters().find(cmd);
  if (st != Setters().end()) {
    const IntKey* k = FindIntKey(st->second);
    if (!arg(1, &a) || a < k->lo || a > k->hi) return "E";
    ChangeLocked(k->key, a);
    return "I1";
  }

  if (cmd == "SetTimeZone") {
    const IntKey* z = FindIntKey("time_zone");
    const IntKey* o = FindIntKey("time_zone_offset");
    if (!arg(1, &a) || !arg(2, &b) || a < z->lo || a > z->hi || b < o->lo || b > o->hi) return "E";
    ChangeLocked("time_zone", a);
    ChangeLocked("time_zone_offset", b);
    return "I1";
  }
  if (cmd == "CheckPIP" || cmd == "SetPIP") {
    if (!arg(1, &a) || a < 0 || a > 1) return "E";
    const bool possible = a == 0 || s_.ints["pip_supported"] == 1;
    if (cmd == "CheckPIP" || !possible) return possible ? "I1" : "I0";
    ChangeLocked("pip", a);
    return "I1";
  }
  if (cmd == "SetEvent" || cmd == "UnsetEvent") {
    if (!arg(1, &a) || a < kEventFirst || a > kEventLast) return "E";
    if (cmd == "SetEvent")
      subscriptions_[connection].insert(a);
    else
      subscriptions_[connection].erase(a);
    return "I1";
  }
  if (cmd == "IsValidPassword") return texts.size() > 1 && texts[1] == s_.password ? "I1" : "I0";
  if (cmd == "GetProductCode") {
    if (!arg(1, &a) || a < 0 || a > 1) return "E";
    return "A" + (a ? s_.productCodeFull : s_.productCode);
  }
  if (cmd == "ConvertEpochToLocalTime") {
    if (!arg(1, &a)) return "E";
    return "A" + LocalTimeLocked(a);
  }
  if (cmd == "SetAppInfo") {
    appInfo_[connection] = std::vector<std::string>(texts.begin() + 1, texts.end());
    return "I1";
  }

  // The programme on air.
  if (cmd.rfind("GetPresentProgram_", 0) == 0) {
    auto p = OnAirLocked();
    if (!p) return "E";
    if (cmd == "GetPresentProgram_StartTime") return I(p->start);
    if (cmd == "GetPresentProgram_EndTime") return I(p->end);
    if (cmd == "GetPresentProgram_Duration") return I(p->end - p->start);
    if (cmd == "GetPresentProgram_Title") return quvstub::Utf16Reply(p->title);
    return "E";
  }

  // The list selected by GetProgramList(channel, day).
  if (cmd == "GetProgramList") {
    if (!arg(1, &a) || !arg(2, &b)) return "E";
    if (a < 0 || static_cast<std::size_t>(a) >= s_.channels.size() || b < kMinDay || b > kMaxDay)
      return "E";
    selections_[connection] = {a, b, DayListLocked(a, b)};
    return "I1";
  }
  if (cmd == "GetProgramList_Size") {
    auto it = selections_.find(connection);
    return I(it == selections_.end() ? 0 : static_cast<long long>(it->second.list.size()));
  }
  if (cmd.rfind("GetProgram_", 0) == 0) {
    auto it = selections_.find(connection);
    if (!arg(1, &a) || it == selections_.end() || a < 0 ||
        static_cast<std::size_t>(a) >= it->second.list.size())
      return "E";
    const Programme& p = it->second.list[static_cast<std::size_t>(a)];
    if (cmd == "GetProgram_StartTime") return I(p.start);
    if (cmd == "GetProgram_EndTime") return I(p.end);
    if (cmd == "GetProgram_Duration") return I(p.end - p.start);
    if (cmd == "GetProgram_Title") return quvstub::Utf16Reply(p.title);
    return "E";
  }
  return "E";  // not a command of this TV
}

json TvModel::StateJson() {
  std::lock_guard<std::mutex> lk(m_);
  json j = json::object();
  for (const auto& k : kIntKeys) j[k.key] = s_.ints[k.key];
  j["password"] = s_.password;
  j["product_code"] = s_.productCode;
  j["product_code_full"] = s_.productCodeFull;
  j["clock_mode"] = ModeName(s_.clockMode);
  j["clock_start"] = s_.clockStart;
  j["clock_rate"] = s_.clockRate;
  j["channels"] = ChannelsJson(s_.channels);

  json rt = json::object();
  const std::int64_t now = NowLocked();
  rt["now"] = now;
  rt["local_time"] = LocalTimeLocked(now);
  int day = 0, index = -1;
  auto p = OnAirLocked(&day, &index);
  if (p)
    rt["on_air"] = {{"channel", s_.ints["current_channel"]}, {"day", day}, {"index", index},
                    {"start", p->start},  {"end", p->end},     {"title", p->title}};
  else
    rt["on_air"] = nullptr;
  json subs = json::object();
  for (const auto& [conn, kinds] : subscriptions_)
    if (!kinds.empty()) subs[std::to_string(conn)] = kinds;
  rt["subscriptions"] = subs;
  json sel = json::object();
  for (const auto& [conn, s] : selections_)
    sel[std::to_string(conn)] = {{"channel", s.channel}, {"day", s.day}, {"size", s.list.size()}};
  rt["selections"] = sel;
  json info = json::object();
  for (const auto& [conn, texts] : appInfo_) info[std::to_string(conn)] = texts;
  rt["app_info"] = info;
  j["runtime"] = rt;
  return j;
}

std::string TvModel::Set(const std::string& key, const json& value) {
  std::unique_lock<std::mutex> lk(m_);
  std::string why;
  if (const IntKey* k = FindIntKey(key)) {
    int x = 0;
    if (!ReadInt(value, *k, &x, &why)) return key + ": " + why;
    if (key == "current_channel" && static_cast<std::size_t>(x) >= s_.channels.size())
      return key + ": channel " + std::to_string(x) + " does not exist (" +
             std::to_string(s_.channels.size()) + " channels)";
    ChangeLocked(key, x);
    return "";
  }
  if (key == "now") {
    if (!value.is_number_integer() || value.get<long long>() < 0 ||
        value.get<long long>() > INT_MAX)
      return "now: expected epoch seconds in 0..2147483647, got " + Brief(value);
    if (s_.clockMode == ClockMode::Real)
      return "now: the clock follows real time; set clock_mode to \"fixed\" or \"accelerated\" "
             "first";
    s_.clockStart = value.get<long long>();
    clockBase_ = std::chrono::steady_clock::now();
    TrackProgrammeLocked(true);
    return "";
  }
  if (key == "runtime") return "runtime: read-only";
  // Every other key goes through the configuration reader.
  json one = json::object();
  one[key] = value;
  TvState next = s_;
  std::string problems;
  ApplyConfig(next, one, [&](const std::string& p) {
    if (problems.empty()) problems = p.substr(1);  // without the leading '/'
  });
  if (!problems.empty()) {
    // The reader says what stays; for set, nothing changes.
    auto cut = problems.find("; the default");
    if (cut != std::string::npos) problems.erase(cut);
    return problems;
  }
  if (key == "clock_mode" || key == "clock_start" || key == "clock_rate") {
    // Restart the clock from the TV's present time unless a start was given.
    const std::int64_t now = NowLocked();
    if (key != "clock_start") next.clockStart = now;
    if (next.clockMode != ClockMode::Real && next.clockStart == 0) next.clockStart = now;
    clockBase_ = std::chrono::steady_clock::now();
  }
  if (key == "channels" &&
      static_cast<std::size_t>(next.ints["current_channel"]) >= next.channels.size())
    next.ints["current_channel"] = 0;
  s_ = std::move(next);
  if (key == "channels") selections_.clear();
  TrackProgrammeLocked(true);
  return "";
}

}  // namespace quvimpl
