// The test browser's shared state, for its two halves only: the host
// (Host.cpp: browser table, object model, identifiers, variants, async queue,
// module loading) and the instruments around it (Instruments.cpp: accounting
// queries, injected failures, misuse and call records). Not for users.
#ifndef NPTV_PLATFORM_TESTBROWSER_STATE_H
#define NPTV_PLATFORM_TESTBROWSER_STATE_H

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TestBrowser.h"

namespace testbrowser {
namespace detail {

struct Identifier {
  bool isString;
  std::string text;
  int32_t number;
};

struct AsyncCall {
  NPP npp;
  void (*func)(void*);
  void* data;
};

struct State {
  std::mutex mu;
  // what the browser answers
  std::map<int, std::string> appTexts;
  std::optional<std::string> userAgent = std::string("TestBrowser/1.0 (TV)");
  bool evaluateResult = true;
  NPObject* window = nullptr;
  ScriptHooks hooks;
  // injected failures
  long allocationsLeft = -1;
  bool failCreate = false;
  // the object model and memory the host keeps anyway
  std::unordered_map<NPObject*, bool> live;  // object -> alive
  std::unordered_map<void*, std::size_t> blocks;
  std::unordered_map<std::string, std::unique_ptr<Identifier>> stringIds;
  std::unordered_map<int32_t, std::unique_ptr<Identifier>> intIds;
  std::set<const void*> idSet;
  std::deque<std::string> scriptStrings;
  std::deque<AsyncCall> queue;
  // instruments
  bool recording = true;
  std::vector<std::string> misuses;
  std::map<std::string, std::size_t, std::less<>> calls;  // looked up without a copy
  std::vector<InvokeDefaultCall> invokeDefaults;
  std::vector<EvaluateCall> evaluates;
  std::vector<SetValueCall> setValues;
  std::vector<NPRect> rects;
};

State& S();

// Instruments the host reports to (Instruments.cpp).
void Count(const char* entry);
void MisuseLocked(std::string what);  // with S().mu held
inline bool IsLiveLocked(NPObject* o) { return o && S().live.count(o) != 0; }

// Host entries the instruments use (Host.cpp).
NPObject* CreateObject(NPP npp, NPClass* cls);
void ReleaseObject(NPObject* o);
NPClass* PlainClass();
// Fills the entries of the browser's table that the plug-in has no use for
// (Unused.cpp).
void FillUnusedEntries(NPNetscapeFuncs* table);

}  // namespace detail
}  // namespace testbrowser

#endif
