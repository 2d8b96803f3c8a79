// Script values (a handler function, the window) as NPObjects wrapping a
// JSCValue: what the plug-in calls and reads (see ObjectModelParts.h).
#include <string>
#include <vector>

#include "ObjectModelParts.h"

namespace nptvwebkit {

long gScriptObjects = 0;
void (*gBeforeHandlerCall)() = nullptr;

namespace {

NPObject* ScriptAllocate(NPP, NPClass*) {
  ++gScriptObjects;
  return &(new ScriptObject{{}, nullptr, nullptr, -1})->base;
}

void ScriptDeallocate(NPObject* o) {
  ScriptObject* s = AsScript(o);
  if (s->root) s->root->Forget(s->value);
  if (s->value) g_object_unref(s->value);
  --gScriptObjects;
  delete s;
}

// The script value and root of a live script object, or false.
bool Live(NPObject* o, JSCValue** value, Root** root) {
  ScriptObject* s = AsScript(o);
  if (!s->value || !s->root || !s->root->valid()) return false;
  *value = s->value;
  *root = s->root;
  return true;
}

// A call's arguments as script values, on the stack for the few an event
// or a call has (no allocation per call), let go when it ends.
class Arguments {
 public:
  Arguments(Root* root, const NPVariant* args, uint32_t n) : m_n(n) {
    if (n > kInPlace) m_heap.resize(n);
    JSCValue** to = data();
    for (uint32_t i = 0; i < n; ++i) to[i] = root->ToScript(args[i]);
  }
  ~Arguments() {
    JSCValue** values = data();
    for (uint32_t i = 0; i < m_n; ++i) g_object_unref(values[i]);
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  JSCValue** data() { return m_n > kInPlace ? m_heap.data() : m_inPlace; }

 private:
  static constexpr uint32_t kInPlace = 6;
  uint32_t m_n;
  JSCValue* m_inPlace[kInPlace];
  std::vector<JSCValue*> m_heap;
};

// A script exception during a call the plug-in made: WebKit's NPAPI layer
// clears it and goes on; we also say so on stderr.
bool Caught(JSCContext* context, const char* what) {
  JSCException* e = jsc_context_get_exception(context);
  if (!e) return false;
  char* report = jsc_exception_report(e);
  g_printerr("nptv-webkit: %s threw: %s\n", what, report ? report : "");
  g_free(report);
  jsc_context_clear_exception(context);
  return true;
}

// The result of a call into script: converted into *result, the value let
// go. A script exception is cleared and the call succeeds with null, as in
// WebKit's NPAPI layer.
bool Finish(Root* root, JSCValue* value, const char* what, NPVariant* result) {
  bool threw = Caught(root->context(), what);
  if (value && !threw)
    root->ToVariant(value, result);
  else
    NULL_TO_NPVARIANT(*result);
  if (value) g_object_unref(value);
  return true;
}

std::string Name(NPIdentifier id) {
  NPUTF8* text = Browser().utf8fromidentifier(id);
  std::string name = text ? text : "";
  if (text) Browser().memfree(text);
  return name;
}

bool IsString(NPIdentifier id) { return Browser().identifierisstring(id); }

bool ScriptInvokeDefault(NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root)) return false;
  ScriptObject* s = AsScript(o);
  if (s->callable < 0) s->callable = jsc_value_is_function(value) ? 1 : 0;  // never changes
  if (!s->callable) return false;
  JSCValue* r;
  {
    Arguments values(root, args, n);
    if (gBeforeHandlerCall) gBeforeHandlerCall();
    r = jsc_value_function_callv(value, n, values.data());
  }
  Finish(root, r, "a handler", result);
  return true;
}

bool ScriptInvoke(NPObject* o, NPIdentifier name, const NPVariant* args, uint32_t n,
                  NPVariant* result) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root) || !IsString(name)) return false;
  std::string text = Name(name);
  JSCValue* method = jsc_value_object_get_property(value, text.c_str());
  bool callable = method && jsc_value_is_function(method);
  if (method) g_object_unref(method);
  if (!callable) {
    Caught(root->context(), "a property read");
    return false;
  }
  JSCValue* r;
  {
    Arguments values(root, args, n);
    r = jsc_value_object_invoke_methodv(value, text.c_str(), n, values.data());
  }
  Finish(root, r, "a method", result);
  return true;
}

bool ScriptGetProperty(NPObject* o, NPIdentifier name, NPVariant* result) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root)) return false;
  JSCValue* r = IsString(name)
                    ? jsc_value_object_get_property(value, Name(name).c_str())
                    : jsc_value_object_get_property_at_index(
                          value, static_cast<unsigned>(Browser().intfromidentifier(name)));
  return Finish(root, r, "a property read", result);
}

bool ScriptSetProperty(NPObject* o, NPIdentifier name, const NPVariant* v) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root)) return false;
  JSCValue* property = root->ToScript(*v);
  if (IsString(name))
    jsc_value_object_set_property(value, Name(name).c_str(), property);
  else
    jsc_value_object_set_property_at_index(
        value, static_cast<unsigned>(Browser().intfromidentifier(name)), property);
  g_object_unref(property);
  return !Caught(root->context(), "a property write");
}

bool ScriptRemoveProperty(NPObject* o, NPIdentifier name) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root) || !IsString(name)) return false;
  bool removed = jsc_value_object_delete_property(value, Name(name).c_str());
  return !Caught(root->context(), "a property removal") && removed;
}

bool ScriptHasProperty(NPObject* o, NPIdentifier name) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root)) return false;
  std::string text = IsString(name) ? Name(name) : std::to_string(Browser().intfromidentifier(name));
  return jsc_value_object_has_property(value, text.c_str());
}

// As WebKit's NPAPI layer: any property that is not undefined counts.
bool ScriptHasMethod(NPObject* o, NPIdentifier name) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root) || !IsString(name)) return false;
  JSCValue* method = jsc_value_object_get_property(value, Name(name).c_str());
  bool present = method && !jsc_value_is_undefined(method);
  if (method) g_object_unref(method);
  Caught(root->context(), "a property read");
  return present;
}

bool ScriptEnumerate(NPObject* o, NPIdentifier** ids, uint32_t* count) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root)) return false;
  char** names = jsc_value_object_enumerate_properties(value);
  uint32_t n = names ? g_strv_length(names) : 0;
  auto* out = static_cast<NPIdentifier*>(Browser().memalloc(n * sizeof(NPIdentifier)));
  if (!out && n) {
    g_strfreev(names);
    return false;
  }
  for (uint32_t i = 0; i < n; ++i) out[i] = Browser().getstringidentifier(names[i]);
  g_strfreev(names);
  *ids = out;
  *count = n;
  return true;
}

bool ScriptConstruct(NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  JSCValue* value;
  Root* root;
  if (!Live(o, &value, &root) || !jsc_value_is_constructor(value)) return false;
  JSCValue* r;
  {
    Arguments values(root, args, n);
    r = jsc_value_constructor_callv(value, n, values.data());
  }
  return Finish(root, r, "a constructor", result);
}

}  // namespace

NPClass gScriptClass = {NP_CLASS_STRUCT_VERSION, ScriptAllocate,     ScriptDeallocate,
                        nullptr,                 ScriptHasMethod,    ScriptInvoke,
                        ScriptInvokeDefault,     ScriptHasProperty,  ScriptGetProperty,
                        ScriptSetProperty,       ScriptRemoveProperty, ScriptEnumerate,
                        ScriptConstruct};


}  // namespace nptvwebkit
