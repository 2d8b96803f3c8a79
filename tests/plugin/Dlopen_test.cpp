// The shipped libnptv.so as a browser sees it: loaded with dlopen, driven only
// through its exported entry points and the tables they fill.
#include <gtest/gtest.h>

#include <cstring>

#include <quvstub/Control.h>

#include "TestBrowser.h"

namespace tb = testbrowser;

namespace {

const char kModule[] = NPTV_MODULE_PATH;

TEST(Module, BrowserSession) {
  tb::Reset();
  quvstub::Reset();
  quvstub::UseSimulator(false);
  const std::size_t baseline = tb::LiveObjects();
  std::string error;
  std::unique_ptr<tb::Host> host = tb::Host::Load(kModule, &error);
  ASSERT_TRUE(host) << error;
  auto* npnFuncs = static_cast<NPNetscapeFuncs*>(host->Symbol("NPNFuncs"));
  ASSERT_NE(npnFuncs, nullptr);
  const NPNetscapeFuncs zero{};

  // Initialisation (its refusals and the module's values: Lifecycle_test.cpp).
  EXPECT_EQ(host->entries().initialize(nullptr, nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_EQ(std::memcmp(npnFuncs, &zero, sizeof zero), 0);
  ASSERT_EQ(host->Initialize(), NPERR_NO_ERROR);
  EXPECT_EQ(npnFuncs->pluginthreadasynccall, tb::Browser().pluginthreadasynccall);
  EXPECT_EQ(npnFuncs->enumerate, nullptr);

  EXPECT_STREQ(host->entries().getMIMEDescription(), "application/tv:*.swf21:TV_plug-in");

  // An instance, its window and its script object.
  tb::SetAppText(4001, std::string("/apps/guide"));
  NPError e = NPERR_GENERIC_ERROR;
  NPP instance = host->New(&e);
  ASSERT_EQ(e, NPERR_NO_ERROR);
  int handle = 0;
  NPWindow window{};
  window.window = &handle;
  EXPECT_EQ(host->plugin().setwindow(instance, &window), NPERR_NO_ERROR);
  NPObject* tv = host->ScriptObject(instance);
  ASSERT_NE(tv, nullptr);

  // A few calls as page script makes them.
  quvstub::SetReply("GetCountry", "I44");
  NPVariant result;
  ASSERT_TRUE(tb::Invoke(tv, "GetCountry", {}, &result));
  EXPECT_EQ(result.type, NPVariantType_Int32);
  EXPECT_EQ(result.value.intValue, 44);
  ASSERT_TRUE(tb::Invoke(tv, "GetPluginInfo", {tb::Int(0)}, &result));
  EXPECT_EQ(tb::Text(result), "TV-0017");
  tb::ReleaseValue(&result);
  EXPECT_FALSE(tb::Invoke(tv, "GetCountry", {tb::Int(1)}, &result));

  // An event to a function handler and one by name.
  NPObject* handler = tb::NewFunction();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(handler)));
  ASSERT_EQ(quvstub::RaiseEvent(0, "3", "1"), 1u);
  quvstub::WaitForEvents();
  EXPECT_EQ(tb::PumpAsyncCalls(), 1u);
  ASSERT_EQ(tb::InvokeDefaultCalls().size(), 1u);
  EXPECT_EQ(tb::InvokeDefaultCalls()[0].args, (std::vector<std::string>{"3", "1"}));

  // Tear-down: everything the module took is given back.
  EXPECT_EQ(host->Destroy(instance), NPERR_NO_ERROR);
  EXPECT_EQ(instance->pdata, nullptr);
  EXPECT_TRUE(quvstub::Connections().empty());
  EXPECT_EQ(tb::RefCount(tv), 1u);
  EXPECT_EQ(tb::RefCount(handler), 1u);
  tb::Release(tv);
  tb::Release(handler);
  EXPECT_EQ(host->entries().shutdown(), NPERR_NO_ERROR);
  EXPECT_EQ(tb::LiveObjects(), baseline);
  EXPECT_EQ(tb::RefCount(tb::WindowObject()), 1u);
  EXPECT_EQ(tb::OpenAllocations(), 0u);
  EXPECT_TRUE(tb::Misuses().empty()) << ::testing::PrintToString(tb::Misuses());
}

}  // namespace
