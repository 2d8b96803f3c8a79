// The 49 script methods: one row per method, in the order of the method table.
#include <cmath>
#include <limits>

#include "Support.h"
#include "module/CPlugin.h"
#include "script/ScriptablePluginObject.h"

namespace {

struct Expect {
  NPVariantType type;
  int number;
  std::string text;
};
Expect I(int n) { return {NPVariantType_Int32, n, ""}; }
Expect T(std::string s) { return {NPVariantType_String, 0, std::move(s)}; }

::testing::AssertionResult Is(const NPVariant& v, const Expect& e) {
  if (v.type != e.type) return ::testing::AssertionFailure() << "type " << v.type;
  if (e.type == NPVariantType_Int32 && v.value.intValue != e.number)
    return ::testing::AssertionFailure() << "value " << v.value.intValue;
  if (e.type == NPVariantType_String) {
    if (tb::Text(v) != e.text) return ::testing::AssertionFailure() << "text \"" << tb::Text(v) << '"';
    const char* chars = v.value.stringValue.UTF8Characters;
    if (chars[v.value.stringValue.UTF8Length] != '\0')
      return ::testing::AssertionFailure() << "text copy not NUL-terminated";
  }
  return ::testing::AssertionSuccess();
}

NPVariant Sentinel() { return tb::Int(-777); }

class Dispatch : public TvObjectTest {
 protected:
  // Calls `method` and returns the result; the test fails unless Invoke answers `ok`.
  NPVariant Call(NPObject* object, const std::string& method, const std::vector<NPVariant>& args,
                 bool ok = true) {
    NPVariant result = Sentinel();
    EXPECT_EQ(tb::Invoke(object, method, args, &result), ok) << method;
    return result;
  }
  int InvalidArgumentRecords() {
    int n = 0;
    for (const std::string& text : LogTexts())
      n += text.find("Invalid Argument, using default values!") != std::string::npos ||
           text.find("args is not string") != std::string::npos;
    return n;
  }
};

TEST_F(Dispatch, EveryMethod) {
  struct Row {
    const char* method;
    std::vector<NPVariant> args;
    std::string reply;  // forced reply to the command
    const char* sent;   // the command's parameter texts; null: nothing is sent
    Expect result;
    Expect unavailable;  // when the instance has no TV
  };
  const std::string title = "Nachrichten \xC3\xA9";
  const Row rows[] = {
      {"GetPluginInfo", {tb::Int(0)}, "", nullptr, T("TV-0017"), T("")},
      {"ConvertEpochToLocalTime", {tb::String(" 1700000000")}, "A2023-11-14 22:13:20",
       "1700000000|0|0|0", T("2023-11-14 22:13:20"), T("")},
      {"GetPresentProgram_Duration", {}, "I3600", "0|0|0|0", I(3600), I(0)},
      {"GetPresentProgram_EndTime", {}, "I-5", "0|0|0|0", T("-5"), T("0")},
      {"GetPresentProgram_StartTime", {}, "I1700000000", "0|0|0|0", T("1700000000"), T("0")},
      {"GetPresentProgram_Title", {}, quvstub::Utf16Reply(title), "0|0|0|0", T(title), T("")},
      {"GetProgram_Duration", {tb::Double(2.9)}, "I45", "2|0|0|0", I(45), I(0)},
      {"GetProgram_EndTime", {tb::Int(7)}, "I99", "7|0|0|0", T("99"), T("0")},
      {"GetProgram_StartTime", {tb::Double(-2.9)}, "I12", "-2|0|0|0", T("12"), T("0")},
      {"GetProgram_Title", {tb::Int(3)}, quvstub::Utf16Reply("Film"), "3|0|0|0", T("Film"), T("")},
      {"GetProgramList", {tb::Int(3), tb::Int(10)}, "I0", "3|10|0|0", I(1), I(1)},
      {"GetProgramList_Size", {}, "I17", "0|0|0|0", I(17), I(0)},
      {"SetEvent", {tb::Int(4)}, "I2", "4|0|0|0", I(2), I(1)},
      {"UnsetEvent", {tb::Int(5)}, "I-1", "5|0|0|0", I(-1), I(1)},
      {"FlagStreamDST", {}, "I6", "0|0|0|0", I(6), I(1)},
      {"GetDST", {}, "I2", "0|0|0|0", I(2), I(3)},
      {"SetDST", {tb::Int(1)}, "I8", "1|0|0|0", I(8), I(1)},
      {"GetTimeZone", {}, "I100", "0|0|0|0", I(100), I(209)},
      {"GetTimeZone_Offset", {}, "I-60", "0|0|0|0", I(-60), I(0)},
      {"SetTimeZone", {tb::Int(7), tb::Int(-60)}, "I9", "7|-60|0|0", I(9), I(0)},
      {"GetCountry", {}, "I3", "0|0|0|0", I(3), I(52)},
      {"SetCountry", {tb::Int(44)}, "I11", "44|0|0|0", I(11), I(1)},
      {"GetLanguage", {}, "I12", "0|0|0|0", I(12), I(64)},
      {"SetLanguage", {tb::Int(13)}, "I13", "13|0|0|0", I(13), I(1)},
      {"GetPIP", {}, "I14", "0|0|0|0", I(14), I(1)},
      {"CheckPIP", {tb::Int(2)}, "I15", "1|0|0|0", I(15), I(1)},
      {"SetPIP", {tb::Double(0.4)}, "I16", "0|0|0|0", I(16), I(1)},
      {"GetDisplayPanelType", {}, "I17", "0|0|0|0", I(17), I(7)},
      {"SetWatchDog", {tb::Int(0)}, "", nullptr, I(1), I(1)},
      {"GetProductType", {}, "I18", "0|0|0|0", I(18), I(3)},
      {"GetBDProductType", {}, "I19", "0|0|0|0", I(19), I(4)},
      {"GetTargetLocation", {}, "I20", "0|0|0|0", I(20), I(18)},
      {"GetProductCode", {tb::Int(1)}, "AXR-55", "1|0|0|0", T("XR-55"), T("")},
      {"GetLanguageSet", {}, "I21", "0|0|0|0", I(21), I(10)},
      {"SupportPVR", {}, "I22", "0|0|0|0", I(22), I(1)},
      {"FlagEnableChannelCategory", {}, "I23", "0|0|0|0", I(23), I(1)},
      {"IsYahooAvailable", {}, "I2", "0|0|0|0", I(2), I(1)},
      {"IsChannelBrowserAvailable", {}, "I24", "0|0|0|0", I(24), I(1)},
      {"IsScheduleManagerAvailable", {}, "I25", "0|0|0|0", I(25), I(1)},
      {"IsEPGAvailable", {}, "I26", "0|0|0|0", I(26), I(1)},
      {"IsGuideAvailable", {}, "I27", "0|0|0|0", I(27), I(1)},
      {"IsScheduleAvailable", {}, "I28", "0|0|0|0", I(28), I(1)},
      {"IsHotelProduct", {}, "I29", "0|0|0|0", I(29), I(1)},
      {"SetInternetTVState", {tb::Int(5)}, "I30", "1|0|0|0", I(30), I(1)},
      {"SetJorvelState", {tb::Int(1)}, "I31", "1|0|0|0", I(31), I(1)},
      {"FlagAutoClock", {}, "I32", "0|0|0|0", I(32), I(1)},
      {"IsTimeSet", {}, "I33", "0|0|0|0", I(33), I(1)},
      {"GetPowerState", {}, "I5", "0|0|0|0", I(5), I(0)},
      {"IsValidPassword", {tb::String("1234")}, "I1", "1234|0|0|0", I(1), I(1)},
  };
  ASSERT_EQ(sizeof rows / sizeof rows[0], kMethodCount);

  for (std::size_t i = 0; i < kMethodCount; ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.method);
    EXPECT_STREQ(MethodName(i), row.method) << "table order";
    EXPECT_TRUE(tb::HasMethod(tv, row.method));

    // With the TV: the command, then the result by the method's shape.
    quvstub::ClearJournal();
    quvstub::ClearReplies();
    quvstub::CaptureLog(true);
    if (row.sent) quvstub::SetReply(row.method, row.reply);
    NPVariant result = Call(tv, row.method, row.args);
    EXPECT_TRUE(Is(result, row.result));
    tb::ReleaseValue(&result);
    std::vector<std::string> expected;
    if (row.sent) expected.push_back(std::string(row.method) + "|" + row.sent);
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(InvalidArgumentRecords(), 0);

    // A surplus argument (and a missing one) is refused before anything happens;
    // GetPluginInfo alone has no count check.
    if (std::string(row.method) != "GetPluginInfo") {
      quvstub::ClearJournal();
      std::vector<NPVariant> more = row.args;
      more.push_back(tb::Int(1));
      NPVariant untouched = Call(tv, row.method, more, false);
      EXPECT_TRUE(Is(untouched, I(-777)));
      if (!row.args.empty()) {
        std::vector<NPVariant> fewer(row.args.begin(), row.args.end() - 1);
        untouched = Call(tv, row.method, fewer, false);
        EXPECT_TRUE(Is(untouched, I(-777)));
      }
      EXPECT_TRUE(Commands().empty());
      EXPECT_EQ(InvalidArgumentRecords(), 0);
    }

    // Without a TV: the fixed value, and no command.
    quvstub::ClearJournal();
    result = Call(orphan, row.method, row.args);
    EXPECT_TRUE(Is(result, row.unavailable));
    tb::ReleaseValue(&result);
    EXPECT_TRUE(Commands().empty());
  }
  quvstub::ClearReplies();
}

