// The browser side of the NPAPI host: the function table a plug-in module is
// given, what the browser answers, the hooks of a host that serves real pages,
// the main-thread queue of NPN_PluginThreadAsyncCall, and the few counts a
// host shows about itself. Shipped: the web-process extension (webkit/) and
// tvbridge run on it. Nothing here checks the plug-in's use of the table
// (a browser does not); tests wrap the table to account for it.
//
// One browser per process. Every function may be called from any thread; the
// queued asynchronous calls run on the thread that pumps them.
#ifndef NPTV_HOST_BROWSER_H
#define NPTV_HOST_BROWSER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <npfunctions.h>

namespace nphost {

// The host's own function table: every entry through convertpoint filled.
NPNetscapeFuncs Functions();

// The table in use: Functions() unless a wrapper was installed. The host's
// own entries reach each other through it (NPN_ReleaseVariantValue frees with
// its memfree, a window object is made with its createobject), and so do the
// script operations of Script.h, so a wrapper sees everything. Install before
// a module is initialised; `table` must outlive its use (null: the host's own).
const NPNetscapeFuncs& Browser();
void SetBrowser(const NPNetscapeFuncs* table);

// ---- What the browser answers --------------------------------------------------

// The text for one of the browser's own variables 4000-4003; nullopt: not
// answered. A text of 1024 bytes or more fills the whole 1024-byte buffer
// without a terminator.
void SetAppText(int variable, std::optional<std::string> text);
// With `present` the browser has a window object, of which it holds one
// reference itself; without (the start), NPNVWindowNPObject is not answered.
void SetWindowObject(bool present);
NPObject* WindowObject();
// NPN_UserAgent's answer when no hook gives one; nullopt (the start): none.
void SetUserAgent(std::optional<std::string> agent);
// What NPN_Evaluate answers without an evaluate hook (true at the start).
void SetEvaluateResult(bool ok);

// ---- Hooks of a host that serves real pages ------------------------------------------

// Unset hooks leave the browser answering as above.
struct ScriptHooks {
  // NPN_Evaluate on an object: the script text, for the page of `npp`.
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
// Drops every queued call without running it.
void DropAsyncCalls();

// ---- Counts ---------------------------------------------------------------------------

// Kept by every build at the cost of one atomic addition per change.
struct Counts {
  long liveObjects;      // made by NPN_CreateObject, not yet deallocated
  long openBlocks;       // NPN_MemAlloc blocks not yet freed
  std::size_t identifiers;  // interned identifiers, at most kIdentifierRoom
};
Counts GetCounts();

// Identifiers: the first kLastingIdentifiers distinct names and numbers live
// as long as the process, as in a browser. Past that (a page that invents
// names), a new one takes one of kPassingIdentifiers slots in turn: it stays
// valid until that many newer ones were made after it, then names the newest.
// The module interns its own names when it starts, long before that.
constexpr std::size_t kLastingIdentifiers = 8192;
constexpr std::size_t kPassingIdentifiers = 1024;
constexpr std::size_t kIdentifierRoom = kLastingIdentifiers + kPassingIdentifiers;

}  // namespace nphost

#endif
