// The WebKit host's object model (see ObjectModel.h).
#include "ObjectModel.h"

#include <cstring>
#include <string>
#include <vector>

#include "Host.h"

namespace nptvwebkit {
namespace {

const NPNetscapeFuncs& Browser() { return nphost::Browser(); }

long sScriptObjects = 0;
long sPluginWrappers = 0;
bool sHasPending = false;
std::string sPending;

// ---- Script values as NPObjects -------------------------------------------------------

}  // namespace

struct ScriptObject {
  NPObject base;
  JSCValue* value;  // strong; null once the root let go
  Root* root;       // null once the root let go
};

namespace {

ScriptObject* AsScript(NPObject* o) { return reinterpret_cast<ScriptObject*>(o); }

NPObject* ScriptAllocate(NPP, NPClass*) {
  ++sScriptObjects;
  return &(new ScriptObject{{}, nullptr, nullptr})->base;
}

void ScriptDeallocate(NPObject* o) {
  ScriptObject* s = AsScript(o);
  if (s->root) s->root->Forget(s->value);
  if (s->value) g_object_unref(s->value);
  --sScriptObjects;
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

std::vector<JSCValue*> Arguments(Root* root, const NPVariant* args, uint32_t n) {
  std::vector<JSCValue*> values;
  values.reserve(n);
  for (uint32_t i = 0; i < n; ++i) values.push_back(root->ToScript(args[i]));
  return values;
}

void Free(std::vector<JSCValue*>& values) {
  for (JSCValue* v : values) g_object_unref(v);
}

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
  if (!Live(o, &value, &root) || !jsc_value_is_function(value)) return false;
  std::vector<JSCValue*> values = Arguments(root, args, n);
  JSCValue* r = jsc_value_function_callv(value, n, values.data());
  Free(values);
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
  std::vector<JSCValue*> values = Arguments(root, args, n);
  JSCValue* r = jsc_value_object_invoke_methodv(value, text.c_str(), n, values.data());
  Free(values);
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
  std::vector<JSCValue*> values = Arguments(root, args, n);
  JSCValue* r = jsc_value_constructor_callv(value, n, values.data());
  Free(values);
  return Finish(root, r, "a constructor", result);
}

NPClass sScriptClass = {NP_CLASS_STRUCT_VERSION, ScriptAllocate,     ScriptDeallocate,
                        nullptr,                 ScriptHasMethod,    ScriptInvoke,
                        ScriptInvokeDefault,     ScriptHasProperty,  ScriptGetProperty,
                        ScriptSetProperty,       ScriptRemoveProperty, ScriptEnumerate,
                        ScriptConstruct};

}  // namespace

// ---- Plug-in objects as script class instances ------------------------------------------

struct PluginState {
  NPObject* object = nullptr;  // retained; null once the root let go
  Root* root = nullptr;
  JSCValue* wrapper = nullptr;  // strong while the root is valid
  std::unordered_map<std::string, JSCValue*> methods;  // strong, same lifetime
};

namespace {

using StateBox = std::shared_ptr<PluginState>;

std::unordered_map<JSCValue*, PluginState*>& Wrappers() {
  static auto* map = new std::unordered_map<JSCValue*, PluginState*>;
  return *map;
}

struct MethodData {
  StateBox state;
  NPIdentifier id;
};

void Throw(const char* message) {
  JSCContext* context = jsc_context_get_current();
  if (context) jsc_context_throw(context, message);
}

JSCValue* CallMethod(GPtrArray* args, gpointer data) {
  auto* method = static_cast<MethodData*>(data);
  StateBox state = method->state;  // the object may be let go during the call
  JSCContext* context = jsc_context_get_current();
  if (!state->object || !state->root) {
    Throw("the TV object is no longer available");
    return jsc_value_new_undefined(context);
  }
  Root* root = state->root;
  NPObject* object = Browser().retainobject(state->object);
  std::vector<NPVariant> values(args->len);
  for (guint i = 0; i < args->len; ++i)
    root->ToVariant(static_cast<JSCValue*>(g_ptr_array_index(args, i)), &values[i]);
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  bool ok = object->_class->invoke &&
            object->_class->invoke(object, method->id, values.data(), args->len, &result);
  for (NPVariant& v : values) Browser().releasevariantvalue(&v);
  JSCValue* answer = nullptr;
  if (root->valid() && state->root == root) {
    if (root->ThrowPending()) {
      ok = true;
    } else if (!ok) {
      Throw("Error calling method on NPObject.");
    } else {
      answer = root->ToScript(result);
    }
  }
  Browser().releasevariantvalue(&result);
  Browser().releaseobject(object);
  return answer ? answer : jsc_value_new_undefined(context);
}

JSCValue* MethodFunction(JSCContext* context, const StateBox& state, const char* name,
                         NPIdentifier id) {
  auto it = state->methods.find(name);
  if (it != state->methods.end()) return g_object_ref(it->second);
  JSCValue* f = jsc_value_new_function_variadic(
      context, name, G_CALLBACK(CallMethod), new MethodData{state, id},
      [](gpointer p) { delete static_cast<MethodData*>(p); }, JSC_TYPE_VALUE);
  state->methods.emplace(name, f);
  return g_object_ref(f);
}

JSCValue* PluginGet(JSCClass*, JSCContext* context, gpointer instance, const char* name) {
  const StateBox& state = *static_cast<StateBox*>(instance);
  if (!state->object || !state->root) return nullptr;
  NPObject* o = state->object;
  NPIdentifier id = Browser().getstringidentifier(name);
  if (o->_class->hasMethod && o->_class->hasMethod(o, id))
    return MethodFunction(context, state, name, id);
  if (!o->_class->hasProperty || !o->_class->hasProperty(o, id)) return nullptr;
  Root* root = state->root;
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  Browser().retainobject(o);
  bool ok = o->_class->getProperty && o->_class->getProperty(o, id, &result);
  JSCValue* answer = nullptr;
  if (root->valid() && !root->ThrowPending())
    answer = ok ? root->ToScript(result) : jsc_value_new_undefined(context);
  Browser().releasevariantvalue(&result);
  Browser().releaseobject(o);
  return answer ? answer : jsc_value_new_undefined(context);
}

gboolean PluginSet(JSCClass*, JSCContext*, gpointer instance, const char* name, JSCValue* value) {
  const StateBox& state = *static_cast<StateBox*>(instance);
  if (!state->object || !state->root) return FALSE;
  NPObject* o = state->object;
  NPIdentifier id = Browser().getstringidentifier(name);
  if (!o->_class->hasProperty || !o->_class->hasProperty(o, id)) return FALSE;
  Root* root = state->root;
  NPVariant v;
  root->ToVariant(value, &v);
  Browser().retainobject(o);
  if (o->_class->setProperty) o->_class->setProperty(o, id, &v);
  Browser().releasevariantvalue(&v);
  if (root->valid()) root->ThrowPending();
  Browser().releaseobject(o);
  return TRUE;
}

gboolean PluginHas(JSCClass*, JSCContext*, gpointer instance, const char* name) {
  const StateBox& state = *static_cast<StateBox*>(instance);
  if (!state->object) return FALSE;
  NPObject* o = state->object;
  NPIdentifier id = Browser().getstringidentifier(name);
  return (o->_class->hasMethod && o->_class->hasMethod(o, id)) ||
         (o->_class->hasProperty && o->_class->hasProperty(o, id));
}

JSCClassVTable sPluginVTable = {PluginGet, PluginSet, PluginHas, nullptr, nullptr,
                                nullptr,   nullptr,   nullptr,   nullptr};

JSCClass* PluginClass(JSCContext* context) {
  auto* klass = static_cast<JSCClass*>(g_object_get_data(G_OBJECT(context), "nptv-plugin-class"));
  if (klass) return klass;
  klass = jsc_context_register_class(context, "TVPluginObject", nullptr, &sPluginVTable,
                                     [](gpointer box) {
                                       --sPluginWrappers;
                                       delete static_cast<StateBox*>(box);
                                     });
  g_object_set_data(G_OBJECT(context), "nptv-plugin-class", klass);
  return klass;
}

// WebKit reads a plug-in's text as UTF-8 and, when it is not, as Latin-1.
bool IsUtf8(const char* bytes, std::size_t length) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    if (i == length || bytes[i] == '\0') {
      if (i > start && !g_utf8_validate_len(bytes + start, i - start, nullptr)) return false;
      start = i + 1;
    }
  }
  return true;
}

}  // namespace

