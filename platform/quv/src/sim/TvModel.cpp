// The simulated TV: its default state, its commands, its clock and events,
// and the reading of its configuration.
#include "TvModel.h"

#include <unicode/ustring.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <quvstub/Control.h>

namespace quvimpl {

namespace {

using nlohmann::json;

// Integer values: key, range, default, the event kind their change raises.
struct IntKey {
  const char* key;
  int lo, hi, def;
  int event;  // 0: none
};
const IntKey kIntKeys[] = {
    {"power", 0, 2, 1, kEventPower},
    {"country", 0, 255, 1, kEventCountry},
    {"language", 0, 255, 1, kEventLanguage},
    {"language_set", 0, 255, 3, 0},
    {"target_location", 0, 255, 2, 0},
    {"time_zone", 0, 63, 5, kEventTimeZone},
    {"time_zone_offset", -720, 840, 60, kEventTimeZoneOffset},
    {"dst", 0, 2, 2, kEventDst},
    {"stream_dst", 0, 1, 0, 0},
    {"auto_clock", 0, 1, 1, 0},
    {"time_set", 0, 1, 1, 0},
    {"pip", 0, 1, 0, kEventPip},
    {"pip_supported", 0, 1, 1, 0},
    {"panel_type", 0, 255, 2, 0},
    {"product_type", 0, 255, 1, 0},
    {"bd_product_type", 0, 255, 0, 0},
    {"hotel", 0, 1, 0, 0},
    {"pvr", 0, 1, 1, 0},
    {"channel_category", 0, 1, 1, 0},
    {"yahoo", 0, 1, 1, 0},
    {"channel_browser", 0, 1, 1, 0},
    {"schedule_manager", 0, 1, 1, 0},
    {"epg", 0, 1, 1, 0},
    {"guide", 0, 1, 1, 0},
    {"schedule", 0, 1, 1, 0},
    {"internet_tv", 0, 1, 0, kEventInternetTv},
    {"jorvel", 0, 1, 0, kEventJorvel},
    {"current_channel", 0, 15, 0, kEventChannel},
};

const IntKey* FindIntKey(const std::string& key) {
  for (const auto& k : kIntKeys)
    if (key == k.key) return &k;
  return nullptr;
}

// Commands that answer one integer value.
const std::map<std::string, std::string>& Getters() {
  static const std::map<std::string, std::string> m = {
      {"GetCountry", "country"},
      {"GetLanguage", "language"},
      {"GetLanguageSet", "language_set"},
      {"GetTargetLocation", "target_location"},
      {"GetDST", "dst"},
      {"GetTimeZone", "time_zone"},
      {"GetTimeZone_Offset", "time_zone_offset"},
      {"FlagAutoClock", "auto_clock"},
      {"IsTimeSet", "time_set"},
      {"FlagStreamDST", "stream_dst"},
      {"GetPIP", "pip"},
      {"GetDisplayPanelType", "panel_type"},
      {"GetProductType", "product_type"},
      {"GetBDProductType", "bd_product_type"},
      {"IsHotelProduct", "hotel"},
      {"SupportPVR", "pvr"},
      {"FlagEnableChannelCategory", "channel_category"},
      {"IsYahooAvailable", "yahoo"},
      {"IsChannelBrowserAvailable", "channel_browser"},
      {"IsScheduleManagerAvailable", "schedule_manager"},
      {"IsEPGAvailable", "epg"},
      {"IsGuideAvailable", "guide"},
      {"IsScheduleAvailable", "schedule"},
      {"GetPowerState", "power"},
  };
  return m;
}

// Commands that set one integer value from their first parameter.
const std::map<std::string, std::string>& Setters() {
  static const std::map<std::string, std::string> m = {
      {"SetCountry", "country"},
      {"SetLanguage", "language"},
      {"SetDST", "dst"},
      {"SetInternetTVState", "internet_tv"},
      {"SetJorvelState", "jorvel"},
  };
  return m;
}

constexpr int kMinDay = -7, kMaxDay = 7;  // GetProgramList's day range
constexpr std::size_t kMaxTitleBytes = 200;
constexpr std::size_t kMaxChannels = 16;

// A whole decimal int: optional '-', digits, nothing else.
bool ParseInt(const std::string& text, int* out) {
  if (text.empty() || text.size() > 11) return false;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (std::size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  errno = 0;
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

std::string I(long long v) { return "I" + std::to_string(v); }

bool ValidUtf8(const std::string& s) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = 0;
  u_strFromUTF8(nullptr, 0, &len, s.data(), static_cast<int32_t>(s.size()), &status);
  return status == U_BUFFER_OVERFLOW_ERROR || status == U_ZERO_ERROR ||
         status == U_STRING_NOT_TERMINATED_WARNING;
}

bool PrintableAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

std::string Brief(const json& v) {
  std::string s = v.dump(-1, ' ', false, json::error_handler_t::replace);
  if (s.size() > 60) s = s.substr(0, 57) + "...";
  return s;
}

std::string HourMinute(int sec) {
  char buf[16];
  if (sec % 60)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", sec / 3600, sec / 60 % 60, sec % 60);
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d", sec / 3600, sec / 60 % 60);
  return buf;
}

// "HH:MM" or "HH:MM:SS" -> seconds after midnight.
bool ParseHourMinute(const std::string& s, int* sec) {
  int h = 0, m = 0, x = 0, n = 0;
  char tail = 0;
  if (std::sscanf(s.c_str(), "%2d:%2d%n", &h, &m, &n) == 2 && static_cast<std::size_t>(n) == s.size()) {
  } else if (std::sscanf(s.c_str(), "%2d:%2d:%2d%n%c", &h, &m, &x, &n, &tail) == 3 &&
             static_cast<std::size_t>(n) == s.size()) {
  } else {
    return false;
  }
  if (s.size() < 5 || s[2] != ':' || h < 0 || h > 23 || m < 0 || m > 59 || x < 0 || x > 59)
    return false;
  *sec = h * 3600 + m * 60 + x;
  return true;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

const char* ModeName(ClockMode m) {
  switch (m) {
    case ClockMode::Real: return "real";
    case ClockMode::Fixed: return "fixed";
    case ClockMode::Accelerated: return "accelerated";
  }
  return "real";
}

// ---- reading values --------------------------------------------------------

using Problem = std::function<void(const std::string&)>;

bool ReadInt(const json& v, const IntKey& k, int* out, std::string* why) {
  long long x;
  if (v.is_boolean() && k.lo == 0 && k.hi == 1) {
    x = v.get<bool>() ? 1 : 0;
  } else if (v.is_number_integer()) {
    x = v.get<long long>();
  } else {
    *why = "expected an integer in " + std::to_string(k.lo) + ".." + std::to_string(k.hi) +
           ", got " + Brief(v);
    return false;
  }
  if (x < k.lo || x > k.hi) {
    *why = "expected an integer in " + std::to_string(k.lo) + ".." + std::to_string(k.hi) +
           ", got " + std::to_string(x);
    return false;
  }
  *out = static_cast<int>(x);
  return true;
}

bool ReadText(const json& v, std::size_t maxLen, std::string* out, std::string* why) {
  if (!v.is_string()) {
    *why = "expected a text, got " + Brief(v);
    return false;
  }
  const std::string& s = v.get_ref<const std::string&>();
  if (s.empty() || s.size() > maxLen || !PrintableAscii(s)) {
    *why = "expected 1 to " + std::to_string(maxLen) + " printable ASCII characters, got " +
           Brief(v);
    return false;
  }
  *out = s;
  return true;
}

// The programme guide; every problem is reported with its JSON pointer.
bool ReadChannels(const json& v, std::vector<Channel>* out, const std::string& at,
                  const Problem& problem) {
  if (!v.is_array() || v.empty() || v.size() > kMaxChannels) {
    problem(at + ": expected an array of 1 to " + std::to_string(kMaxChannels) +
            " channels, got " + Brief(v));
    return false;
  }
  std::vector<Channel> channels;
  bool ok = true;
  for (std::size_t c = 0; c < v.size(); ++c) {
    const std::string cat = at + "/" + std::to_string(c);
    const json& ch = v[c];
    if (!ch.is_object()) {
      problem(cat + ": expected an object with \"name\" and \"programmes\", got " + Brief(ch));
      ok = false;
      continue;
    }
    Channel channel;
    for (auto it = ch.begin(); it != ch.end(); ++it) {
      if (it.key() != "name" && it.key() != "programmes") {
        problem(cat + "/" + it.key() + ": unknown key (known: name, programmes)");
        ok = false;
      }
    }
    if (!ch.contains("name") || !ch["name"].is_string() || ch["name"].get<std::string>().empty() ||
        !ValidUtf8(ch["name"].get<std::string>())) {
      problem(cat + "/name: expected a non-empty text");
      ok = false;
    } else {
      channel.name = ch["name"].get<std::string>();
    }
    const json* ps = ch.contains("programmes") ? &ch["programmes"] : nullptr;
    if (!ps || !ps->is_array() || ps->empty()) {
      problem(cat + "/programmes: expected a non-empty array of programmes");
      ok = false;
      continue;
    }
    for (std::size_t p = 0; p < ps->size(); ++p) {
      const std::string pat = cat + "/programmes/" + std::to_string(p);
      const json& pr = (*ps)[p];
      if (!pr.is_object()) {
        problem(pat + ": expected an object with \"start\", \"minutes\" and \"title\", got " +
                Brief(pr));
        ok = false;
        continue;
      }
      for (auto it = pr.begin(); it != pr.end(); ++it) {
        if (it.key() != "start" && it.key() != "minutes" && it.key() != "title") {
          problem(pat + "/" + it.key() + ": unknown key (known: start, minutes, title)");
          ok = false;
        }
      }
      Slot slot{};
      if (!pr.contains("start") || !pr["start"].is_string() ||
          !ParseHourMinute(pr["start"].get<std::string>(), &slot.startSec)) {
        problem(pat + "/start: expected a local time of day \"HH:MM\" or \"HH:MM:SS\", got " +
                (pr.contains("start") ? Brief(pr["start"]) : std::string("nothing")));
        ok = false;
      }
      if (!pr.contains("minutes") || !pr["minutes"].is_number_integer() ||
          pr["minutes"].get<long long>() < 1 || pr["minutes"].get<long long>() > 1440) {
        problem(pat + "/minutes: expected an integer in 1..1440, got " +
                (pr.contains("minutes") ? Brief(pr["minutes"]) : std::string("nothing")));
        ok = false;
      } else {
        slot.minutes = pr["minutes"].get<int>();
      }
      if (!pr.contains("title") || !pr["title"].is_string() ||
          pr["title"].get<std::string>().empty() ||
          pr["title"].get<std::string>().size() > kMaxTitleBytes ||
          !ValidUtf8(pr["title"].get<std::string>())) {
        problem(pat + "/title: expected a text of 1 to " + std::to_string(kMaxTitleBytes) +
                " bytes of UTF-8");
        ok = false;
      } else {
        slot.title = pr["title"].get<std::string>();
      }
      if (ok && !channel.slots.empty()) {
        const Slot& prev = channel.slots.back();
        if (slot.startSec < prev.startSec + prev.minutes * 60) {
          problem(pat + "/start: overlaps the programme before it (programmes are in order of "
                        "start time, without overlap)");
          ok = false;
        }
      }
      if (ok) channel.slots.push_back(slot);
    }
    if (ok && !channel.slots.empty()) {
      const Slot& last = channel.slots.back();
      if (last.startSec + last.minutes * 60 > 86400 + channel.slots.front().startSec) {
        problem(cat + "/programmes: the last programme runs into the first one of the next day");
        ok = false;
      }
    }
    channels.push_back(std::move(channel));
  }
  if (!ok) return false;
  *out = std::move(channels);
  return true;
}

}  // namespace

// ---- default state -------------------------------------------------------------

TvState TvModel::Defaults() {
  TvState s;
  for (const auto& k : kIntKeys) s.ints[k.key] = k.def;
  s.password = "0000";
  s.productCode = "ZT-55X900";
  s.productCodeFull = "ZT55X900EUA-20260115-000417";
  s.clockMode = ClockMode::Real;
  s.clockStart = 0;
  s.clockRate = 60;
  auto hm = [](int h, int m) { return h * 3600 + m * 60; };
  s.channels = {
      {"Channel One",
       {{hm(0, 0), 360, "Night Music"},
        {hm(6, 0), 180, "Morning News"},
        {hm(9, 0), 120, "Caf\xC3\xA9 Cr\xC3\xA8me: Cuisine fran\xC3\xA7" "aise"},
        {hm(11, 0), 120, "Documentary: The \xC3\x85land Islands"},
        {hm(13, 0), 60, "Midday News"},
        {hm(14, 0), 150, "Matin\xC3\xA9" "e: Les Mis\xC3\xA9rables"},
        {hm(16, 30), 90, "Kids' Corner"},
        {hm(18, 0), 60, "Evening News"},
        {hm(19, 0), 60, "Quiz Night"},
        {hm(20, 0), 120, "Feature Film: Na\xC3\xAFve Hearts"},
        {hm(22, 0), 60, "Late News"},
        {hm(23, 0), 60, "Jazz at Midnight"}}},
      {"\xE6\x96\xB0\xE9\x97\xBB 24",  // 新闻 24
       {{hm(0, 0), 480, "\xE5\xA4\x9C\xE9\x97\xB4\xE6\x96\xB0\xE9\x97\xBB"},  // 夜间新闻
        {hm(8, 0), 240, "\xE6\x97\xA9\xE9\x97\xB4\xE6\x96\xB0\xE9\x97\xBB"},  // 早间新闻
        {hm(12, 0), 60, "\xE5\x8D\x88\xE9\x97\xB4\xE6\x96\xB0\xE9\x97\xBB"},  // 午间新闻
        {hm(13, 0), 300, "\xE8\xB4\xA2\xE7\xBB\x8F\xE8\xAF\x84\xE8\xAE\xBA"},  // 财经评论
        {hm(18, 0), 120, "\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9 7"},  // ニュース 7
        {hm(20, 0), 240, "\xEB\x89\xB4\xEC\x8A\xA4 \xED\x8A\xB9\xEB\xB3\x84\xED\x8C\x90"}}},  // 뉴스 특별판
      {"Music Box",
       {{hm(0, 0), 720, "Non-stop Hits \xF0\x9F\x8E\xB5"},  // U+1F3B5, outside the BMP
        {hm(12, 0), 360, "Classics: \xF0\x9D\x84\x9E Symphony Hour"},  // U+1D11E
        {hm(18, 0), 360, "Charts \xE2\x80\x94 Top 40"}}},  // em dash
  };
  return s;
}

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

// ---- state as JSON --------------------------------------------------------------

namespace {
json ChannelsJson(const std::vector<Channel>& channels) {
  json out = json::array();
  for (const auto& c : channels) {
    json ps = json::array();
    for (const auto& s : c.slots)
      ps.push_back({{"start", HourMinute(s.startSec)}, {"minutes", s.minutes}, {"title", s.title}});
    out.push_back({{"name", c.name}, {"programmes", ps}});
  }
  return out;
}
}  // namespace

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

// ---- configuration and set ---------------------------------------------------------

void TvModel::ApplyConfig(TvState& s, const json& config, const Problem& problem) {
  if (!config.is_object()) {
    problem("(the whole file): expected an object of settings, got " + Brief(config));
    return;
  }
  std::string why;
  // channels first: current_channel is checked against them.
  if (config.contains("channels")) {
    std::vector<Channel> channels;
    if (ReadChannels(config["channels"], &channels, "/channels", [&](const std::string& p) {
          problem(p + "; the programme guide keeps its default");
        }))
      s.channels = std::move(channels);
  }
  for (auto it = config.begin(); it != config.end(); ++it) {
    const std::string& key = it.key();
    const json& v = it.value();
    const std::string at = "/" + key;
    if (key == "channels") continue;
    if (const IntKey* k = FindIntKey(key)) {
      int x = 0;
      if (!ReadInt(v, *k, &x, &why)) {
        problem(at + ": " + why + "; the default " + std::to_string(s.ints[key]) + " stays");
      } else if (key == "current_channel" && static_cast<std::size_t>(x) >= s.channels.size()) {
        problem(at + ": channel " + std::to_string(x) + " does not exist (" +
                std::to_string(s.channels.size()) + " channels); the default " +
                std::to_string(s.ints[key]) + " stays");
      } else {
        s.ints[key] = x;
      }
    } else if (key == "password") {
      if (!ReadText(v, 32, &s.password, &why)) problem(at + ": " + why + "; the default stays");
    } else if (key == "product_code") {
      if (!ReadText(v, 255, &s.productCode, &why)) problem(at + ": " + why + "; the default stays");
    } else if (key == "product_code_full") {
      if (!ReadText(v, 255, &s.productCodeFull, &why))
        problem(at + ": " + why + "; the default stays");
    } else if (key == "clock_mode") {
      std::string m = v.is_string() ? v.get<std::string>() : "";
      if (m == "real")
        s.clockMode = ClockMode::Real;
      else if (m == "fixed")
        s.clockMode = ClockMode::Fixed;
      else if (m == "accelerated")
        s.clockMode = ClockMode::Accelerated;
      else
        problem(at + ": expected \"real\", \"fixed\" or \"accelerated\", got " + Brief(v) +
                "; the default stays");
    } else if (key == "clock_start") {
      if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > INT_MAX)
        problem(at + ": expected epoch seconds in 0..2147483647 (0: the time of start), got " +
                Brief(v) + "; the default stays");
      else
        s.clockStart = v.get<long long>();
    } else if (key == "clock_rate") {
      if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 86400)
        problem(at + ": expected an integer in 1..86400, got " + Brief(v) + "; the default stays");
      else
        s.clockRate = v.get<int>();
    } else if (key == "runtime") {
      problem(at + ": read-only (what the TV reports, not a setting); ignored");
    } else {
      problem(at + ": unknown key; ignored");
    }
  }
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
