// The NPAPI host: the browser's entries, its object model, identifiers,
// variants and the async queue (see Host.h; loading a module: Module.cpp). The test
// instruments (Instruments.cpp) read and configure the same state.
#include "Host.h"

#include <cstdlib>
#include <cstring>

#include "State.h"

namespace testbrowser {
namespace detail {

State& S() {
  static State* state = new State;  // never destroyed: late calls stay harmless
  return *state;
}

namespace {

// ---- The object classes of the browser itself ----------------------------------------

bool FunctionInvokeDefault(NPObject*, const NPVariant*, uint32_t, NPVariant* result) {
  VOID_TO_NPVARIANT(*result);
  return true;
}

NPClass sFunctionClass = {NP_CLASS_STRUCT_VERSION, nullptr, nullptr, nullptr, nullptr,
                          nullptr, FunctionInvokeDefault, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr};
NPClass sPlainClass = {NP_CLASS_STRUCT_VERSION, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr};

// ---- Entries the plug-in calls ---------------------------------------------------------

const char* UserAgent(NPP npp) {
  Count("uagent");
  std::function<const char*(NPP)> hook;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (!S().hooks.userAgent) return S().userAgent ? S().userAgent->c_str() : nullptr;
    hook = S().hooks.userAgent;
  }
  const char* agent = hook(npp);
  if (agent) return agent;
  std::lock_guard<std::mutex> lock(S().mu);
  return S().userAgent ? S().userAgent->c_str() : nullptr;
}

void* MemAlloc(uint32_t size) {
  Count("memalloc");
  std::lock_guard<std::mutex> lock(S().mu);
  if (S().allocationsLeft == 0) return nullptr;
  if (S().allocationsLeft > 0) --S().allocationsLeft;
  void* p = std::malloc(size ? size : 1);
  if (p) S().blocks[p] = size;
  return p;
}

void MemFree(void* p) {
  Count("memfree");
  std::lock_guard<std::mutex> lock(S().mu);
  if (!p) return;
  if (!S().blocks.erase(p)) {
    MisuseLocked("memfree of a block the browser did not allocate");
    return;
  }
  std::free(p);
}

NPError GetValue(NPP npp, NPNVariable variable, void* value) {
  Count("getvalue");
  int v = static_cast<int>(variable);
  if (v == NPNVWindowNPObject) {
    std::function<NPObject*(NPP)> hook;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      hook = S().hooks.window;
    }
    if (hook) {
      NPObject* window = hook(npp);
      if (!window) return NPERR_GENERIC_ERROR;
      *static_cast<NPObject**>(value) = window;
      return NPERR_NO_ERROR;
    }
  }
  std::lock_guard<std::mutex> lock(S().mu);
  if (v == NPNVWindowNPObject) {
    if (!S().window) return NPERR_GENERIC_ERROR;
    ++S().window->referenceCount;
    *static_cast<NPObject**>(value) = S().window;
    return NPERR_NO_ERROR;
  }
  auto it = S().appTexts.find(v);
  if (it == S().appTexts.end()) return NPERR_GENERIC_ERROR;
  const std::string& text = it->second;
  char* buffer = static_cast<char*>(value);
  if (text.size() >= 1024) {
    std::memcpy(buffer, text.data(), 1024);  // all of it, no terminator
  } else {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  }
  return NPERR_NO_ERROR;
}

NPError SetValue(NPP npp, NPPVariable variable, void* value) {
  Count("setvalue");
  std::lock_guard<std::mutex> lock(S().mu);
  if (S().recording) S().setValues.push_back({npp, static_cast<int>(variable), value});
  return NPERR_NO_ERROR;
}

void InvalidateRect(NPP, NPRect* rect) {
  Count("invalidaterect");
  std::lock_guard<std::mutex> lock(S().mu);
  if (S().recording) S().rects.push_back(*rect);
}

NPIdentifier GetStringIdentifier(const NPUTF8* name) {
  Count("getstringidentifier");
  std::lock_guard<std::mutex> lock(S().mu);
  if (!name) return nullptr;
  auto& slot = S().stringIds[name];
  if (!slot) {
    slot.reset(new Identifier{true, name, 0});
    S().idSet.insert(slot.get());
  }
  return slot.get();
}

void GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) {
  for (int32_t i = 0; i < count; ++i) ids[i] = GetStringIdentifier(names[i]);
}

NPIdentifier GetIntIdentifier(int32_t number) {
  Count("getintidentifier");
  std::lock_guard<std::mutex> lock(S().mu);
  auto& slot = S().intIds[number];
  if (!slot) {
    slot.reset(new Identifier{false, std::string(), number});
    S().idSet.insert(slot.get());
  }
  return slot.get();
}