// ---- Root -----------------------------------------------------------------------------------

Root::Root(JSCContext* context) : m_context(static_cast<JSCContext*>(g_object_ref(context))) {}

Root::~Root() { Invalidate(); }

void Root::ToVariant(JSCValue* value, NPVariant* out) {
  if (jsc_value_is_string(value)) {
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    gsize length = 0;
    const void* data = g_bytes_get_data(bytes, &length);
    auto* copy = static_cast<char*>(Browser().memalloc(static_cast<uint32_t>(length + 1)));
    if (copy) {
      if (length) std::memcpy(copy, data, length);
      copy[length] = '\0';
      STRINGN_TO_NPVARIANT(copy, static_cast<uint32_t>(length), *out);
    } else {
      VOID_TO_NPVARIANT(*out);
    }
    g_bytes_unref(bytes);
  } else if (jsc_value_is_number(value)) {
    DOUBLE_TO_NPVARIANT(jsc_value_to_double(value), *out);
  } else if (jsc_value_is_boolean(value)) {
    BOOLEAN_TO_NPVARIANT(jsc_value_to_boolean(value), *out);
  } else if (jsc_value_is_null(value)) {
    NULL_TO_NPVARIANT(*out);
  } else if (jsc_value_is_object(value) && valid()) {
    NPObject* plugin = Unwrap(value);
    NPObject* o = plugin ? Browser().retainobject(plugin) : WrapScript(value);
    if (o)
      OBJECT_TO_NPVARIANT(o, *out);
    else
      VOID_TO_NPVARIANT(*out);
  } else {
    VOID_TO_NPVARIANT(*out);
  }
}

