#include "Support.h"

#include "module/NPNFuncs.h"
#include "script/ScriptablePluginObject.h"

#include <algorithm>

void PluginTest::SetUp() {
  tb::Reset();
  quvstub::Reset();
  quvstub::UseSimulator(false);
  host = std::make_unique<tb::Host>(
      tb::Entries{NP_GetMIMEDescription, NP_GetValue, NP_Initialize, NP_Shutdown});
  ASSERT_EQ(host->Initialize(), NPERR_NO_ERROR);
  baselineObjects = tb::LiveObjects();
}

void PluginTest::TearDown() {
  for (NPP instance : live) EXPECT_EQ(host->Destroy(instance), NPERR_NO_ERROR);
  live.clear();
  for (NPObject* object : held) tb::Release(object);
  held.clear();
  quvstub::WaitForEvents();
  tb::PumpAsyncCalls();
  EXPECT_EQ(tb::LiveObjects(), baselineObjects) << "NPObjects leaked";
  EXPECT_EQ(tb::RefCount(tb::WindowObject()), tb::WindowObject() ? 1u : 0u);
  EXPECT_EQ(tb::OpenAllocations(), 0u) << "NPN_MemAlloc blocks not freed";
  EXPECT_TRUE(tb::Misuses().empty()) << ::testing::PrintToString(tb::Misuses());
  EXPECT_TRUE(quvstub::Connections().empty()) << "framework connections left open";
  EXPECT_TRUE(quvstub::Misuses().empty()) << ::testing::PrintToString(quvstub::Misuses());
  quvstub::CaptureLog(false);
}

NPP PluginTest::NewInstance() {
  NPError error = NPERR_GENERIC_ERROR;
  NPP instance = host->New(&error);
  EXPECT_EQ(error, NPERR_NO_ERROR);
  if (error == NPERR_NO_ERROR) live.push_back(instance);
  return instance;
}

void PluginTest::DestroyInstance(NPP instance) {
  EXPECT_EQ(host->Destroy(instance), NPERR_NO_ERROR);
  live.erase(std::remove(live.begin(), live.end(), instance), live.end());
}

NPObject* PluginTest::TvObject(NPP instance) {
  NPObject* object = host->ScriptObject(instance);
  if (object) held.push_back(object);
  return object;
}

std::vector<std::string> PluginTest::Commands() {
  std::vector<std::string> out;
  for (const auto& entry : quvstub::Journal()) {
    std::string joined;
    for (std::size_t i = 0; i < entry.texts.size(); ++i) joined += (i ? "|" : "") + entry.texts[i];
    out.push_back(joined);
  }
  return out;
}

std::vector<std::string> LogTexts() {
  std::vector<std::string> out;
  for (const auto& call : quvstub::TakeLog()) out.push_back(call.text);
  return out;
}

void TvObjectTest::SetUp() {
  PluginTest::SetUp();
  instance = NewInstance();
  tv = TvObject(instance);
  ASSERT_NE(tv, nullptr);
  orphan = NPNFuncs.createobject(&nobody, &sScriptablePluginObjectClass);
  held.push_back(orphan);
  quvstub::ClearJournal();
}

NPObject* TvObjectTest::Function() {
  NPObject* f = tb::NewFunction();
  held.push_back(f);
  return f;
}
