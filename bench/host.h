// A deliberately thin in-process browser for the benchmark drivers: just
// enough of NPNetscapeFuncs to load libnptv.so, create instances and call
// their script object, with as little browser cost of its own as possible,
// so that what the drivers count is the plug-in's work.
//
// Every entry the module calls is here; identifiers are interned once in a
// hash map; memory comes from malloc; async calls go to a queue that the
// driver drains on its own thread (which plays the browser's main thread).
#ifndef NPTV_BENCH_HOST_H
#define NPTV_BENCH_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <npapi.h>
#include <npfunctions.h>
#include <npruntime.h>

namespace benchhost {

// One live plug-in instance as the browser sees it.
struct Instance {
  NPP npp = nullptr;
  NPObject* scriptable = nullptr;  // the reference handed out by NPP_GetValue
};

// Calls NP_Initialize once. Returns false (and prints why) when the module
// refuses the table.
bool Start();
// NPP_New, then NPP_GetValue(NPPVpluginScriptableNPObject). On failure the
// instance is empty and the reason is printed.
Instance NewInstance();
// NPP_Destroy, then the browser drops its reference to the script object.
void DestroyInstance(Instance& inst);

NPIdentifier Id(const char* name);

// Calls of the script object, the way the browser does them.
bool Invoke(const Instance& inst, const char* method, const NPVariant* args, uint32_t argc,
            NPVariant* result);
bool InvokeId(const Instance& inst, NPIdentifier method, const NPVariant* args, uint32_t argc,
              NPVariant* result);
bool InvokeDefault(const Instance& inst, NPVariant* result);
bool SetProperty(const Instance& inst, const char* name, const NPVariant* value);

void ReleaseVariant(NPVariant* v);

// A script function object: counts its calls and remembers the last two
// string arguments.
struct Handler {
  NPObject* object = nullptr;
  std::size_t calls = 0;
  std::string lastParam1, lastParam2;
};
Handler* NewHandler(NPP npp);  // created with a reference held by the caller

// Async calls queued by NPN_PluginThreadAsyncCall, run on the calling thread.
// Runs what is queued now; returns how many it ran.
std::size_t RunQueued();
// Waits until at least `n` calls were queued in all (explicit condition
// variable, no timing) and runs them.
std::size_t RunQueuedUntil(std::size_t totalQueued);
std::size_t QueuedTotal();
// Number of NPN_Evaluate calls and the last text evaluated.
std::size_t EvaluateCount();
std::string LastEvaluated();

}  // namespace benchhost

#endif