JSCValue* Root::ToScript(const NPVariant& v) {
  if (!valid()) return nullptr;
  switch (v.type) {
    case NPVariantType_Null:
      return jsc_value_new_null(m_context);
    case NPVariantType_Bool:
      return jsc_value_new_boolean(m_context, v.value.boolValue);
    case NPVariantType_Int32:
      return jsc_value_new_number(m_context, v.value.intValue);
    case NPVariantType_Double:
      return jsc_value_new_number(m_context, v.value.doubleValue);
    case NPVariantType_String: {
      const char* chars = v.value.stringValue.UTF8Characters;
      std::size_t length = chars ? v.value.stringValue.UTF8Length : 0;
      GBytes* bytes;
      if (IsUtf8(chars, length)) {
        bytes = g_bytes_new(chars, length);
      } else {
        GString* text = g_string_sized_new(length * 2);
        for (std::size_t i = 0; i < length; ++i)
          g_string_append_unichar(text, static_cast<unsigned char>(chars[i]));
        gsize size = text->len;
        bytes = g_bytes_new_take(g_string_free(text, FALSE), size);
      }
      JSCValue* s = jsc_value_new_string_from_bytes(m_context, bytes);
      g_bytes_unref(bytes);
      return s;
    }
    case NPVariantType_Object: {
      NPObject* o = v.value.objectValue;
      if (!o) return jsc_value_new_null(m_context);
      if (o->_class == &sScriptClass) {
        ScriptObject* s = AsScript(o);
        // Another page's script object, or one let go, is not handed over.
        if (s->value && s->root && s->root->context() == m_context) return g_object_ref(s->value);
        return jsc_value_new_undefined(m_context);
      }
      return WrapPlugin(o);
    }
    case NPVariantType_Void:
    default:
      return jsc_value_new_undefined(m_context);
  }
}

NPObject* Root::WrapScript(JSCValue* object) {
  auto it = m_scriptObjects.find(object);
  if (it != m_scriptObjects.end()) return Browser().retainobject(&it->second->base);
  NPObject* o = Browser().createobject(m_npp, &sScriptClass);
  if (!o) return nullptr;
  ScriptObject* s = AsScript(o);
  s->value = static_cast<JSCValue*>(g_object_ref(object));
  s->root = this;
  m_scriptObjects[s->value] = s;
  return o;
}

JSCValue* Root::WrapPlugin(NPObject* object) {
  auto it = m_plugins.find(object);
  if (it != m_plugins.end() && it->second->wrapper) return g_object_ref(it->second->wrapper);
  // Another instance's object in the same page keeps the wrapper it has.
  for (const auto& w : Wrappers()) {
    if (w.second->object == object && w.second->root && w.second->root->context() == m_context)
      return g_object_ref(w.first);
  }
  auto state = std::make_shared<PluginState>();
  state->object = Browser().retainobject(object);
  state->root = this;
  ++sPluginWrappers;
  state->wrapper = jsc_value_new_object(m_context, new StateBox(state), PluginClass(m_context));
  Wrappers()[state->wrapper] = state.get();
  m_plugins[object] = state;
  return g_object_ref(state->wrapper);
}

NPObject* Root::Unwrap(JSCValue* value) const {
  auto it = Wrappers().find(value);
  return it == Wrappers().end() ? nullptr : it->second->object;
}

bool Root::Holds(JSCValue* wrapper) const {
  auto it = Wrappers().find(wrapper);
  return it != Wrappers().end() && it->second->root == this;
}

void Root::Invalidate() {
  if (!m_context) return;
  // Script values first: releasing a plug-in object may make the plug-in let
  // go of script objects, which then find their root already gone.
  for (auto& entry : m_scriptObjects) {
    entry.second->root = nullptr;
    g_clear_object(&entry.second->value);
  }
  m_scriptObjects.clear();
  auto plugins = std::move(m_plugins);
  m_plugins.clear();
  for (auto& entry : plugins) {
    PluginState& state = *entry.second;
    state.root = nullptr;
    for (auto& m : state.methods) g_object_unref(m.second);
    state.methods.clear();
    Wrappers().erase(state.wrapper);
    g_clear_object(&state.wrapper);
    NPObject* object = state.object;
    state.object = nullptr;
    Browser().releaseobject(object);
  }
  g_clear_object(&m_context);
}

void Root::SetPendingException(const char* message) {
  sHasPending = true;
  sPending = message ? message : "";
}

bool Root::ThrowPending() {
  if (!sHasPending) return false;
  sHasPending = false;
  jsc_context_throw(m_context, sPending.c_str());
  return true;
}

ModelCounts Counts() { return {sScriptObjects, sPluginWrappers}; }

}  // namespace nptvwebkit