bool IdentifierIsString(NPIdentifier id) {
  return id && static_cast<Identifier*>(id)->isString;
}

NPUTF8* UTF8FromIdentifier(NPIdentifier id) {
  if (!id || !static_cast<Identifier*>(id)->isString) return nullptr;
  const std::string& text = static_cast<Identifier*>(id)->text;
  char* copy = static_cast<char*>(MemAlloc(static_cast<uint32_t>(text.size() + 1)));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

int32_t IntFromIdentifier(NPIdentifier id) {
  return id && !static_cast<Identifier*>(id)->isString ? static_cast<Identifier*>(id)->number : 0;
}

}  // namespace

NPObject* CreateObject(NPP npp, NPClass* cls) {
  Count("createobject");
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (S().failCreate) return nullptr;
    if (!cls) {
      MisuseLocked("createobject without a class");
      return nullptr;
    }
  }
  NPObject* o = cls->allocate ? cls->allocate(npp, cls)
                              : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
  if (!o) return nullptr;
  o->_class = cls;
  o->referenceCount = 1;
  std::lock_guard<std::mutex> lock(S().mu);
  S().live[o] = true;
  return o;
}

NPObject* RetainObject(NPObject* o) {
  Count("retainobject");
  std::lock_guard<std::mutex> lock(S().mu);
  if (!IsLiveLocked(o)) {
    MisuseLocked("retainobject on an object that is not alive");
    return o;
  }
  ++o->referenceCount;
  return o;
}

void ReleaseObject(NPObject* o) {
  Count("releaseobject");
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (!IsLiveLocked(o)) {
      MisuseLocked("releaseobject on an object that is not alive");
      return;
    }
    if (--o->referenceCount != 0) return;
    S().live.erase(o);
    if (o == S().window) S().window = nullptr;
  }
  if (o->_class->deallocate)
    o->_class->deallocate(o);
  else
    std::free(o);
}

NPClass* PlainClass() { return &sPlainClass; }

namespace {

// The object's class, or null (and a misuse) when the object is not alive.
NPClass* ClassOf(NPObject* o, const char* entry) {
  std::lock_guard<std::mutex> lock(S().mu);
  if (!IsLiveLocked(o)) {
    MisuseLocked(std::string(entry) + " on an object that is not alive");
    return nullptr;
  }
  return o->_class;
}

bool NPInvoke(NPP, NPObject* o, NPIdentifier name, const NPVariant* args, uint32_t n,
              NPVariant* result) {
  Count("invoke");
  NPClass* c = ClassOf(o, "invoke");
  return c && c->invoke && c->invoke(o, name, args, n, result);
}

std::vector<std::string> ArgTexts(const NPVariant* args, uint32_t n,
                                  std::vector<NPVariantType>* types) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < n; ++i) {
    types->push_back(args[i].type);
    texts.push_back(Text(args[i]));
  }
  return texts;
}

bool NPInvokeDefault(NPP npp, NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  Count("invokeDefault");
  InvokeDefaultCall call{npp, o, {}, {}, std::this_thread::get_id()};
  call.args = ArgTexts(args, n, &call.types);
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (S().recording) S().invokeDefaults.push_back(call);
  }
  NPClass* c = ClassOf(o, "invokeDefault");
  return c && c->invokeDefault && c->invokeDefault(o, args, n, result);
}

bool Evaluate(NPP npp, NPObject* o, NPString* script, NPVariant* result) {
  Count("evaluate");
  std::string text = script && script->UTF8Characters
                         ? std::string(script->UTF8Characters, script->UTF8Length)
                         : std::string();
  std::function<bool(NPP, const std::string&, NPVariant*)> hook;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (S().recording) S().evaluates.push_back({npp, o, text, std::this_thread::get_id()});
    if (!IsLiveLocked(o)) {
      MisuseLocked("evaluate on an object that is not alive");
      return false;
    }
    VOID_TO_NPVARIANT(*result);
    if (!S().hooks.evaluate) return S().evaluateResult;
    hook = S().hooks.evaluate;
  }
  return hook(npp, text, result);
}

bool NPGetProperty(NPP, NPObject* o, NPIdentifier name, NPVariant* result) {
  Count("getproperty");
  NPClass* c = ClassOf(o, "getproperty");
  return c && c->getProperty && c->getProperty(o, name, result);
}

bool NPSetProperty(NPP, NPObject* o, NPIdentifier name, const NPVariant* value) {
  Count("setproperty");
  NPClass* c = ClassOf(o, "setproperty");
  return c && c->setProperty && c->setProperty(o, name, value);
}

bool NPRemoveProperty(NPP, NPObject* o, NPIdentifier name) {
  Count("removeproperty");
  NPClass* c = ClassOf(o, "removeproperty");
  return c && c->removeProperty && c->removeProperty(o, name);
}

