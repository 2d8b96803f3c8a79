// The test layer around the host's function table (see TestBrowser.h): the
// entries of memory, object life and script calls account for what they do,
// refuse misuse (and say so) instead of forwarding it, record, and fail when
// told to; the others are the host's.
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "TestBrowser.h"

namespace testbrowser {
namespace {

constexpr std::size_t kRecordRoom = 256;

struct Layer {
  std::mutex mu;
  NPNetscapeFuncs host;   // the host's own entries
  NPNetscapeFuncs table;  // the host's with the accounting entries in place, given to the plug-in
  std::size_t allocationCalls = 0;
  long allocationsLeft = -1;
  bool failCreate = false;
  std::unordered_set<NPObject*> live;
  std::unordered_map<void*, std::size_t> blocks;
  std::vector<std::string> misuses;
  std::size_t moreMisuses = 0;
  std::vector<InvokeDefaultCall> invokeDefaults;
  std::vector<EvaluateCall> evaluates;
  std::vector<SetValueCall> setValues;
  std::vector<NPRect> rects;
  std::vector<AsyncCallRecord> asyncCalls;
  std::deque<std::string> scriptStrings;
};

Layer& L();

void MisuseLocked(std::string what) {
  if (L().misuses.size() < kMisuseRoom)
    L().misuses.push_back(std::move(what));
  else
    ++L().moreMisuses;
}

bool IsLiveLocked(NPObject* o) { return o && L().live.count(o) != 0; }

// f(layer) under the layer's lock.
template <typename F>
auto Locked(F f) {
  std::lock_guard<std::mutex> lock(L().mu);
  return f(L());
}

template <typename T>
T Copy(T Layer::*field) {
  return Locked([field](Layer& l) { return l.*field; });
}

template <typename T>
void Record(std::vector<T> Layer::*records, T record) {
  std::lock_guard<std::mutex> lock(L().mu);
  (L().*records).push_back(std::move(record));
}

// True when `o` is alive; else a misuse of `entry` is noted.
bool Alive(NPObject* o, const char* entry) {
  std::lock_guard<std::mutex> lock(L().mu);
  if (IsLiveLocked(o)) return true;
  MisuseLocked(std::string(entry) + " on an object that is not alive");
  return false;
}

// ---- Memory and objects -----------------------------------------------------------------

void* MemAlloc(uint32_t size) {
  std::lock_guard<std::mutex> lock(L().mu);
  ++L().allocationCalls;
  if (L().allocationsLeft == 0) return nullptr;
  if (L().allocationsLeft > 0) --L().allocationsLeft;
  void* p = L().host.memalloc(size);
  if (p) L().blocks[p] = size;
  return p;
}

void MemFree(void* p) {
  if (!p) return;
  {
    std::lock_guard<std::mutex> lock(L().mu);
    if (!L().blocks.erase(p)) {
      MisuseLocked("memfree of a block the browser did not allocate");
      return;
    }
  }
  L().host.memfree(p);
}

NPObject* CreateObject(NPP npp, NPClass* cls) {
  {
    std::lock_guard<std::mutex> lock(L().mu);
    if (L().failCreate) return nullptr;
    if (!cls) {
      MisuseLocked("createobject without a class");
      return nullptr;
    }
  }
  NPObject* o = L().host.createobject(npp, cls);
  std::lock_guard<std::mutex> lock(L().mu);
  if (o) L().live.insert(o);
  return o;
}

NPObject* RetainObject(NPObject* o) {
  return Alive(o, "retainobject") ? L().host.retainobject(o) : o;
}

void ReleaseObject(NPObject* o) {
  {
    std::lock_guard<std::mutex> lock(L().mu);
    if (!IsLiveLocked(o)) {
      MisuseLocked("releaseobject on an object that is not alive");
      return;
    }
    if (o->referenceCount == 1) L().live.erase(o);
  }
  L().host.releaseobject(o);
}

void ReleaseVariantValue(NPVariant* v) {
  if (v && v->type == NPVariantType_String && v->value.stringValue.UTF8Characters) {
    std::lock_guard<std::mutex> lock(L().mu);
    if (!L().blocks.count(const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters))) {
      MisuseLocked("releasevariantvalue of a string the browser did not allocate");
      VOID_TO_NPVARIANT(*v);
      return;
    }
  }
  L().host.releasevariantvalue(v);
}

// ---- Script calls: on live objects only ---------------------------------------------------

// An entry whose second argument is an object: refused on a dead one.
template <typename Entry, Entry NPNetscapeFuncs::*Field>
struct OnLive;
template <typename R, typename... A, R (*NPNetscapeFuncs::*Field)(NPP, NPObject*, A...)>
struct OnLive<R (*)(NPP, NPObject*, A...), Field> {
  static inline const char* name;
  static R Call(NPP npp, NPObject* o, A... args) {
    return Alive(o, name) && (L().host.*Field)(npp, o, args...);
  }
};

bool InvokeDefaultEntry(NPP npp, NPObject* o, const NPVariant* args, uint32_t n,
                        NPVariant* result) {
  InvokeDefaultCall call{npp, o, {}, {}, std::this_thread::get_id()};
  for (uint32_t i = 0; i < n; ++i) {
    call.types.push_back(args[i].type);
    call.args.push_back(Text(args[i]));
  }
  Record(&Layer::invokeDefaults, std::move(call));
  return Alive(o, "invokeDefault") && L().host.invokeDefault(npp, o, args, n, result);
}

bool Evaluate(NPP npp, NPObject* o, NPString* script, NPVariant* result) {
  std::string text = script && script->UTF8Characters
                         ? std::string(script->UTF8Characters, script->UTF8Length)
                         : std::string();
  Record(&Layer::evaluates, {npp, o, text, std::this_thread::get_id()});
  return Alive(o, "evaluate") && L().host.evaluate(npp, o, script, result);
}

// ---- Records ----------------------------------------------------------------------------

NPError SetValue(NPP npp, NPPVariable variable, void* value) {
  Record(&Layer::setValues, {npp, static_cast<int>(variable), value});
  return L().host.setvalue(npp, variable, value);
}

void InvalidateRect(NPP npp, NPRect* rect) {
  Record(&Layer::rects, *rect);
  L().host.invalidaterect(npp, rect);
}

void PluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data) {
  {
    std::lock_guard<std::mutex> lock(L().mu);
    if (!func) {
      MisuseLocked("pluginthreadasynccall without a function");
      return;
    }
    L().asyncCalls.push_back({npp, func, data, std::this_thread::get_id()});
  }
  L().host.pluginthreadasynccall(npp, func, data);
}

