// Loading, initialising, instances, windows, the scriptable object and
// tear-down, driven through the entry points as a browser drives them.
#include <cstring>

#include "Support.h"
#include "module/CPlugin.h"
#include "script/ScriptablePluginObject.h"
#include "tv/CPlTV.h"

namespace {

constexpr std::size_t kWords = (sizeof(NPNetscapeFuncs) - offsetof(NPNetscapeFuncs, geturl)) /
                               sizeof(void*);  // 52 entries after size/version

// Entry `word` (1-based, as the NPAPI table counts them) of a browser table.
void*& Word(NPNetscapeFuncs& table, std::size_t word) {
  return reinterpret_cast<void**>(reinterpret_cast<char*>(&table) +
                                  offsetof(NPNetscapeFuncs, geturl))[word - 1];
}

using Lifecycle = PluginTest;

TEST_F(Lifecycle, InitializeRefusesBadTablesAndWritesNothing) {
  struct Case {
    const char* what;
    bool nullBrowser, nullPlugin;
    uint16_t version, size;
    NPError expected;
  };
  const uint16_t ok = kMinBrowserTableSize;
  const Case cases[] = {
      {"null browser table", true, false, 0x001b, ok, NPERR_INVALID_FUNCTABLE_ERROR},
      {"null plug-in table", false, true, 0x001b, ok, NPERR_INVALID_FUNCTABLE_ERROR},
      {"major version 1", false, false, 0x0100, ok, NPERR_INCOMPATIBLE_VERSION_ERROR},
      {"size one short", false, false, 0x0018, uint16_t(ok - 1), NPERR_INVALID_FUNCTABLE_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NPNetscapeFuncs browser = tb::Browser();
    browser.version = c.version;
    browser.size = c.size;
    Word(browser, 9) = reinterpret_cast<void*>(0x1234);  // would show up if copied
    NPPluginFuncs plugin;
    std::memset(&plugin, 0xAB, sizeof plugin);
    NPPluginFuncs pluginBefore = plugin;
    NPNetscapeFuncs before = NPNFuncs;

    EXPECT_EQ(NP_Initialize(c.nullBrowser ? nullptr : &browser, c.nullPlugin ? nullptr : &plugin),
              c.expected);
    EXPECT_EQ(std::memcmp(&before, &NPNFuncs, sizeof before), 0) << "NPNFuncs written";
    EXPECT_EQ(std::memcmp(&pluginBefore, &plugin, sizeof plugin), 0) << "plug-in table written";
  }
}

TEST_F(Lifecycle, InitializeCopiesExactlyTheListedBrowserEntries) {
  for (uint16_t size : {kMinBrowserTableSize, uint16_t(kMinBrowserTableSize + 6 * sizeof(void*))}) {
    SCOPED_TRACE(size);
    // Each entry a distinct value that is never called: initialisation only copies.
    tb::LargeFunctionTable large = tb::LargeFunctions(size);
    NPNetscapeFuncs& browser = large.funcs;
    browser.version = 0x0018;
    for (std::size_t w = 1; w <= kWords; ++w) Word(browser, w) = reinterpret_cast<void*>(0x10000 + 16 * w);
    NPPluginFuncs plugin;
    std::memset(&plugin, 0, sizeof plugin);
    plugin.setvalue = reinterpret_cast<NPP_SetValueProcPtr>(0x5e7);
    plugin.javaClass = reinterpret_cast<void*>(0x7a7a);
    plugin.gotfocus = reinterpret_cast<NPP_GotFocusPtr>(0x60f);

    ASSERT_EQ(NP_Initialize(&browser, &plugin), NPERR_NO_ERROR);

    EXPECT_EQ(NPNFuncs.size, size);
    EXPECT_EQ(NPNFuncs.version, 0x0018);
    for (std::size_t w = 1; w <= kWords; ++w) {
      bool copied = w <= 40 || w == 44;
      EXPECT_EQ(Word(NPNFuncs, w), copied ? Word(browser, w) : nullptr) << "word " << w;
    }
    EXPECT_EQ(plugin.size, kPluginTableSize);
    EXPECT_EQ(plugin.version, 24);
    // Not written: they keep the browser's values.
    EXPECT_EQ(plugin.setvalue, reinterpret_cast<NPP_SetValueProcPtr>(0x5e7));
    EXPECT_EQ(plugin.javaClass, reinterpret_cast<void*>(0x7a7a));
    EXPECT_EQ(plugin.gotfocus, reinterpret_cast<NPP_GotFocusPtr>(0x60f));
    EXPECT_EQ(plugin.getsiteswithdata, nullptr);
  }
  ASSERT_EQ(host->Initialize(), NPERR_NO_ERROR);  // the real table again for tear-down
}

TEST_F(Lifecycle, ModuleValuesAnsweredWithoutAnInstance) {
  EXPECT_STREQ(NP_GetMIMEDescription(), "application/tv:*.swf21:TV_plug-in");
  NPP instance = NewInstance();
  struct Case {
    const char* what;
    NPP instance;
    int variable;
    NPError expected;
    const char* text;  // for the two string variables
  };
  const Case cases[] = {
      {"name", nullptr, NPPVpluginNameString, NPERR_NO_ERROR, "TV"},
      {"description", nullptr, NPPVpluginDescriptionString, NPERR_NO_ERROR, "ZOT_TV_Plugin"},
      {"name with an instance", instance, NPPVpluginNameString, NPERR_NO_ERROR, "TV"},
      {"needs XEmbed", nullptr, NPPVpluginNeedsXEmbed, NPERR_NO_ERROR, nullptr},
      {"scriptable object without an instance", nullptr, NPPVpluginScriptableNPObject,
       NPERR_GENERIC_ERROR, nullptr},
      {"variable 0", instance, 0, NPERR_GENERIC_ERROR, nullptr},
      {"scriptable instance (10)", instance, NPPVpluginScriptableInstance, NPERR_GENERIC_ERROR,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool throughModuleEntry : {false, true}) {
      union {
        const char* text;
        NPBool flag;
        void* pointer;
      } answer;
      answer.pointer = reinterpret_cast<void*>(0x5a5a);
      NPPVariable v = static_cast<NPPVariable>(c.variable);
      NPError e = throughModuleEntry ? NP_GetValue(c.instance, v, &answer)
                                     : host->plugin().getvalue(c.instance, v, &answer);
      EXPECT_EQ(e, c.expected);
      if (c.text)
        EXPECT_STREQ(answer.text, c.text);
      else if (c.variable == NPPVpluginNeedsXEmbed)
        EXPECT_EQ(answer.flag, 1);
      else
        EXPECT_EQ(answer.pointer, reinterpret_cast<void*>(0x5a5a)) << "answer written on failure";
    }
  }
}

TEST_F(Lifecycle, StreamAndEventCallbacks) {
  NPP instance = NewInstance();
  NPStream stream{};
  char data[1000] = {};
  uint16_t stype = NP_ASFILE;
  struct Case {
    const char* what;
    NPP instance;
    int32_t newStream, writeReady, write, destroyStream, handleEvent, setValue;
  };
  const Case cases[] = {
      {"no instance", nullptr, 2, 2, 2, 2, 0, 2},
      {"instance", instance, 0, 0x0FFFFFFF, 1000, 0, 0, 0},
  };
  NPPluginFuncs& p = host->plugin();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    char mime[] = "application/tv";
    EXPECT_EQ(p.newstream(c.instance, mime, &stream, 0, &stype), c.newStream);
    EXPECT_EQ(stype, NP_ASFILE);
    EXPECT_EQ(p.writeready(c.instance, &stream), c.writeReady);
    EXPECT_EQ(p.write(c.instance, &stream, 0, sizeof data, data), c.write);
    EXPECT_EQ(p.destroystream(c.instance, &stream, NPRES_DONE), c.destroyStream);
    EXPECT_EQ(p.event(c.instance, data), c.handleEvent);
    EXPECT_EQ(NPP_SetValue(c.instance, NPNVWindowNPObject, nullptr), c.setValue);
    p.asfile(c.instance, &stream, "/tmp/x");
    p.print(c.instance, nullptr);
    p.urlnotify(c.instance, "http://x/", NPRES_DONE, nullptr);
  }
  EXPECT_EQ(NPP_Initialize(), NPERR_NO_ERROR);
  NPP_Shutdown();
  EXPECT_EQ(NP_Shutdown(), NPERR_NO_ERROR);
  EXPECT_EQ(tb::AllocationCalls(), 0u) << "stream callbacks touched the browser";
}

TEST_F(Lifecycle, NewAndDestroy) {
  EXPECT_EQ(host->plugin().newp(nullptr, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr),
            NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(host->plugin().destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  NPP_t bare{nullptr, nullptr};
  EXPECT_EQ(host->plugin().destroy(&bare, nullptr), NPERR_NO_ERROR);
  EXPECT_TRUE(quvstub::Connections().empty());

  NPP instance = NewInstance();
  ASSERT_NE(instance->pdata, nullptr);
  auto* plugin = static_cast<CPlugin*>(instance->pdata);
  EXPECT_EQ(plugin->m_NPInstance, instance);
  EXPECT_FALSE(plugin->isInitialized());
  ASSERT_NE(plugin->m_pTV, nullptr);
  EXPECT_EQ(plugin->m_pTV->m_NPP.load(), instance);
  EXPECT_EQ(sWindowObj, tb::WindowObject());
  EXPECT_EQ(tb::RefCount(tb::WindowObject()), 2u);  // the browser's own and the instance's
  // Windowless: NPN_SetValue(NPPVpluginWindowBool, null), once.
  auto sets = tb::SetValueCalls();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(std::make_tuple(sets[0].npp, sets[0].variable, sets[0].value),
            std::make_tuple(instance, int(NPPVpluginWindowBool), nullptr));
  ASSERT_EQ(quvstub::Connections().size(), 1u);
  const auto c = quvstub::Connections()[0];
  EXPECT_EQ(std::make_tuple(c.open, c.opens, c.closes), std::make_tuple(true, 1u, 0u));

  DestroyInstance(instance);
  EXPECT_EQ(instance->pdata, nullptr);
  EXPECT_EQ(sWindowObj, nullptr);
  EXPECT_EQ(tb::RefCount(tb::WindowObject()), 1u);
  EXPECT_TRUE(quvstub::Connections().empty()) << "connection not closed with the instance";
  // One Close before the wrapper's destruction: the fixture checks for misuse.
}

TEST_F(Lifecycle, ApplicationTextsReachTheFramework) {
  struct Case {
    const char* what;
    std::optional<std::string> texts[4];  // 4000..4003
    std::string appInfo, credential;
  };
  const std::string full(1024, 'w');  // fills the whole buffer without a terminator
  const Case cases[] = {
      {"all answered", {"C", "/widgets/guide", "A", "D"}, "SetAppInfo|A|C|/widgets/guide|D",
       "TV|widgetpath|/widgets/guide"},
      {"some answered", {std::nullopt, "/w", "app", std::nullopt}, "SetAppInfo|app||/w|", "TV|widgetpath|/w"},
      {"a full buffer", {"c", full, "a", "d"}, "SetAppInfo|a|c|" + full + "|d", "TV|widgetpath|" + full},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int i = 0; i < 4; ++i) tb::SetAppText(4000 + i, c.texts[i]);
    quvstub::ClearJournal();
    NPP instance = NewInstance();
    ASSERT_EQ(Commands(), std::vector<std::string>{c.appInfo});
    auto connections = quvstub::Connections();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].credential, c.credential);
    DestroyInstance(instance);
  }
}

