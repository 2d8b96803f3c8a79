// The simulated TV's configuration file (QUV_SIM_CONFIG): good keys override
// the default state; every problem is one clear log line and leaves that
// default. (Round trips of any file: the simtv fuzz target.)
#include <nlohmann/json.hpp>

#include "TestSupport.h"

using namespace quvtest;
using nlohmann::json;

namespace {

class Config : public QuvTest {};

json State() { return json::parse(quvstub::ControlRequest(R"({"cmd":"state"})"))["state"]; }

struct ConfigCase {
  const char* what;
  std::string file;
  // One entry per expected log line: the texts that line must hold.
  std::vector<std::vector<std::string>> lines;
  // Keys of the state and their expected values afterwards.
  std::vector<std::pair<std::string, json>> state;
};

TEST_F(Config, GoodKeysApplyAndEachProblemIsOneClearLine) {
  const std::vector<ConfigCase> cases = {
      {"good file",
       R"({"country": 44, "password": "1234", "pip": true, "time_zone_offset": -300,
           "product_code": "QX-1", "clock_mode": "fixed", "clock_start": 1700000000})",
       {},
       {{"country", 44}, {"password", "1234"}, {"pip", 1}, {"time_zone_offset", -300},
        {"product_code", "QX-1"}, {"clock_mode", "fixed"}, {"clock_start", 1700000000}}},
      {"syntax error",
       "{\"country\": 44,\n  \"language\": }\n",
       {{"config", "line 2", "syntax error", "default state"}},
       {{"country", 1}, {"language", 1}}},
      {"wrong type",
       R"({"country": "x", "language": 9})",
       {{"at /country", "expected an integer in 0..255", "\"x\"", "default 1 stays"}},
       {{"country", 1}, {"language", 9}}},
      {"out of range",
       R"({"time_zone_offset": 2000, "dst": -1})",
       {{"/dst", "0..2", "-1"}, {"/time_zone_offset", "-720..840", "2000"}},  // in key order
       {{"time_zone_offset", 60}, {"dst", 2}}},
      {"unknown key",
       R"({"colour": 1, "country": 3})",
       {{"/colour", "unknown key"}},
       {{"country", 3}}},
      {"empty file", "", {{"config", "default state"}}, {{"country", 1}}},
      {"bad clock", R"({"clock_mode": "slow", "clock_rate": 0})",
       {{"/clock_mode", "\"slow\""}, {"/clock_rate", "1..86400"}},
       {{"clock_mode", "real"}, {"clock_rate", 60}}},
      {"bad programme",
       R"({"channels": [{"name": "A", "programmes": [{"start": "25:00", "minutes": 30, "title": "x"}]}]})",
       {{"/channels/0/programmes/0/start", "HH:MM", "\"25:00\"", "keeps its default"}},
       {}},
      {"overlapping programmes",
       R"({"channels": [{"name": "A", "programmes": [
            {"start": "08:00", "minutes": 90, "title": "x"},
            {"start": "09:00", "minutes": 30, "title": "y"}]}]})",
       {{"/channels/0/programmes/1/start", "overlaps"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::CaptureLog(true);
    ScopedConfig config(c.file);
    auto log = quvstub::TakeLog();
    quvstub::CaptureLog(false);
    ASSERT_EQ(log.size(), c.lines.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
      const std::string& line = log[i].text;
      EXPECT_NE(line.find(config.path()), std::string::npos) << "names the file: " << line;
      EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
      for (const auto& want : c.lines[i]) EXPECT_NE(line.find(want), std::string::npos) << line;
    }
    json s = State();
    for (const auto& [key, value] : c.state) EXPECT_EQ(s[key], value) << key;
    if (std::string(c.what).find("programme") != std::string::npos) {
      EXPECT_EQ(s["channels"].size(), 3u) << "the default guide";
    }
  }
}

TEST_F(Config, AMissingFileIsReportedAndTheDefaultsServe) {
  const std::string path = TempPath("no-such-config.json");
  setenv("QUV_SIM_CONFIG", path.c_str(), 1);
  quvstub::CaptureLog(true);
  quvstub::Reset();
  auto log = quvstub::TakeLog();
  quvstub::CaptureLog(false);
  unsetenv("QUV_SIM_CONFIG");
  quvstub::Reset();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].text.find(path), std::string::npos);
  EXPECT_NE(log[0].text.find("cannot be read"), std::string::npos);
  Recorder w;
  EXPECT_EQ(Cmd(w, {"GetCountry"}), "I1");
}

TEST_F(Config, AGuideFromTheFileIsServed) {
  ScopedConfig config(R"({"clock_mode": "fixed", "clock_start": 1700000000,
    "channels": [
      {"name": "One", "programmes": [{"start": "00:00", "minutes": 720, "title": "AM"},
                                     {"start": "12:00", "minutes": 720, "title": "PM"}]},
      {"name": "Two", "programmes": [{"start": "23:00", "minutes": 120, "title": "Late"}]}],
    "current_channel": 1})");
  Recorder w;
  EXPECT_EQ(Cmd(w, {"GetProgramList", "0", "0"}), "I1");
  EXPECT_EQ(Cmd(w, {"GetProgramList_Size"}), "I2");
  EXPECT_EQ(Cmd(w, {"GetProgram_Title", "1"}), quvstub::Utf16Reply("PM"));
  EXPECT_EQ(Cmd(w, {"GetProgramList", "2", "0"}), "E");
  // Channel 1 at 23:13 local: "Late", which runs past midnight.
  EXPECT_EQ(Cmd(w, {"GetPresentProgram_Title"}), quvstub::Utf16Reply("Late"));
  EXPECT_EQ(Cmd(w, {"GetPresentProgram_Duration"}), "I7200");
  // At noon channel 1's guide has a gap: nothing on air.
  quvstub::ControlRequest(R"({"cmd":"set","key":"now","value":1699959600})");
  EXPECT_EQ(Cmd(w, {"GetPresentProgram_Title"}), "E");
  EXPECT_EQ(Cmd(w, {"GetPresentProgram_StartTime"}), "E");
}

}  // namespace
