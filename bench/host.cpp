// The benchmarks' browser: the shipped NPAPI host (host/) with the module
// linked in, and what the drivers count on top (see host.h).
#include "host.h"

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "Host.h"

extern "C" {
NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs);
NPError NP_Shutdown();
NPError NP_GetValue(void* future, NPPVariable variable, void* value);
const char* NP_GetMIMEDescription();
}

namespace benchhost {
namespace {

std::unique_ptr<nphost::Host> gHost;

// What the drivers count of the queue and of NPN_Evaluate (the hooks run on
// the queuing thread and on the pumping one).
std::mutex gMutex;
std::condition_variable gQueued;
std::size_t gQueuedTotal = 0;
std::size_t gEvaluated = 0;
std::string gLastEvaluated;

}  // namespace

bool Handler::Call(const NPVariant* args, uint32_t argc, NPVariant*) {
  ++calls;
  if (argc >= 2 && args[0].type == NPVariantType_String && args[1].type == NPVariantType_String) {
    lastParam1.assign(args[0].value.stringValue.UTF8Characters,
                      args[0].value.stringValue.UTF8Length);
    lastParam2.assign(args[1].value.stringValue.UTF8Characters,
                      args[1].value.stringValue.UTF8Length);
  }
  return true;
}

bool Start() {
  if (gHost) return true;
  const char* texts[] = {"bench-app", "/opt/widgets/bench", "bench-id", "1.0"};
  for (int v = 4000; v <= 4003; ++v) nphost::SetAppText(v, std::string(texts[v - 4000]));
  nphost::SetUserAgent(std::string("nptv-bench/1.0"));
  nphost::SetWindowObject(true);
  nphost::ScriptHooks hooks;
  hooks.queued = [] {
    {
      std::lock_guard<std::mutex> lock(gMutex);
      ++gQueuedTotal;
    }
    gQueued.notify_one();
  };
  hooks.evaluate = [](NPP, const std::string& script, NPVariant*) {
    std::lock_guard<std::mutex> lock(gMutex);
    ++gEvaluated;
    gLastEvaluated = script;
    return true;
  };
  nphost::SetScriptHooks(std::move(hooks));
  gHost = std::make_unique<nphost::Host>(
      nphost::Entries{NP_GetMIMEDescription, NP_GetValue, NP_Initialize, NP_Shutdown});
  NPError err = gHost->Initialize();
  if (err != NPERR_NO_ERROR || !gHost->plugin().newp) {
    std::fprintf(stderr, "bench host: NP_Initialize refused the browser table (error %d)\n", err);
    gHost.reset();
    return false;
  }
  return true;
}

Instance NewInstance() {
  Instance inst;
  NPError err = NPERR_NO_ERROR;
  NPP npp = gHost->New(&err);
  if (err != NPERR_NO_ERROR) {
    std::fprintf(stderr, "bench host: NPP_New failed (error %d)\n", err);
    return inst;
  }
  NPObject* obj = gHost->ScriptObject(npp);
  if (!obj) {
    std::fprintf(stderr, "bench host: no scriptable object\n");
    gHost->Destroy(npp);
    return inst;
  }
  inst.npp = npp;
  inst.scriptable = obj;
  return inst;
}

void DestroyInstance(Instance& inst) {
  if (!inst.npp) return;
  gHost->Destroy(inst.npp);
  nphost::Release(inst.scriptable);
  inst = Instance{};
}

NPIdentifier Id(const char* name) { return nphost::Browser().getstringidentifier(name); }

// The script engine calls the plug-in's object through its class, as a browser does.
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
  return nphost::InvokeDefault(inst.scriptable, {}, result);
}
bool SetProperty(const Instance& inst, const char* name, const NPVariant* value) {
  NPObject* o = inst.scriptable;
  return o->_class->setProperty(o, Id(name), value);
}

void ReleaseVariant(NPVariant* v) { nphost::ReleaseValue(v); }

Handler* NewHandler(NPP) {
  auto body = std::make_unique<Handler>();
  Handler* h = body.get();
  h->object = nphost::NewFunction(std::move(body));
  return h->object ? h : nullptr;
}

std::size_t RunQueued() { return nphost::PumpAsyncCalls(); }

std::size_t RunQueuedUntil(std::size_t totalQueued) {
  std::size_t ran = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(gMutex);
      gQueued.wait(lock, [&] {
        return gQueuedTotal >= totalQueued || nphost::PendingAsyncCalls() != 0;
      });
      if (gQueuedTotal >= totalQueued && nphost::PendingAsyncCalls() == 0) return ran;
    }
    ran += RunQueued();
  }
}

std::size_t QueuedTotal() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gQueuedTotal;
}
std::size_t EvaluateCount() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gEvaluated;
}
std::string LastEvaluated() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gLastEvaluated;
}

}  // namespace benchhost
