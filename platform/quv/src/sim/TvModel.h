// The simulated TV's state and the commands it answers.
//
// Everything here is guarded by the model's own mutex; events are handed to
// the framework (which queues them for its thread) and never delivered from
// the caller's thread.
#ifndef QUV_SRC_SIM_TVMODEL_H
#define QUV_SRC_SIM_TVMODEL_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../Texts.h"

namespace quvimpl {

// One programme of a channel's daily schedule.
struct Slot {
  int startSec;  // seconds after local midnight, 0..86399
  int minutes;   // > 0
  std::string title;  // UTF-8
};

struct Channel {
  std::string name;
  std::vector<Slot> slots;  // ascending, non-overlapping, repeats every day
};

// A programme placed on the time line.
struct Programme {
  std::int64_t start, end;  // epoch seconds
  std::string title;
};

enum class ClockMode { Real, Fixed, Accelerated };

// Every value the TV keeps. The integer values are looked up by key name in
// a table (TvModel.cpp) that also holds their ranges and event kinds.
struct TvState {
  std::map<std::string, int> ints;
  std::string password;
  std::string productCode, productCodeFull;
  ClockMode clockMode = ClockMode::Real;
  std::int64_t clockStart = 0;  // fixed/accelerated: where the clock starts (0: real time)
  int clockRate = 60;           // accelerated: TV seconds per real second
  std::vector<Channel> channels;
};

// Event kinds (the values of SetEvent/UnsetEvent); param1 of an event is the
// kind as decimal text, param2 the new value.
enum EventKind {
  kEventPower = 1,
  kEventCountry = 2,
  kEventLanguage = 3,
  kEventTimeZone = 4,
  kEventTimeZoneOffset = 5,
  kEventDst = 6,
  kEventPip = 7,
  kEventProgramme = 8,
  kEventChannel = 9,
  kEventInternetTv = 10,
  kEventJorvel = 11,
  kEventFirst = kEventPower,
  kEventLast = kEventJorvel,
};

class TvModel {
 public:
  // Raises an event (kind, value) to the connections that subscribed to it.
  using Raiser = std::function<void(const std::vector<unsigned>& to, int kind,
                                    const std::string& value)>;
  using IsOpen = std::function<bool(unsigned)>;

  TvModel(Raiser raise, IsOpen isOpen);

  // The built-in default state.
  static TvState Defaults();

  // Back to `state`, forgetting subscriptions, selections and app infos; the
  // clock starts again.
  void Load(const TvState& state);
  // What the model keeps for a connection (its subscriptions, list selection
  // and application texts) goes when the connection closes or goes.
  void Forget(unsigned connection);

  std::string Answer(unsigned connection, const Texts& texts);

  // Programme boundaries: raises the programme event when the programme on
  // air changed; returns when to look again (none for a stopped clock).
  std::optional<std::chrono::steady_clock::time_point> Tick();

  // The state as JSON (the keys of the configuration file, plus "runtime").
  nlohmann::json StateJson();
  // Changes one key (as in the configuration file, or "now"); raises its
  // event when the value changed. Returns an error text, empty on success.
  std::string Set(const std::string& key, const nlohmann::json& value);

  // Configuration: applies every valid key of `config` to `state`, reporting
  // each problem (JSON pointer and what is wrong) through `problem`.
  static void ApplyConfig(TvState& state, const nlohmann::json& config,
                          const std::function<void(const std::string&)>& problem);

 private:
  struct Selection {
    int channel = -1, day = 0;
    std::vector<Programme> list;
  };

  std::int64_t NowLocked();
  int OffsetSecondsLocked();  // zone offset plus DST, seconds
  std::vector<Programme> DayListLocked(int channel, int day);
  // The programme on air on the current channel (its day and index too).
  std::optional<Programme> OnAirLocked(int* day = nullptr, int* index = nullptr);
  void ChangeLocked(const std::string& key, int value);
  void RaiseLocked(int kind, const std::string& value);
  std::string LocalTimeLocked(std::int64_t epoch);
  void TrackProgrammeLocked(bool raise);

  std::mutex m_;
  Raiser raise_;
  IsOpen isOpen_;
  TvState s_;
  std::chrono::steady_clock::time_point clockBase_;
  std::map<unsigned, std::set<int>> subscriptions_;
  std::map<unsigned, Selection> selections_;
  std::map<unsigned, std::vector<std::string>> appInfo_;
  std::optional<std::int64_t> onAirStart_;  // the programme last seen on air
};

}  // namespace quvimpl

#endif
