// The web-process extension: an NPAPI host for the unchanged libnptv.so in
// WebKitGTK's or WPE's web process. The browser side is the shared NPAPI host
// (host/: module loading, identifiers, memory, object life,
// the async queue); the object model is JavaScriptCore's (ObjectModel.cpp).
//
// Pages of allowed origins (file: and those configured) get an injected
// script (tv-element.js) that gives every TV element its methods and asks
// this file for an instance when the element appears and for its end when
// the element leaves, the page is left or closed.
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "OriginRule.h"
#include "Host.h"
#include "Injected.h"
#include "ObjectModel.h"

#if NPTV_WEBKIT_WPE
#include <wpe/webkit-web-extension.h>
#else
#include <webkit2/webkit-web-extension.h>
#endif

using nptvwebkit::Root;

namespace {

struct Instance {
  Instance(guint64 p, guint64 f) : page(p), frame(f) {}
  guint64 page;
  guint64 frame;
  NPP npp = nullptr;
  std::unique_ptr<Root> root;
  std::string userAgent;
  JSCValue* element = nullptr;  // strong, until the instance ends
  bool gone = false;            // its element left the document
};

nptvwebkit::Config gConfig;
std::unique_ptr<nphost::Host> gHost;
bool gLoadFailed = false;
std::vector<Instance*> gInstances;
std::atomic<bool> gPumpScheduled{false};

Instance* Of(NPP npp) { return npp ? static_cast<Instance*>(npp->ndata) : nullptr; }

void Destroy(Instance* i);

// A JavaScript round trip: read only where a script text is evaluated anyway
// (a handler given by name); a function handler's call is checked by the
// element script itself (see tv-element.js).
bool Connected(JSCValue* element) {
  JSCValue* v = jsc_value_object_get_property(element, "isConnected");
  bool connected = v && jsc_value_to_boolean(v);
  if (v) g_object_unref(v);
  return connected;
}

// Ends the instances that `which` accepts (in their order of creation).
template <typename Which>
void DestroyWhere(Which which) {
  std::vector<Instance*> gone;
  for (Instance* i : gInstances)
    if (which(i)) gone.push_back(i);
  for (Instance* i : gone) Destroy(i);
}

// ---- For the extension's tests and benchmarks only -------------------------------
//
// With NPTV_WEBKIT_TEST_STATS set, pages get nptvStats() (the host's counts,
// the hop figures) and nptvCollect() (a full garbage collection now); the
// hop of each queued call is timed from its queuing to the handler's call
// into JavaScriptCore. Without it nothing of this runs.

bool gTesting = false;
struct Hops {
  std::mutex mu;
  std::deque<gint64> queued;  // queuing times, in the queue's order
  gint64 current = 0;         // the running call's, until its handler is called
  std::vector<double> micros;
} gHops;

void HopQueued() {
  std::lock_guard<std::mutex> lock(gHops.mu);
  gHops.queued.push_back(g_get_monotonic_time());
}

void HopRunning() {
  std::lock_guard<std::mutex> lock(gHops.mu);
  gHops.current = 0;
  if (gHops.queued.empty()) return;
  gHops.current = gHops.queued.front();
  gHops.queued.pop_front();
}

void HopHandler() {
  std::lock_guard<std::mutex> lock(gHops.mu);
  if (!gHops.current) return;
  if (gHops.micros.size() < 100000) gHops.micros.push_back(double(g_get_monotonic_time() - gHops.current));
  gHops.current = 0;
}

// ---- The main-thread queue --------------------------------------------------------
//
// One source on the main context runs the queue in slices: at most what was
// queued when the slice began, and at most kSliceMicroseconds of time, then
// it gives the main loop back (WebKit's IPC, timers and rendering run) and
// comes again on a later turn. It starts at default priority, so that a call
// or an event that finds the queue empty runs on the next turn of the loop;
// once a slice leaves work behind, the rest of the stream runs at idle
// priority, below WebKit's own sources, so that a stream of events cannot
// hold the page. It is never run from inside itself.

constexpr gint64 kSliceMicroseconds = 2000;
constexpr int kFirstPriority = G_PRIORITY_DEFAULT;
constexpr int kStreamPriority = G_PRIORITY_DEFAULT_IDLE;

gboolean MoreLater() {
  g_source_set_priority(g_main_current_source(), kStreamPriority);
  return G_SOURCE_CONTINUE;
}

gboolean Pump(gpointer) {
  std::size_t budget = nphost::PendingAsyncCalls();
  const gint64 end = g_get_monotonic_time() + kSliceMicroseconds;
  auto before = [](NPP npp) {
    if (gTesting) HopRunning();
    // An element that left the document (its handler removed it, say) ends
    // before the page's observer hears of it: no handler of it runs once it
    // is out.
    Instance* i = Of(npp);
    if (i && i->gone) Destroy(i);
  };
  // In runs of a few calls, the clock read between them.
  while (budget && g_get_monotonic_time() < end) {
    std::size_t ran = nphost::PumpAsyncCalls(std::min<std::size_t>(budget, 32), before);
    if (!ran) break;
    budget -= ran;
  }
  // What the element script found out of the document ends now.
  DestroyWhere([](Instance* i) { return i->gone; });
  if (nphost::PendingAsyncCalls()) return MoreLater();
  gPumpScheduled = false;
  // Queued between the last look and the flag's reset: the queuing thread
  // saw the flag set and left the pumping to us.
  if (nphost::PendingAsyncCalls() && !gPumpScheduled.exchange(true)) return MoreLater();
  return G_SOURCE_REMOVE;
}

// From any thread: the main context runs Pump on a later turn of its loop.
void Schedule() {
  if (gPumpScheduled.exchange(true)) return;
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, kFirstPriority);
  g_source_set_callback(source, Pump, nullptr, nullptr);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

// ---- The module ----------------------------------------------------------------------

bool EnsureModule() {
  if (gHost) return true;
  if (gLoadFailed) return false;
  std::string error;
  gHost = nphost::Host::Load(gConfig.module, &error);
  if (!gHost) {
    g_printerr("nptv-webkit: cannot load %s: %s\n", gConfig.module.c_str(), error.c_str());
    gLoadFailed = true;
    return false;
  }
  nphost::SetWindowObject(false);
  for (int v = 4000; v <= 4003; ++v) {
    auto it = gConfig.appTexts.find(v);
    nphost::SetAppText(v, it == gConfig.appTexts.end()
                                   ? std::nullopt
                                   : std::optional<std::string>(it->second));
  }
  nphost::ScriptHooks hooks;
  hooks.queued = [] {
    if (gTesting) HopQueued();
    Schedule();
  };
  hooks.window = [](NPP npp) -> NPObject* {
    Instance* i = Of(npp);
    if (!i || !i->root->valid()) return nullptr;
    JSCValue* global = jsc_context_get_global_object(i->root->context());
    NPObject* window = i->root->WrapScript(global);
    g_object_unref(global);
    return window;
  };
  hooks.evaluate = [](NPP npp, const std::string& script, NPVariant* result) {
    Instance* i = Of(npp);
    if (!i || !i->root->valid()) return false;
    if (i->gone || (i->element && !Connected(i->element))) {
      i->gone = true;  // out of the document: the handler does not run
      VOID_TO_NPVARIANT(*result);
      return true;
    }
    JSCContext* context = i->root->context();
    JSCValue* value = jsc_context_evaluate(context, script.data(), script.size());
    if (JSCException* e = jsc_context_get_exception(context)) {
      // As WebKit's NPAPI layer: said, cleared, and the call succeeds.
      char* report = jsc_exception_report(e);
      g_printerr("nptv-webkit: a script the plug-in evaluated threw: %s\n", report);
      g_free(report);
      jsc_context_clear_exception(context);
      if (value) g_object_unref(value);
      VOID_TO_NPVARIANT(*result);
      return true;
    }
    i->root->ToVariant(value, result);
    g_object_unref(value);
    return true;
  };
  hooks.setException = [](NPObject*, const char* message) { Root::SetPendingException(message); };
  hooks.userAgent = [](NPP npp) -> const char* {
    Instance* i = Of(npp);
    return i && !i->userAgent.empty() ? i->userAgent.c_str() : nullptr;
  };
  nphost::SetScriptHooks(std::move(hooks));
  NPError e = gHost->Initialize();
  if (e != NPERR_NO_ERROR) {
    g_printerr("nptv-webkit: NP_Initialize of %s answered %d\n", gConfig.module.c_str(), e);
    gHost.reset();
    gLoadFailed = true;
    return false;
  }
  return true;
}

void Destroy(Instance* i) {
  for (auto it = gInstances.begin(); it != gInstances.end(); ++it) {
    if (*it == i) {
      gInstances.erase(it);
      break;
    }
  }
  gHost->Destroy(i->npp);
  i->npp->ndata = nullptr;  // a call still queued for it finds no page
  i->root->Invalidate();
  g_clear_object(&i->element);
  delete i;
}

// ---- The natives of the injected script --------------------------------------------------

struct Binding {
  guint64 page;
  guint64 frame;
};

std::vector<std::string> Texts(JSCValue* array) {
  std::vector<std::string> texts;
  if (!jsc_value_is_array(array)) return texts;
  JSCValue* length = jsc_value_object_get_property(array, "length");
  int32_t n = jsc_value_to_int32(length);
  g_object_unref(length);
  for (int32_t k = 0; k < n; ++k) {
    JSCValue* item = jsc_value_object_get_property_at_index(array, static_cast<unsigned>(k));
    char* text = jsc_value_to_string(item);
    texts.push_back(text ? text : "");
    g_free(text);
    g_object_unref(item);
  }
  return texts;
}

JSCValue* NativeCreate(GPtrArray* args, gpointer data) {
  auto* binding = static_cast<Binding*>(data);
  JSCContext* context = jsc_context_get_current();
  if (args->len < 2 || !EnsureModule()) return jsc_value_new_null(context);
  std::vector<std::string> names = Texts(static_cast<JSCValue*>(g_ptr_array_index(args, 0)));
  std::vector<std::string> values = Texts(static_cast<JSCValue*>(g_ptr_array_index(args, 1)));
  nphost::Host::Attributes attributes;
  for (std::size_t k = 0; k < names.size() && k < values.size(); ++k)
    attributes.emplace_back(names[k], values[k]);

  auto* i = new Instance(binding->page, binding->frame);
  if (args->len >= 3 && jsc_value_is_object(static_cast<JSCValue*>(g_ptr_array_index(args, 2))))
    i->element = static_cast<JSCValue*>(g_object_ref(g_ptr_array_index(args, 2)));
  i->root.reset(new Root(context));
  JSCValue* agent = jsc_context_evaluate(context, "navigator.userAgent", -1);
  if (agent) {
    char* text = jsc_value_to_string(agent);
    i->userAgent = text ? text : "";
    g_free(text);
    g_object_unref(agent);
  }
  gInstances.push_back(i);
  NPError error = NPERR_NO_ERROR;
  i->npp = gHost->New(attributes, i, &error);  // ndata is the instance during NPP_New
  i->root->SetNpp(i->npp);
  if (error != NPERR_NO_ERROR) {
    g_printerr("nptv-webkit: NPP_New answered %d\n", error);
    gInstances.pop_back();
    i->npp->ndata = nullptr;
    g_clear_object(&i->element);
    delete i;
    return jsc_value_new_null(context);
  }
  NPObject* object = gHost->ScriptObject(i->npp);
  if (!object) {
    g_printerr("nptv-webkit: the plug-in has no script object\n");
    Destroy(i);
    return jsc_value_new_null(context);
  }
  JSCValue* wrapper = i->root->WrapPlugin(object);
  nphost::Browser().releaseobject(object);
  return wrapper;
}

JSCValue* NativeDestroy(GPtrArray* args, gpointer) {
  JSCContext* context = jsc_context_get_current();
  if (args->len >= 1) {
    auto* value = static_cast<JSCValue*>(g_ptr_array_index(args, 0));
    DestroyWhere([value](Instance* i) { return i->root->Holds(value); });
  }
  return jsc_value_new_undefined(context);
}

// The element script found the element out of the document at a handler
// call: the instance ends before its next call.
JSCValue* NativeGone(GPtrArray* args, gpointer) {
  if (args->len >= 1) {
    auto* value = static_cast<JSCValue*>(g_ptr_array_index(args, 0));
    for (Instance* i : gInstances)
      if (i->root->Holds(value)) i->gone = true;
  }
  return jsc_value_new_undefined(jsc_context_get_current());
}

JSCValue* NativeStats(GPtrArray*, gpointer) {
  JSCContext* context = jsc_context_get_current();
  JSCValue* o = jsc_value_new_object(context, nullptr, nullptr);
  auto put = [&](const char* name, double number) {
    JSCValue* v = jsc_value_new_number(context, number);
    jsc_value_object_set_property(o, name, v);
    g_object_unref(v);
  };
  nptvwebkit::ModelCounts counts = nptvwebkit::Counts();
  put("instances", static_cast<double>(gInstances.size()));
  const nphost::Counts host = nphost::GetCounts();
  put("liveObjects", static_cast<double>(host.liveObjects));
  put("openAllocations", static_cast<double>(host.openBlocks));
  put("scriptObjects", static_cast<double>(counts.scriptObjects));
  put("pluginWrappers", static_cast<double>(counts.pluginWrappers));
  put("pendingCalls", static_cast<double>(nphost::PendingAsyncCalls()));
  {
    // The hops timed since the last reading (then forgotten).
    std::lock_guard<std::mutex> lock(gHops.mu);
    std::vector<double>& h = gHops.micros;
    std::sort(h.begin(), h.end());
    put("hops", static_cast<double>(h.size()));
    put("hopMedianUs", h.empty() ? 0 : h[(h.size() - 1) / 2]);
    put("hopP99Us", h.empty() ? 0 : h[std::min(h.size() - 1, h.size() * 99 / 100)]);
    h.clear();
  }
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  put("rss", static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)));
  // The C heap in use: the module, the host, the extension, GLib (the script
  // engine keeps its objects in a heap of its own).
  const struct mallinfo2 heap = mallinfo2();
  put("cHeap", static_cast<double>(heap.uordblks + heap.hblkhd));
  return o;
}

