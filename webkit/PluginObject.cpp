// The plug-in's NPObjects as instances of a JavaScriptCore class: what page
// script calls and reads (see ObjectModelParts.h).
#include <string>
#include <vector>

#include "ObjectModelParts.h"

namespace nptvwebkit {

long gPluginWrappers = 0;

namespace {


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

}  // namespace

JSCClass* PluginClass(JSCContext* context) {
  auto* klass = static_cast<JSCClass*>(g_object_get_data(G_OBJECT(context), "nptv-plugin-class"));
  if (klass) return klass;
  klass = jsc_context_register_class(context, "TVPluginObject", nullptr, &sPluginVTable,
                                     [](gpointer box) {
                                       --gPluginWrappers;
                                       delete static_cast<StateBox*>(box);
                                     });
  g_object_set_data(G_OBJECT(context), "nptv-plugin-class", klass);
  return klass;
}


std::unordered_map<JSCValue*, PluginState*>& Wrappers() {
  static auto* map = new std::unordered_map<JSCValue*, PluginState*>;
  return *map;
}

}  // namespace nptvwebkit