Layer& L() {
  static Layer* layer = [] {
    Layer* l = new Layer;  // never destroyed: late calls stay harmless
    l->host = l->table = nphost::Functions();
    NPNetscapeFuncs& f = l->table;
    f.memalloc = MemAlloc;
    f.memfree = MemFree;
    f.createobject = CreateObject;
    f.retainobject = RetainObject;
    f.releaseobject = ReleaseObject;
    f.releasevariantvalue = ReleaseVariantValue;
    f.invokeDefault = InvokeDefaultEntry;
    f.evaluate = Evaluate;
#define NPTV_ON_LIVE(field)                                               \
  using field##_t = OnLive<decltype(f.field), &NPNetscapeFuncs::field>; \
  f.field = field##_t::Call;                                              \
  field##_t::name = #field;
    NPTV_ON_LIVE(invoke) NPTV_ON_LIVE(getproperty) NPTV_ON_LIVE(setproperty)
    NPTV_ON_LIVE(removeproperty) NPTV_ON_LIVE(hasproperty) NPTV_ON_LIVE(hasmethod)
    NPTV_ON_LIVE(enumerate) NPTV_ON_LIVE(construct)
#undef NPTV_ON_LIVE
    f.setvalue = SetValue;
    f.invalidaterect = InvalidateRect;
    f.pluginthreadasynccall = PluginThreadAsyncCall;
    nphost::SetBrowser(&l->table);
    return l;
  }();
  return *layer;
}

[[maybe_unused]] const bool sInstalled = (L(), true);  // the layer's table in use before main

}  // namespace

void Reset() {
  Locked([](Layer& l) {
    l.allocationsLeft = -1;
    l.allocationCalls = 0;
    l.failCreate = false;
    l.moreMisuses = 0;
    l.scriptStrings.clear();
    l.misuses.clear();
    l.misuses.reserve(kMisuseRoom);
    // Room made up front: recording allocates nothing (the out-of-memory suite fails the module's only).
    auto empty = [](auto&... records) { ((records.clear(), records.reserve(kRecordRoom)), ...); };
    empty(l.invokeDefaults, l.evaluates, l.setValues, l.rects, l.asyncCalls);
    return true;
  });
  for (int v = 4000; v <= 4003; ++v) SetAppText(v, std::nullopt);
  SetUserAgent(std::string("TestBrowser/1.0 (TV)"));
  SetEvaluateResult(true);
  SetScriptHooks(ScriptHooks());
  DropAsyncCalls();
  SetWindowObject(true);
}

LargeFunctionTable LargeFunctions(uint16_t size) {
  LargeFunctionTable t;
  std::memset(&t, 0, sizeof t);
  t.funcs = L().table;
  t.funcs.size = size;
  return t;
}

void FailAllocationsAfter(long n) { Locked([n](Layer& l) { return l.allocationsLeft = n < 0 ? -1 : n; }); }
void FailObjectCreation(bool on) { Locked([on](Layer& l) { return l.failCreate = on; }); }

std::size_t LiveObjects() { return Locked([](Layer& l) { return l.live.size(); }); }

bool IsLive(NPObject* object) { return Locked([object](Layer&) { return IsLiveLocked(object); }); }

uint32_t RefCount(NPObject* object) {
  return Locked([object](Layer&) { return IsLiveLocked(object) ? object->referenceCount : 0u; });
}

std::size_t OpenAllocations() { return Locked([](Layer& l) { return l.blocks.size(); }); }


std::vector<std::string> Misuses() {
  std::lock_guard<std::mutex> lock(L().mu);
  std::vector<std::string> all = L().misuses;
  if (L().moreMisuses) all.push_back("and " + std::to_string(L().moreMisuses) + " more");
  return all;
}

std::size_t AllocationCalls() { return Locked([](Layer& l) { return l.allocationCalls; }); }

std::vector<InvokeDefaultCall> InvokeDefaultCalls() { return Copy(&Layer::invokeDefaults); }
std::vector<EvaluateCall> EvaluateCalls() { return Copy(&Layer::evaluates); }
std::vector<SetValueCall> SetValueCalls() { return Copy(&Layer::setValues); }
std::vector<NPRect> InvalidatedRects() { return Copy(&Layer::rects); }

std::vector<AsyncCallRecord> TakeAsyncCalls() {
  DropAsyncCalls();
  std::lock_guard<std::mutex> lock(L().mu);
  return std::exchange(L().asyncCalls, {});
}

NPVariant String(const std::string& text) {
  const char* chars;
  {
    std::lock_guard<std::mutex> lock(L().mu);
    L().scriptStrings.push_back(text);
    chars = L().scriptStrings.back().data();
  }
  NPVariant v;
  STRINGN_TO_NPVARIANT(chars, text.size(), v);
  return v;
}

}  // namespace testbrowser
