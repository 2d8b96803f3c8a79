#include "script/ScriptablePluginObject.h"

#include <cstring>
#include <new>

#include "module/CPlugin.h"
#include "module/NPNFuncs.h"
#include "tv/CPlTV.h"

NPIdentifier sOnEventId = nullptr;

// ---- Defaults ---------------------------------------------------------------

void ScriptablePluginObjectBase::Invalidate() {}
bool ScriptablePluginObjectBase::HasMethod(NPIdentifier) { return false; }
bool ScriptablePluginObjectBase::Invoke(NPIdentifier, const NPVariant*, uint32_t, NPVariant*) {
  return false;
}
bool ScriptablePluginObjectBase::InvokeDefault(const NPVariant*, uint32_t, NPVariant*) {
  return false;
}
bool ScriptablePluginObjectBase::HasProperty(NPIdentifier) { return false; }
bool ScriptablePluginObjectBase::GetProperty(NPIdentifier, NPVariant*) { return false; }
bool ScriptablePluginObjectBase::SetProperty(NPIdentifier, const NPVariant*) { return false; }
bool ScriptablePluginObjectBase::RemoveProperty(NPIdentifier) { return false; }
bool ScriptablePluginObjectBase::Enumerate(NPIdentifier**, uint32_t*) { return false; }
bool ScriptablePluginObjectBase::Construct(const NPVariant*, uint32_t, NPVariant*) {
  return false;
}

// ---- NPClass entries ----------------------------------------------------------

namespace {
ScriptablePluginObjectBase* Self(NPObject* npobj) {
  return static_cast<ScriptablePluginObjectBase*>(npobj);
}

// No exception may reach the browser: an operation that runs out of memory
// answers false (a failed call) instead.
template <typename F>
bool Guarded(F operation) {
  try {
    return operation();
  } catch (...) {
    return false;
  }
}
}  // namespace

void ScriptablePluginObjectBase::_Deallocate(NPObject* npobj) {
  if (npobj) delete Self(npobj);
}
void ScriptablePluginObjectBase::_Invalidate(NPObject* npobj) { Self(npobj)->Invalidate(); }
bool ScriptablePluginObjectBase::_HasMethod(NPObject* npobj, NPIdentifier name) {
  return Guarded([&] { return Self(npobj)->HasMethod(name); });
}
bool ScriptablePluginObjectBase::_Invoke(NPObject* npobj, NPIdentifier name, const NPVariant* args,
                                         uint32_t argCount, NPVariant* result) {
  return Guarded([&] { return Self(npobj)->Invoke(name, args, argCount, result); });
}
bool ScriptablePluginObjectBase::_InvokeDefault(NPObject* npobj, const NPVariant* args,
                                                uint32_t argCount, NPVariant* result) {
  return Guarded([&] { return Self(npobj)->InvokeDefault(args, argCount, result); });
}
bool ScriptablePluginObjectBase::_HasProperty(NPObject* npobj, NPIdentifier name) {
  return Guarded([&] { return Self(npobj)->HasProperty(name); });
}
bool ScriptablePluginObjectBase::_GetProperty(NPObject* npobj, NPIdentifier name,
                                              NPVariant* result) {
  return Guarded([&] { return Self(npobj)->GetProperty(name, result); });
}
bool ScriptablePluginObjectBase::_SetProperty(NPObject* npobj, NPIdentifier name,
                                              const NPVariant* value) {
  return Guarded([&] { return Self(npobj)->SetProperty(name, value); });
}
bool ScriptablePluginObjectBase::_RemoveProperty(NPObject* npobj, NPIdentifier name) {
  return Guarded([&] { return Self(npobj)->RemoveProperty(name); });
}
bool ScriptablePluginObjectBase::_Enumerate(NPObject* npobj, NPIdentifier** identifiers,
                                            uint32_t* count) {
  return Guarded([&] { return Self(npobj)->Enumerate(identifiers, count); });
}
bool ScriptablePluginObjectBase::_Construct(NPObject* npobj, const NPVariant* args,
                                            uint32_t argCount, NPVariant* result) {
  return Guarded([&] { return Self(npobj)->Construct(args, argCount, result); });
}

NPObject* AllocateScriptablePluginObject(NPP npp, NPClass*) {
  return new (std::nothrow) ScriptablePluginObject(npp);
}

NPObject* AllocateConstructablePluginObject(NPP npp, NPClass*) {
  return new (std::nothrow) ConstructablePluginObject(npp);
}