TEST_F(Lifecycle, SetWindowInitialisesOnceWithARealWindow) {
  NPP instance = NewInstance();
  auto* plugin = static_cast<CPlugin*>(instance->pdata);
  NPP_t bare{nullptr, nullptr};
  int handle1 = 0, handle2 = 0;
  NPWindow none{}, first{}, second{};
  first.window = &handle1;
  second.window = &handle2;
  struct Step {
    const char* what;
    NPP instance;
    NPWindow* window;
    NPError expected;
    bool initialised;
    NPWindow* recorded;
  };
  const Step steps[] = {
      {"no instance", nullptr, &first, NPERR_INVALID_INSTANCE_ERROR, false, nullptr},
      {"no window", instance, nullptr, NPERR_GENERIC_ERROR, false, nullptr},
      {"no plug-in object", &bare, &first, NPERR_GENERIC_ERROR, false, nullptr},
      {"null handle before a real window", instance, &none, NPERR_NO_ERROR, false, nullptr},
      {"a real window", instance, &first, NPERR_NO_ERROR, true, &first},
      {"another window while initialised", instance, &second, NPERR_NO_ERROR, true, &first},
      {"window gone while initialised", instance, &none, NPERR_NO_ERROR, true, &first},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_EQ(host->plugin().setwindow(s.instance, s.window), s.expected);
    EXPECT_EQ(plugin->isInitialized(), s.initialised);
    EXPECT_EQ(plugin->m_NPWindow, s.recorded);
  }
  plugin->shut();
  EXPECT_FALSE(plugin->isInitialized());
  EXPECT_EQ(plugin->m_NPWindow, &first) << "shut forgets the window";
  EXPECT_FALSE(plugin->init(nullptr));
  EXPECT_FALSE(plugin->isInitialized());
  EXPECT_EQ(plugin->handleEvent(nullptr), 0);
}

