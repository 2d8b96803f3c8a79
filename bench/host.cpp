#include "host.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

extern "C" NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs);

namespace benchhost {
namespace {

NPNetscapeFuncs gBrowser;
NPPluginFuncs gPlugin;
bool gStarted = false;

std::unordered_map<std::string, std::unique_ptr<std::string>>& Identifiers() {
  static std::unordered_map<std::string, std::unique_ptr<std::string>> ids;
  return ids;
}

// ---- objects -----------------------------------------------------------

NPClass MakeClass() {
  NPClass c;
  std::memset(&c, 0, sizeof c);
  c.structVersion = NP_CLASS_STRUCT_VERSION;
  return c;
}
NPClass gWindowClass = MakeClass();
NPObject* gWindow = nullptr;

NPObject* CreateObject(NPP npp, NPClass* cls) {
  NPObject* o = cls->allocate ? cls->allocate(npp, cls)
                              : static_cast<NPObject*>(std::calloc(1, sizeof(NPObject)));
  if (!o) return nullptr;
  o->_class = cls;
  o->referenceCount = 1;
  return o;
}
NPObject* RetainObject(NPObject* o) {
  if (o) ++o->referenceCount;
  return o;
}
void ReleaseObject(NPObject* o) {
  if (!o) return;
  if (--o->referenceCount == 0) {
    if (o->_class && o->_class->deallocate)
      o->_class->deallocate(o);
    else
      std::free(o);
  }
}

void ReleaseVariantValue(NPVariant* v) {
  if (!v) return;
  if (v->type == NPVariantType_String)
    std::free(const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters));
  else if (v->type == NPVariantType_Object)
    ReleaseObject(v->value.objectValue);
  v->type = NPVariantType_Void;
}

// ---- browser entries -----------------------------------------------------

const char* UserAgent(NPP) { return "nptv-bench/1.0"; }
void* MemAlloc(uint32_t size) { return std::malloc(size); }
void MemFree(void* p) { std::free(p); }

NPError GetValue(NPP, NPNVariable variable, void* value) {
  const int v = static_cast<int>(variable);
  const char* text = nullptr;
  switch (v) {
    case 4000: text = "bench-app"; break;
    case 4001: text = "/opt/widgets/bench"; break;
    case 4002: text = "bench-id"; break;
    case 4003: text = "1.0"; break;
    default: break;
  }
  if (text) {
    std::strcpy(static_cast<char*>(value), text);  // the module's buffer holds 1024 bytes
    return NPERR_NO_ERROR;
  }
  if (variable == NPNVWindowNPObject) {
    *static_cast<NPObject**>(value) = RetainObject(gWindow);
    return NPERR_NO_ERROR;
  }
  return NPERR_GENERIC_ERROR;
}
NPError SetValue(NPP, NPPVariable, void*) { return NPERR_NO_ERROR; }
void InvalidateRect(NPP, NPRect*) {}

NPIdentifier GetStringIdentifier(const NPUTF8* name) {
  auto& ids = Identifiers();
  auto it = ids.find(name);
  if (it == ids.end()) it = ids.emplace(name, std::make_unique<std::string>(name)).first;
  return it->second.get();
}

bool InvokeDefaultEntry(NPP, NPObject* o, const NPVariant* args, uint32_t argc, NPVariant* r) {
  if (!o || !o->_class || !o->_class->invokeDefault) return false;
  return o->_class->invokeDefault(o, args, argc, r);
}

std::size_t gEvaluated = 0;
std::string gLastEvaluated;
bool Evaluate(NPP, NPObject*, NPString* script, NPVariant* result) {
  ++gEvaluated;
  gLastEvaluated.assign(script->UTF8Characters, script->UTF8Length);
  if (result) result->type = NPVariantType_Void;
  return true;
}

std::mutex gQueueMutex;
std::condition_variable gQueueCv;
std::deque<std::pair<void (*)(void*), void*>> gQueue;
std::size_t gQueuedTotal = 0;

void PluginThreadAsyncCall(NPP, void (*fn)(void*), void* data) {
  {
    std::lock_guard<std::mutex> lock(gQueueMutex);
    gQueue.emplace_back(fn, data);
    ++gQueuedTotal;
  }
  gQueueCv.notify_one();
}

// ---- handler objects -----------------------------------------------------

struct HandlerObject {
  NPObject base;
  Handler handler;
};
NPObject* HandlerAllocate(NPP, NPClass*) { return &(new HandlerObject())->base; }
void HandlerDeallocate(NPObject* o) { delete reinterpret_cast<HandlerObject*>(o); }
bool HandlerInvokeDefault(NPObject* o, const NPVariant* args, uint32_t argc, NPVariant* r) {
  Handler& h = reinterpret_cast<HandlerObject*>(o)->handler;
  ++h.calls;
  if (argc >= 2 && args[0].type == NPVariantType_String && args[1].type == NPVariantType_String) {
    h.lastParam1.assign(args[0].value.stringValue.UTF8Characters,
                        args[0].value.stringValue.UTF8Length);
    h.lastParam2.assign(args[1].value.stringValue.UTF8Characters,
                        args[1].value.stringValue.UTF8Length);
  }
  r->type = NPVariantType_Void;
  return true;
}
NPClass gHandlerClass = [] {
  NPClass c = MakeClass();
  c.allocate = HandlerAllocate;
  c.deallocate = HandlerDeallocate;
  c.invokeDefault = HandlerInvokeDefault;
  return c;
}();

}  // namespace

