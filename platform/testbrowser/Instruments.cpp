// The test instruments around the NPAPI host (see TestBrowser.h): fresh
// state between tests, injected failures, accounting and records.
#include "TestBrowser.h"

#include <cstring>

#include "State.h"

namespace testbrowser {
namespace detail {

constexpr std::size_t kRecordRoom = 256;

// Counting a call that was counted before allocates nothing, also in the
// old string ABI (no short-string buffer): the out-of-memory suite fails
// every allocation of the module in turn, never the browser's.
void Count(const char* entry) {
  std::lock_guard<std::mutex> lock(S().mu);
  auto it = S().calls.find(std::string_view(entry));
  if (it != S().calls.end()) {
    ++it->second;
  } else {
    S().calls.emplace(entry, 1);
  }
}

void MisuseLocked(std::string what) { S().misuses.push_back(std::move(what)); }

}  // namespace detail

using namespace detail;

void Reset() {
  NPObject* oldWindow;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    State& s = S();
    s.appTexts.clear();
    s.userAgent = std::string("TestBrowser/1.0 (TV)");
    s.evaluateResult = true;
    s.allocationsLeft = -1;
    s.failCreate = false;
    s.misuses.clear();
    s.calls.clear();
    s.invokeDefaults.clear();
    s.evaluates.clear();
    s.setValues.clear();
    s.rects.clear();
    // Room for the records of a test made up front: recording a browser call
    // then allocates nothing, so the out-of-memory suite's injected failures
    // hit the module's allocations, never the browser's, whatever the
    // compiler's inlining (a record that grew the vector threw into NPP_New).
    s.invokeDefaults.reserve(kRecordRoom);
    s.evaluates.reserve(kRecordRoom);
    s.setValues.reserve(kRecordRoom);
    s.rects.reserve(kRecordRoom);
    s.scriptStrings.clear();
    s.queue.clear();
    oldWindow = s.window;
  }
  if (oldWindow) ReleaseObject(oldWindow);
  SetWindowObject(true);
  std::lock_guard<std::mutex> lock(S().mu);
  S().calls.clear();
}

LargeFunctionTable LargeFunctions(uint16_t size) {
  LargeFunctionTable t;
  std::memset(&t, 0, sizeof t);
  t.funcs = Functions();
  t.funcs.size = size;
  return t;
}

void FailAllocationsAfter(long n) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().allocationsLeft = n < 0 ? -1 : n;
}

void FailObjectCreation(bool on) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().failCreate = on;
}

std::size_t LiveObjects() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().live.size();
}

bool IsLive(NPObject* object) {
  std::lock_guard<std::mutex> lock(S().mu);
  return IsLiveLocked(object);
}

uint32_t RefCount(NPObject* object) {
  std::lock_guard<std::mutex> lock(S().mu);
  return IsLiveLocked(object) ? object->referenceCount : 0;
}

std::size_t OpenAllocations() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().blocks.size();
}

std::size_t IdentifierCount() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().idSet.size();
}

std::vector<std::string> Misuses() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().misuses;
}

std::size_t CallCount(const std::string& entry) {
  std::lock_guard<std::mutex> lock(S().mu);
  auto it = S().calls.find(entry);
  return it == S().calls.end() ? 0 : it->second;
}

std::vector<InvokeDefaultCall> InvokeDefaultCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().invokeDefaults;
}

std::vector<EvaluateCall> EvaluateCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().evaluates;
}

std::vector<SetValueCall> SetValueCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().setValues;
}

std::vector<NPRect> InvalidatedRects() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().rects;
}

void SetRecording(bool on) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().recording = on;
}

}  // namespace testbrowser