TEST_F(Lifecycle, ScriptableObjectReferences) {
  NPP instance = NewInstance();
  NPObject* first = host->ScriptObject(instance);
  NPObject* second = host->ScriptObject(instance);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->_class, &sScriptablePluginObjectClass);
  EXPECT_EQ(static_cast<ScriptablePluginObjectBase*>(first)->m_NPP, instance);
  EXPECT_EQ(tb::RefCount(first), 3u);  // creation + one per call
  NPObject* third = NPP_GetScriptableInstance(instance);
  EXPECT_EQ(third, first);
  EXPECT_EQ(tb::RefCount(first), 4u);
  EXPECT_EQ(NPP_GetScriptableInstance(nullptr), nullptr);

  DestroyInstance(instance);
  EXPECT_EQ(tb::RefCount(first), 3u) << "the instance's creation reference must go";
  tb::Release(first);
  tb::Release(second);
  tb::Release(third);
  EXPECT_FALSE(tb::IsLive(first));
}

TEST_F(Lifecycle, ScriptableObjectCreationFailureIsRetried) {
  NPP instance = NewInstance();
  tb::FailObjectCreation(true);
  // The browser's refusal is handed back as it came: success with a null
  // object, no reference taken.
  NPObject* object = reinterpret_cast<NPObject*>(0x1);
  EXPECT_EQ(host->plugin().getvalue(instance, NPPVpluginScriptableNPObject, &object),
            NPERR_NO_ERROR);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(static_cast<CPlugin*>(instance->pdata)->m_ScriptObj, nullptr);
  tb::FailObjectCreation(false);
  NPObject* tv = TvObject(instance);
  ASSERT_NE(tv, nullptr);
  EXPECT_EQ(tb::RefCount(tv), 2u);
}

