// The npruntime objects that the page sees: a base with a default answer for
// every operation and the static entry points of the NPClass tables, the TV
// object (methods, the OnEvent property, the default call) and an object whose
// only operation is `new`.
#ifndef NPTV_SCRIPT_SCRIPTABLEPLUGINOBJECT_H
#define NPTV_SCRIPT_SCRIPTABLEPLUGINOBJECT_H

#include <cstddef>

#include <npapi.h>
#include <npruntime.h>

class ScriptablePluginObjectBase : public NPObject {
 public:
  explicit ScriptablePluginObjectBase(NPP npp) : m_NPP(npp) {}
  virtual ~ScriptablePluginObjectBase() = default;
  ScriptablePluginObjectBase(const ScriptablePluginObjectBase&) = delete;
  ScriptablePluginObjectBase& operator=(const ScriptablePluginObjectBase&) = delete;

  virtual void Invalidate();
  virtual bool HasMethod(NPIdentifier name);
  virtual bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                      NPVariant* result);
  virtual bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result);
  virtual bool HasProperty(NPIdentifier name);
  virtual bool GetProperty(NPIdentifier name, NPVariant* result);
  virtual bool SetProperty(NPIdentifier name, const NPVariant* value);
  virtual bool RemoveProperty(NPIdentifier name);
  virtual bool Enumerate(NPIdentifier** identifiers, uint32_t* count);
  virtual bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result);

  // NPClass entries: convert the browser's NPObject* back to the object.
  static void _Deallocate(NPObject* npobj);
  static void _Invalidate(NPObject* npobj);
  static bool _HasMethod(NPObject* npobj, NPIdentifier name);
  static bool _Invoke(NPObject* npobj, NPIdentifier name, const NPVariant* args,
                      uint32_t argCount, NPVariant* result);
  static bool _InvokeDefault(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                             NPVariant* result);
  static bool _HasProperty(NPObject* npobj, NPIdentifier name);
  static bool _GetProperty(NPObject* npobj, NPIdentifier name, NPVariant* result);
  static bool _SetProperty(NPObject* npobj, NPIdentifier name, const NPVariant* value);
  static bool _RemoveProperty(NPObject* npobj, NPIdentifier name);
  static bool _Enumerate(NPObject* npobj, NPIdentifier** identifiers, uint32_t* count);
  static bool _Construct(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                         NPVariant* result);

  NPP m_NPP;  // the instance the browser allocated this object for; not owned
};

// The TV object.
class ScriptablePluginObject : public ScriptablePluginObjectBase {
 public:
  using ScriptablePluginObjectBase::ScriptablePluginObjectBase;
  bool HasMethod(NPIdentifier name) override;
  bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
              NPVariant* result) override;
  bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
  bool HasProperty(NPIdentifier name) override;
  bool GetProperty(NPIdentifier name, NPVariant* result) override;
  bool SetProperty(NPIdentifier name, const NPVariant* value) override;
};

class ConstructablePluginObject : public ScriptablePluginObjectBase {
 public:
  using ScriptablePluginObjectBase::ScriptablePluginObjectBase;
  bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
};

NPObject* AllocateScriptablePluginObject(NPP npp, NPClass* aClass);
NPObject* AllocateConstructablePluginObject(NPP npp, NPClass* aClass);

extern NPClass sScriptablePluginObjectClass;
extern NPClass sConstructablePluginObjectClass;

// The script methods, in the order of the method table (Dispatch.cpp).
constexpr std::size_t kMethodCount = 49;
const char* MethodName(std::size_t index);

// Module-wide identifiers, interned by every plug-in instance.
extern NPIdentifier sMethodIds[kMethodCount];
extern NPIdentifier sOnEventId;

#endif