bool NPHasProperty(NPP, NPObject* o, NPIdentifier name) {
  Count("hasproperty");
  NPClass* c = ClassOf(o, "hasproperty");
  return c && c->hasProperty && c->hasProperty(o, name);
}

bool NPHasMethod(NPP, NPObject* o, NPIdentifier name) {
  Count("hasmethod");
  NPClass* c = ClassOf(o, "hasmethod");
  return c && c->hasMethod && c->hasMethod(o, name);
}

bool NPEnumerate(NPP, NPObject* o, NPIdentifier** ids, uint32_t* count) {
  Count("enumerate");
  NPClass* c = ClassOf(o, "enumerate");
  return c && c->structVersion >= NP_CLASS_STRUCT_VERSION_ENUM && c->enumerate &&
         c->enumerate(o, ids, count);
}

bool NPConstruct(NPP, NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  Count("construct");
  NPClass* c = ClassOf(o, "construct");
  return c && c->structVersion >= NP_CLASS_STRUCT_VERSION_CTOR && c->construct &&
         c->construct(o, args, n, result);
}

void ReleaseVariantValue(NPVariant* v) {
  Count("releasevariantvalue");
  if (!v) return;
  if (v->type == NPVariantType_String) {
    void* chars = const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters);
    bool owned;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      owned = !chars || S().blocks.count(chars) != 0;
      if (!owned) MisuseLocked("releasevariantvalue of a string the browser did not allocate");
    }
    if (owned && chars) MemFree(chars);
  } else if (v->type == NPVariantType_Object) {
    ReleaseObject(v->value.objectValue);
  }
  VOID_TO_NPVARIANT(*v);
}

void SetException(NPObject* object, const NPUTF8* message) {
  Count("setexception");
  std::function<void(NPObject*, const char*)> hook;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    hook = S().hooks.setException;
  }
  if (hook) hook(object, message);
}

void PluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data) {
  Count("pluginthreadasynccall");
  std::function<void()> queued;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (!func) {
      MisuseLocked("pluginthreadasynccall without a function");
      return;
    }
    S().queue.push_back({npp, func, data});
    queued = S().hooks.queued;
  }
  if (queued) queued();
}

NPP const kBrowserNpp = nullptr;

}  // namespace
}  // namespace detail

using namespace detail;

NPNetscapeFuncs Functions() {
  NPNetscapeFuncs f;
  std::memset(&f, 0, sizeof f);
  FillUnusedEntries(&f);
  f.size = sizeof(NPNetscapeFuncs);
  f.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  f.uagent = UserAgent;
  f.memalloc = MemAlloc;
  f.memfree = MemFree;
  f.getvalue = GetValue;
  f.setvalue = SetValue;
  f.invalidaterect = InvalidateRect;
  f.getstringidentifier = GetStringIdentifier;
  f.getstringidentifiers = GetStringIdentifiers;
  f.getintidentifier = GetIntIdentifier;
  f.identifierisstring = IdentifierIsString;
  f.utf8fromidentifier = UTF8FromIdentifier;
  f.intfromidentifier = IntFromIdentifier;
  f.createobject = CreateObject;
  f.retainobject = RetainObject;
  f.releaseobject = ReleaseObject;
  f.invoke = NPInvoke;
  f.invokeDefault = NPInvokeDefault;
  f.evaluate = Evaluate;
  f.getproperty = NPGetProperty;
  f.setproperty = NPSetProperty;
  f.removeproperty = NPRemoveProperty;
  f.hasproperty = NPHasProperty;
  f.hasmethod = NPHasMethod;
  f.releasevariantvalue = ReleaseVariantValue;
  f.setexception = SetException;
  f.enumerate = NPEnumerate;
  f.pluginthreadasynccall = PluginThreadAsyncCall;
  f.construct = NPConstruct;
  return f;
}

void SetAppText(int variable, std::optional<std::string> text) {
  std::lock_guard<std::mutex> lock(S().mu);
  if (text)
    S().appTexts[variable] = *text;
  else
    S().appTexts.erase(variable);
}

void SetWindowObject(bool present) {
  NPObject* old;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    old = S().window;
    S().window = nullptr;
  }
  if (old) ReleaseObject(old);
  if (present) {
    NPObject* w = CreateObject(kBrowserNpp, &sPlainClass);
    std::lock_guard<std::mutex> lock(S().mu);
    S().window = w;
  }
}

NPObject* WindowObject() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().window;
}

void SetUserAgent(std::optional<std::string> agent) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().userAgent = std::move(agent);
}

void SetEvaluateResult(bool ok) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().evaluateResult = ok;
}

void SetScriptHooks(ScriptHooks hooks) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().hooks = std::move(hooks);
}

std::size_t PendingAsyncCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().queue.size();
}

