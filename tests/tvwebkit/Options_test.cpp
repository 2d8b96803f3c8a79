// tvwebkit's command line: what it accepts, what it refuses and with which
// message (the origins are the one rule's: webkit/tests/config_test.cpp).
#include <gtest/gtest.h>

#include <cctype>

#include "Options.h"

namespace {

// A test name from a case's text: letters and digits kept, the rest '_'.
std::string NameOf(const std::string& text, size_t index) {
  std::string name;
  for (char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name + "_" + std::to_string(index);
}

struct ParseCase {
  std::vector<std::string> args;
  const char* error;  // nullptr: accepted; else a part of the message
};

class ParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, AcceptsOrRefuses) {
  const ParseCase& c = GetParam();
  Options o;
  std::string error;
  const bool ok = ParseOptions(c.args, o, error);
  if (!c.error) {
    EXPECT_TRUE(ok) << error;
  } else {
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(c.error), std::string::npos) << "message: " << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseTest,
    testing::Values(ParseCase{{"page.html"}, nullptr},
                    ParseCase{{"--automation"}, nullptr},
                    ParseCase{{"--help"}, nullptr},
                    ParseCase{{}, "no page given"},
                    ParseCase{{"a.html", "b.html"}, "more than one page"},
                    ParseCase{{"--frob", "p"}, "unknown option --frob"},
                    ParseCase{{"p", "--module"}, "--module needs a value"},
                    ParseCase{{"p", "--module", ""}, "--module: empty value"},
                    ParseCase{{"p", "--origin", "http://h/x"}, "--origin: 'http://h/x' is not"},
                    ParseCase{{"p", "--app-text", "3999=x"}, "--app-text: '3999=x'"},
                    ParseCase{{"p", "--app-text", "4004=x"}, "--app-text"},
                    ParseCase{{"p", "--app-text", "40000=x"}, "--app-text"},
                    ParseCase{{"p", "--app-text", "4001"}, "--app-text"},
                    ParseCase{{"p", "--app-text", "+400=x"}, "--app-text"},
                    ParseCase{{"p", "--timeout", "0"}, "--timeout: '0'"},
                    ParseCase{{"p", "--timeout", "nan"}, "--timeout"},
                    ParseCase{{"p", "--timeout", "2s"}, "--timeout"},
                    ParseCase{{"p", "--size", "15x100"}, "--size"},
                    ParseCase{{"p", "--size", "100x"}, "--size"},
                    ParseCase{{"p", "--size", "8193x100"}, "--size"},
                    ParseCase{{"p", "--headless", "--no-xvfb"}, "exclude each other"},
                    ParseCase{{"p", "--sandbox", "--sandbox-path", "/run/quv"}, nullptr},
                    ParseCase{{"p", "--sandbox", "--sandbox-path", "run/quv"}, "not an absolute path"},
                    ParseCase{{"p", "--sandbox-path", "/run/quv"}, nullptr},
                    ParseCase{{"p", "--no-sandbox", "--sandbox-path", "/run/quv"}, "exclude each other"}),
    [](const testing::TestParamInfo<ParseCase>& i) {
      std::string joined;
      for (const std::string& a : i.param.args) joined += a + " ";
      return NameOf(joined, i.index);
    });

TEST(Options, CollectsWhatItIsGiven) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--plugin-dir", "/lib/plugins/", "--origin", "HTTP://A:1", "--origin", "http://b",
                            "--app-text", "4000=app", "--app-text", "4003=", "--app-text", "4000=again",
                            "--script", "x.js", "--script", "y.js", "--size", "640x360", "--timeout", "2.5",
                            "page.html?x=1"},
                           o, error))
      << error;
  EXPECT_EQ(o.module, "/lib/plugins/libnptv.so");
  EXPECT_EQ(o.origins, (std::vector<std::string>{"http://a:1", "http://b"}));
  EXPECT_EQ(o.appTexts, (std::map<int, std::string>{{4000, "again"}, {4003, ""}}));
  EXPECT_EQ(o.scripts, (std::vector<std::string>{"x.js", "y.js"}));
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 360);
  EXPECT_DOUBLE_EQ(o.timeoutSeconds, 2.5);
  EXPECT_EQ(o.page, "page.html?x=1");
}

TEST(Options, SandboxedUnlessToldOtherwise) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"p"}, o, error));
  EXPECT_TRUE(o.sandbox);
  ASSERT_TRUE(ParseOptions({"--no-sandbox", "p"}, o, error));
  EXPECT_FALSE(o.sandbox);
}

TEST(Options, ModuleAndPluginDirMeanTheSameFile) {
  Options a, b;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--plugin-dir", "/x", "p"}, a, error));
  ASSERT_TRUE(ParseOptions({"--module", "/x/libnptv.so", "p"}, b, error));
  EXPECT_EQ(a.module, b.module);
}

}  // namespace
