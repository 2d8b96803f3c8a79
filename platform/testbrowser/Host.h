// The NPAPI host: one implementation of the browser side, used by the unit
// suites (through TestBrowser.h, which adds the test instruments) and by
// tvbridge, which serves the TV object to desktop browsers. It holds the
// browser's function table, the object model (object life and reference
// counts, browser-made script objects), interned identifiers, variants, the
// main-thread queue of NPN_PluginThreadAsyncCall, and a host that loads a
// plug-in module (linked in, or by dlopen) and drives its instances through
// the plug-in table.
//
// One browser per process. Every function may be called from any thread; the
// queued asynchronous calls run on the thread that pumps them.
#ifndef NPTV_PLATFORM_TESTBROWSER_HOST_H
#define NPTV_PLATFORM_TESTBROWSER_HOST_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <npfunctions.h>

namespace testbrowser {

// The browser's function table: every entry through convertpoint filled.
NPNetscapeFuncs Functions();

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

// ---- Hooks of a host that serves real pages ------------------------------------------

// Unset hooks leave the browser answering as above (NPN_Evaluate answers
// SetEvaluateResult's value). Script objects of a host's own are made with
// NPN_CreateObject (Functions().createobject) and a class of the host's.
struct ScriptHooks {
  // NPN_Evaluate on a live object: the script text, for the page of `npp`.
  std::function<bool(NPP npp, const std::string& script, NPVariant* result)> evaluate;
  // NPN_PluginThreadAsyncCall queued a call (called on the queuing thread,
  // after the call is in the queue): time to pump.
  std::function<void()> queued;
  // NPN_GetValue(NPNVWindowNPObject) for `npp`: the page's window object with
  // a reference for the caller, or null (not answered). Unset: the one window
  // object of SetWindowObject.
  std::function<NPObject*(NPP npp)> window;
  // NPN_SetException: the message for the script that called into `object`.
  std::function<void(NPObject* object, const char* message)> setException;
  // NPN_UserAgent for `npp`; null: the text of SetUserAgent.
  std::function<const char*(NPP npp)> userAgent;
};
void SetScriptHooks(ScriptHooks hooks);

// ---- The main-thread queue --------------------------------------------------------

std::size_t PendingAsyncCalls();
// Runs the queued calls on this thread, including those queued meanwhile, until
// the queue is empty; returns how many ran.
std::size_t PumpAsyncCalls();

// The same for the calls of the instances `which` accepts (it is asked with
// the browser's lock held: it must not call the browser); the others stay
// queued, in their order. A host of several pages runs a page's calls only
// while that page is idle, as a browser's main thread does.
using InstanceFilter = std::function<bool(NPP)>;
std::size_t PendingAsyncCalls(const InstanceFilter& which);
std::size_t PumpAsyncCalls(const InstanceFilter& which);
// The same, and `before` is told each call's instance just before the call
// runs (without the lock: it may call the browser, even end the instance).
std::size_t PumpAsyncCalls(const InstanceFilter& which, const std::function<void(NPP)>& before);
// Runs at most `most` of the queued calls, the oldest first (none queued
// meanwhile beyond that), telling `before` each one's instance as above.
std::size_t PumpAsyncCalls(std::size_t most, const std::function<void(NPP)>& before);

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
  // The same with the element's attributes as the argument names and values
  // (NP_EMBED mode), as a browser passes them; `data` becomes npp->ndata.
  using Attributes = std::vector<std::pair<std::string, std::string>>;
  NPP New(const Attributes& attributes, void* data, NPError* error = nullptr);
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