TEST_F(Lifecycle, UserAgentCopies) {
  tb::SetUserAgent(std::string("Agent/2"));
  NPP instance = NewInstance();
  auto* plugin = static_cast<CPlugin*>(instance->pdata);
  ASSERT_NE(plugin->m_UserAgent, nullptr);
  EXPECT_STREQ(plugin->m_UserAgent, "Agent/2");

  // clear: zero bytes over the text and its terminator, buffer kept.
  char* kept = plugin->m_UserAgent;
  plugin->clear();
  EXPECT_EQ(plugin->m_UserAgent, kept);
  EXPECT_EQ(std::memcmp(kept, "\0\0\0\0\0\0\0\0", 8), 0);

  // getVersion: a browser-allocated copy that outlives the call.
  tb::SetUserAgent(std::string("Agent/3"));
  char* version = nullptr;
  plugin->getVersion(&version);
  ASSERT_NE(version, nullptr);
  tb::SetUserAgent(std::string("changed"));
  EXPECT_STREQ(version, "Agent/3");
  NPNFuncs.memfree(version);
  tb::FailAllocationsAfter(0);
  version = reinterpret_cast<char*>(0x1);
  plugin->getVersion(&version);
  EXPECT_EQ(version, nullptr);
  tb::FailAllocationsAfter(-1);

  // showVersion: a fresh copy, then a repaint of the window's area cut to 16 bits.
  int handle = 0;
  NPWindow window{&handle, 70000, 10, 300, 200, {}, nullptr, NPWindowType{}};  // x: 70000 & 0xffff == 4464
  plugin->showVersion();
  EXPECT_STREQ(plugin->m_UserAgent, "changed");
  EXPECT_TRUE(tb::InvalidatedRects().empty()) << "no window yet";
  ASSERT_TRUE(plugin->init(&window));
  plugin->showVersion();
  auto rects = tb::InvalidatedRects();
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(std::make_tuple(rects[0].top, rects[0].left, rects[0].bottom, rects[0].right),
            std::make_tuple(10, 4464, 210, 4764));
  DestroyInstance(instance);

  tb::SetUserAgent(std::nullopt);
  instance = NewInstance();
  EXPECT_EQ(static_cast<CPlugin*>(instance->pdata)->m_UserAgent, nullptr);
}

}  // namespace