bool Start() {
  if (gStarted) return true;
  std::memset(&gBrowser, 0, sizeof gBrowser);
  std::memset(&gPlugin, 0, sizeof gPlugin);
  gBrowser.size = sizeof(NPNetscapeFuncs);
  gBrowser.version = 27;
  gBrowser.uagent = UserAgent;
  gBrowser.memalloc = MemAlloc;
  gBrowser.memfree = MemFree;
  gBrowser.getvalue = GetValue;
  gBrowser.setvalue = SetValue;
  gBrowser.invalidaterect = InvalidateRect;
  gBrowser.getstringidentifier = GetStringIdentifier;
  gBrowser.createobject = CreateObject;
  gBrowser.retainobject = RetainObject;
  gBrowser.releaseobject = ReleaseObject;
  gBrowser.invokeDefault = InvokeDefaultEntry;
  gBrowser.evaluate = Evaluate;
  gBrowser.releasevariantvalue = ReleaseVariantValue;
  gBrowser.pluginthreadasynccall = PluginThreadAsyncCall;
  gPlugin.size = sizeof(NPPluginFuncs);
  NPError err = NP_Initialize(&gBrowser, &gPlugin);
  if (err != NPERR_NO_ERROR || !gPlugin.newp || !gPlugin.destroy || !gPlugin.getvalue) {
    std::fprintf(stderr, "bench host: NP_Initialize refused the browser table (error %d)\n", err);
    return false;
  }
  gWindow = CreateObject(nullptr, &gWindowClass);
  gStarted = true;
  return true;
}

Instance NewInstance() {
  Instance inst;
  NPP npp = new NPP_t{};
  char mime[] = "application/tv";
  NPError err = gPlugin.newp(mime, npp, NP_EMBED, 0, nullptr, nullptr, nullptr);
  if (err != NPERR_NO_ERROR) {
    std::fprintf(stderr, "bench host: NPP_New failed (error %d)\n", err);
    delete npp;
    return inst;
  }
  NPObject* obj = nullptr;
  err = gPlugin.getvalue(npp, NPPVpluginScriptableNPObject, &obj);
  if (err != NPERR_NO_ERROR || !obj) {
    std::fprintf(stderr, "bench host: no scriptable object (error %d)\n", err);
    gPlugin.destroy(npp, nullptr);
    delete npp;
    return inst;
  }
  inst.npp = npp;
  inst.scriptable = obj;
  return inst;
}

void DestroyInstance(Instance& inst) {
  if (!inst.npp) return;
  gPlugin.destroy(inst.npp, nullptr);
  ReleaseObject(inst.scriptable);
  delete inst.npp;
  inst = Instance{};
}

NPIdentifier Id(const char* name) { return GetStringIdentifier(name); }

bool InvokeId(const Instance& inst, NPIdentifier method, const NPVariant* args, uint32_t argc,
              NPVariant* result) {
  NPObject* o = inst.scriptable;
  return o->_class->invoke(o, method, args, argc, result);
}
bool Invoke(const Instance& inst, const char* method, const NPVariant* args, uint32_t argc,
            NPVariant* result) {
  return InvokeId(inst, Id(method), args, argc, result);
}
bool InvokeDefault(const Instance& inst, NPVariant* result) {
  NPObject* o = inst.scriptable;
  return o->_class->invokeDefault(o, nullptr, 0, result);
}
bool SetProperty(const Instance& inst, const char* name, const NPVariant* value) {
  NPObject* o = inst.scriptable;
  return o->_class->setProperty(o, Id(name), value);
}

void ReleaseVariant(NPVariant* v) { ReleaseVariantValue(v); }

Handler* NewHandler(NPP npp) {
  NPObject* o = CreateObject(npp, &gHandlerClass);
  if (!o) return nullptr;
  Handler* h = &reinterpret_cast<HandlerObject*>(o)->handler;
  h->object = o;
  return h;
}

std::size_t RunQueued() {
  std::deque<std::pair<void (*)(void*), void*>> batch;
  {
    std::lock_guard<std::mutex> lock(gQueueMutex);
    batch.swap(gQueue);
  }
  for (auto& call : batch) call.first(call.second);
  return batch.size();
}

std::size_t RunQueuedUntil(std::size_t totalQueued) {
  std::size_t ran = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(gQueueMutex);
      gQueueCv.wait(lock, [&] { return !gQueue.empty() || gQueuedTotal >= totalQueued; });
      if (gQueue.empty() && gQueuedTotal >= totalQueued) return ran;
    }
    ran += RunQueued();
  }
}

std::size_t QueuedTotal() {
  std::lock_guard<std::mutex> lock(gQueueMutex);
  return gQueuedTotal;
}
std::size_t EvaluateCount() { return gEvaluated; }
std::string LastEvaluated() { return gLastEvaluated; }

}  // namespace benchhost