#define PLUGIN_OBJECT_CLASS(allocate)                                                         \
  {                                                                                           \
    NP_CLASS_STRUCT_VERSION_CTOR, allocate, ScriptablePluginObjectBase::_Deallocate,          \
        ScriptablePluginObjectBase::_Invalidate, ScriptablePluginObjectBase::_HasMethod,      \
        ScriptablePluginObjectBase::_Invoke, ScriptablePluginObjectBase::_InvokeDefault,      \
        ScriptablePluginObjectBase::_HasProperty, ScriptablePluginObjectBase::_GetProperty,   \
        ScriptablePluginObjectBase::_SetProperty, ScriptablePluginObjectBase::_RemoveProperty, \
        ScriptablePluginObjectBase::_Enumerate, ScriptablePluginObjectBase::_Construct        \
  }

NPClass sScriptablePluginObjectClass = PLUGIN_OBJECT_CLASS(AllocateScriptablePluginObject);
NPClass sConstructablePluginObjectClass = PLUGIN_OBJECT_CLASS(AllocateConstructablePluginObject);

// ---- ConstructablePluginObject ---------------------------------------------------

bool ConstructablePluginObject::Construct(const NPVariant*, uint32_t, NPVariant* result) {
  NPObject* object = NPNFuncs.createobject(m_NPP, &sConstructablePluginObjectClass);
  if (!object) return false;
  OBJECT_TO_NPVARIANT(object, *result);  // the creation reference goes to the caller
  return true;
}

// ---- The OnEvent property and the default call -------------------------------------

namespace {

NSPlTV::CPlTV* TvOf(NPP npp) {
  CPlugin* plugin = npp ? static_cast<CPlugin*>(npp->pdata) : nullptr;
  return plugin ? plugin->m_pTV : nullptr;
}

bool IsOnEvent(NPIdentifier name) { return name && name == sOnEventId; }

}  // namespace

bool ScriptablePluginObject::InvokeDefault(const NPVariant*, uint32_t, NPVariant* result) {
  INT32_TO_NPVARIANT(1, *result);
  return true;
}

bool ScriptablePluginObject::HasProperty(NPIdentifier name) { return IsOnEvent(name); }

bool ScriptablePluginObject::GetProperty(NPIdentifier name, NPVariant* result) {
  NSPlTV::CPlTV* tv = TvOf(m_NPP);
  if (!tv) return false;
  VOID_TO_NPVARIANT(*result);
  if (!IsOnEvent(name)) return false;
  if (const char* stored = tv->m_pszEventCallbackName) {
    std::size_t length = std::strlen(stored);
    char* copy = static_cast<char*>(NPNFuncs.memalloc(static_cast<uint32_t>(length + 1)));
    if (copy) {
      std::memcpy(copy, stored, length + 1);
      STRINGN_TO_NPVARIANT(copy, length, *result);
      return true;
    }
    // No memory for the copy: answer as if no name were stored.
  }
  if (tv->m_pEventCallbackObj) {
    OBJECT_TO_NPVARIANT(NPNFuncs.retainobject(tv->m_pEventCallbackObj), *result);
  }
  return true;
}

bool ScriptablePluginObject::SetProperty(NPIdentifier name, const NPVariant* value) {
  NSPlTV::CPlTV* tv = TvOf(m_NPP);
  if (!tv) return false;
  switch (value->type) {
    case NPVariantType_String: {
      if (!IsOnEvent(name)) return true;
      if (tv->m_pszEventCallbackName) {
        NPNFuncs.memfree(tv->m_pszEventCallbackName);
        tv->m_pszEventCallbackName = nullptr;
      }
      const NPString& text = value->value.stringValue;
      uint32_t length = text.UTF8Characters ? text.UTF8Length : 0;
      char* copy = length < UINT32_MAX
                       ? static_cast<char*>(NPNFuncs.memalloc(length + 1))
                       : nullptr;
      if (!copy) return false;
      if (length) std::memcpy(copy, text.UTF8Characters, length);
      copy[length] = '\0';
      tv->m_pszEventCallbackName = copy;
      return true;
    }
    case NPVariantType_Object: {
      NPObject* object = value->value.objectValue;
      if (!object) return true;
      if (!IsOnEvent(name)) return false;
      NPNFuncs.retainobject(object);  // before the release: the same object may be assigned again
      if (tv->m_pEventCallbackObj) NPNFuncs.releaseobject(tv->m_pEventCallbackObj);
      tv->m_pEventCallbackObj = object;
      return true;
    }
    default:
      return true;
  }
}
