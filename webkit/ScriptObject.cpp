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

// A call's arguments, made for JavaScriptCore's variadic calls: a text that
// is UTF-8 without a NUL goes as a C string (JavaScriptCore makes the script
// string itself, with no wrapper object to make and let go, most of an
// event's cost otherwise), any other value as a script value. Kept on the
// stack for the few an event or a call has; past that, every argument is a
// script value for the array form of the call.
class Arguments {
 public:
  Arguments(Root* root, const NPVariant* args, uint32_t n) : m_n(n) {
    if (n > kInPlace) {
      m_many.resize(n);
      for (uint32_t i = 0; i < n; ++i) m_many[i] = root->ToScript(args[i]);
      return;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const NPVariant& v = args[i];
      if (PlainText(v, &m_texts[i]))
        m_slots[i] = {G_TYPE_STRING, const_cast<char*>(m_texts[i].c_str())};
      else
        m_slots[i] = {JSC_TYPE_VALUE, root->ToScript(v)};
    }
  }
  ~Arguments() {
    for (JSCValue* v : m_many) g_object_unref(v);
    if (m_n > kInPlace) return;
    for (uint32_t i = 0; i < m_n; ++i)
      if (m_slots[i].type == JSC_TYPE_VALUE) g_object_unref(m_slots[i].value);
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  // Calls `pairs` with the arguments as (type, pointer) pairs closed by
  // G_TYPE_NONE, or `array` with (count, script values) when there are many.
  template <class Pairs, class Array>
  JSCValue* Call(Pairs pairs, Array array) {
    const Slot* s = m_slots;
    switch (m_n) {
      case 0: return pairs(G_TYPE_NONE);
      case 1: return pairs(s[0].type, s[0].value, G_TYPE_NONE);
      case 2: return pairs(s[0].type, s[0].value, s[1].type, s[1].value, G_TYPE_NONE);
      case 3:
        return pairs(s[0].type, s[0].value, s[1].type, s[1].value, s[2].type, s[2].value,
                     G_TYPE_NONE);
      case 4:
        return pairs(s[0].type, s[0].value, s[1].type, s[1].value, s[2].type, s[2].value,
                     s[3].type, s[3].value, G_TYPE_NONE);
      default:
        return array(m_n, m_many.data());
    }
  }

 private:
  // A text that is UTF-8 without a NUL, copied out with its terminator.
  static bool PlainText(const NPVariant& v, std::string* out) {
    if (v.type != NPVariantType_String) return false;
    const char* chars = v.value.stringValue.UTF8Characters;
    std::size_t length = chars ? v.value.stringValue.UTF8Length : 0;
    // A NUL is not valid UTF-8 to GLib either.
    if (length && !g_utf8_validate_len(chars, length, nullptr)) return false;
    out->assign(length ? chars : "", length);
    return true;
  }

  static constexpr uint32_t kInPlace = 4;
  struct Slot {
    GType type;
    gpointer value;
  };
  uint32_t m_n;
  Slot m_slots[kInPlace];
  std::string m_texts[kInPlace];
  std::vector<JSCValue*> m_many;
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
    r = values.Call([&](auto... pairs) { return jsc_value_function_call(value, pairs...); },
                    [&](uint32_t count, JSCValue** all) {
                      return jsc_value_function_callv(value, count, all);
                    });
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
    r = values.Call(
        [&](auto... pairs) { return jsc_value_object_invoke_method(value, text.c_str(), pairs...); },
        [&](uint32_t count, JSCValue** all) {
          return jsc_value_object_invoke_methodv(value, text.c_str(), count, all);
        });
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
    r = values.Call([&](auto... pairs) { return jsc_value_constructor_call(value, pairs...); },
                    [&](uint32_t count, JSCValue** all) {
                      return jsc_value_constructor_callv(value, count, all);
                    });
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
