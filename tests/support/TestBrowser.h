// A browser for tests: the shipped NPAPI host (host/Host.h) behind a layer
// that accounts for what the plug-in does (live objects, references, open
// NPN_MemAlloc blocks and calls, misuse), records what it asked for,
// and injects failures. The layer's table is the host's (nphost::SetBrowser)
// from the start of the program.
#ifndef NPTV_TESTS_SUPPORT_TESTBROWSER_H
#define NPTV_TESTS_SUPPORT_TESTBROWSER_H

#include <string>
#include <thread>
#include <vector>

#include "Host.h"

namespace testbrowser {

using namespace nphost;

// ---- State ------------------------------------------------------------------

// Back to a fresh browser: no application texts, a window object, the user
// agent "TestBrowser/1.0 (TV)", no injected failures, records, counts,
// misuses and async queue emptied (queued calls dropped). Identifiers and
// live objects stay.
void Reset();

// A table that reports a larger `size` (a newer browser), with memory behind
// the entries past convertpoint.
struct LargeFunctionTable {
  NPNetscapeFuncs funcs;
  void* newer[16];  // entries of newer browsers, all null here
};
LargeFunctionTable LargeFunctions(uint16_t size);

// ---- Injected failures ---------------------------------------------------------

// After `n` more successful NPN_MemAlloc calls every further one fails; a
// negative `n` switches the failure off.
void FailAllocationsAfter(long n);
// NPN_CreateObject yields null while on.
void FailObjectCreation(bool on);

// ---- Accounting -----------------------------------------------------------------

std::size_t LiveObjects();
bool IsLive(NPObject* object);
// 0 for an object that is not alive.
uint32_t RefCount(NPObject* object);
std::size_t OpenAllocations();
// What the plug-in did that a browser would not accept, one text each; past
// kMisuseRoom a last one says how many more.
constexpr std::size_t kMisuseRoom = 64;
std::vector<std::string> Misuses();
// How often the plug-in called NPN_MemAlloc since the last Reset.
std::size_t AllocationCalls();

// ---- Records -------------------------------------------------------------------

struct InvokeDefaultCall {
  NPP npp;
  NPObject* object;
  std::vector<NPVariantType> types;
  std::vector<std::string> args;  // the texts of String arguments ("" for others)
  std::thread::id thread;
};
std::vector<InvokeDefaultCall> InvokeDefaultCalls();

struct EvaluateCall {
  NPP npp;
  NPObject* object;
  std::string script;
  std::thread::id thread;
};
std::vector<EvaluateCall> EvaluateCalls();

struct SetValueCall {
  NPP npp;
  int variable;
  void* value;
};
std::vector<SetValueCall> SetValueCalls();

std::vector<NPRect> InvalidatedRects();

struct AsyncCallRecord {
  NPP npp;
  void (*func)(void*);
  void* data;
  std::thread::id thread;
};
// The NPN_PluginThreadAsyncCall calls since the last Reset or TakeAsyncCalls,
// which also drops them from the host's queue (the caller runs them or not).
std::vector<AsyncCallRecord> TakeAsyncCalls();

// A script string: the bytes stay valid until Reset (script strings belong to
// the browser).
NPVariant String(const std::string& text);

}  // namespace testbrowser

#endif
