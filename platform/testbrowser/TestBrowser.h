// A browser for tests: a complete NPAPI function table with accounting (live
// objects and their reference counts, open NPN_MemAlloc blocks, interned
// identifiers, misuse such as releasing a dead object), configurable answers
// (application texts 4000-4003, the window object, the user agent), records of
// what the plug-in asked for (InvokeDefault, Evaluate, SetValue,
// InvalidateRect), a main-thread queue for NPN_PluginThreadAsyncCall that the
// test pumps, script-like function objects, injectable failures, and a host
// that loads a plug-in module (linked in, or by dlopen) and drives its
// instances through the plug-in table.
//
// One browser per process. Every function may be called from any thread; the
// queued asynchronous calls run on the thread that pumps them.
#ifndef NPTV_PLATFORM_TESTBROWSER_H
#define NPTV_PLATFORM_TESTBROWSER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <npfunctions.h>

namespace testbrowser {

// ---- State ------------------------------------------------------------------

// Back to a fresh browser: no application texts, a window object, the default
// user agent, no injected failures, all records and the async queue emptied
// (queued calls are dropped, not run). Interned identifiers are kept for the
// life of the process, as a browser does. Objects still alive stay alive and
// counted.
void Reset();

// The browser's function table: every entry through convertpoint filled.
NPNetscapeFuncs Functions();

// A table that reports a larger `size` (a newer browser), with memory behind
// the entries past convertpoint.
struct LargeFunctionTable {
  NPNetscapeFuncs funcs;
  void* newer[16];  // entries of newer browsers, all null here
};
LargeFunctionTable LargeFunctions(uint16_t size);

// ---- What the browser answers --------------------------------------------------

// The text for one of the browser's own variables 4000-4003; nullopt: not
// answered. A text of 1024 bytes or more fills the whole 1024-byte buffer
// without a terminator.
void SetAppText(int variable, std::optional<std::string> text);
// With `present` (the default) the browser has a window object, of which it
// holds one reference itself; without, NPNVWindowNPObject is not answered.
void SetWindowObject(bool present);
NPObject* WindowObject();
void SetUserAgent(std::optional<std::string> agent);
// What NPN_Evaluate answers.
void SetEvaluateResult(bool ok);

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

// ---- The main-thread queue --------------------------------------------------------

std::size_t PendingAsyncCalls();
// Runs the queued calls on this thread, including those queued meanwhile, until
// the queue is empty; returns how many ran.
std::size_t PumpAsyncCalls();

// ---- Script ---------------------------------------------------------------------

NPIdentifier Id(const std::string& name);
// A script function object: calling it (NPN_InvokeDefault) is recorded and
// answers undefined. The caller owns the creation reference.
NPObject* NewFunction();
// A plain script object without members, for the same uses.
NPObject* NewPlainObject();

NPVariant Void();
NPVariant Null();
NPVariant Bool(bool value);
NPVariant Int(int32_t value);
NPVariant Double(double value);
// The bytes stay valid until Reset (script strings belong to the browser).
NPVariant String(const std::string& text);
NPVariant Object(NPObject* object);

// The text of a String variant; "" for other types.
std::string Text(const NPVariant& value);
void ReleaseValue(NPVariant* value);
NPObject* Retain(NPObject* object);
void Release(NPObject* object);

// Script operations on an object, through the browser's own entries.
bool HasMethod(NPObject* object, const std::string& name);
bool HasProperty(NPObject* object, const std::string& name);
bool Invoke(NPObject* object, const std::string& name, const std::vector<NPVariant>& args,
            NPVariant* result);
bool InvokeDefault(NPObject* object, const std::vector<NPVariant>& args, NPVariant* result);
bool GetProperty(NPObject* object, const std::string& name, NPVariant* result);
bool SetProperty(NPObject* object, const std::string& name, const NPVariant& value);
bool RemoveProperty(NPObject* object, const std::string& name);
bool Enumerate(NPObject* object, NPIdentifier** identifiers, uint32_t* count);
bool Construct(NPObject* object, const std::vector<NPVariant>& args, NPVariant* result);

// ---- Hosting a plug-in module -----------------------------------------------------

struct Entries {
  NP_GetMIMEDescriptionFunc getMIMEDescription;
  NP_GetValueFunc getValue;
  NP_InitializeFunc initialize;
  NP_ShutdownFunc shutdown;
};

class Host {
 public:
  explicit Host(Entries entries);
  // Loads a module with dlopen and looks up its four entry points; null (and
  // the reason in `error`) when that fails.
  static std::unique_ptr<Host> Load(const std::string& path, std::string* error);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const Entries& entries() const { return m_entries; }
  // A symbol of a loaded module (null for a linked-in one).
  void* Symbol(const char* name) const;

  // NP_Initialize with Functions() (the table lives as long as the host).
  NPError Initialize();
  NPPluginFuncs& plugin() { return m_plugin; }

  // A new instance through the plug-in table; the NPP stays valid for the
  // life of the host, so calls queued for a destroyed instance can still run.
  NPP New(NPError* error = nullptr);
  NPError Destroy(NPP instance);
  // NPP_GetValue(NPPVpluginScriptableNPObject): the caller owns the reference.
  NPObject* ScriptObject(NPP instance);

 private:
  Entries m_entries;
  void* m_handle = nullptr;
  NPNetscapeFuncs m_browser;
  NPPluginFuncs m_plugin;
  std::deque<NPP_t> m_instances;
};

}  // namespace testbrowser

#endif
