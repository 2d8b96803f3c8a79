// The connection: what the constructor opens and logs, the texts that each
// Execute overload hands the framework, and what the destructor releases.
#include <climits>
#include <cstdlib>
#include <memory>
#include <regex>

#include "Support.h"
#include "bridge/CQuvBase.h"
#include "module/NPNFuncs.h"

namespace {

using NSPlTV::CQuvBase;
using nptv_test::FrameworkTest;
using std::string_literals::operator""s;

class BridgeTest : public FrameworkTest {};

TEST_F(BridgeTest, OpensWithTheCredentialOfItsWidgetPath) {
  const struct {
    const char* path;
    const char* credential;
  } cases[] = {
      {"/mtd_rwarea/widget/app", "TV|widgetpath|/mtd_rwarea/widget/app"},
      {"", "TV|widgetpath|"},
      {nullptr, "TV|widgetpath|"},
      {"/w/caf\xc3\xa9 app|x", "TV|widgetpath|/w/caf\xc3\xa9 app|x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.credential);
    std::string path = c.path ? c.path : "";
    auto tv = std::make_unique<CQuvBase>(c.path ? path.data() : nullptr);
    EXPECT_EQ(tv->m_strWidgetPath, path);
    EXPECT_EQ(tv->m_NPP.load(), nullptr);
    EXPECT_EQ(tv->m_pEventCallbackObj, nullptr);
    EXPECT_EQ(tv->m_pszEventCallbackName, nullptr);
    auto connections = quvstub::Connections();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].clientType, 1);
    EXPECT_TRUE(connections[0].open);
    EXPECT_EQ(connections[0].name, "TV");
    EXPECT_EQ(connections[0].version, "1.0");
    EXPECT_EQ(connections[0].credential, c.credential);
    EXPECT_TRUE(Sent().empty());  // opening sends no command
    tv.reset();
    EXPECT_TRUE(quvstub::Connections().empty());
  }
}

TEST_F(BridgeTest, ConstructorLogsTheCredentialAndOpenRecords) {
  char path[] = "/apps/tv";
  quvstub::TakeLog();
  CQuvBase tv(path);
  auto log = quvstub::TakeLog();
  const struct {
    const char* shortName;
    const char* signature;
    std::string message;
  } records[] = {
      {"CQuvBase", "CQuvBase", "BBQ!! credential is called.  \n"},
      {"Open", "bool NSPlTV::CQuvBase::Open(std::string, std::string, std::string)",
       " TV / 1.0 / TV|widgetpath|/apps/tv\n"},
  };
  ASSERT_EQ(log.size(), 3 * std::size(records));
  for (std::size_t r = 0; r < std::size(records); ++r) {
    SCOPED_TRACE(records[r].shortName);
    const auto* calls = &log[3 * r];
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(calls[i].module, 0u);
      EXPECT_EQ(calls[i].level, 4u);
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(calls[0].text, m,
                                 std::regex(R"(\[QUV\]\[(\w+)\((\d+)\)\] )")))
        << calls[0].text;
    EXPECT_EQ(m[1].str(), records[r].shortName);
    std::string line = m[2].str();
    EXPECT_GT(std::atoi(line.c_str()), 0);
    EXPECT_EQ(calls[1].text,
              "[" + std::string(records[r].signature) + "][" + line + "]" + records[r].message);
    EXPECT_EQ(calls[2].text, "\n");
  }
}

TEST_F(BridgeTest, EveryObjectHasItsOwnSerial) {
  char path[] = "/apps/tv";
  auto first = std::make_unique<CQuvBase>(path);
  auto second = std::make_unique<CQuvBase>(path);
  unsigned long long firstSerial = first->m_Serial;
  EXPECT_NE(firstSerial, second->m_Serial);
  first.reset();
  CQuvBase third(path);
  EXPECT_NE(third.m_Serial, firstSerial);
  EXPECT_NE(third.m_Serial, second->m_Serial);
}

