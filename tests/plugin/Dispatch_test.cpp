// The 49 script methods, one row each in the method table's order, with the
// result of each shape for a reply of its kind. Error replies, argument
// counts and conversions, no TV, and argument slots are checked for every
// method against types/tv-api.json by the script fuzz target.
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
  };
  const std::string title = "Nachrichten \xC3\xA9";
  const Row rows[] = {
      {"GetPluginInfo", {tb::Int(0)}, "", nullptr, T("TV-0017")},
      {"ConvertEpochToLocalTime", {tb::String(" 1700000000")}, "A2023-11-14 22:13:20",
       "1700000000|0|0|0", T("2023-11-14 22:13:20")},
      {"GetPresentProgram_Duration", {}, "I3600", "0|0|0|0", I(3600)},
      {"GetPresentProgram_EndTime", {}, "I-5", "0|0|0|0", T("-5")},
      {"GetPresentProgram_StartTime", {}, "I1700000000", "0|0|0|0", T("1700000000")},
      {"GetPresentProgram_Title", {}, quvstub::Utf16Reply(title), "0|0|0|0", T(title)},
      {"GetProgram_Duration", {tb::Double(2.9)}, "I45", "2|0|0|0", I(45)},
      {"GetProgram_EndTime", {tb::Int(7)}, "I99", "7|0|0|0", T("99")},
      {"GetProgram_StartTime", {tb::Double(-2.9)}, "I12", "-2|0|0|0", T("12")},
      {"GetProgram_Title", {tb::Int(3)}, quvstub::Utf16Reply("Film"), "3|0|0|0", T("Film")},
      {"GetProgramList", {tb::Int(3), tb::Int(10)}, "I0", "3|10|0|0", I(1)},
      {"GetProgramList_Size", {}, "I17", "0|0|0|0", I(17)},
      {"SetEvent", {tb::Int(4)}, "I2", "4|0|0|0", I(2)},
      {"UnsetEvent", {tb::Int(5)}, "I-1", "5|0|0|0", I(-1)},
      {"FlagStreamDST", {}, "I6", "0|0|0|0", I(6)},
      {"GetDST", {}, "I2", "0|0|0|0", I(2)},
      {"SetDST", {tb::Int(1)}, "I8", "1|0|0|0", I(8)},
      {"GetTimeZone", {}, "I100", "0|0|0|0", I(100)},
      {"GetTimeZone_Offset", {}, "I-60", "0|0|0|0", I(-60)},
      {"SetTimeZone", {tb::Int(7), tb::Int(-60)}, "I9", "7|-60|0|0", I(9)},
      {"GetCountry", {}, "I3", "0|0|0|0", I(3)},
      {"SetCountry", {tb::Int(44)}, "I11", "44|0|0|0", I(11)},
      {"GetLanguage", {}, "I12", "0|0|0|0", I(12)},
      {"SetLanguage", {tb::Int(13)}, "I13", "13|0|0|0", I(13)},
      {"GetPIP", {}, "I14", "0|0|0|0", I(14)},
      {"CheckPIP", {tb::Int(2)}, "I15", "1|0|0|0", I(15)},
      {"SetPIP", {tb::Double(0.4)}, "I16", "0|0|0|0", I(16)},
      {"GetDisplayPanelType", {}, "I17", "0|0|0|0", I(17)},
      {"SetWatchDog", {tb::Int(0)}, "", nullptr, I(1)},
      {"GetProductType", {}, "I18", "0|0|0|0", I(18)},
      {"GetBDProductType", {}, "I19", "0|0|0|0", I(19)},
      {"GetTargetLocation", {}, "I20", "0|0|0|0", I(20)},
      {"GetProductCode", {tb::Int(1)}, "AXR-55", "1|0|0|0", T("XR-55")},
      {"GetLanguageSet", {}, "I21", "0|0|0|0", I(21)},
      {"SupportPVR", {}, "I22", "0|0|0|0", I(22)},
      {"FlagEnableChannelCategory", {}, "I23", "0|0|0|0", I(23)},
      {"IsYahooAvailable", {}, "I2", "0|0|0|0", I(2)},
      {"IsChannelBrowserAvailable", {}, "I24", "0|0|0|0", I(24)},
      {"IsScheduleManagerAvailable", {}, "I25", "0|0|0|0", I(25)},
      {"IsEPGAvailable", {}, "I26", "0|0|0|0", I(26)},
      {"IsGuideAvailable", {}, "I27", "0|0|0|0", I(27)},
      {"IsScheduleAvailable", {}, "I28", "0|0|0|0", I(28)},
      {"IsHotelProduct", {}, "I29", "0|0|0|0", I(29)},
      {"SetInternetTVState", {tb::Int(5)}, "I30", "1|0|0|0", I(30)},
      {"SetJorvelState", {tb::Int(1)}, "I31", "1|0|0|0", I(31)},
      {"FlagAutoClock", {}, "I32", "0|0|0|0", I(32)},
      {"IsTimeSet", {}, "I33", "0|0|0|0", I(33)},
      {"GetPowerState", {}, "I5", "0|0|0|0", I(5)},
      {"IsValidPassword", {tb::String("1234")}, "I1", "1234|0|0|0", I(1)},
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
  }
  quvstub::ClearReplies();
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

// The lookup remembers identifiers; identifiers interned anew (two rows trading
// theirs) reach the rows they now belong to.
TEST_F(Dispatch, MethodsFollowTheirIdentifiersWhenInternedAnew) {
  const std::size_t country = 20, language = 22;  // rows of GetCountry and GetLanguage
  ASSERT_STREQ(MethodName(country), "GetCountry");
  ASSERT_STREQ(MethodName(language), "GetLanguage");
  const struct {
    bool swapped;
    const char *called, *sent;
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

}  // namespace