#if !NPTV_WEBKIT_WPE
// A full, synchronous garbage collection of the web process's script heap,
// then the C heap's free memory given back: what stays resident is live.
// (WPE's library exports no entry point for it: there nptvCollect is absent.)
extern "C" void JSSynchronousGarbageCollectForDebugging(JSContextRef);
JSCValue* NativeCollect(GPtrArray*, gpointer data) {
  JSSynchronousGarbageCollectForDebugging(static_cast<JSContextRef>(data));
  malloc_trim(0);
  return jsc_value_new_undefined(jsc_context_get_current());
}
#endif

JSCValue* Function(JSCContext* context, const char* name, GCallback callback, Binding* binding) {
  return jsc_value_new_function_variadic(
      context, name, callback, binding ? new Binding(*binding) : nullptr,
      [](gpointer p) { delete static_cast<Binding*>(p); }, JSC_TYPE_VALUE);
}

void Inject(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame) {
  Binding binding{webkit_web_page_get_id(page), webkit_frame_get_id(frame)};
  // The frame's previous document is gone: its instances end first.
  DestroyWhere([&binding](Instance* i) {
    return i->page == binding.page && i->frame == binding.frame;
  });
  const char* uri = webkit_frame_get_uri(frame);
  if (!nptvwebkit::Allowed(gConfig, uri ? uri : "")) return;

  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  // A frame of an opaque origin (a sandboxed iframe, a page served with
  // CSP sandbox) is no page of its URL's origin: it gets no TV.
  JSCValue* origin = jsc_context_evaluate(context, "self.origin", -1);
  gchar* originText = jsc_value_to_string(origin);
  const bool opaque = originText && std::string(originText) == "null" && nptvorigin::OfUrl(uri) != "file://";
  g_free(originText);
  g_object_unref(origin);
  if (opaque) {
    g_object_unref(context);
    return;
  }
  JSCValue* natives = jsc_value_new_object(context, nullptr, nullptr);
  JSCValue* create = Function(context, "create", G_CALLBACK(NativeCreate), &binding);
  JSCValue* destroy = Function(context, "destroy", G_CALLBACK(NativeDestroy), nullptr);
  jsc_value_object_set_property(natives, "create", create);
  jsc_value_object_set_property(natives, "destroy", destroy);
  JSCValue* gone = Function(context, "gone", G_CALLBACK(NativeGone), nullptr);
  jsc_value_object_set_property(natives, "gone", gone);
  g_object_unref(gone);
  g_object_unref(create);
  g_object_unref(destroy);
  if (gTesting) {
    JSCValue* yes = jsc_value_new_boolean(context, TRUE);
    jsc_value_object_set_property(natives, "testing", yes);
    g_object_unref(yes);
  }

  GPtrArray* names = g_ptr_array_new_with_free_func(g_object_unref);
  for (const char* name : nptvwebkit::kMethodNames)
    g_ptr_array_add(names, jsc_value_new_string(context, name));
  JSCValue* methods = jsc_value_new_array_from_garray(context, names);
  g_ptr_array_unref(names);

  JSCValue* installer = jsc_context_evaluate_with_source_uri(
      context, nptvwebkit::kElementScript, -1, "nptv-webkit:tv-element.js", 1);
  if (JSCException* e = jsc_context_get_exception(context)) {
    char* report = jsc_exception_report(e);
    g_printerr("nptv-webkit: the element script failed: %s\n", report);
    g_free(report);
    jsc_context_clear_exception(context);
  } else {
    JSCValue* r = jsc_value_function_call(installer, JSC_TYPE_VALUE, natives, JSC_TYPE_VALUE,
                                          methods, G_TYPE_NONE);
    if (r) g_object_unref(r);
    if (JSCException* e = jsc_context_get_exception(context)) {
      char* report = jsc_exception_report(e);
      g_printerr("nptv-webkit: the element script failed: %s\n", report);
      g_free(report);
      jsc_context_clear_exception(context);
    }
  }
  if (installer) g_object_unref(installer);
  if (gTesting) {
    // For the extension's own tests only: the host's counts, as page script.
    JSCValue* stats = Function(context, "nptvStats", G_CALLBACK(NativeStats), nullptr);
    jsc_context_set_value(context, "nptvStats", stats);
    g_object_unref(stats);
#if !NPTV_WEBKIT_WPE
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    JSGlobalContextRef global = webkit_frame_get_javascript_global_context(frame);
    G_GNUC_END_IGNORE_DEPRECATIONS
    JSCValue* collect = jsc_value_new_function_variadic(context, "nptvCollect", G_CALLBACK(NativeCollect),
                                                        const_cast<OpaqueJSContext*>(global), nullptr,
                                                        JSC_TYPE_VALUE);
    jsc_context_set_value(context, "nptvCollect", collect);
    g_object_unref(collect);
#endif
  }
  g_object_unref(methods);
  g_object_unref(natives);
  g_object_unref(context);
}

void PageGone(gpointer data, GObject*) {
  auto page = static_cast<guint64>(reinterpret_cast<guintptr>(data));
  DestroyWhere([page](Instance* i) { return i->page == page; });
}

void PageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_object_weak_ref(G_OBJECT(page), PageGone,
                    reinterpret_cast<gpointer>(static_cast<guintptr>(webkit_web_page_get_id(page))));
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* data) {
  gConfig = nptvwebkit::ReadConfig(const_cast<GVariant*>(data));
  if (g_getenv("NPTV_WEBKIT_TEST_STATS")) {
    gTesting = true;
    nptvwebkit::gBeforeHandlerCall = HopHandler;
  }
  for (const std::string& problem : gConfig.problems)
    g_printerr("nptv-webkit: %s\n", problem.c_str());
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(Inject), nullptr);
  g_signal_connect(extension, "page-created", G_CALLBACK(PageCreated), nullptr);
}
