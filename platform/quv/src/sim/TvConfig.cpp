// The simulated TV's configuration: the keys and their ranges, the commands
// that read and set them, the default state, and the reading of a
// configuration (file or request) into a state. The live TV (TvModel.cpp)
// and tvsim's trace tools use these.
#include "TvConfig.h"

#include <unicode/ustring.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace quvimpl {
namespace tvconfig {

using nlohmann::json;

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

}  // namespace tvconfig

using namespace tvconfig;
using nlohmann::json;

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
    if (key == "channels" || key == "replay") continue;  // replay: read by sim/Replay.cpp
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

}  // namespace quvimpl
