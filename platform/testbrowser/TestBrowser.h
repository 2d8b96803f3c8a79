// A browser for tests: the NPAPI host (Host.h) with the test instruments
// around it: accounting (live objects and their reference counts, open
// NPN_MemAlloc blocks, interned identifiers, misuse such as releasing a dead
// object), records of what the plug-in asked for (InvokeDefault, Evaluate,
// SetValue, InvalidateRect), and injectable failures.
#ifndef NPTV_PLATFORM_TESTBROWSER_H
#define NPTV_PLATFORM_TESTBROWSER_H

#include <thread>

#include "Host.h"

namespace testbrowser {

// ---- State ------------------------------------------------------------------

// Back to a fresh browser: no application texts, a window object, the default
// user agent, no injected failures, all records and the async queue emptied
// (queued calls are dropped, not run). Interned identifiers are kept for the
// life of the process, as a browser does. Objects still alive stay alive and
// counted.
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
std::size_t IdentifierCount();
// Everything the plug-in did that a browser would not accept (freeing a block
// it does not own, releasing a dead object, ...), one text each.
std::vector<std::string> Misuses();
// How often the plug-in called one entry, by its NPAPI field name ("memalloc").
std::size_t CallCount(const std::string& entry);

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

// Records are kept (the default) or not: a long-running host turns them off.
void SetRecording(bool on);

}  // namespace testbrowser

#endif
