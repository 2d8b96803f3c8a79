// Fixture of the in-process plug-in suites: the module linked in, loaded by
// the test browser, the stand-in's simulator off (commands answer "E" unless
// a reply is forced); after each test no live object, open allocation,
// connection or misuse.
#ifndef NPTV_TESTS_PLUGIN_SUPPORT_H
#define NPTV_TESTS_PLUGIN_SUPPORT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <quvstub/Control.h>

#include "TestBrowser.h"
#include "module/NPEntry.h"

namespace tb = testbrowser;

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new instance (NPP_New must succeed).
  NPP NewInstance();
  // Destroys an instance created by NewInstance.
  void DestroyInstance(NPP instance);
  // The instance's scriptable object; the fixture releases it at the end.
  NPObject* TvObject(NPP instance);

  // The commands the framework received, each as its texts joined with '|'.
  static std::vector<std::string> Commands();

  std::unique_ptr<tb::Host> host;
  std::size_t baselineObjects = 0;
  std::vector<NPP> live;
  std::vector<NPObject*> held;
};

// One live instance with its TV object, and a TV object of an instance
// without plug-in data, for which the TV is unavailable.
class TvObjectTest : public PluginTest {
 protected:
  void SetUp() override;
  // A script function object; the fixture releases it at the end.
  NPObject* Function();

  NPP instance = nullptr;
  NPObject* tv = nullptr;
  NPP_t nobody{nullptr, nullptr};
  NPObject* orphan = nullptr;
};

// The texts of captured log calls, in order.
std::vector<std::string> LogTexts();

#endif
