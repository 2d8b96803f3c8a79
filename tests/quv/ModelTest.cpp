// The simulated TV: its commands, its default state, its programme guide and
// clock, and the events it raises.
#include <nlohmann/json.hpp>

#include "TestSupport.h"

using namespace quvtest;
using nlohmann::json;

namespace {

class Model : public QuvTest {};

std::string A(const std::string& text) { return "A" + text; }
std::string U(const std::string& utf8) { return quvstub::Utf16Reply(utf8); }

json State() {
  json r = json::parse(quvstub::ControlRequest(R"({"cmd":"state"})"));
  EXPECT_TRUE(r["ok"].get<bool>());
  return r["state"];
}

void SetKey(const std::string& key, const json& value) {
  json r = json::parse(
      quvstub::ControlRequest(json{{"cmd", "set"}, {"key", key}, {"value", value}}.dump()));
  ASSERT_TRUE(r["ok"].get<bool>()) << r.dump();
}

struct Row {
  std::vector<std::string> texts;
  std::string reply;
};

void ExpectReplies(quv::CQuvPluginWrapper& w, const std::vector<Row>& rows) {
  for (const auto& r : rows) {
    std::string texts;
    for (const auto& t : r.texts) texts += "[" + t + "]";
    EXPECT_EQ(Cmd(w, r.texts), r.reply) << texts;
  }
}

// Local midnight of the fixed day, as epoch: 2023-11-14 00:00 at UTC+1.
constexpr long long kMidnight = 1699916400;

TEST_F(Model, BadInputsAndUnknownCommandsAnswerTheErrorReply) {
  Recorder w;
  ExpectReplies(w, {
      {{"GetFoo"}, "E"},
      {{"SetWatchDog", "1"}, "E"},
      {{""}, "E"},
      {{"getcountry"}, "E"},
      {{"SetCountry", "256"}, "E"},
      {{"SetCountry", "4x"}, "E"},
      {{"SetDST", "3"}, "E"},
      {{"SetTimeZone", "64", "0"}, "E"},
      {{"SetTimeZone", "1", "841"}, "E"},
      {{"SetPIP", "2"}, "E"},
      {{"SetEvent", "12"}, "E"},
      {{"ConvertEpochToLocalTime", "noon"}, "E"},
      {{"GetProgramList", "3", "0"}, "E"},   // three channels: 0..2
      {{"GetProgramList", "0", "8"}, "E"},   // days -7..7
      {{"IsValidPassword", "0001"}, "I0"},
  });
  // Nothing above changed the TV.
  ExpectReplies(w, {{{"GetCountry"}, "I1"}, {{"GetDST"}, "I2"}, {{"GetTimeZone_Offset"}, "I60"}});
}

TEST_F(Model, EverySetChangesWhatItsGetReads) {
  ScopedConfig config(kFixedClock);
  Recorder w;
  struct Case {
    std::vector<std::string> set;
    std::vector<Row> after;
  };
  const std::vector<Case> cases = {
      {{"SetCountry", "44"}, {{{"GetCountry"}, "I44"}}},
      {{"SetCountry", "255"}, {{{"GetCountry"}, "I255"}}},
      {{"SetLanguage", "7"}, {{{"GetLanguage"}, "I7"}}},
      {{"SetDST", "1"},
       {{{"GetDST"}, "I1"},
        {{"ConvertEpochToLocalTime", std::to_string(kFixedNow)}, A("2023-11-15 00:13:20")}}},
      {{"SetDST", "0"}, {{{"GetDST"}, "I0"}}},
      {{"SetTimeZone", "7", "-300"},
       {{{"GetTimeZone"}, "I7"},
        {{"GetTimeZone_Offset"}, "I-300"},
        {{"ConvertEpochToLocalTime", std::to_string(kFixedNow)}, A("2023-11-14 17:13:20")}}},
      {{"SetPIP", "1"}, {{{"GetPIP"}, "I1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set[0] + " " + c.set[1]);
    EXPECT_EQ(Cmd(w, c.set), "I1");
    ExpectReplies(w, c.after);
  }
  // States without a query command show in the state.
  EXPECT_EQ(Cmd(w, {"SetInternetTVState", "1"}), "I1");
  EXPECT_EQ(Cmd(w, {"SetJorvelState", "1"}), "I1");
  json s = State();
  EXPECT_EQ(s["internet_tv"], 1);
  EXPECT_EQ(s["jorvel"], 1);
  EXPECT_EQ(s["country"], 255);
  EXPECT_EQ(s["runtime"]["app_info"].size(), 0u);
}

TEST_F(Model, DstInAutoModeFollowsTheBroadcastFlag) {
  ScopedConfig config(R"({"clock_mode":"fixed","clock_start":1700000000,"dst":2,"stream_dst":1})");
  Recorder w;
  ExpectReplies(w, {{{"FlagStreamDST"}, "I1"},
                    {{"ConvertEpochToLocalTime", "1700000000"}, A("2023-11-15 00:13:20")}});
  SetKey("stream_dst", 0);
  ExpectReplies(w, {{{"ConvertEpochToLocalTime", "1700000000"}, A("2023-11-14 23:13:20")}});
}

TEST_F(Model, PipCannotBeSwitchedOnWhereItIsNotSupported) {
  ScopedConfig config(R"({"pip_supported": 0})");
  Recorder w;
  ExpectReplies(w, {{{"CheckPIP", "1"}, "I0"},
                    {{"CheckPIP", "0"}, "I1"},
                    {{"SetPIP", "1"}, "I0"},
                    {{"GetPIP"}, "I0"}});
}

TEST_F(Model, ProgramListSelectsAChannelAndADay) {
  ScopedConfig config(kFixedClock);
  Recorder w;
  const std::string day0 = std::to_string(kMidnight);
  const std::string day1 = std::to_string(kMidnight + 86400);
  const std::string dayM1 = std::to_string(kMidnight - 86400);
  ExpectReplies(w, {
      // Nothing selected yet.
      {{"GetProgramList_Size"}, "I0"},
      {{"GetProgram_Title", "0"}, "E"},
      // Channel 0, today.
      {{"GetProgramList", "0", "0"}, "I1"},
      {{"GetProgramList_Size"}, "I12"},
      {{"GetProgram_StartTime", "0"}, "I" + day0},
      {{"GetProgram_EndTime", "0"}, "I" + std::to_string(kMidnight + 6 * 3600)},
      {{"GetProgram_Duration", "0"}, "I21600"},
      {{"GetProgram_Title", "2"}, U("Caf\xC3\xA9 Cr\xC3\xA8me: Cuisine fran\xC3\xA7" "aise")},
      {{"GetProgram_Title", "11"}, U("Jazz at Midnight")},
      {{"GetProgram_Title", "12"}, "E"},
      // Channel 1, today: CJK titles.
      {{"GetProgramList", "1", "0"}, "I1"},
      {{"GetProgramList_Size"}, "I6"},
      {{"GetProgram_Title", "4"}, U("\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9 7")},
      {{"GetProgram_Title", "6"}, "E"},
      // Channel 2, tomorrow and yesterday: titles outside the BMP.
      {{"GetProgramList", "2", "1"}, "I1"},
      {{"GetProgramList_Size"}, "I3"},
      {{"GetProgram_StartTime", "0"}, "I" + day1},
      {{"GetProgram_Title", "0"}, U("Non-stop Hits \xF0\x9F\x8E\xB5")},
      {{"GetProgramList", "2", "-1"}, "I1"},
      {{"GetProgram_StartTime", "0"}, "I" + dayM1},
      // A failed selection keeps the one before.
      {{"GetProgramList", "9", "0"}, "E"},
      {{"GetProgramList_Size"}, "I3"},
  });
  // The surrogate pair of U+1F3B5 is in the reply: D83C DFB5, little-endian.
  const std::string title = Cmd(w, {"GetProgram_Title", "0"});
  EXPECT_NE(title.find(Bytes({0x3C, 0xD8, 0xB5, 0xDF})), std::string::npos);
  // Another connection has a selection of its own.
  Recorder other;
  EXPECT_EQ(Cmd(other, {"GetProgramList", "0", "0"}), "I1");
  EXPECT_EQ(Cmd(other, {"GetProgramList_Size"}), "I12");
  EXPECT_EQ(Cmd(w, {"GetProgramList_Size"}), "I3");
}

TEST_F(Model, AClosedConnectionGetsTheErrorReplyAndIsForgotten) {
  Recorder w;
  EXPECT_EQ(Cmd(w, {"GetCountry"}), "I1");
  Cmd(w, {"SetEvent", "2"});
  Cmd(w, {"GetProgramList", "1", "0"});
  Cmd(w, {"SetAppInfo", "a", "b", "c", "d"});
  w.Close();
  for (const char* kept : {"subscriptions", "selections", "app_info"})
    EXPECT_EQ(State()["runtime"][kept].size(), 0u) << kept << " of a closed connection";
  EXPECT_EQ(Cmd(w, {"GetCountry"}), "E");
  EXPECT_EQ(quvstub::Misuses().size(), 1u) << "an Execute after Close is misuse";
  quvstub::ClearMisuses();
  Recorder never(false);
  EXPECT_EQ(Cmd(never, {"GetCountry"}), "E");
}

struct EventCase {
  const char* what;
  int kind;
  std::vector<std::string> command;  // empty: change by `key`
  const char* key;
  json value;
  std::string param2;  // expected; empty: no event expected
};

TEST_F(Model, ChangesRaiseEventsForSubscribedKindsOnTheFrameworkThread) {
  const std::vector<EventCase> cases = {
      {"country", 2, {"SetCountry", "45"}, "", 0, "45"},
      {"same country again", 2, {"SetCountry", "44"}, "", 0, ""},
      {"language", 3, {"SetLanguage", "9"}, "", 0, "9"},
      {"time zone", 4, {"SetTimeZone", "8", "60"}, "", 0, "8"},
      {"time zone offset", 5, {"SetTimeZone", "8", "120"}, "", 0, "120"},
      {"dst", 6, {"SetDST", "0"}, "", 0, "0"},
      {"pip", 7, {"SetPIP", "1"}, "", 0, "1"},
      {"internet tv", 10, {"SetInternetTVState", "1"}, "", 0, "1"},
      {"jorvel", 11, {"SetJorvelState", "1"}, "", 0, "1"},
      {"power", 1, {}, "power", 0, "0"},
      {"channel", 9, {}, "current_channel", 2, "2"},
      {"refused change", 2, {"SetCountry", "999"}, "", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::Reset();
    Recorder subscribed, other;
    SetKey("country", 44);  // the same starting point for the "again" row
    EXPECT_EQ(Cmd(subscribed, {"SetEvent", std::to_string(c.kind)}), "I1");
    quvstub::WaitForEvents();
    subscribed.Forget();
    if (!c.command.empty())
      Cmd(other, c.command);  // the change may come from any connection
    else
      SetKey(c.key, c.value);
    quvstub::WaitForEvents();
    EXPECT_EQ(subscribed.Texts(), c.param2.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{std::to_string(c.kind) + "|" + c.param2});
    for (const Received& r : subscribed.Got())
      EXPECT_EQ(std::make_pair(r.type, r.thread), std::make_pair(0, quvstub::FrameworkThreadId()));
    EXPECT_TRUE(other.Got().empty()) << "not subscribed";
  }
}

TEST_F(Model, UnsetEventStopsTheEvents) {
  Recorder w;
  EXPECT_EQ(Cmd(w, {"SetEvent", "2"}), "I1");
  EXPECT_EQ(Cmd(w, {"SetEvent", "3"}), "I1");
  EXPECT_EQ(Cmd(w, {"UnsetEvent", "2"}), "I1");
  EXPECT_EQ(Cmd(w, {"UnsetEvent", "2"}), "I1");  // again: still fine
  Cmd(w, {"SetCountry", "50"});
  Cmd(w, {"SetLanguage", "5"});
  quvstub::WaitForEvents();
  EXPECT_EQ(w.Texts(), std::vector<std::string>{"3|5"});
  EXPECT_EQ(State()["runtime"]["subscriptions"].begin().value(), json({3}));
}

TEST_F(Model, ProgrammeBoundariesRaiseTheProgrammeEvent) {
  ScopedConfig config(kFixedClock);
  Recorder w;
  EXPECT_EQ(Cmd(w, {"SetEvent", "8"}), "I1");
  struct Step {
    long long now;
    std::string index;  // expected event's param2; empty: none
  };
  const std::vector<Step> steps = {
      {kMidnight + 23 * 3600 + 1800, ""},  // same programme
      {kMidnight + 24 * 3600, "0"},        // next day's first
      {kMidnight + 24 * 3600 + 6 * 3600 - 1, ""},
      {kMidnight + 24 * 3600 + 6 * 3600, "1"},
      {kMidnight + 13 * 3600 + 30, "4"},  // back in time: today's Midday News
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.now);
    w.Forget();
    SetKey("now", s.now);
    quvstub::WaitForEvents();
    EXPECT_EQ(w.Texts(), s.index.empty() ? std::vector<std::string>{} : std::vector<std::string>{"8|" + s.index});
  }
  EXPECT_EQ(Cmd(w, {"GetPresentProgram_Title"}), U("Midday News"));
}

TEST_F(Model, ARunningClockReachesTheNextProgrammeOnItsOwn) {
  // Two TV seconds before midnight, stopped; then running 60 times faster.
  ScopedConfig config(R"({"clock_mode":"fixed","clock_start":)" +
                      std::to_string(kMidnight + 24 * 3600 - 2) + "}");
  Recorder w;
  EXPECT_EQ(Cmd(w, {"SetEvent", "8"}), "I1");
  SetKey("clock_rate", 60);
  SetKey("clock_mode", "accelerated");
  ASSERT_TRUE(w.WaitFor(1, 60)) << "no programme event from the framework thread";
  ASSERT_EQ(w.Texts(), std::vector<std::string>{"8|0"}) << "the next day's first programme";
  EXPECT_EQ(w.Got()[0].thread, quvstub::FrameworkThreadId());
  EXPECT_EQ(Cmd(w, {"GetPresentProgram_Title"}), U("Night Music"));
}

}  // namespace