TEST_F(Dispatch, ErrorRepliesStillAnswerScript) {
  // The simulator is off: every command gets the error reply "E".
  struct Case {
    const char* method;
    std::vector<NPVariant> args;
    Expect result;
  };
  const Case cases[] = {
      {"GetCountry", {}, I(52)},                       // out-value keeps its start
      {"GetTimeZone_Offset", {}, I(0)},
      {"GetPresentProgram_StartTime", {}, T("0")},
      {"GetProgram_Title", {tb::Int(1)}, T("")},
      {"ConvertEpochToLocalTime", {tb::Int(5)}, T("")},
      {"IsYahooAvailable", {}, I(0)},
      {"GetProgramList", {tb::Int(1), tb::Int(2)}, I(0)},
      {"IsValidPassword", {tb::String("x")}, I(0)},
      {"GetPowerState", {}, I(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    NPVariant result = Call(tv, c.method, c.args);
    EXPECT_TRUE(Is(result, c.result));
    tb::ReleaseValue(&result);
  }
}

TEST_F(Dispatch, ArgumentConversions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  NPVariant shortString = tb::String("123");
  shortString.value.stringValue.UTF8Length = 2;  // only "12" belongs to the argument
  NPVariant nullChars = tb::String("");
  nullChars.value.stringValue.UTF8Characters = nullptr;
  NPObject* object = tb::NewPlainObject();
  held.push_back(object);
  struct Case {
    const char* what;
    const char* method;
    std::vector<NPVariant> args;
    const char* sent;  // parameter texts of the command
    int records;       // invalid-argument log records
  };
  const Case cases[] = {
      {"boolean true is not a number", "SetPIP", {tb::Bool(true)}, "0|0|0|0", 1},
      {"1 is true", "SetPIP", {tb::Int(1)}, "1|0|0|0", 0},
      {"2.7 is true", "SetPIP", {tb::Double(2.7)}, "1|0|0|0", 0},
      {"-0.4 is false", "CheckPIP", {tb::Double(-0.4)}, "0|0|0|0", 0},
      {"string truth", "SetJorvelState", {tb::String("1")}, "0|0|0|0", 1},
      {"2.9 truncates", "GetProgram_Title", {tb::Double(2.9)}, "2|0|0|0", 0},
      {"-2.9 truncates", "GetProgram_Title", {tb::Double(-2.9)}, "-2|0|0|0", 0},
      {"huge double", "GetProgram_Duration", {tb::Double(1e12)}, "2147483647|0|0|0", 0},
      {"huge negative double", "GetProgram_Duration", {tb::Double(-1e12)}, "-2147483648|0|0|0", 0},
      {"NaN", "GetProgram_Duration", {tb::Double(nan)}, "0|0|0|0", 0},
      {"null number", "SetCountry", {tb::Null()}, "0|0|0|0", 1},
      {"undefined number", "SetCountry", {tb::Void()}, "0|0|0|0", 1},
      {"object number", "SetCountry", {tb::Object(object)}, "0|0|0|0", 1},
      {"one bad of two", "SetTimeZone", {tb::String("x"), tb::Int(3)}, "0|3|0|0", 1},
      {"two bad of two", "GetProgramList", {tb::Null(), tb::Null()}, "0|0|0|0", 2},
      {"epoch number", "ConvertEpochToLocalTime", {tb::Int(100)}, "100|0|0|0", 0},
      {"epoch text", "ConvertEpochToLocalTime", {tb::String("100")}, "100|0|0|0", 0},
      {"epoch text with blanks, sign, tail", "ConvertEpochToLocalTime", {tb::String(" \t-42xyz")},
       "-42|0|0|0", 0},
      {"epoch text without digits", "ConvertEpochToLocalTime", {tb::String("abc")}, "0|0|0|0", 0},
      {"epoch text beyond range", "ConvertEpochToLocalTime", {tb::String("99999999999")},
       "2147483647|0|0|0", 0},
      {"epoch text below range", "ConvertEpochToLocalTime", {tb::String("-99999999999")},
       "-2147483648|0|0|0", 0},
      {"epoch text read within its length", "ConvertEpochToLocalTime", {shortString}, "12|0|0|0", 0},
      {"epoch null", "ConvertEpochToLocalTime", {tb::Null()}, "0|0|0|0", 1},
      {"epoch boolean", "ConvertEpochToLocalTime", {tb::Bool(true)}, "0|0|0|0", 1},
      {"password as given", "IsValidPassword", {tb::String(" p\"w ")}, " p\"w |0|0|0", 0},
      {"empty password", "IsValidPassword", {tb::String("")}, "|0|0|0", 0},
      {"password without characters", "IsValidPassword", {nullChars}, "|0|0|0", 0},
      {"password not a string", "IsValidPassword", {tb::Int(1234)}, "|0|0|0", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::ClearJournal();
    quvstub::CaptureLog(true);
    NPVariant result = Call(tv, c.method, c.args);
    tb::ReleaseValue(&result);
    EXPECT_EQ(Commands(), std::vector<std::string>{std::string(c.method) + "|" + c.sent});
    EXPECT_EQ(InvalidArgumentRecords(), c.records);
  }
}

TEST_F(Dispatch, PluginInfoItem) {
  NPObject* object = tb::NewPlainObject();
  held.push_back(object);
  struct Case {
    const char* what;
    std::vector<NPVariant> args;
    const char* text;
    bool record;
  };
  const Case cases[] = {
      {"no argument", {}, "", true},
      {"item 0", {tb::Int(0)}, "TV-0017", false},
      {"item 0 and more", {tb::Int(0), tb::String("x"), tb::Null()}, "TV-0017", false},
      {"item 0.5", {tb::Double(0.5)}, "TV-0017", false},
      {"item 1", {tb::Int(1)}, "", false},
      {"a string is item 1000", {tb::String("0")}, "", false},
      {"an object is item 1000", {tb::Object(object)}, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::CaptureLog(true);
    NPVariant result = Call(tv, "GetPluginInfo", c.args);
    EXPECT_TRUE(Is(result, T(c.text)));
    tb::ReleaseValue(&result);
    int records = 0;
    for (const std::string& text : LogTexts())
      records += text.find("]GetPluginInfo:: Invalid Argument, using default values!") !=
                 std::string::npos;
    EXPECT_EQ(records, c.record ? 1 : 0);
  }
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Dispatch, LongRepliesStayInsideTheBuffers) {
  const std::string longAscii(700, 'x');
  std::string longUtf8;
  for (int i = 0; i < 400; ++i) longUtf8 += "\xC3\xA9";  // 800 bytes of UTF-8
  struct Case {
    const char* method;
    std::vector<NPVariant> args;
    std::string reply;
    std::string full;
    std::size_t limit;  // the most bytes that fit with the terminator
  };
  const Case cases[] = {
      {"ConvertEpochToLocalTime", {tb::Int(1)}, "A" + longAscii, longAscii, 299},
      {"GetProductCode", {tb::Int(0)}, "A" + longAscii, longAscii, 255},
      {"GetPresentProgram_Title", {}, quvstub::Utf16Reply(longAscii), longAscii, 511},
      {"GetProgram_Title", {tb::Int(2)}, quvstub::Utf16Reply(longUtf8), longUtf8, 511},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    quvstub::SetReply(c.method, c.reply, 1);
    NPVariant result = Call(tv, c.method, c.args);
    ASSERT_EQ(result.type, NPVariantType_String);
    std::string text = tb::Text(result);
    EXPECT_LE(text.size(), c.limit);
    EXPECT_GE(text.size(), c.limit - 1);  // cut, not dropped (a split character may go)
    EXPECT_EQ(c.full.compare(0, text.size(), text), 0) << "not a prefix of the reply";
    tb::ReleaseValue(&result);
  }
}

TEST_F(Dispatch, NoMemoryForTheResultLeavesItUntouched) {
  const char* methods[] = {"GetPresentProgram_StartTime", "GetPluginInfo", "GetProgram_Title"};
  for (const char* method : methods) {
    SCOPED_TRACE(method);
    tb::FailAllocationsAfter(0);
    std::vector<NPVariant> args;
    if (std::string(method) != "GetPresentProgram_StartTime") args.push_back(tb::Int(0));
    NPVariant result = Call(tv, method, args);
    tb::FailAllocationsAfter(-1);
    EXPECT_TRUE(Is(result, I(-777)));
  }
}

TEST_F(Dispatch, NamesThatAreNoMethods) {
  for (const char* name : {"OnEvent", "getCountry", "GetCountry ", "Invoke", ""}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(tb::HasMethod(tv, name));
    NPVariant result = Call(tv, name, {}, false);
    EXPECT_TRUE(Is(result, I(-777)));
  }
  EXPECT_TRUE(Commands().empty());
}

// The method lookup remembers identifiers it has seen; identifiers interned
// anew (here: two rows trading theirs) must reach the rows they now belong
// to, never the rows they were first seen for.
TEST_F(Dispatch, MethodsFollowTheirIdentifiersWhenInternedAnew) {
  const std::size_t country = 20, language = 22;  // rows of GetCountry and GetLanguage
  ASSERT_STREQ(MethodName(country), "GetCountry");
  ASSERT_STREQ(MethodName(language), "GetLanguage");
  const struct {
    bool swapped;
    const char* called;
    const char* sent;
  } steps[] = {
      {false, "GetCountry", "GetCountry"},   // seen once: remembered
      {false, "GetLanguage", "GetLanguage"},
      {true, "GetCountry", "GetLanguage"},   // its identifier now names the other row
      {true, "GetLanguage", "GetCountry"},
      {false, "GetCountry", "GetCountry"},   // and back
      {false, "GetLanguage", "GetLanguage"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.called) + (step.swapped ? " (swapped)" : ""));
    if (step.swapped != (sMethodIds[country] == tb::Id("GetLanguage")))
      std::swap(sMethodIds[country], sMethodIds[language]);
    quvstub::ClearJournal();
    Call(tv, step.called, {});
    EXPECT_EQ(Commands(), std::vector<std::string>{std::string(step.sent) + "|0|0|0|0"});
  }
}

TEST_F(Dispatch, InstanceWithoutTvObject) {
  // pdata set but no TV: the same as no instance data.
  auto* plugin = static_cast<CPlugin*>(instance->pdata);
  NSPlTV::CPlTV* saved = plugin->m_pTV;
  plugin->m_pTV = nullptr;
  NPVariant country = Call(tv, "GetCountry", {});
  NPVariant zone = Call(tv, "SetTimeZone", {tb::Int(1), tb::Int(2)});
  NPVariant dst = Call(tv, "SetDST", {tb::Int(1)});
  plugin->m_pTV = saved;
  EXPECT_TRUE(Is(country, I(52)));
  EXPECT_TRUE(Is(zone, I(0)));
  EXPECT_TRUE(Is(dst, I(1)));
  EXPECT_TRUE(Commands().empty());
}

}  // namespace
