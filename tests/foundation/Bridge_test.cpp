// The connection: what the constructor opens and logs, and the texts each
// Execute overload hands the framework.
#include <climits>
#include <memory>
#include <regex>

#include "Support.h"
#include "bridge/CQuvBase.h"

namespace {

using NSPlTV::CQuvBase;
using namespace std::string_literals;

class BridgeTest : public nptv_test::FrameworkTest {};

TEST_F(BridgeTest, OpensWithTheCredentialOfItsWidgetPathAndLogsIt) {
  const char* paths[] = {"/mtd_rwarea/widget/app", "", nullptr, "/w/caf\xc3\xa9 a|b"};
  unsigned long long lastSerial = 0;
  for (const char* p : paths) {
    std::string path = p ? p : "", credential = "TV|widgetpath|" + path;
    SCOPED_TRACE(credential);
    quvstub::TakeLog();
    auto tv = std::make_unique<CQuvBase>(p ? path.data() : nullptr);
    EXPECT_EQ(tv->m_strWidgetPath, path);
    EXPECT_EQ(tv->m_NPP.load(), nullptr);
    EXPECT_EQ(tv->m_pEventCallbackObj, nullptr);
    EXPECT_EQ(tv->m_pszEventCallbackName, nullptr);
    EXPECT_NE(tv->m_Serial, lastSerial);  // a new object never takes an old serial
    lastSerial = tv->m_Serial;
    auto connections = quvstub::Connections();
    ASSERT_EQ(connections.size(), 1u);
    const auto& c = connections[0];
    EXPECT_EQ(std::make_tuple(c.clientType, c.open, c.name, c.version, c.credential),
              std::make_tuple(1, true, "TV"s, "1.0"s, credential));
    EXPECT_TRUE(Sent().empty());  // opening sends no command

    // Two records of three calls each: prefix, message with the same line, "\n".
    const std::string records[][3] = {
        {"CQuvBase", "CQuvBase", "BBQ!! credential is called.  \n"},
        {"Open", "bool NSPlTV::CQuvBase::Open(std::string, std::string, std::string)",
         " TV / 1.0 / " + credential + "\n"}};
    auto log = quvstub::TakeLog();
    ASSERT_EQ(log.size(), 6u);
    for (int r = 0; r < 2; ++r) {
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::make_pair(log[3 * r + i].module, log[3 * r + i].level),
                  std::make_pair(0u, 4u));
      std::smatch m;
      ASSERT_TRUE(
          std::regex_match(log[3 * r].text, m, std::regex(R"(\[QUV\]\[(\w+)\(([1-9]\d*)\)\] )")));
      EXPECT_EQ(m[1].str(), records[r][0]);
      EXPECT_EQ(log[3 * r + 1].text, "[" + records[r][1] + "][" + m[2].str() + "]" + records[r][2]);
      EXPECT_EQ(log[3 * r + 2].text, "\n");
    }
    tv.reset();
    EXPECT_TRUE(quvstub::Connections().empty());
  }
}

TEST_F(BridgeTest, ExecuteOverloadsHandTheFrameworkTexts) {
  char path[] = "/apps/tv";
  CQuvBase tv(path);
  const struct {
    std::string (*call)(CQuvBase&);
    std::vector<std::string> sent;
  } cases[] = {
      {[](CQuvBase& b) { return b.Execute("SetAppInfo", "a\0b"s, "", "\xFF\xFE", "\"e\""); },
       {"SetAppInfo", "a\0b"s, "", "\xFF\xFE", "\"e\""}},
      {[](CQuvBase& b) { return b.Execute(nullptr, "C", "1", "2", "3", "4"); },
       {"C", "1", "2", "3", "4"}},
      {[](CQuvBase& b) { return b.Execute(nullptr, "GetProgram_Title", 7, 0, 0, 0); },
       {"GetProgram_Title", "7", "0", "0", "0"}},
      {[](CQuvBase& b) { return b.Execute(nullptr, "C", -1, INT_MIN, INT_MAX, -10); },
       {"C", "-1", "-2147483648", "2147483647", "-10"}},
      {[](CQuvBase& b) { return b.Execute(nullptr, "IsValidPassword", ""s, 0, -3, 9); },
       {"IsValidPassword", "", "0", "-3", "9"}},
      {[](CQuvBase& b) { return b.Execute(nullptr, "C", -2, "t x"s, 5, 0); },
       {"C", "-2", "t x", "5", "0"}},
      {[](CQuvBase& b) {
         return b.ExecuteWithTenParameters("T", "1", "2", "3", "4", "5", "6", "7", "8", "9", "");
       },
       {"T", "1", "2", "3", "4", "5", "6", "7", "8", "9", ""}},
      {[](CQuvBase& b) {
         return b.ExecuteWithTenParameters(nullptr, "T", "a", "b", "c", "d", "e", "f", "g", "h",
                                           "i", "j");
       },
       {"T", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent[0] + " with " + std::to_string(c.sent.size()) + " texts");
    quvstub::ClearJournal();
    const std::string reply = "U\x01\0\xff"s;  // handed back byte for byte
    quvstub::SetReply(c.sent[0], reply, 1);
    EXPECT_EQ(c.call(tv), reply);
    EXPECT_EQ(Sent(), Journal{c.sent});
  }
}

}  // namespace
