// The benchmark drivers' browser: the shipped NPAPI host (host/, the same
// one the WebKit extension and tvbridge run on) with the module linked in,
// and what the drivers count: handler calls, queued calls, NPN_Evaluate.
// Async calls go to the host's queue, which the driver drains on its own
// thread (which plays the browser's main thread).
#ifndef NPTV_BENCH_HOST_H
#define NPTV_BENCH_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <npapi.h>
#include <npfunctions.h>
#include <npruntime.h>

#include "Script.h"

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
struct Handler : nphost::FunctionBody {
  NPObject* object = nullptr;
  std::size_t calls = 0;
  std::string lastParam1, lastParam2;
  bool Call(const NPVariant* args, uint32_t argc, NPVariant* result) override;
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