std::size_t PendingAsyncCalls(const InstanceFilter& which) {
  std::lock_guard<std::mutex> lock(S().mu);
  std::size_t n = 0;
  for (const AsyncCall& call : S().queue) n += which(call.npp) ? 1 : 0;
  return n;
}

std::size_t PumpAsyncCalls(const InstanceFilter& which) { return PumpAsyncCalls(which, nullptr); }

std::size_t PumpAsyncCalls(const InstanceFilter& which, const std::function<void(NPP)>& before) {
  std::size_t ran = 0;
  for (;;) {
    AsyncCall call;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      auto it = S().queue.begin();
      while (it != S().queue.end() && !which(it->npp)) ++it;
      if (it == S().queue.end()) return ran;
      call = *it;
      S().queue.erase(it);
    }
    if (before) before(call.npp);
    call.func(call.data);
    ++ran;
  }
}

std::size_t PumpAsyncCalls(std::size_t most, const std::function<void(NPP)>& before) {
  std::size_t ran = 0;
  for (; ran < most; ++ran) {
    AsyncCall call;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      if (S().queue.empty()) break;
      call = S().queue.front();
      S().queue.pop_front();
    }
    if (before) before(call.npp);
    call.func(call.data);
  }
  return ran;
}

std::size_t PumpAsyncCalls() {
  return PumpAsyncCalls([](NPP) { return true; });
}

// ---- Script ------------------------------------------------------------------------

NPIdentifier Id(const std::string& name) { return GetStringIdentifier(name.c_str()); }

NPObject* NewFunction() { return CreateObject(kBrowserNpp, &sFunctionClass); }
NPObject* NewPlainObject() { return CreateObject(kBrowserNpp, &sPlainClass); }

NPVariant Void() { NPVariant v; VOID_TO_NPVARIANT(v); return v; }
NPVariant Null() { NPVariant v; NULL_TO_NPVARIANT(v); return v; }
NPVariant Bool(bool value) { NPVariant v; BOOLEAN_TO_NPVARIANT(value, v); return v; }
NPVariant Int(int32_t value) { NPVariant v; INT32_TO_NPVARIANT(value, v); return v; }
NPVariant Double(double value) { NPVariant v; DOUBLE_TO_NPVARIANT(value, v); return v; }
NPVariant Object(NPObject* object) { NPVariant v; OBJECT_TO_NPVARIANT(object, v); return v; }

NPVariant String(const std::string& text) {
  const char* chars;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    S().scriptStrings.push_back(text);
    chars = S().scriptStrings.back().data();
  }
  NPVariant v;
  STRINGN_TO_NPVARIANT(chars, text.size(), v);
  return v;
}

std::string Text(const NPVariant& value) {
  if (value.type != NPVariantType_String || !value.value.stringValue.UTF8Characters) return "";
  return std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
}

void ReleaseValue(NPVariant* value) { ReleaseVariantValue(value); }
NPObject* Retain(NPObject* object) { return RetainObject(object); }
void Release(NPObject* object) { ReleaseObject(object); }

bool HasMethod(NPObject* o, const std::string& name) { return NPHasMethod(nullptr, o, Id(name)); }
bool HasProperty(NPObject* o, const std::string& name) {
  return NPHasProperty(nullptr, o, Id(name));
}
bool Invoke(NPObject* o, const std::string& name, const std::vector<NPVariant>& args,
            NPVariant* result) {
  return NPInvoke(nullptr, o, Id(name), args.empty() ? nullptr : args.data(),
                  static_cast<uint32_t>(args.size()), result);
}
bool InvokeDefault(NPObject* o, const std::vector<NPVariant>& args, NPVariant* result) {
  NPClass* c = ClassOf(o, "invokeDefault");
  return c && c->invokeDefault &&
         c->invokeDefault(o, args.empty() ? nullptr : args.data(),
                          static_cast<uint32_t>(args.size()), result);
}
bool GetProperty(NPObject* o, const std::string& name, NPVariant* result) {
  return NPGetProperty(nullptr, o, Id(name), result);
}
bool SetProperty(NPObject* o, const std::string& name, const NPVariant& value) {
  return NPSetProperty(nullptr, o, Id(name), &value);
}
bool RemoveProperty(NPObject* o, const std::string& name) {
  return NPRemoveProperty(nullptr, o, Id(name));
}
bool Enumerate(NPObject* o, NPIdentifier** ids, uint32_t* count) {
  return NPEnumerate(nullptr, o, ids, count);
}
bool Construct(NPObject* o, const std::vector<NPVariant>& args, NPVariant* result) {
  return NPConstruct(nullptr, o, args.empty() ? nullptr : args.data(),
                     static_cast<uint32_t>(args.size()), result);
}

}  // namespace testbrowser
