// The WebKit host's object model (see ObjectModel.h): the Root of an
// instance, converting values both ways and holding every reference either
// side keeps; the two kinds of objects are in ScriptObject.cpp and
// PluginObject.cpp.
#include "ObjectModel.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ObjectModelParts.h"

namespace nptvwebkit {

const NPNetscapeFuncs& Browser() { return nphost::Browser(); }

namespace {

bool sHasPending = false;
std::string sPending;

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

Root::Root(JSCContext* context) : m_context(static_cast<JSCContext*>(g_object_ref(context))) {
  // Kept from the start: a handler's result is undefined most of the time,
  // and its wrapper is then found instead of made and dropped per call.
  m_immediates[kUndefined] = jsc_value_new_undefined(m_context);
}

Root::~Root() { Invalidate(); }

void Root::ToVariant(JSCValue* value, NPVariant* out) {
  // The commonest first: a handler's result is undefined.
  if (IsKeptUndefined(value) || jsc_value_is_undefined(value)) {
    VOID_TO_NPVARIANT(*out);
  } else if (jsc_value_is_string(value)) {
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

// Values that are the same every time are made once per root and handed out
// again (script values are immutable): the four immediates, small integers,
// and short texts seen lately (answers repeat; a call's UTF-8 text arguments
// go to script as C strings instead, see ScriptObject.cpp).
JSCValue* Root::Number(double number) {
  if (number >= 0 && number < kKeptNumbers && number == static_cast<int>(number) &&
      !(number == 0 && std::signbit(number)))
  {
    JSCValue*& slot = m_numbers[static_cast<int>(number)];
    if (!slot) slot = jsc_value_new_number(m_context, number);
    return static_cast<JSCValue*>(g_object_ref(slot));
  }
  return jsc_value_new_number(m_context, number);
}

JSCValue* Root::Text(const char* chars, std::size_t length) {
  KeptText* kept = nullptr;
  if (length <= kKeptTextLength) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < length; ++i)
      hash = (hash ^ static_cast<unsigned char>(chars[i])) * 16777619u;
    kept = &m_texts[hash % kKeptTexts];
    if (kept->value && kept->bytes.size() == length &&
        std::memcmp(kept->bytes.data(), chars, length) == 0)
      return static_cast<JSCValue*>(g_object_ref(kept->value));
  }
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
  if (kept) {
    if (kept->value) g_object_unref(kept->value);
    kept->bytes.assign(chars, length);
    kept->value = static_cast<JSCValue*>(g_object_ref(s));
  }
  return s;
}

JSCValue* Root::ToScript(const NPVariant& v) {
  if (!valid()) return nullptr;
  auto immediate = [this](Immediate which) {
    JSCValue*& slot = m_immediates[which];
    if (!slot) {
      slot = which == kUndefined ? jsc_value_new_undefined(m_context)
             : which == kNull    ? jsc_value_new_null(m_context)
                                 : jsc_value_new_boolean(m_context, which == kTrue);
    }
    return static_cast<JSCValue*>(g_object_ref(slot));
  };
  switch (v.type) {
    case NPVariantType_Null:
      return immediate(kNull);
    case NPVariantType_Bool:
      return immediate(v.value.boolValue ? kTrue : kFalse);
    case NPVariantType_Int32:
      return Number(v.value.intValue);
    case NPVariantType_Double:
      return Number(v.value.doubleValue);
    case NPVariantType_String: {
      const char* chars = v.value.stringValue.UTF8Characters;
      return Text(chars ? chars : "", chars ? v.value.stringValue.UTF8Length : 0);
    }
    case NPVariantType_Object: {
      NPObject* o = v.value.objectValue;
      if (!o) return immediate(kNull);
      if (o->_class == &gScriptClass) {
        ScriptObject* s = AsScript(o);
        // Another page's script object, or one let go, is not handed over.
        if (s->value && s->root && s->root->context() == m_context) return g_object_ref(s->value);
        return immediate(kUndefined);
      }
      return WrapPlugin(o);
    }
    case NPVariantType_Void:
    default:
      return immediate(kUndefined);
  }
}

NPObject* Root::WrapScript(JSCValue* object) {
  auto it = m_scriptObjects.find(object);
  if (it != m_scriptObjects.end()) return Browser().retainobject(&it->second->base);
  NPObject* o = Browser().createobject(m_npp, &gScriptClass);
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
  ++gPluginWrappers;
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
  for (JSCValue*& v : m_immediates) g_clear_object(&v);
  for (JSCValue*& v : m_numbers) g_clear_object(&v);
  for (KeptText& t : m_texts) g_clear_object(&t.value);
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

ModelCounts Counts() { return {gScriptObjects, gPluginWrappers}; }

}  // namespace nptvwebkit
