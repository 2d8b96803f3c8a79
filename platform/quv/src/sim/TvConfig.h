// The simulated TV's configuration vocabulary (TvConfig.cpp), shared by the
// live TV (TvModel.cpp) and tvsim's trace tools.
#ifndef QUV_SRC_SIM_TVCONFIG_H
#define QUV_SRC_SIM_TVCONFIG_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TvModel.h"

namespace quvimpl {
namespace tvconfig {

// Integer values: key, range, default, the event kind their change raises.
struct IntKey {
  const char* key;
  int lo, hi, def;
  int event;  // 0: none
};
inline constexpr IntKey kIntKeys[] = {
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

const IntKey* FindIntKey(const std::string& key);
// Commands that answer one integer value: command -> key.
const std::map<std::string, std::string>& Getters();
// Commands that set one integer value from their first parameter: command -> key.
const std::map<std::string, std::string>& Setters();

constexpr int kMinDay = -7, kMaxDay = 7;  // GetProgramList's day range

// A whole decimal int: optional '-', digits, nothing else.
bool ParseInt(const std::string& text, int* out);
// An integer reply.
std::string I(long long v);
// A value in a problem report, shortened.
std::string Brief(const nlohmann::json& v);
// Seconds after midnight as "HH:MM".
std::string HourMinute(int sec);
std::int64_t FloorDiv(std::int64_t a, std::int64_t b);
const char* ModeName(ClockMode m);

using Problem = std::function<void(const std::string&)>;
bool ReadInt(const nlohmann::json& v, const IntKey& k, int* out, std::string* why);
// The programme guide as the configuration holds it.
nlohmann::json ChannelsJson(const std::vector<Channel>& channels);

}  // namespace tvconfig
}  // namespace quvimpl

#endif
