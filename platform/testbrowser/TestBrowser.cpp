#include "TestBrowser.h"

#include <dlfcn.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <unordered_map>

namespace testbrowser {
namespace {

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
  // configuration
  std::map<int, std::string> appTexts;
  std::optional<std::string> userAgent;
  bool evaluateResult = true;
  long allocationsLeft = -1;
  bool failCreate = false;
  NPObject* window = nullptr;
  // accounting
  std::unordered_map<NPObject*, bool> live;  // object -> alive
  std::unordered_map<void*, std::size_t> blocks;
  std::unordered_map<std::string, std::unique_ptr<Identifier>> stringIds;
  std::unordered_map<int32_t, std::unique_ptr<Identifier>> intIds;
  std::set<const void*> idSet;
  std::vector<std::string> misuses;
  std::map<std::string, std::size_t, std::less<>> calls;  // looked up without a copy
  // records
  std::vector<InvokeDefaultCall> invokeDefaults;
  std::vector<EvaluateCall> evaluates;
  std::vector<SetValueCall> setValues;
  std::vector<NPRect> rects;
  std::deque<std::string> scriptStrings;
  // queue
  std::deque<AsyncCall> queue;
};

constexpr std::size_t kRecordRoom = 256;

State& S() {
  static State* state = new State;  // never destroyed: late calls stay harmless
  return *state;
}

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

bool IsLiveLocked(NPObject* o) { return o && S().live.count(o) != 0; }

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

const char* UserAgent(NPP) {
  Count("uagent");
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
  std::lock_guard<std::mutex> lock(S().mu);
  int v = static_cast<int>(variable);
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
  S().setValues.push_back({npp, static_cast<int>(variable), value});
  return NPERR_NO_ERROR;
}

void InvalidateRect(NPP, NPRect* rect) {
  Count("invalidaterect");
  std::lock_guard<std::mutex> lock(S().mu);
  S().rects.push_back(*rect);
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
    S().invokeDefaults.push_back(call);
  }
  NPClass* c = ClassOf(o, "invokeDefault");
  return c && c->invokeDefault && c->invokeDefault(o, args, n, result);
}

bool Evaluate(NPP npp, NPObject* o, NPString* script, NPVariant* result) {
  Count("evaluate");
  std::string text = script && script->UTF8Characters
                         ? std::string(script->UTF8Characters, script->UTF8Length)
                         : std::string();
  std::lock_guard<std::mutex> lock(S().mu);
  S().evaluates.push_back({npp, o, text, std::this_thread::get_id()});
  if (!IsLiveLocked(o)) {
    MisuseLocked("evaluate on an object that is not alive");
    return false;
  }
  VOID_TO_NPVARIANT(*result);
  return S().evaluateResult;
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

void SetException(NPObject*, const NPUTF8*) { Count("setexception"); }

void PluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data) {
  Count("pluginthreadasynccall");
  std::lock_guard<std::mutex> lock(S().mu);
  if (!func) {
    MisuseLocked("pluginthreadasynccall without a function");
    return;
  }
  S().queue.push_back({npp, func, data});
}

// Entries that this plug-in has no use for: counted, and answered as a
// browser that cannot do it would.
NPError GetURL(NPP, const char*, const char*) { Count("geturl"); return NPERR_GENERIC_ERROR; }
NPError PostURL(NPP, const char*, const char*, uint32_t, const char*, NPBool) {
  Count("posturl");
  return NPERR_GENERIC_ERROR;
}
NPError RequestRead(NPStream*, NPByteRange*) { Count("requestread"); return NPERR_GENERIC_ERROR; }
NPError NewStream(NPP, NPMIMEType, const char*, NPStream**) {
  Count("newstream");
  return NPERR_GENERIC_ERROR;
}
int32_t Write(NPP, NPStream*, int32_t, void*) { Count("write"); return -1; }
NPError DestroyStream(NPP, NPStream*, NPReason) {
  Count("destroystream");
  return NPERR_GENERIC_ERROR;
}
void Status(NPP, const char*) { Count("status"); }
uint32_t MemFlush(uint32_t) { Count("memflush"); return 0; }
void ReloadPlugins(NPBool) { Count("reloadplugins"); }
void* GetJavaEnv() { Count("getJavaEnv"); return nullptr; }
void* GetJavaPeer(NPP) { Count("getJavaPeer"); return nullptr; }
NPError GetURLNotify(NPP, const char*, const char*, void*) {
  Count("geturlnotify");
  return NPERR_GENERIC_ERROR;
}
NPError PostURLNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*) {
  Count("posturlnotify");
  return NPERR_GENERIC_ERROR;
}
void InvalidateRegion(NPP, NPRegion) { Count("invalidateregion"); }
void ForceRedraw(NPP) { Count("forceredraw"); }
void PushPopupsEnabledState(NPP, NPBool) { Count("pushpopupsenabledstate"); }
void PopPopupsEnabledState(NPP) { Count("poppopupsenabledstate"); }
NPError GetValueForURL(NPP, int, const char*, char**, uint32_t*) {
  Count("getvalueforurl");
  return NPERR_GENERIC_ERROR;
}
NPError SetValueForURL(NPP, int, const char*, const char*, uint32_t) {
  Count("setvalueforurl");
  return NPERR_GENERIC_ERROR;
}
NPError GetAuthenticationInfo(NPP, const char*, const char*, int32_t, const char*, const char*,
                              char**, uint32_t*, char**, uint32_t*) {
  Count("getauthenticationinfo");
  return NPERR_GENERIC_ERROR;
}
uint32_t ScheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
  Count("scheduletimer");
  return 0;
}
void UnscheduleTimer(NPP, uint32_t) { Count("unscheduletimer"); }
NPError PopUpContextMenu(NPP, void*) { Count("popupcontextmenu"); return NPERR_GENERIC_ERROR; }
NPBool ConvertPoint(NPP, double, double, int, double*, double*, int) {
  Count("convertpoint");
  return 0;
}