TEST_F(BridgeTest, ExecuteOverloadsHandTheFrameworkTexts) {
  char path[] = "/apps/tv";
  CQuvBase tv(path);
  using Texts = std::vector<std::string>;
  const struct {
    const char* what;
    std::string (*call)(CQuvBase&);
    Texts sent;
  } cases[] = {
      {"five texts", [](CQuvBase& b) { return b.Execute("SetAppInfo", "a", "", "c d", "\"e\""); },
       {"SetAppInfo", "a", "", "c d", "\"e\""}},
      {"info and five texts",
       [](CQuvBase& b) { return b.Execute(nullptr, "Cmd", "1", "2", "3", "4"); },
       {"Cmd", "1", "2", "3", "4"}},
      {"four integers", [](CQuvBase& b) { return b.Execute(nullptr, "GetProgram_Title", 7, 0, 0, 0); },
       {"GetProgram_Title", "7", "0", "0", "0"}},
      {"extreme integers",
       [](CQuvBase& b) { return b.Execute(nullptr, "Cmd", -1, INT_MIN, INT_MAX, -10); },
       {"Cmd", "-1", "-2147483648", "2147483647", "-10"}},
      {"text then three integers",
       [](CQuvBase& b) { return b.Execute(nullptr, "IsValidPassword", std::string(), 0, -3, 9); },
       {"IsValidPassword", "", "0", "-3", "9"}},
      {"integer, text, integers",
       [](CQuvBase& b) { return b.Execute(nullptr, "Cmd", -2, std::string("t x"), 5, 0); },
       {"Cmd", "-2", "t x", "5", "0"}},
      {"ten texts",
       [](CQuvBase& b) {
         return b.ExecuteWithTenParameters("Ten", "1", "2", "3", "4", "5", "6", "7", "8", "9", "");
       },
       {"Ten", "1", "2", "3", "4", "5", "6", "7", "8", "9", ""}},
      {"info and ten texts",
       [](CQuvBase& b) {
         return b.ExecuteWithTenParameters(nullptr, "Ten", "a", "b", "c", "d", "e", "f", "g", "h",
                                           "i", "j");
       },
       {"Ten", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    quvstub::ClearJournal();
    const std::string reply = "U\x01\x00\xff"s;  // returned byte for byte
    quvstub::SetReply(c.sent[0], reply, 1);
    EXPECT_EQ(c.call(tv), reply);
    EXPECT_EQ(Sent(), std::vector<Texts>{c.sent});
  }
}

// A browser table whose release entries only count.
struct ReleaseCounts {
  static inline int releasedObjects = 0, freedBlocks = 0;
  static inline NPObject* lastObject = nullptr;
  static inline void* lastBlock = nullptr;
};

TEST_F(BridgeTest, DestructorReleasesWhatThePageRegistered) {
  NPNetscapeFuncs saved = NPNFuncs;
  NPNFuncs.releaseobject = [](NPObject* o) {
    ++ReleaseCounts::releasedObjects;
    ReleaseCounts::lastObject = o;
  };
  NPNFuncs.memfree = [](void* p) {
    ++ReleaseCounts::freedBlocks;
    ReleaseCounts::lastBlock = p;
  };
  NPObject handler{};
  char name[] = "onTvEvent";
  const struct {
    bool object, named;
  } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.object) + std::to_string(c.named));
    ReleaseCounts::releasedObjects = ReleaseCounts::freedBlocks = 0;
    ReleaseCounts::lastObject = nullptr;
    ReleaseCounts::lastBlock = nullptr;
    char path[] = "/apps/tv";
    auto tv = std::make_unique<CQuvBase>(path);
    if (c.object) tv->m_pEventCallbackObj = &handler;
    if (c.named) tv->m_pszEventCallbackName = name;
    tv.reset();
    EXPECT_EQ(ReleaseCounts::releasedObjects, c.object ? 1 : 0);
    EXPECT_EQ(ReleaseCounts::lastObject, c.object ? &handler : nullptr);
    EXPECT_EQ(ReleaseCounts::freedBlocks, c.named ? 1 : 0);
    EXPECT_EQ(ReleaseCounts::lastBlock, c.named ? static_cast<void*>(name) : nullptr);
    EXPECT_TRUE(quvstub::Connections().empty());
  }
  NPNFuncs = saved;
}

}  // namespace
