// The module's log records, exactly: three PrintLog calls each (prefix with the
// short name and line, message with the signature and the same line, "\n").
#include <functional>
#include <regex>

#include "Support.h"

namespace {

struct Record {
  unsigned module, level;
  std::string shortName, signature, message;
  int line;
};

// Splits the captured calls into records; every call must belong to one.
std::vector<Record> Records() {
  std::vector<Record> out;
  auto calls = quvstub::TakeLog();
  static const std::regex prefix(R"(\[QUV\]\[(.*)\((\d+)\)\] )");
  for (std::size_t i = 0; i < calls.size(); i += 3) {
    std::smatch m;
    EXPECT_TRUE(i + 2 < calls.size()) << "a record of fewer than three calls";
    if (i + 2 >= calls.size()) break;
    EXPECT_TRUE(std::regex_match(calls[i].text, m, prefix)) << calls[i].text;
    EXPECT_EQ(calls[i + 2].text, "\n");
    for (std::size_t k = 1; k < 3; ++k) {
      EXPECT_EQ(calls[i + k].module, calls[i].module);
      EXPECT_EQ(calls[i + k].level, calls[i].level);
    }
    Record r{calls[i].module, calls[i].level, m[1], "", calls[i + 1].text, std::stoi(m[2])};
    out.push_back(r);
  }
  return out;
}

std::vector<Record> Named(const std::vector<Record>& all, const std::string& name) {
  std::vector<Record> out;
  for (const Record& r : all)
    if (r.shortName == name) out.push_back(r);
  return out;
}

// The message of a record with its "[signature][line]" written out.
std::string Message(const std::string& colourOpen, const std::string& signature, int line,
                    const std::string& text, const std::string& colourClose) {
  return colourOpen + "[" + signature + "][" + std::to_string(line) + "]" + text + colourClose;
}

using Log = PluginTest;

TEST_F(Log, EntryPointRecords) {
  const std::string on = "\033[1;31;42m ", off = "\033[0m ";
  const std::string init = "NPError NP_Initialize(NPNetscapeFuncs*, NPPluginFuncs*)";
  const std::string create =
      "NPError NPP_New(NPMIMEType, NPP, uint16, int16, char**, char**, NPSavedData*)";
  const std::string destroy = "NPError NPP_Destroy(NPP, NPSavedData**)";
  struct Expected {
    std::string shortName;
    unsigned level;
    std::string open, signature, text, close;
  };
  struct Case {
    const char* what;
    std::function<void(tb::Host&)> action;
    std::vector<Expected> records;  // of these short names, in order
  };
  NPP kept = nullptr;
  const Case cases[] = {
      {"successful initialisation",
       [](tb::Host& h) { h.Initialize(); },
       {{"NP_Initialize", 4, "", init, "Start NP_Initialize", ""},
        {"NP_Initialize", 4, "", init, "End NP_Initialize\n", ""}}},
      {"refused initialisation",
       [](tb::Host&) { NP_Initialize(nullptr, nullptr); },
       {{"NP_Initialize", 4, "", init, "Start NP_Initialize", ""}}},
      {"shutdown",
       [](tb::Host&) { NP_Shutdown(); },
       {{"NP_Shutdown", 4, "", "NPError NP_Shutdown()", "NP_Shutdown\n", ""}}},
      {"new without an instance",
       [](tb::Host& h) { h.plugin().newp(nullptr, nullptr, 1, 0, nullptr, nullptr, nullptr); },
       {{"NPP_New", 0, on, create, "NPP_New TV", off}}},
      {"new", [&kept](tb::Host& h) { kept = h.New(); },
       {{"NPP_New", 0, on, create, "NPP_New TV", off}}},
      {"destroy", [&kept](tb::Host& h) { h.Destroy(kept); },
       {{"NPP_Destroy", 0, on, destroy, "NPP_Destroy TV, pPlugin is deleted!!", off}}},
      {"destroy without a plug-in object", [&kept](tb::Host& h) { h.Destroy(kept); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::CaptureLog(true);
    c.action(*host);
    auto all = Records();
    std::vector<Record> mine;
    for (const Record& r : all)
      if (r.shortName.rfind("NP", 0) == 0) mine.push_back(r);
    ASSERT_EQ(mine.size(), c.records.size());
    for (std::size_t i = 0; i < mine.size(); ++i) {
      const Expected& e = c.records[i];
      EXPECT_EQ(mine[i].shortName, e.shortName);
      EXPECT_EQ(mine[i].module, 0u);
      EXPECT_EQ(mine[i].level, e.level);
      EXPECT_EQ(mine[i].message, Message(e.open, e.signature, mine[i].line, e.text, e.close));
    }
  }
}

// Each kind of argument record, exactly (how many each call leaves, for every
// method: the script fuzz target).
TEST_F(Log, InvokeRecords) {
  const std::string signature =
      "virtual bool ScriptablePluginObject::Invoke(NPIdentifier, const NPVariant*, uint32_t, "
      "NPVariant*)";
  NPObject* tv = TvObject(NewInstance());
  struct Case {
    const char* method;
    std::vector<NPVariant> args;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"SetPIP", {tb::Bool(true)}, {"Invalid Argument, using default values!"}},
      {"GetPluginInfo", {}, {"GetPluginInfo:: Invalid Argument, using default values!"}},
      {"IsValidPassword", {tb::Double(1)}, {"args is not string\n"}},
      {"SetPIP", {tb::Int(1)}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    quvstub::CaptureLog(true);
    NPVariant result;
    ASSERT_TRUE(tb::Invoke(tv, c.method, c.args, &result));
    tb::ReleaseValue(&result);
    auto records = Named(Records(), "Invoke");
    ASSERT_EQ(records.size(), c.texts.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].level, 4u);
      EXPECT_EQ(records[i].message, Message("", signature, records[i].line, c.texts[i], ""));
    }
  }
}

// Also an instance without a window object: constructed and destroyed with
// nothing released that it never had (the fixture's misuse check).
TEST_F(Log, ConstructorRecords) {
  struct Case {
    const char* what;
    bool window;
    std::vector<std::string> texts;
  };
  const Case cases[] = {{"window object", true, {}},
                        {"no window object", false, {"sWindowObj is NULL"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tb::SetWindowObject(c.window);
    baselineObjects = tb::LiveObjects();
    quvstub::CaptureLog(true);
    NPP instance = NewInstance();
    auto records = Named(Records(), "CPlugin");
    ASSERT_EQ(records.size(), c.texts.size());
    for (std::size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ(records[i].message,
                Message("", "CPlugin::CPlugin(NPP)", records[i].line, c.texts[i], ""));
    DestroyInstance(instance);
  }
}

}  // namespace