NPP const kBrowserNpp = nullptr;

}  // namespace

// ---- State ------------------------------------------------------------------------

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

NPNetscapeFuncs Functions() {
  NPNetscapeFuncs f;
  std::memset(&f, 0, sizeof f);
  f.size = sizeof(NPNetscapeFuncs);
  f.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  f.geturl = GetURL;
  f.posturl = PostURL;
  f.requestread = RequestRead;
  f.newstream = NewStream;
  f.write = Write;
  f.destroystream = DestroyStream;
  f.status = Status;
  f.uagent = UserAgent;
  f.memalloc = MemAlloc;
  f.memfree = MemFree;
  f.memflush = MemFlush;
  f.reloadplugins = ReloadPlugins;
  f.getJavaEnv = GetJavaEnv;
  f.getJavaPeer = GetJavaPeer;
  f.geturlnotify = GetURLNotify;
  f.posturlnotify = PostURLNotify;
  f.getvalue = GetValue;
  f.setvalue = SetValue;
  f.invalidaterect = InvalidateRect;
  f.invalidateregion = InvalidateRegion;
  f.forceredraw = ForceRedraw;
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
  f.pushpopupsenabledstate = PushPopupsEnabledState;
  f.poppopupsenabledstate = PopPopupsEnabledState;
  f.enumerate = NPEnumerate;
  f.pluginthreadasynccall = PluginThreadAsyncCall;
  f.construct = NPConstruct;
  f.getvalueforurl = GetValueForURL;
  f.setvalueforurl = SetValueForURL;
  f.getauthenticationinfo = GetAuthenticationInfo;
  f.scheduletimer = ScheduleTimer;
  f.unscheduletimer = UnscheduleTimer;
  f.popupcontextmenu = PopUpContextMenu;
  f.convertpoint = ConvertPoint;
  return f;
}

LargeFunctionTable LargeFunctions(uint16_t size) {
  LargeFunctionTable t;
  std::memset(&t, 0, sizeof t);
  t.funcs = Functions();
  t.funcs.size = size;
  return t;
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

std::size_t PendingAsyncCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().queue.size();
}

std::size_t PumpAsyncCalls() {
  std::size_t ran = 0;
  for (;;) {
    AsyncCall call;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      if (S().queue.empty()) return ran;
      call = S().queue.front();
      S().queue.pop_front();
    }
    call.func(call.data);
    ++ran;
  }
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

// ---- Host ---------------------------------------------------------------------------

Host::Host(Entries entries) : m_entries(entries), m_browser(Functions()) {
  std::memset(&m_plugin, 0, sizeof m_plugin);
}

std::unique_ptr<Host> Host::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) *error = dlerror();
    return nullptr;
  }
  Entries e;
  e.getMIMEDescription =
      reinterpret_cast<NP_GetMIMEDescriptionFunc>(dlsym(handle, "NP_GetMIMEDescription"));
  e.getValue = reinterpret_cast<NP_GetValueFunc>(dlsym(handle, "NP_GetValue"));
  e.initialize = reinterpret_cast<NP_InitializeFunc>(dlsym(handle, "NP_Initialize"));
  e.shutdown = reinterpret_cast<NP_ShutdownFunc>(dlsym(handle, "NP_Shutdown"));
  if (!e.getMIMEDescription || !e.getValue || !e.initialize || !e.shutdown) {
    if (error) *error = "an NP_ entry point is missing";
    dlclose(handle);
    return nullptr;
  }
  std::unique_ptr<Host> host(new Host(e));
  host->m_handle = handle;
  return host;
}

Host::~Host() {
  if (m_handle) dlclose(m_handle);
}

void* Host::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

NPError Host::Initialize() {
  m_browser = Functions();
  return m_entries.initialize(&m_browser, &m_plugin);
}

NPP Host::New(NPError* error) {
  m_instances.push_back(NPP_t{nullptr, nullptr});
  NPP npp = &m_instances.back();
  char mime[] = "application/tv";
  NPError e = m_plugin.newp(mime, npp, NP_EMBED, 0, nullptr, nullptr, nullptr);
  if (error) *error = e;
  return npp;
}

NPError Host::Destroy(NPP instance) { return m_plugin.destroy(instance, nullptr); }

NPObject* Host::ScriptObject(NPP instance) {
  NPObject* object = nullptr;
  if (m_plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object) != NPERR_NO_ERROR)
    return nullptr;
  return object;
}

}  // namespace testbrowser
