// The extension's configuration and origin rule, without WebKit.
#include "Config.h"
#include "OriginRule.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using nptvwebkit::Allowed;
using nptvwebkit::Config;
using nptvwebkit::ReadConfig;

// The one origin rule (OriginRule.h), which the extension, tvwebkit's --origin
// and both programs' page hook follow: a page's URL and a text to list.
TEST(Origin, OnePageUrlAndListedOriginTable) {
  struct Case {
    const char* text;
    const char* page;    // its origin as a page's URL ("" none)
    const char* listed;  // as a listed origin (nullptr: refused)
  } cases[] = {
      {"http://127.0.0.1:8913", "http://127.0.0.1:8913", "http://127.0.0.1:8913"},
      {"HTTP://Example.COM/", "http://example.com", "http://example.com"},
      {"http://example.com:80", "http://example.com", "http://example.com"},
      {"http://host:080", "http://host", "http://host"},
      {"https://example.com:443/", "https://example.com", "https://example.com"},
      {"https://example.com:8443", "https://example.com:8443", "https://example.com:8443"},
      {"http://example.com:443", "http://example.com:443", "http://example.com:443"},
      {"http://[::1]:8080/", "http://[::1]:8080", "http://[::1]:8080"},
      {"http://[0:0:0:0:0:0:0:1]", "http://[::1]", "http://[::1]"},
      {"http://127.1", "http://127.0.0.1", "http://127.0.0.1"},
      {"http://0x7f.0.0.1:81", "http://127.0.0.1:81", "http://127.0.0.1:81"},
      {"http://b\xc3\xbc" "cher.example", "http://xn--bcher-kva.example", "http://xn--bcher-kva.example"},
      {"http://b%C3%BCcher.example", "http://xn--bcher-kva.example", "http://xn--bcher-kva.example"},
      {"http://host/path?q#f", "http://host", nullptr},
      {"http://host//", "http://host", nullptr},
      {"http://host?q", "http://host", nullptr},
      {"http://host:0", "", nullptr},
      {"http://host:", "", nullptr},
      {"http://host:65536", "", nullptr},
      {"http://host:12a", "", nullptr},
      {"http://user:pw@host", "", nullptr},
      {"http://[::1", "", nullptr},
      {"http://", "", nullptr},
      {"file:///home/tv/app/index.html", "file://", nullptr},
      {"FILE:///x", "file://", nullptr},
      {"file://host/x", "file://", nullptr},
      {"ftp://example.com", "", nullptr},
      {"ws://example.com", "", nullptr},
      {"app+x://h", "", nullptr},
      {"about:blank", "", nullptr},
      {"data:text/html,<embed>", "", nullptr},
      {"blob:http://example.com/1234", "", nullptr},
      {"host:80", "", nullptr},
      {"not a uri", "", nullptr},
      {"", "", nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nptvorigin::OfUrl(c.text), c.page) << c.text;
    std::string listed = "untouched";
    EXPECT_EQ(nptvorigin::Listed(c.text, listed), c.listed != nullptr) << c.text;
    EXPECT_EQ(listed, c.listed ? c.listed : "untouched") << c.text;
  }
}

class Env {
 public:
  Env(const char* name, const char* value) : m_name(name) {
    if (value) setenv(name, value, 1); else unsetenv(name);
  }
  ~Env() { unsetenv(m_name); }
 private:
  const char* m_name;
};

GVariant* UserData(const char* text) {
  return g_variant_ref_sink(g_variant_parse(G_VARIANT_TYPE("a{sv}"), text, nullptr, nullptr, nullptr));
}

TEST(Config, OriginsFromUserDataOrEnvironment) {
  struct Case {
    const char* userData;  // null: none
    const char* env;       // NPTV_ORIGINS, null: unset
    const char* uri;
    bool allowed;
    std::size_t problems;
  } cases[] = {
      {"{'origins': <['http://127.0.0.1:8913']>}", nullptr, "http://127.0.0.1:8913/a", true, 0},
      {"{'origins': <['http://h.tv/app']>}", nullptr, "http://h.tv/app", false, 1},
      {"{'origins': <['file:///x', '*']>}", nullptr, "http://h.tv/", false, 2},
      {"{'origins': <@as []>}", "http://h.tv", "http://h.tv/", false, 0},  // user data wins
      {nullptr, "http://h.tv, https://s.tv:8443", "https://s.tv:8443/p", true, 0},
      {nullptr, "http://h.tv,,", "http://h.tv/p", true, 0},
      {nullptr, "nonsense", "http://h.tv/p", false, 1},
      {nullptr, nullptr, "http://h.tv/p", false, 0},
      {nullptr, nullptr, "file:///anything.html", true, 0},
      {"{'module': <'/m.so'>}", nullptr, "file:///a", true, 0},
  };
  for (const Case& c : cases) {
    Env env("NPTV_ORIGINS", c.env);
    GVariant* data = c.userData ? UserData(c.userData) : nullptr;
    if (c.userData) ASSERT_NE(data, nullptr) << c.userData;
    Config config = ReadConfig(data);
    EXPECT_EQ(Allowed(config, c.uri), c.allowed) << (c.userData ? c.userData : "-") << " / "
                                                 << (c.env ? c.env : "-") << " / " << c.uri;
    EXPECT_EQ(config.problems.size(), c.problems) << (c.userData ? c.userData : c.env ? c.env : "-");
    if (data) g_variant_unref(data);
  }
}

TEST(Config, ModuleAndAppTexts) {
  {
    Env module("NPTV_MODULE", "/env/libnptv.so");
    Env text("NPTV_APP_TEXT_4001", "from env");
    GVariant* data = UserData("{'module': <'/data/libnptv.so'>, 'app-texts': <{4000: 'a', 4003: 'd', 17: 'x'}>}");
    Config config = ReadConfig(data);
    g_variant_unref(data);
    EXPECT_EQ(config.module, "/data/libnptv.so");
    EXPECT_EQ(config.appTexts.size(), 2u);  // the user data's texts replace the environment's
    EXPECT_EQ(config.appTexts[4000], "a");
    EXPECT_EQ(config.appTexts[4003], "d");
    EXPECT_EQ(config.problems.size(), 1u);  // variable 17
  }
  {
    Env module("NPTV_MODULE", "/env/libnptv.so");
    Env text("NPTV_APP_TEXT_4001", "from env");
    Config config = ReadConfig(nullptr);
    EXPECT_EQ(config.module, "/env/libnptv.so");
    EXPECT_EQ(config.appTexts.size(), 1u);
    EXPECT_EQ(config.appTexts[4001], "from env");
  }
  {
    Env module("NPTV_MODULE", nullptr);
    EXPECT_EQ(ReadConfig(nullptr).module, NPTV_WEBKIT_DEFAULT_MODULE);
    GVariant* wrong = g_variant_ref_sink(g_variant_new_string("x"));
    Config config = ReadConfig(wrong);
    g_variant_unref(wrong);
    EXPECT_EQ(config.problems.size(), 1u);
  }
}

}  // namespace
